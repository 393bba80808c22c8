// The generated objects: history export files of exact size and plausible CSV, and splice
// images with the announced layout.
#include <string>

#include "wire.h"
#include "content.h"

namespace vsplicer::testing {
namespace {

TEST(HistoryFile, ExactSizeForEverySize) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{7}, size_t{8}, size_t{9}, size_t{120},
                        size_t{1000}, size_t{65536}, size_t{5242880}, size_t{5242881}}) {
        SCOPED_TRACE(size);
        const Bytes f = MakeHistoryFile(size);
        ASSERT_EQ(f.size(), size);
        const Bytes magic{'H', 'I', 'S', 'T'};
        for (size_t i = 0; i < std::min<size_t>(size, 4); ++i) EXPECT_EQ(f[i], magic[i]);
    }
}

TEST(HistoryFile, CsvRecordsMatchTheCountInTheHeader) {
    const Bytes f = MakeHistoryFile(100000);
    const std::string text(f.begin() + 8, f.end());
    const uint32_t count = uint32_t{f[4]} | uint32_t{f[5]} << 8 | uint32_t{f[6]} << 16 | uint32_t{f[7]} << 24;
    EXPECT_EQ(text.rfind("No,Date,Time,", 0), 0u);
    size_t lines = 0, pos = 0;
    while ((pos = text.find("\r\n", pos)) != std::string::npos) {
        ++lines;
        pos += 2;
    }
    EXPECT_EQ(lines, count + 1);  // header line plus records
    EXPECT_GT(count, 500u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");  // padding stays inside the last line
    const size_t lastStart = text.rfind("\r\n", text.size() - 3) + 2;
    EXPECT_EQ(text.substr(lastStart, std::to_string(count).size() + 1), std::to_string(count) + ",");
}

TEST(HistoryFile, SameSizeGivesSameFile) {
    EXPECT_EQ(MakeHistoryFile(4321), MakeHistoryFile(4321));
}

TEST(Image, LayoutAndPicture) {
    const Bytes img = MakeImage(320, 240, 17);
    ASSERT_EQ(img.size(), 4u + 3u * 320 * 240);
    EXPECT_EQ(img[0] | img[1] << 8, 320);
    EXPECT_EQ(img[2] | img[3] << 8, 240);
    auto green = [&](size_t x, size_t y) { return img[4 + 3 * (y * 320 + x) + 1]; };
    EXPECT_GT(green(20, 120), green(20, 10) + 50);    // left fibre bright on grey
    EXPECT_GT(green(300, 120), green(300, 230) + 50);  // right fibre
    EXPECT_NE(MakeImage(320, 240, 17), MakeImage(320, 240, 18));
    EXPECT_EQ(MakeImage(0, 5, 1).size(), 4u);
}

TEST(Image, SplicerServesTheSameObject) {
    Splicer s;
    s.SetImageSize(64, 48);
    EXPECT_EQ(s.ImageObject(3), MakeImage(64, 48, 3));
    s.RemoveImage(3);
    EXPECT_TRUE(s.ImageObject(3).empty());
    EXPECT_TRUE(s.ImageObject(0).empty());
    EXPECT_TRUE(s.ImageObject(501).empty());
}

}  // namespace
}  // namespace vsplicer::testing
