// Generation of the history export file and of the splice images.
#include "content.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace vsplicer {
namespace {

// Small deterministic generator so that a given size always gives the same file.
class Lcg {
public:
    uint32_t Next() {
        m_state = m_state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<uint32_t>(m_state >> 33);
    }
    uint32_t Below(uint32_t n) { return Next() % n; }

private:
    uint64_t m_state = 0x5EEDF1BEULL;
};

constexpr const char* kCsvHeader =
    "No,Date,Time,Fibre,Program,Splice loss (dB),Est. loss (dB),Arc current (mA),"
    "Arc time (ms),Cleave L (deg),Cleave R (deg),Operator,Note\r\n";

std::string Record(unsigned index, Lcg& rng) {
    static constexpr const char* kFibres[] = {"SM", "MM", "DS", "NZDS", "BIF"};
    static constexpr const char* kPrograms[] = {"SM-Auto", "MM-Auto", "SM-Fine", "DS-Std",
                                                "NZ-Std"};
    static constexpr const char* kOperators[] = {"op1", "op2", "field", "lab"};
    const unsigned day = index / 40;  // about forty splices a day
    const unsigned month = 1 + (day / 28) % 12;
    const unsigned year = 2024 + day / (28 * 12);
    const unsigned minutes = 7 * 60 + (index % 40) * 12 + rng.Below(10);
    const unsigned loss = rng.Below(6);   // hundredths of a dB
    const unsigned est = loss + rng.Below(3);
    const unsigned fibre = rng.Below(5);
    char line[192];
    const int n = std::snprintf(
        line, sizeof line, "%u,%04u-%02u-%02u,%02u:%02u:%02u,%s,%s,0.%02u,0.%02u,%u.%u,%u,%u.%u,%u.%u,%s,\r\n",
        index + 1, year % 10000, month, 1 + day % 28, (minutes / 60) % 24, minutes % 60,
        rng.Below(60), kFibres[fibre], kPrograms[fibre], loss, est, 14 + rng.Below(4),
        rng.Below(10), 1500 + 100 * rng.Below(6), rng.Below(2), rng.Below(10), rng.Below(2),
        rng.Below(10), kOperators[rng.Below(4)]);
    return std::string(line, static_cast<size_t>(std::max(n, 0)));
}

}  // namespace

std::vector<uint8_t> MakeHistoryFile(size_t bytes) {
    std::vector<uint8_t> file(8, 0);
    file.reserve(std::max<size_t>(bytes, 8));
    file.insert(file.end(), kCsvHeader, kCsvHeader + std::strlen(kCsvHeader));
    Lcg rng;
    uint32_t records = 0;
    for (;;) {
        const std::string line = Record(records, rng);
        if (file.size() + line.size() > bytes) break;
        file.insert(file.end(), line.begin(), line.end());
        ++records;
    }
    // Reach the exact size: a too-long header line is cut; otherwise the last line's empty
    // Note column is padded with spaces.
    if (file.size() > bytes) {
        file.resize(bytes);
    } else if (file.size() < bytes) {
        const size_t pad = bytes - file.size();
        file.insert(file.end() - 2, pad, ' ');
    }
    const uint8_t header[8] = {'H', 'I', 'S', 'T', static_cast<uint8_t>(records),
                               static_cast<uint8_t>(records >> 8),
                               static_cast<uint8_t>(records >> 16),
                               static_cast<uint8_t>(records >> 24)};
    std::copy(header, header + std::min<size_t>(8, file.size()), file.begin());
    return file;
}

std::vector<uint8_t> MakeImage(uint16_t width, uint16_t height, uint32_t number) {
    const size_t w = width, h = height;
    std::vector<uint8_t> image(4 + 3 * w * h);
    image[0] = static_cast<uint8_t>(width);
    image[1] = static_cast<uint8_t>(width >> 8);
    image[2] = static_cast<uint8_t>(height);
    image[3] = static_cast<uint8_t>(height >> 8);
    // Fibres are horizontal bands about a sixth of the height wide; the right one sits a few
    // rows off the left one and the splice point wanders around the middle, both by number.
    const long spliceX = static_cast<long>(w / 2) + static_cast<long>(number % 9) - 4;
    const long half = std::max<long>(1, static_cast<long>(h / 12));
    const long leftY = static_cast<long>(h / 2);
    const long rightY = leftY + static_cast<long>(number % 5) - 2;
    uint8_t* p = image.data() + 4;
    for (size_t y = 0; y < h; ++y) {
        for (size_t x = 0; x < w; ++x) {
            const long centre = static_cast<long>(x) < spliceX ? leftY : rightY;
            const long d = std::labs(static_cast<long>(y) - centre);
            const long fromSplice = std::labs(static_cast<long>(x) - spliceX);
            long level = 96 + static_cast<long>((x + 2 * y + number) % 7);  // grey with grain
            if (d <= half) {
                level = 225 - 40 * (d * 4 <= half);  // bright cladding, darker core
                if (fromSplice <= 1) level = 150;   // the joint line
            }
            const auto v = static_cast<uint8_t>(level);
            *p++ = static_cast<uint8_t>(std::min<long>(255, level + 6));  // blue tint
            *p++ = v;
            *p++ = static_cast<uint8_t>(level > 8 ? level - 8 : 0);
        }
    }
    return image;
}

}  // namespace vsplicer
