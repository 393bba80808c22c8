// The reader over real-world archives made by other tools (the corpus beside the repository):
// what must open opens, what must extract extracts with the listed size and crc-32, what must
// fail is refused, and no archive writes outside its scratch folder.
#include <zlib.h>

#include <fstream>
#include <map>
#include <sstream>

#include "zip_exercise.h"
#include "zip_metadata.h"
#include "zip_test_support.h"

namespace tessaly::test {
namespace {

struct ExpectedEntry {
    int index = 0;
    std::string name;  // stored bytes
    std::string kind;  // ok, dir, fail, any
    uint64_t size = 0;
    uint32_t crc = 0;
};

struct ExpectedArchive {
    std::string file;
    bool mustOpen = false;
    int count = -1;  // -1 when not listed
    std::vector<ExpectedEntry> entries;
};

std::string FromHex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

std::vector<ExpectedArchive> ReadExpectations(const std::filesystem::path& tsv) {
    std::vector<ExpectedArchive> out;
    std::map<std::string, size_t> byFile;
    std::ifstream in(tsv);
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::stringstream ss(line);
        for (std::string field; std::getline(ss, field, '\t');) f.push_back(field);
        f.resize(7);
        auto [it, added] = byFile.emplace(f[0], out.size());
        if (added) out.push_back({f[0], f[1] == "yes", -1, {}});
        ExpectedArchive& archive = out[it->second];
        const int index = std::stoi(f[2]);
        if (index < 0) {
            if (f[4] == "count") archive.count = std::stoi(f[5]);
            continue;
        }
        archive.entries.push_back({index, FromHex(f[3]), f[4], f[5].empty() ? 0 : std::stoull(f[5]),
                                   f[6].empty() ? 0 : static_cast<uint32_t>(std::stoul(f[6], nullptr, 16))});
    }
    return out;
}

uint32_t FileCrc(const std::string& bytes) {
    return static_cast<uint32_t>(crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()),
                                       static_cast<uInt>(bytes.size())));
}

bool IsAscii(const std::string& s) {
    for (const char c : s) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

class CorpusTest : public ScratchTest {
protected:
    void CheckArchive(const ExpectedArchive& expected, const std::filesystem::path& scratch);
};

void CorpusTest::CheckArchive(const ExpectedArchive& expected, const std::filesystem::path& scratch) {
    SCOPED_TRACE(expected.file);
    const std::filesystem::path archivePath = std::filesystem::path(TESSALY_ZIP_CORPUS) / expected.file;
    std::filesystem::create_directories(scratch / "staged");
    std::filesystem::current_path(scratch);

    CLibZip zip;
    const int opened = zip.Open(U16(archivePath.string()));
    if (expected.mustOpen) {
        ASSERT_EQ(opened, kZipOk);
    }
    if (opened != kZipOk) return;
    ZipEntryInfo info;
    ASSERT_EQ(zip.GetEntry(-1, &info), kZipOk);
    if (expected.mustOpen && expected.count >= 0) {
        EXPECT_EQ(info.index, expected.count);
    }

    for (const ExpectedEntry& entry : expected.entries) {
        if (!expected.mustOpen || entry.kind == "any") continue;
        SCOPED_TRACE("entry " + std::to_string(entry.index) + " (" + entry.kind + ")");
        const int got = zip.GetEntry(entry.index, &info);
        if (entry.kind == "fail") {
            const std::u16string dest = u"out/" + U16(std::to_string(entry.index));
            EXPECT_NE(got == kZipOk ? zip.ExtractEntry(entry.index, dest) : got, kZipOk);
            continue;
        }
        ASSERT_EQ(got, kZipOk);
        if (IsAscii(entry.name)) {
            // The name as handed out ends at its first NUL, like any C string.
            const std::string stored = entry.name.substr(0, entry.name.find('\0'));
            EXPECT_EQ(std::u16string(info.name), std::u16string(stored.begin(), stored.end()));
        }
        if (entry.kind == "dir") {
            EXPECT_NE(info.attributes & zip::kAttrDirectory, 0u);
            EXPECT_EQ(zip.ExtractEntry(entry.index, u"unused"), kZipOk);
            EXPECT_TRUE(std::filesystem::is_directory(scratch / Utf8(info.name)));
            continue;
        }
        const std::string out = "out/" + std::to_string(entry.index);
        ASSERT_EQ(zip.ExtractEntry(entry.index, U16(out)), kZipOk);
        const std::string bytes = ReadBytes(scratch / out);
        EXPECT_EQ(bytes.size(), entry.size);
        EXPECT_EQ(FileCrc(bytes), entry.crc);
    }
    zip.Close();
    // Every archive, whatever it holds, also goes through everything the fuzzer does: names used
    // as paths, relative and beneath an absolute staging folder.
    fuzzing::ExerciseArchive(U16(archivePath.string()), U16((scratch / "staged").string()));
}

TEST_F(CorpusTest, RealWorldArchives) {
    const std::filesystem::path corpus = TESSALY_ZIP_CORPUS;
    if (!std::filesystem::exists(corpus / "EXPECTED.tsv")) {
        GTEST_SKIP() << "zip corpus not found at " << corpus << ": real-world archives skipped";
    }
    const std::vector<ExpectedArchive> archives = ReadExpectations(corpus / "EXPECTED.tsv");
    ASSERT_GT(archives.size(), 100u);
    // Scratch folders sit a few levels deep so that a name climbing out with ".." would land
    // inside this test's folder, where it is seen.
    for (size_t i = 0; i < archives.size(); ++i) {
        const std::string slot = "up1/up2/up3/" + std::to_string(i);
        CheckArchive(archives[i], m_dir / slot);
        std::filesystem::current_path(m_dir);
        for (const std::string& path : ListTree(m_dir)) {
            const bool inside = path.rfind(slot, 0) == 0 || std::string("up1/up2/up3").rfind(path, 0) == 0;
            EXPECT_TRUE(inside) << archives[i].file << " wrote " << path;
        }
        fuzzing::RemoveTree(m_dir / slot);
    }
}

}  // namespace
}  // namespace tessaly::test
