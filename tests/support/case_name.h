// Readable GoogleTest names for table cases described by a sentence.
#pragma once

#include <cctype>
#include <string>

namespace tessaly::testing {

inline std::string CaseName(const char* what) {
    std::string name;
    for (const char* p = what; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
}

}  // namespace tessaly::testing
