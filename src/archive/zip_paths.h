// Entry names and destination paths: byte names to UTF-16, UTF-16 paths to the file system's
// UTF-8, the checks that keep every write inside its folder, and folder creation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tessaly::zip {

// Paths of this many UTF-16 units or more are refused rather than cut.
inline constexpr size_t kMaxPathUnits = 260;

// A stored name as UTF-16. With the UTF-8 flag (general purpose bit 11) the bytes are decoded as
// UTF-8; without it, or when they are not valid UTF-8, as code page 437, the code page ZIP
// archives use by default. ASCII converts unchanged either way. Stops at a NUL byte.
std::u16string NameToUtf16(const uint8_t* bytes, size_t length, bool utf8);

// Strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF); false when invalid.
bool Utf8ToUtf16(const uint8_t* bytes, size_t length, std::u16string* out);

// UTF-16 to UTF-8 with both separators turned into '/'; false on an unpaired surrogate or a NUL.
bool ToFileSystemPath(std::u16string_view path, std::string* out);

bool IsSeparator(char16_t c);

// A path whose folders the reader may create beneath the base folder: not absolute, no drive
// letter, no ".." component.
bool IsContainedRelativePath(std::u16string_view path);

bool HasDotDotComponent(std::u16string_view path);
bool HasDriveLetter(std::u16string_view path);
bool IsAbsolute(std::u16string_view path);

// Creates base + path and each folder on the way to it, outermost first. Existing folders and
// other creation failures are ignored, as the next step's own failure reports them. Returns
// false, creating nothing, when the path is not contained (see above), is too long together
// with the base, or cannot be converted.
bool EnsureFolder(std::u16string_view base, std::u16string_view path);

}  // namespace tessaly::zip
