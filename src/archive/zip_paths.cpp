// Name conversion and path checks for extraction.
#include "zip_paths.h"

#include <sys/stat.h>

namespace tessaly::zip {
namespace {

// Code page 437, bytes 0x80 to 0xFF.
constexpr char16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

std::u16string Cp437ToUtf16(const uint8_t* bytes, size_t length) {
    std::u16string out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        const uint8_t b = bytes[i];
        out.push_back(b < 0x80 ? static_cast<char16_t>(b) : kCp437High[b - 0x80]);
    }
    return out;
}

void AppendUtf8(uint32_t cp, std::string* out) {
    auto put = [out](uint32_t v) { out->push_back(static_cast<char>(static_cast<uint8_t>(v))); };
    if (cp < 0x80) {
        put(cp);
    } else if (cp < 0x800) {
        put(0xC0 | (cp >> 6));
        put(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        put(0xE0 | (cp >> 12));
        put(0x80 | ((cp >> 6) & 0x3F));
        put(0x80 | (cp & 0x3F));
    } else {
        put(0xF0 | (cp >> 18));
        put(0x80 | ((cp >> 12) & 0x3F));
        put(0x80 | ((cp >> 6) & 0x3F));
        put(0x80 | (cp & 0x3F));
    }
}

}  // namespace

bool Utf8ToUtf16(const uint8_t* bytes, size_t length, std::u16string* out) {
    size_t i = 0;
    while (i < length) {
        const uint8_t lead = bytes[i];
        uint32_t cp = 0;
        size_t extra = 0;
        uint32_t minimum = 0;
        if (lead < 0x80) {
            cp = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            cp = lead & 0x1Fu, extra = 1, minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            cp = lead & 0x0Fu, extra = 2, minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            cp = lead & 0x07u, extra = 3, minimum = 0x10000;
        } else {
            return false;
        }
        if (extra > length - i - 1) return false;
        for (size_t k = 1; k <= extra; ++k) {
            const uint8_t next = bytes[i + k];
            if ((next & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (next & 0x3Fu);
        }
        if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out->push_back(static_cast<char16_t>(cp));
        }
        i += extra + 1;
    }
    return true;
}

std::u16string NameToUtf16(const uint8_t* bytes, size_t length, bool utf8) {
    size_t end = 0;
    while (end < length && bytes[end] != 0) ++end;
    if (utf8) {
        std::u16string out;
        if (Utf8ToUtf16(bytes, end, &out)) return out;
    }
    return Cp437ToUtf16(bytes, end);
}

bool ToFileSystemPath(std::u16string_view path, std::string* out) {
    out->clear();
    for (size_t i = 0; i < path.size(); ++i) {
        const char16_t unit = path[i];
        if (unit == 0) return false;
        if (IsSeparator(unit)) {
            out->push_back('/');
        } else if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 >= path.size() || path[i + 1] < 0xDC00 || path[i + 1] > 0xDFFF) return false;
            const uint32_t cp = 0x10000 + ((static_cast<uint32_t>(unit) - 0xD800) << 10) +
                                (static_cast<uint32_t>(path[i + 1]) - 0xDC00);
            AppendUtf8(cp, out);
            ++i;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return false;
        } else {
            AppendUtf8(unit, out);
        }
    }
    return true;
}

bool IsSeparator(char16_t c) {
    return c == u'/' || c == u'\\';
}

bool HasDotDotComponent(std::u16string_view path) {
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = start;
        while (end < path.size() && !IsSeparator(path[end])) ++end;
        if (path.substr(start, end - start) == u"..") return true;
        start = end + 1;
    }
    return false;
}

bool HasDriveLetter(std::u16string_view path) {
    return path.size() >= 2 && path[1] == u':';
}

bool IsAbsolute(std::u16string_view path) {
    return !path.empty() && IsSeparator(path[0]);
}

bool IsContainedRelativePath(std::u16string_view path) {
    return !IsAbsolute(path) && !HasDriveLetter(path) && !HasDotDotComponent(path);
}

bool EnsureFolder(std::u16string_view base, std::u16string_view path) {
    if (path.empty()) return true;
    if (!IsContainedRelativePath(path) || base.size() + path.size() >= kMaxPathUnits) return false;
    std::u16string whole(base);
    whole.append(path);
    std::string native;
    if (!ToFileSystemPath(whole, &native)) return false;
    // Every separator after the first character of the path ends a folder to create first.
    for (size_t i = 1; i < path.size(); ++i) {
        if (!IsSeparator(path[i])) continue;
        std::string outer;
        if (ToFileSystemPath(std::u16string_view(whole).substr(0, base.size() + i), &outer)) {
            mkdir(outer.c_str(), 0755);
        }
    }
    mkdir(native.c_str(), 0755);
    return true;
}

}  // namespace tessaly::zip
