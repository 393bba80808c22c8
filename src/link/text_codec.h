// 8-bit text from the splicer and from archives is taken as Windows-1252, the code page such
// text is written in on the desktop; plain ASCII passes unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tessaly {

std::string Windows1252ToUtf8(const uint8_t* bytes, size_t count);

}  // namespace tessaly
