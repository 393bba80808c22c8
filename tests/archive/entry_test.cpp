// Entry information: the count, the walk in any order, names, attributes, times, and the checks
// that the central directory and the local headers agree.
#include <ctime>
#include <functional>

#include "zip_builder.h"
#include "zip_metadata.h"
#include "zip_test_support.h"

namespace tessaly::test {
namespace {

uint64_t TicksOfUnix(int64_t seconds) {
    return static_cast<uint64_t>(seconds) * 10'000'000u + 116'444'736'000'000'000u;
}

uint64_t TicksOfUtc(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return TicksOfUnix(timegm(&tm));
}

void ExpectSameInfo(const ZipEntryInfo& a, const ZipEntryInfo& b) {
    EXPECT_EQ(a.index, b.index);
    EXPECT_EQ(std::u16string(a.name, kZipNameUnits), std::u16string(b.name, kZipNameUnits));
    EXPECT_EQ(a.attributes, b.attributes);
    EXPECT_EQ(a.lastAccessTime, b.lastAccessTime);
    EXPECT_EQ(a.creationTime, b.creationTime);
    EXPECT_EQ(a.lastWriteTime, b.lastWriteTime);
    EXPECT_EQ(a.compressedSize, b.compressedSize);
    EXPECT_EQ(a.uncompressedSize, b.uncompressedSize);
}

class EntryTest : public ScratchTest {
protected:
    // Opens an archive holding `member` and reads entry 0; returns GetEntry's result.
    int InfoOf(const ZipMember& member, ZipEntryInfo* info) {
        ZipArchive archive;
        archive.members.push_back(member);
        CLibZip zip;
        EXPECT_EQ(OpenArchive(zip, archive.Build()), kZipOk);
        return zip.GetEntry(0, info);
    }
};

TEST_F(EntryTest, CountQueryAndIndexRange) {
    ZipArchive archive;
    for (const char* name : {"MLO", "R8V1", "R8V2"}) archive.members.push_back(Stored(name, name));
    CLibZip zip;
    ASSERT_EQ(OpenArchive(zip, archive.Build()), kZipOk);

    ZipEntryInfo count;
    std::fill(std::begin(count.name), std::end(count.name), u'x');
    count.lastWriteTime = count.compressedSize = 7;
    ASSERT_EQ(zip.GetEntry(-1, &count), kZipOk);
    ZipEntryInfo expected;
    expected.index = 3;
    ExpectSameInfo(count, expected);

    ZipEntryInfo info;
    EXPECT_EQ(zip.GetEntry(3, &info), kZipIndexOutOfRange);
    EXPECT_EQ(zip.GetEntry(-2, &info), kZipIndexOutOfRange);
    EXPECT_EQ(zip.ExtractEntry(3, u"x"), kZipIndexOutOfRange);
    EXPECT_EQ(zip.ExtractEntry(-1, u"x"), kZipIndexOutOfRange);
}

TEST_F(EntryTest, AskingOutOfOrderGivesWhatAskingInOrderGives) {
    ZipArchive archive;
    for (int i = 0; i < 5; ++i) {
        ZipMember m = Deflated("file" + std::to_string(i), PatternBytes(100u + 50u * unsigned(i)));
        m.comment = std::string(size_t(i), '#');  // uneven central records
        m.centralExtra = std::string(size_t(3 * i), 'e');
        archive.members.push_back(m);
    }
    const std::string bytes = archive.Build();
    std::vector<ZipEntryInfo> inOrder(5);
    {
        CLibZip zip;
        ASSERT_EQ(OpenArchive(zip, bytes), kZipOk);
        for (int i = 0; i < 5; ++i) ASSERT_EQ(zip.GetEntry(i, &inOrder[size_t(i)]), kZipOk);
    }
    CLibZip zip;
    ASSERT_EQ(OpenArchive(zip, bytes), kZipOk);
    for (const int i : {3, 1, 2, 4, 0, 0, 4}) {
        ZipEntryInfo info;
        ASSERT_EQ(zip.GetEntry(i, &info), kZipOk) << i;
        ExpectSameInfo(info, inOrder[size_t(i)]);
        EXPECT_EQ(Utf8(info.name), "file" + std::to_string(i));
    }
}

TEST_F(EntryTest, NamesConvertAndLeaveTheRestOfTheFieldZero) {
    const struct {
        std::string stored;
        uint16_t flags;
        std::u16string expected;
    } cases[] = {
        {"fw/Nand_R8V2", 0, u"fw/Nand_R8V2"},
        {"dir\\MLO", 0, u"dir\\MLO"},
        {"\xCE\xA9mega.bin", 0x800, u"\u03A9mega.bin"},               // UTF-8 flagged
        {"\x80t\xE9.bin", 0, u"\u00C7t\u0398.bin"},                   // code page 437
        {"\xCE\xA9mega.bin", 0, u"\u256C\u2310mega.bin"},            // not flagged: 437
        {"bad\xFF.bin", 0x800, u"bad\u00A0.bin"},                     // invalid UTF-8: 437
    };
    for (const auto& c : cases) {
        ZipMember m = Stored(c.stored, "data");
        m.flags = c.flags;
        ZipEntryInfo info;
        std::fill(std::begin(info.name), std::end(info.name), u'?');
        ASSERT_EQ(InfoOf(m, &info), kZipOk) << c.stored;
        std::u16string expected = c.expected;
        expected.resize(kZipNameUnits, u'\0');
        EXPECT_EQ(std::u16string(info.name, kZipNameUnits), expected) << c.stored;
    }
}

TEST_F(EntryTest, NamesOf259BytesOrMoreAreRefusedNotCut) {
    ZipArchive archive;
    archive.members.push_back(Stored(std::string(258, 'a'), "fits"));
    archive.members.push_back(Stored(std::string(259, 'b'), "too long"));
    archive.members.push_back(Stored(std::string(2000, 'c'), "far too long"));
    archive.members.push_back(Stored("after", "still there"));
    CLibZip zip;
    ASSERT_EQ(OpenArchive(zip, archive.Build()), kZipOk);
    ZipEntryInfo info;
    ASSERT_EQ(zip.GetEntry(0, &info), kZipOk);
    EXPECT_EQ(Utf8(info.name), std::string(258, 'a'));
    EXPECT_EQ(info.name[258], u'\0');
    EXPECT_EQ(zip.GetEntry(1, &info), kZipCorruptEntry);
    EXPECT_EQ(zip.GetEntry(2, &info), kZipCorruptEntry);
    EXPECT_EQ(zip.ExtractEntry(1, u"out"), kZipCorruptEntry);
    ASSERT_EQ(zip.GetEntry(3, &info), kZipOk);
    EXPECT_EQ(Utf8(info.name), "after");
}

TEST_F(EntryTest, AttributesFromExternalAttributes) {
    using namespace zip;
    const struct {
        uint32_t external;
        uint32_t attributes;
    } cases[] = {
        {0x20, kAttrNormal | kAttrArchive | kAttrReadOnly},  // Windows tool: read-only
        {0x00000000, kAttrNormal | kAttrReadOnly},
        {kUnixMode0644, kAttrNormal},
        {0x81240000, kAttrNormal | kAttrReadOnly},  // mode 0444
        {kUnixMode0644 | 0x01, kAttrNormal | kAttrReadOnly},
        {kUnixMode0644 | 0x02, kAttrNormal | kAttrHidden},
        {kUnixMode0644 | 0x04, kAttrNormal | kAttrSystem},
        {0x41ED0000, kAttrNormal | kAttrDirectory},  // Unix folder 0755
        {0x10, kAttrNormal | kAttrDirectory | kAttrReadOnly},
    };
    for (const auto& c : cases) {
        ZipMember m = Stored("x", "");
        m.external = c.external;
        ZipEntryInfo info;
        ASSERT_EQ(InfoOf(m, &info), kZipOk);
        EXPECT_EQ(info.attributes, c.attributes) << std::hex << c.external;
    }
}

TEST_F(EntryTest, TrailingSlashMarksAFolderWhateverTheAttributes) {
    for (const uint32_t external : {0u, kUnixMode0644}) {
        ZipMember m = Stored("somedir/", "");
        m.external = external;
        ZipEntryInfo info;
        ASSERT_EQ(InfoOf(m, &info), kZipOk);
        EXPECT_NE(info.attributes & zip::kAttrDirectory, 0u) << external;
    }
    for (const char* name : {"somedir\\", "file"}) {
        ZipMember m = Stored(name, "");
        m.external = kUnixMode0644;
        ZipEntryInfo info;
        ASSERT_EQ(InfoOf(m, &info), kZipOk);
        EXPECT_EQ(info.attributes & zip::kAttrDirectory, 0u) << name;
    }
}

TEST_F(EntryTest, TimesFromDosFieldsAndExtendedTimestamps) {
    const uint64_t dos = TicksOfUtc(2025, 1, 12, 13, 48, 58);  // kDosDateTime, taken as it stands
    const uint32_t write = 1700000000;
    const uint32_t access = 1700000100;
    const uint32_t create = 1600000000;
    const uint64_t writeTicks = TicksOfUnix(write);
    const uint64_t accessTicks = TicksOfUnix(access);
    const uint64_t createTicks = TicksOfUnix(create);
    const std::string otherBlock = Le16(0x7875) + Le16(3) + "abc";
    const struct {
        const char* what;
        std::string localExtra;
        std::string centralExtra;
        uint64_t lastWrite, lastAccess, creation;
    } cases[] = {
        {"no extra field", "", "", dos, dos, dos},
        {"flags 3", UtBlock(3, {write, access}), "", writeTicks, accessTicks, dos},
        {"flags 7 after another block", otherBlock + UtBlock(7, {write, access, create}), "",
         writeTicks, accessTicks, createTicks},
        {"flags 4", UtBlock(4, {create}), "", dos, dos, createTicks},
        {"only in the central field", "", UtBlock(3, {write, access}), dos, dos, dos},
        // Flags announce more times than the block holds: the block's end is the limit.
        {"flags 3, one time", UtBlock(3, {write}) + Le16(0x1234) + Le16(0), "", writeTicks, dos, dos},
        // The block announces 9 bytes but the field ends after the first time.
        {"runs past the field", Le16(0x5455) + Le16(9) + "\x03" + Le32(write), "", writeTicks, dos,
         dos},
        {"header only", Le16(0x5455) + Le16(0), "", dos, dos, dos},
    };
    for (const auto& c : cases) {
        ZipMember m = Stored("x", "data");
        m.localExtra = c.localExtra;
        m.centralExtra = c.centralExtra;
        ZipEntryInfo info;
        ASSERT_EQ(InfoOf(m, &info), kZipOk) << c.what;
        EXPECT_EQ(info.lastWriteTime, c.lastWrite) << c.what;
        EXPECT_EQ(info.lastAccessTime, c.lastAccess) << c.what;
        EXPECT_EQ(info.creationTime, c.creation) << c.what;
    }
}

TEST_F(EntryTest, ImpossibleDosDateGivesNoTime) {
    ZipMember m = Stored("x", "data");
    m.dosDateTime = 0;  // month 0, day 0
    ZipEntryInfo info;
    ASSERT_EQ(InfoOf(m, &info), kZipOk);
    EXPECT_EQ(info.lastWriteTime, 0u);
    EXPECT_EQ(info.creationTime, 0u);
}

TEST_F(EntryTest, SizesComeFromTheCentralDirectory) {
    ZipMember m = Deflated("x", PatternBytes(10000));
    m.dataDescriptor = true;
    ZipEntryInfo info;
    ASSERT_EQ(InfoOf(m, &info), kZipOk);
    EXPECT_EQ(info.uncompressedSize, 10000u);
    EXPECT_EQ(info.compressedSize, RawDeflate(PatternBytes(10000)).size());
}

TEST_F(EntryTest, LocalHeaderMustAgreeWithTheCentralDirectory) {
    const struct {
        const char* what;
        std::function<void(ZipMember&)> change;
        int result;
    } cases[] = {
        {"agreeing", [](ZipMember&) {}, kZipOk},
        {"signature", [](ZipMember& m) { m.localSignature = 0x04034B51; }, kZipCorruptEntry},
        {"method", [](ZipMember& m) { m.localMethod = 0; }, kZipCorruptEntry},
        {"method 12 on both sides", [](ZipMember& m) { m.method = 12; }, kZipCorruptEntry},
        {"crc-32", [](ZipMember& m) { m.localCrc = 1; }, kZipCorruptEntry},
        {"compressed size", [](ZipMember& m) { m.localCompressedSize = 3; }, kZipCorruptEntry},
        {"uncompressed size", [](ZipMember& m) { m.centralUncompressedSize = 9; }, kZipCorruptEntry},
        {"name length", [](ZipMember& m) { m.localName = "MLO.bak"; }, kZipCorruptEntry},
        {"name bytes", [](ZipMember& m) { m.localName = "../"; }, kZipCorruptEntry},
        {"deferred to a data descriptor", [](ZipMember& m) { m.dataDescriptor = true; }, kZipOk},
        {"descriptor with a local crc-32",
         [](ZipMember& m) {
             m.dataDescriptor = true;
             m.localCrc = 5;
         },
         kZipOk},
        {"local extra field past the end of the file",
         [](ZipMember& m) { m.localExtraLength = 0xFFFF; }, kZipBadLocalExtra},
    };
    for (const auto& c : cases) {
        ZipMember m = Deflated("MLO", PatternBytes(3000));
        c.change(m);
        ZipEntryInfo info;
        EXPECT_EQ(InfoOf(m, &info), c.result) << c.what;
        ZipArchive archive;
        archive.members.push_back(m);
        CLibZip zip;
        ASSERT_EQ(OpenArchive(zip, archive.Build()), kZipOk);
        EXPECT_EQ(zip.ExtractEntry(0, u"MLO"), c.result) << c.what;
        EXPECT_EQ(std::filesystem::exists(m_dir / "MLO"), c.result == kZipOk) << c.what;
        std::filesystem::remove(m_dir / "MLO");
    }
}

TEST_F(EntryTest, UnreadableCentralHeaderStopsTheWalkThere) {
    ZipArchive archive;
    for (const char* name : {"a", "b", "c"}) archive.members.push_back(Stored(name, name));
    archive.members[1].centralSignature = 0x02014B51;
    CLibZip zip;
    ASSERT_EQ(OpenArchive(zip, archive.Build()), kZipOk);
    ZipEntryInfo info;
    EXPECT_EQ(zip.GetEntry(2, &info), kZipCorruptEntry);
    EXPECT_EQ(zip.GetEntry(1, &info), kZipCorruptEntry);
    EXPECT_EQ(zip.ExtractEntry(2, u"c"), kZipCorruptEntry);
    ASSERT_EQ(zip.GetEntry(0, &info), kZipOk);
    EXPECT_EQ(Utf8(info.name), "a");
    EXPECT_EQ(zip.GetEntry(2, &info), kZipCorruptEntry);
}

TEST_F(EntryTest, UnreadableFirstHeaderStillOpens) {
    ZipArchive archive;
    archive.members.push_back(Stored("a", "a"));
    archive.members[0].centralSignature = 0;
    CLibZip zip;
    ASSERT_EQ(OpenArchive(zip, archive.Build()), kZipOk);
    ZipEntryInfo info;
    EXPECT_EQ(zip.GetEntry(0, &info), kZipCorruptEntry);
}

TEST_F(EntryTest, EntryCountBeyondTheDirectoryFailsThoseEntries) {
    ZipArchive archive;
    archive.members.push_back(Stored("a", "a"));
    archive.end.entriesOnDisk = archive.end.entriesTotal = 40000;
    CLibZip zip;
    ASSERT_EQ(OpenArchive(zip, archive.Build()), kZipOk);
    ZipEntryInfo info;
    EXPECT_EQ(zip.GetEntry(0, &info), kZipOk);
    EXPECT_EQ(zip.GetEntry(39999, &info), kZipCorruptEntry);
    EXPECT_EQ(zip.GetEntry(1, &info), kZipCorruptEntry);
}

}  // namespace
}  // namespace tessaly::test
