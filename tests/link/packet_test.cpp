// Framing and reply checks, byte for byte.
#include <gtest/gtest.h>

#include "case_name.h"

#include <vector>

#include "packet.h"

namespace tessaly {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(XorChecksum, EmptyOrNegativeCountIsZero) {
    const uint8_t b[] = {0x55};
    EXPECT_EQ(XorChecksum(b, 0), 0);
    EXPECT_EQ(XorChecksum(b, -4), 0);
}

TEST(XorChecksum, IdentityHeaderBytes) {
    const uint8_t b[] = {0x03, 0x03, 0x00, 0x00, 0x00, 0x04};
    EXPECT_EQ(XorChecksum(b, 6), 0x04);
}

struct FrameCase {
    const char* what;
    uint8_t command;
    Bytes payload;
    Bytes wire;
};

class FramePacketTest : public ::testing::TestWithParam<FrameCase> {};

TEST_P(FramePacketTest, LaysOutBytes) {
    const FrameCase& c = GetParam();
    uint8_t out[512];
    const int n = FramePacket(c.command, c.payload.data(), static_cast<int>(c.payload.size()), out, 512);
    ASSERT_EQ(n, static_cast<int>(c.wire.size()));
    EXPECT_EQ(Bytes(out, out + n), c.wire);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, FramePacketTest,
    ::testing::Values(
        FrameCase{"empty payload", 3, {}, {0xFE, 0xEF, 0x03, 0x00, 0x00, 0x03}},
        FrameCase{"identity header request", 3, {0x00, 0x00, 0x04},
                  {0xFE, 0xEF, 0x03, 0x03, 0x00, 0x00, 0x00, 0x04, 0x04}},
        FrameCase{"history header request", 3, {0x00, 0x00, 0x01},
                  {0xFE, 0xEF, 0x03, 0x03, 0x00, 0x00, 0x00, 0x01, 0x01}},
        FrameCase{"model code write, index 2", 1, {0x05, 0x02},
                  {0xFE, 0xEF, 0x01, 0x02, 0x00, 0x05, 0x02, 0x04}},
        FrameCase{"first data request for L = 42", 3,
                  {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2A, 0x00, 0x00, 0x00},
                  {0xFE, 0xEF, 0x03, 0x0A, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2A, 0x00,
                   0x00, 0x00, 0x22}},
        FrameCase{"firmware start packet, MLO of 1000 bytes", 2,
                  {0x00, 0x00, 0xE8, 0x03, 0x00, 0x00, 0xAB},
                  {0xFE, 0xEF, 0x02, 0x07, 0x00, 0x00, 0x00, 0xE8, 0x03, 0x00, 0x00, 0xAB, 0x45}}),
    [](const auto& c) { return testing::CaseName(c.param.what); });

TEST(FramePacket, FullFirmwareBlockFillsTheSendBuffer) {
    Bytes payload(506, 0x5A);
    uint8_t out[512];
    ASSERT_EQ(FramePacket(2, payload.data(), 506, out, 512), 512);
    EXPECT_EQ(out[3], 0xFA);
    EXPECT_EQ(out[4], 0x01);
    EXPECT_EQ(out[511], XorChecksum(out + 2, 509));
}

TEST(FramePacket, RefusesWhatDoesNotFit) {
    Bytes payload(507, 0);
    uint8_t out[512];
    EXPECT_EQ(FramePacket(2, payload.data(), 507, out, 512), -1);
    EXPECT_EQ(FramePacket(2, payload.data(), -1, out, 512), -1);
    EXPECT_EQ(FramePacket(2, nullptr, 4, out, 512), -1);
}

struct ReplyCase {
    const char* what;
    Bytes frame;
    bool ok;
};

TEST(ReplyChecksumOk, Table) {
    const ReplyCase cases[] = {
        // 7 bytes whose last byte is the XOR of bytes 2..5: still too short for a frame.
        {"seven bytes", {0xFE, 0xEF, 0x03, 0x01, 0x00, 0x07, 0x07 ^ 0x03 ^ 0x01}, false},
        {"eight bytes, empty data", {0xFE, 0xEF, 0x03, 0x02, 0x00, 0x01, 0x00, 0x03 ^ 0x02 ^ 0x01}, true},
        {"eight bytes, wrong sum", {0xFE, 0xEF, 0x03, 0x02, 0x00, 0x01, 0x00, 0x01}, false},
        {"data byte covered", {0xFE, 0xEF, 0x03, 0x03, 0x00, 0x01, 0x00, 0x40, 0x03 ^ 0x03 ^ 0x01 ^ 0x40}, true},
        {"data byte flipped", {0xFE, 0xEF, 0x03, 0x03, 0x00, 0x01, 0x00, 0x41, 0x03 ^ 0x03 ^ 0x01 ^ 0x40}, false},
        // Start bytes are not covered by the sum.
        {"start bytes ignored", {0x00, 0x00, 0x03, 0x02, 0x00, 0x01, 0x00, 0x03 ^ 0x02 ^ 0x01}, true},
    };
    for (const ReplyCase& c : cases) {
        EXPECT_EQ(ReplyChecksumOk(c.frame.data(), static_cast<int>(c.frame.size())), c.ok) << c.what;
    }
}

}  // namespace
}  // namespace tessaly
