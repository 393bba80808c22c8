// The archive tests' scratch folder and small file helpers.
#include "zip_test_support.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "zip_exercise.h"
#include "zip_paths.h"

namespace tessaly::test {

std::u16string U16(const std::string& utf8) {
    std::u16string out;
    zip::Utf8ToUtf16(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size(), &out);
    return out;
}

std::string Utf8(const char16_t* text) {
    std::string out;
    zip::ToFileSystemPath(text, &out);
    return out;
}

void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

mode_t ModeOf(const std::filesystem::path& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

std::set<std::string> ListTree(const std::filesystem::path& root) {
    std::set<std::string> out;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        out.insert(std::filesystem::relative(it->path(), root).string());
    }
    return out;
}

void ScratchTest::SetUp() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tessaly-zip-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    m_dir = pattern;
    m_previous = std::filesystem::current_path();
    std::filesystem::current_path(m_dir);
}

void ScratchTest::TearDown() {
    if (!m_previous.empty()) std::filesystem::current_path(m_previous);
    if (!m_dir.empty()) fuzzing::RemoveTree(m_dir);
}

int ScratchTest::OpenArchive(CLibZip& zip, const std::string& bytes, const std::string& name) {
    WriteBytes(m_dir / name, bytes);
    return zip.Open(U16((m_dir / name).string()));
}

}  // namespace tessaly::test
