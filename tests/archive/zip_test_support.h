// Shared fixtures of the archive tests: a scratch folder that is the current folder while a
// test runs, file helpers, and path conversion.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <string>

#include "lib_zip.h"

namespace tessaly::test {

// Widens ASCII or UTF-8 text, as the reader's interface wants UTF-16 paths.
std::u16string U16(const std::string& utf8);
std::string Utf8(const char16_t* text);

void WriteBytes(const std::filesystem::path& path, const std::string& bytes);
std::string ReadBytes(const std::filesystem::path& path);
mode_t ModeOf(const std::filesystem::path& path);

// Every file and folder beneath `root`, as paths relative to it; links are not followed.
std::set<std::string> ListTree(const std::filesystem::path& root);


// A fresh folder under the temporary folder, made current for the test and removed after it.
class ScratchTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the archive into the scratch folder and opens `zip` on it.
    int OpenArchive(CLibZip& zip, const std::string& bytes, const std::string& name = "t.zip");

    std::filesystem::path m_dir;

private:
    std::filesystem::path m_previous;
};

}  // namespace tessaly::test
