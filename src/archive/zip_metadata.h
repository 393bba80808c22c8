// What an entry's headers say about the file it becomes: its attributes and its three times.
#pragma once

#include <cstdint>
#include <ctime>

namespace tessaly::zip {

// Windows file attribute bits, the form in which entries report their attributes.
inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrHidden = 0x02;
inline constexpr uint32_t kAttrSystem = 0x04;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrArchive = 0x20;
inline constexpr uint32_t kAttrNormal = 0x80;

// Derives the Windows attributes from the external attributes: MS-DOS bits in the low half, a
// Unix mode in the high half. A zero high half (MS-DOS and Windows tools) means read-only.
uint32_t AttributesFromExternal(uint32_t external);

// Times as 100 ns ticks since 1601-01-01, the unit the entry information carries.
struct EntryTimes {
    uint64_t creation = 0;
    uint64_t lastAccess = 0;
    uint64_t lastWrite = 0;
};

// The MS-DOS date and time (date in the high half) taken as the tick count without any time-zone
// conversion; an impossible date or time gives 0.
uint64_t TicksFromDosDateTime(uint32_t dosDateTime);

// Seconds since 1970-01-01 00:00 UTC as ticks.
uint64_t TicksFromUnixTime(uint32_t seconds);

// Ticks as a time for the file system; false when the value is 0 (no time known).
bool TimespecFromTicks(uint64_t ticks, timespec* out);

// All three times start from the MS-DOS value; an extended timestamp block ("UT") in the local
// extra field replaces those whose flag bit is set. Only bytes inside both the field and the
// block are read: a time that would run past either is ignored.
EntryTimes TimesFromHeaders(uint32_t dosDateTime, const uint8_t* extra, uint32_t extraLength);

}  // namespace tessaly::zip
