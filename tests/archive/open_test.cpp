// Opening archives: the end record search, its limits, and the end record's consistency checks.
#include <sys/stat.h>

#include "zip_builder.h"
#include "zip_test_support.h"

namespace tessaly::test {
namespace {

class OpenTest : public ScratchTest {
protected:
    static ZipArchive OneMember() {
        ZipArchive archive;
        archive.members.push_back(Stored("MLO", "boot loader"));
        return archive;
    }

    int EntryCount(CLibZip& zip) {
        ZipEntryInfo info;
        EXPECT_EQ(zip.GetEntry(-1, &info), kZipOk);
        return info.index;
    }
};

TEST_F(OpenTest, OpensAnArchiveAndCountsItsEntries) {
    ZipArchive archive = OneMember();
    archive.members.push_back(Deflated("R8V1", PatternBytes(5000)));
    CLibZip zip;
    ASSERT_EQ(OpenArchive(zip, archive.Build()), kZipOk);
    EXPECT_EQ(EntryCount(zip), 2);
    EXPECT_EQ(zip.Close(), kZipOk);
}

TEST_F(OpenTest, RefusesFilesThatAreNoArchive) {
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"empty file", ""},
        {"text", PatternBytes(100000)},
        {"bare 22-byte end record at offset 0", ZipArchive{}.Build()},
        {"end record cut short", PatternBytes(300) + "PK\x05\x06" + std::string(10, '\0')},
    };
    for (const auto& c : cases) {
        CLibZip zip;
        EXPECT_EQ(OpenArchive(zip, c.bytes), kZipNoEndRecord) << c.what;
    }
}

TEST_F(OpenTest, EmptyArchiveBehindOtherDataOpens) {
    ZipArchive archive;
    archive.prefix = "x";
    CLibZip zip;
    ASSERT_EQ(OpenArchive(zip, archive.Build()), kZipOk);
    EXPECT_EQ(EntryCount(zip), 0);
    ZipEntryInfo info;
    EXPECT_EQ(zip.GetEntry(0, &info), kZipIndexOutOfRange);
}

TEST_F(OpenTest, CommentUpTo65513BytesIsWithinTheSearch) {
    for (const size_t length : {size_t{65513}, size_t{65514}}) {
        ZipArchive archive = OneMember();
        archive.end.comment = std::string(length, 'c');
        CLibZip zip;
        EXPECT_EQ(OpenArchive(zip, archive.Build()), length <= 65513 ? kZipOk : kZipNoEndRecord)
            << "comment of " << length << " bytes";
    }
}

TEST_F(OpenTest, FindsTheSignatureWhereverItLiesAgainstTheBlockEdges) {
    // The search reads 1,028-byte blocks stepping back 1,024 bytes; end records that start 22 +
    // comment bytes before the end of the file sweep across the first two block edges.
    for (size_t comment = 996; comment <= 1012; ++comment) {
        for (const size_t extra : {size_t{0}, size_t{1024}}) {
            ZipArchive archive = OneMember();
            archive.prefix = PatternBytes(5000);  // so that the blocks do not start at offset 0
            archive.end.comment = std::string(comment + extra, 'c');
            CLibZip zip;
            ASSERT_EQ(OpenArchive(zip, archive.Build()), kZipOk) << comment + extra;
            EXPECT_EQ(EntryCount(zip), 1);
        }
    }
}

TEST_F(OpenTest, DataAheadOfTheArchiveIsSkipped) {
    ZipArchive archive = OneMember();
    archive.prefix = PatternBytes(1000);
    CLibZip zip;
    ASSERT_EQ(OpenArchive(zip, archive.Build()), kZipOk);
    ZipEntryInfo info;
    ASSERT_EQ(zip.GetEntry(0, &info), kZipOk);
    EXPECT_EQ(Utf8(info.name), "MLO");
}

TEST_F(OpenTest, InconsistentEndRecordsAreRefused) {
    const struct {
        const char* what;
        void (*damage)(ZipEndRecord&);
    } cases[] = {
        {"disk number 1", [](ZipEndRecord& e) { e.diskNumber = 1; }},
        {"central directory on disk 1", [](ZipEndRecord& e) { e.centralDisk = 1; }},
        {"entry counts differ", [](ZipEndRecord& e) { e.entriesOnDisk = 2; }},
        {"directory reaches past the end record", [](ZipEndRecord& e) { e.centralOffset = 1000; }},
    };
    for (const auto& c : cases) {
        ZipArchive archive = OneMember();
        c.damage(archive.end);
        CLibZip zip;
        EXPECT_EQ(OpenArchive(zip, archive.Build()), kZipBadEndRecord) << c.what;
    }
}

TEST_F(OpenTest, FilesThatCannotBeOpenedOrAreNoDiskFiles) {
    CLibZip missing;
    EXPECT_EQ(missing.Open(U16((m_dir / "missing.zip").string())), kZipCannotCreateFile);

    CLibZip folder;
    EXPECT_EQ(folder.Open(U16(m_dir.string())), kZipCannotCreateFile);

    // A pipe without a writer must neither block nor count as an archive.
    ASSERT_EQ(mkfifo((m_dir / "pipe").c_str(), 0600), 0);
    CLibZip pipe;
    EXPECT_EQ(pipe.Open(U16((m_dir / "pipe").string())), kZipNoEndRecord);
}

TEST_F(OpenTest, SecondOpenIsRefusedAndTheFirstStaysUsable) {
    CLibZip zip;
    ASSERT_EQ(OpenArchive(zip, OneMember().Build()), kZipOk);
    EXPECT_EQ(OpenArchive(zip, OneMember().Build(), "other.zip"), kZipAlreadyOpen);
    EXPECT_EQ(EntryCount(zip), 1);
    EXPECT_EQ(zip.ExtractEntry(0, u"MLO"), kZipOk);
    EXPECT_EQ(ReadBytes(m_dir / "MLO"), "boot loader");
}

}  // namespace
}  // namespace tessaly::test
