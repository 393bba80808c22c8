// Extraction: data copied or inflated and checked, folders created only where they belong,
// destinations refused where they would lead elsewhere, attributes and times applied.
#include <sys/stat.h>
#include <unistd.h>

#include "zip_builder.h"
#include "zip_test_support.h"

namespace tessaly::test {
namespace {

class ExtractTest : public ScratchTest {
protected:
    // Opens an archive of the given members in `m_zip`.
    void OpenMembers(const std::vector<ZipMember>& members, const std::string& prefix = "") {
        ZipArchive archive;
        archive.prefix = prefix;
        archive.members = members;
        ASSERT_EQ(OpenArchive(m_zip, archive.Build()), kZipOk);
    }

    // What appeared in the scratch folder since `before`.
    std::set<std::string> NewSince(const std::set<std::string>& before) const {
        std::set<std::string> added;
        for (const std::string& p : ListTree(m_dir)) {
            if (!before.count(p)) added.insert(p);
        }
        return added;
    }

    CLibZip m_zip;
};

TEST_F(ExtractTest, StoredAndDeflatedEntriesComeOutByteForByte) {
    const std::string big = PatternBytes(100000);  // several 16 KiB chunks on both sides
    ZipMember descriptorDeflated = Deflated("dd-deflated", big);
    descriptorDeflated.dataDescriptor = true;
    ZipMember descriptorStored = Stored("dd-stored", "stored behind a descriptor");
    descriptorStored.dataDescriptor = true;
    ZipMember incompressible = Deflated("noise", std::string(40000, '\0'));
    for (size_t i = 0; i < incompressible.data.size(); ++i) {
        incompressible.data[i] = static_cast<char>((i * 7919u) >> 3);
    }
    const std::vector<ZipMember> members = {
        Stored("stored", "plain bytes\r\n\0 and more"), Deflated("deflated", big),
        Stored("empty-stored", ""),  Deflated("empty-deflated", ""),
        descriptorDeflated,          descriptorStored,
        Stored("big-stored", big),   incompressible,
    };
    OpenMembers(members);
    for (size_t i = 0; i < members.size(); ++i) {
        EXPECT_EQ(m_zip.ExtractEntry(static_cast<int>(i), U16(members[i].name)), kZipOk)
            << members[i].name;
        EXPECT_EQ(ReadBytes(m_dir / members[i].name), members[i].data) << members[i].name;
    }
}

TEST_F(ExtractTest, ArchiveBehindOtherDataExtractsWithItsTimes) {
    const uint32_t write = 1500000000;
    const uint32_t access = 1500000600;
    std::vector<ZipMember> members = {Stored("MLO", PatternBytes(3000, 2)),
                                      Deflated("R8V1", PatternBytes(70000, 3))};
    for (ZipMember& m : members) m.localExtra = UtBlock(3, {write, access});
    OpenMembers(members, PatternBytes(1000, 9));
    for (size_t i = 0; i < members.size(); ++i) {
        ASSERT_EQ(m_zip.ExtractEntry(static_cast<int>(i), U16(members[i].name)), kZipOk);
        struct stat st {};  // before reading it, which may move the access time
        ASSERT_EQ(stat((m_dir / members[i].name).c_str(), &st), 0);
        EXPECT_EQ(st.st_mtim.tv_sec, write);
        EXPECT_EQ(st.st_atim.tv_sec, access);
        EXPECT_EQ(ReadBytes(m_dir / members[i].name), members[i].data);
    }
}

TEST_F(ExtractTest, DosTimeIsSetAsItStands) {
    OpenMembers({Stored("MLO", "x")});
    ASSERT_EQ(m_zip.ExtractEntry(0, u"MLO"), kZipOk);
    struct stat st {};
    ASSERT_EQ(stat((m_dir / "MLO").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1736689738);  // 2025-01-12 13:48:58 read as UTC
    EXPECT_EQ(st.st_atim.tv_sec, 1736689738);
}

TEST_F(ExtractTest, DirectoryEntryCreatesItsFoldersBeneathTheBaseFolder) {
    ZipMember folder = Stored("a/b/", "");
    folder.external = 0x41ED0010;
    OpenMembers({folder});
    // The base folder is the current folder at Open, whatever it is later.
    std::filesystem::create_directory(m_dir / "elsewhere");
    std::filesystem::current_path(m_dir / "elsewhere");
    const auto before = ListTree(m_dir);
    EXPECT_EQ(m_zip.ExtractEntry(0, u"ignored/x.bin"), kZipOk);
    EXPECT_EQ(NewSince(before), (std::set<std::string>{"a", "a/b"}));
    EXPECT_EQ(m_zip.ExtractEntry(0, u"ignored/x.bin"), kZipOk) << "existing folders are fine";
}

TEST_F(ExtractTest, DirectoryEntriesThatLeadOutsideAreRefused) {
    std::vector<ZipMember> members;
    for (const char* name :
         {"../evil/", "a/../../evil/", "..\\evil\\", "/tmp/evil/", "\\evil\\", "C:/evil/", "a/.."}) {
        ZipMember m = Stored(name, "");
        m.external = 0x10;
        members.push_back(m);
    }
    std::filesystem::create_directory(m_dir / "base");
    std::filesystem::current_path(m_dir / "base");
    OpenMembers(members);
    const auto before = ListTree(m_dir);
    for (size_t i = 0; i < members.size(); ++i) {
        EXPECT_EQ(m_zip.ExtractEntry(static_cast<int>(i), u"x"), kZipCannotCreateFile)
            << members[i].name;
    }
    EXPECT_EQ(NewSince(before), std::set<std::string>{});
    EXPECT_FALSE(std::filesystem::exists("/tmp/evil"));
}

TEST_F(ExtractTest, DestinationsAndTheFoldersTheyGet) {
    std::filesystem::create_directories(m_dir / "base" / "abs");
    const std::string base = (m_dir / "base").string();
    const struct {
        std::string dest;
        int result;
        std::set<std::string> created;  // relative to the scratch folder
    } cases[] = {
        {"x.bin", kZipOk, {"base/x.bin"}},
        {"sub/x.bin", kZipOk, {"base/sub", "base/sub/x.bin"}},
        {"sub2\\deeper\\x.bin", kZipOk, {"base/sub2", "base/sub2/deeper", "base/sub2/deeper/x.bin"}},
        {base + "/abs/x.bin", kZipOk, {"base/abs/x.bin"}},
        {base + "/missing/x.bin", kZipCannotCreateFile, {}},  // no folders for absolute paths
        {"D:\\none\\x.bin", kZipCannotCreateFile, {}},
        {"../up/x.bin", kZipCannotCreateFile, {}},
        {"a/../x.bin", kZipCannotCreateFile, {}},
        {"..\\up\\x.bin", kZipCannotCreateFile, {}},
        {base + "/abs/../../x.bin", kZipCannotCreateFile, {}},
        {"", kZipCannotCreateFile, {}},
        {"sub3/", kZipCannotCreateFile, {"base/sub3"}},  // a folder, not a file
    };
    std::filesystem::current_path(m_dir / "base");
    OpenMembers({Deflated("R8V2", PatternBytes(20000))});
    for (const auto& c : cases) {
        const auto before = ListTree(m_dir);
        EXPECT_EQ(m_zip.ExtractEntry(0, U16(c.dest)), c.result) << c.dest;
        EXPECT_EQ(NewSince(before), c.created) << c.dest;
    }
    EXPECT_EQ(ReadBytes(m_dir / "base/sub2/deeper/x.bin"), PatternBytes(20000));
}

TEST_F(ExtractTest, OverlongPathsAreRefusedNotCut) {
    // Absolute: 259 units is the longest path accepted.
    const std::string folder = m_dir.string() + "/";
    const std::string fits = folder + std::string(259 - folder.size(), 'f');
    const std::string tooLong = folder + std::string(260 - folder.size(), 'g');
    // Relative: the base folder counts too.
    const std::string relative = "r/" + std::string(260 - folder.size() - 2, 'r');
    ZipMember deepFolder = Stored(std::string(259 - folder.size(), 'd') + "/", "");
    deepFolder.external = 0x10;
    OpenMembers({Stored("MLO", "fw"), deepFolder});
    const auto before = ListTree(m_dir);
    EXPECT_EQ(m_zip.ExtractEntry(0, U16(tooLong)), kZipCannotCreateFile);
    EXPECT_EQ(m_zip.ExtractEntry(0, U16(relative)), kZipCannotCreateFile);
    EXPECT_EQ(m_zip.ExtractEntry(1, u"x"), kZipCannotCreateFile);
    EXPECT_EQ(NewSince(before), std::set<std::string>{});
    EXPECT_EQ(m_zip.ExtractEntry(0, U16(fits)), kZipOk);
    EXPECT_EQ(ReadBytes(fits), "fw");
}

TEST_F(ExtractTest, ReadOnlyAttributeLeavesNoWriteBits) {
    ZipMember windows = Stored("windows", "w");
    windows.external = 0x20;
    ZipMember unix = Stored("unix", "u");
    unix.external = kUnixMode0644;
    OpenMembers({windows, unix});
    ASSERT_EQ(m_zip.ExtractEntry(0, u"windows"), kZipOk);
    ASSERT_EQ(m_zip.ExtractEntry(1, u"unix"), kZipOk);
    EXPECT_EQ(ModeOf(m_dir / "windows") & 0222, 0u);
    EXPECT_EQ(ModeOf(m_dir / "unix"), 0644u);
}

TEST_F(ExtractTest, ExistingFilesAreReplacedUnlessReadOnly) {
    ZipMember readOnly = Stored("readme.txt", "new");
    readOnly.external = 0x20;
    OpenMembers({readOnly, Stored("R8V2", "new")});
    WriteBytes(m_dir / "R8V2", "an older and longer file");
    ASSERT_EQ(m_zip.ExtractEntry(1, u"R8V2"), kZipOk);
    EXPECT_EQ(ReadBytes(m_dir / "R8V2"), "new");

    ASSERT_EQ(m_zip.ExtractEntry(0, u"readme.txt"), kZipOk);
    ASSERT_EQ(ModeOf(m_dir / "readme.txt") & 0222, 0u);
    // Refused even for root, who could write it anyway.
    EXPECT_EQ(m_zip.ExtractEntry(0, u"readme.txt"), kZipCannotCreateFile);
    EXPECT_EQ(ReadBytes(m_dir / "readme.txt"), "new");
}

TEST_F(ExtractTest, LinkAtTheDestinationIsNotFollowed) {
    WriteBytes(m_dir / "target", "untouched");
    std::filesystem::create_symlink(m_dir / "target", m_dir / "MLO");
    OpenMembers({Stored("MLO", "fw")});
    EXPECT_EQ(m_zip.ExtractEntry(0, u"MLO"), kZipCannotCreateFile);
    EXPECT_EQ(ReadBytes(m_dir / "target"), "untouched");
}

TEST_F(ExtractTest, DamagedDataIsAReadFailure) {
    const std::string data = PatternBytes(50000, 4);
    const std::string deflated = RawDeflate(data);
    const struct {
        const char* what;
        std::function<void(ZipMember&)> damage;
    } cases[] = {
        {"invalid deflate block type",
         [&](ZipMember& m) {
             m.payload = deflated;
             (*m.payload)[0] = static_cast<char>((*m.payload)[0] | 0x06);
         }},
        {"deflate bytes altered mid-stream",
         [&](ZipMember& m) {
             m.payload = deflated;
             for (size_t i = 2000; i < 2008; ++i) (*m.payload)[i] = static_cast<char>(~(*m.payload)[i]);
         }},
        {"deflate stream cut short", [&](ZipMember& m) { m.payload = deflated.substr(0, 1000); }},
        {"wrong crc-32",
         [&](ZipMember& m) {
             m.centralCrc = m.localCrc = 0x12345678;
         }},
        {"declared size larger than the data",
         [&](ZipMember& m) {
             m.data += "tail";  // sizes and crc-32 describe data + "tail"
             m.payload = deflated;
         }},
        {"stored data shorter than declared",
         [&](ZipMember& m) {
             m.method = 0;
             m.payload = data.substr(0, 100);
             m.centralCompressedSize = 100;
         }},
    };
    for (const auto& c : cases) {
        ZipMember m = Deflated("R8V3", data);
        c.damage(m);
        ZipArchive archive;
        archive.members.push_back(m);
        CLibZip zip;
        ASSERT_EQ(OpenArchive(zip, archive.Build()), kZipOk) << c.what;
        ZipEntryInfo info;
        const int info_result = zip.GetEntry(0, &info);
        if (info_result != kZipOk) {
            ADD_FAILURE() << c.what << ": the headers should agree, got " << info_result;
            continue;
        }
        EXPECT_EQ(zip.ExtractEntry(0, u"R8V3"), kZipReadWriteFailed) << c.what;
    }
}

TEST_F(ExtractTest, CompressedSizePastTheEndOfTheFileIsAReadFailure) {
    ZipMember m = Deflated("R8V4", PatternBytes(30000));
    m.payload = RawDeflate(m.data);
    m.centralCompressedSize = m.localCompressedSize = static_cast<uint32_t>(m.payload->size() + 100000);
    OpenMembers({m});
    EXPECT_EQ(m_zip.ExtractEntry(0, u"R8V4"), kZipReadWriteFailed);
    EXPECT_TRUE(std::filesystem::exists(m_dir / "R8V4")) << "the partly written file stays";
}

TEST_F(ExtractTest, FailedWriteIsAWriteFailure) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full to write to";
    OpenMembers({Deflated("R8V1", PatternBytes(40000))});
    EXPECT_EQ(m_zip.ExtractEntry(0, u"/dev/full"), kZipReadWriteFailed);
}

TEST_F(ExtractTest, UnsupportedMethodCreatesNothing) {
    ZipMember m = Stored("R8V1", "bzip2 bytes");
    m.method = 12;
    OpenMembers({m});
    EXPECT_EQ(m_zip.ExtractEntry(0, u"R8V1"), kZipCorruptEntry);
    EXPECT_FALSE(std::filesystem::exists(m_dir / "R8V1"));
}

}  // namespace
}  // namespace tessaly::test
