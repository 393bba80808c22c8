// Attribute mapping and the conversions between MS-DOS, Unix and 1601-based times.
#include "zip_metadata.h"

#include "zip_format.h"

namespace tessaly::zip {
namespace {

constexpr uint64_t kTicksPerSecond = 10'000'000;
constexpr int64_t kUnixEpochTicks = 116'444'736'000'000'000;  // 1970-01-01 in 1601-based ticks
constexpr int64_t kSecondsPerDay = 86'400;

// Days from 1970-01-01 to the given proleptic Gregorian date.
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

uint32_t AttributesFromExternal(uint32_t external) {
    uint32_t attributes = kAttrNormal;
    if (external & 0x10 || external & 0x40000000) attributes |= kAttrDirectory;
    if (external & 0x20) attributes |= kAttrArchive;
    if (external & 0x02) attributes |= kAttrHidden;
    if (external & 0x01 || !(external & 0x00800000)) attributes |= kAttrReadOnly;
    if (external & 0x04) attributes |= kAttrSystem;
    return attributes;
}

uint64_t TicksFromDosDateTime(uint32_t dosDateTime) {
    const uint32_t time = dosDateTime & 0xFFFF;
    const uint32_t date = dosDateTime >> 16;
    const int year = 1980 + static_cast<int>(date >> 9);
    const int month = static_cast<int>((date >> 5) & 0x0F);
    const int day = static_cast<int>(date & 0x1F);
    const int hour = static_cast<int>(time >> 11);
    const int minute = static_cast<int>((time >> 5) & 0x3F);
    const int second = static_cast<int>(time & 0x1F) * 2;
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59) {
        return 0;
    }
    const int64_t seconds = DaysFromCivil(year, month, day) * kSecondsPerDay + hour * 3600 +
                            minute * 60 + second;
    return static_cast<uint64_t>(kUnixEpochTicks + seconds * static_cast<int64_t>(kTicksPerSecond));
}

uint64_t TicksFromUnixTime(uint32_t seconds) {
    return static_cast<uint64_t>(kUnixEpochTicks) + seconds * kTicksPerSecond;
}

bool TimespecFromTicks(uint64_t ticks, timespec* out) {
    if (ticks == 0) return false;
    // Ticks below the Unix epoch give negative seconds with a non-negative remainder.
    const int64_t sinceEpoch = static_cast<int64_t>(ticks) - kUnixEpochTicks;
    const auto perSecond = static_cast<int64_t>(kTicksPerSecond);
    int64_t seconds = sinceEpoch / perSecond;
    int64_t rest = sinceEpoch % perSecond;
    if (rest < 0) {
        rest += perSecond;
        --seconds;
    }
    out->tv_sec = static_cast<time_t>(seconds);
    out->tv_nsec = static_cast<long>(rest * 100);
    return true;
}

EntryTimes TimesFromHeaders(uint32_t dosDateTime, const uint8_t* extra, uint32_t extraLength) {
    const uint64_t dos = TicksFromDosDateTime(dosDateTime);
    EntryTimes times{dos, dos, dos};
    uint32_t pos = 0;
    while (pos + 4 < extraLength) {
        const uint16_t id = Le16(extra + pos);
        const uint32_t dataSize = Le16(extra + pos + 2);
        if (id != kExtendedTimestampId) {
            pos += 4 + dataSize;
            continue;
        }
        const uint32_t dataStart = pos + 4;
        const uint32_t end = dataStart + dataSize < extraLength ? dataStart + dataSize : extraLength;
        if (dataStart >= end) break;
        const uint8_t flags = extra[dataStart];
        uint32_t at = dataStart + 1;
        uint64_t* const slots[3] = {&times.lastWrite, &times.lastAccess, &times.creation};
        for (int bit = 0; bit < 3; ++bit) {
            if (!(flags & (1u << bit))) continue;
            if (at + 4 > end) break;
            *slots[bit] = TicksFromUnixTime(Le32(extra + at));
            at += 4;
        }
        break;
    }
    return times;
}

}  // namespace tessaly::zip
