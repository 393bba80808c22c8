// libFuzzer target for the archive reader: each input is written to a file in a private scratch
// folder, which is also the current folder, and read with every operation; the scratch folder
// is emptied after each input.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "zip_exercise.h"

namespace {

std::filesystem::path g_scratch;
std::filesystem::path g_home;  // libFuzzer reads its input folders relative to this

std::u16string Widen(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string pattern = (std::filesystem::temp_directory_path() / "tessaly-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    g_scratch = pattern;
    g_home = std::filesystem::current_path();
    std::atexit([] { tessaly::fuzzing::RemoveTree(g_scratch); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::filesystem::path work = g_scratch / "work";
    std::filesystem::create_directories(work / "staged");
    std::filesystem::current_path(work);
    const std::filesystem::path archive = g_scratch / "input.zip";
    {
        std::ofstream out(archive, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    tessaly::fuzzing::ExerciseArchive(Widen(archive.string()), Widen((work / "staged").string()));
    std::filesystem::current_path(g_home);
    tessaly::fuzzing::RemoveTree(work);
    return 0;
}
