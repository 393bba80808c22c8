// The identity query, the two tries on connection, and the status text.
#include <gtest/gtest.h>

#include "device_identity.h"
#include "virtual_usb.h"

namespace tessaly {
namespace {

using testing::AttachedSplicer;
using vsplicer::Fault;
using Kind = Fault::Kind;

TEST(FormatVersion, DigitsFromTheRight) {
    const std::pair<uint32_t, const char*> cases[] = {
        {210, "2.1.0"}, {205, "2.0.5"}, {7, "0.0.7"}, {1234, "12.3.4"}, {0, "0.0.0"},
        {4294967295u, "42949672.9.5"}};
    for (const auto& [v, text] : cases) EXPECT_EQ(FormatVersion(v), text) << v;
}

class IdentityTest : public ::testing::Test {
protected:
    AttachedSplicer s;
    DeviceIdentity identity;

    void SetIdentity(const vsplicer::Identity& id) { s.splicer->SetIdentity(id); }
};

TEST_F(IdentityTest, ConnectedTextOfAStandardSplicer) {
    vsplicer::Identity id;
    id.model = 0x1F;
    id.serial = "AB1234";
    id.version = 210;
    SetIdentity(id);
    ASSERT_TRUE(IdentifySplicer(s.link, identity));
    EXPECT_EQ(ConnectedStatusText(identity),
              "Connected.    SN: AB1234  |  Model: 0x1f  |  Version: 2.1.0");
    const auto requests = s.splicer->Requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[0], (std::vector<uint8_t>{0xFE, 0xEF, 0x03, 0x03, 0x00, 0x00, 0x00, 0x04, 0x04}));
    EXPECT_EQ(requests[1], (std::vector<uint8_t>{0xFE, 0xEF, 0x03, 0x0A, 0x00, 0x01, 0x00, 0x00, 0x00,
                                                 0x00, 0x00, 0x2A, 0x00, 0x00, 0x00, 0x22}));
}

TEST_F(IdentityTest, ModelInTwoLowerCaseDigitsAndFullWidthSerial) {
    vsplicer::Identity id;
    id.model = 0x0A;
    id.serial = "ABCDEFGHIJKLMNOPQRSTUVWX";  // all 24 bytes, no NUL
    id.version = 1234;
    SetIdentity(id);
    ASSERT_TRUE(IdentifySplicer(s.link, identity));
    EXPECT_EQ(ConnectedStatusText(identity),
              "Connected.    SN: ABCDEFGHIJKLMNOPQRSTUVWX  |  Model: 0x0a  |  Version: 12.3.4");
}

TEST_F(IdentityTest, SecondQuerySucceedsAfterAFirstChecksumFailure) {
    s.splicer->Arm({Kind::BadChecksum, 2});  // the first query's data reply
    ASSERT_TRUE(IdentifySplicer(s.link, identity));
    EXPECT_EQ(identity.Serial(), "AB1234");
}

TEST_F(IdentityTest, NoRetryWithinOneQuery) {
    s.splicer->Arm({Kind::BadChecksum, 2});
    s.splicer->ClearRequests();
    EXPECT_FALSE(QueryDeviceInfo(s.link, identity));
    EXPECT_EQ(s.splicer->Requests().size(), 2u);
}

TEST_F(IdentityTest, WrongMarkerIsStoredButNotIdentified) {
    vsplicer::Identity id;
    id.marker = 0x00;
    SetIdentity(id);
    EXPECT_FALSE(IdentifySplicer(s.link, identity));
    EXPECT_EQ(identity.Serial(), "AB1234");  // stored all the same
    EXPECT_EQ(s.splicer->Requests().size(), 4u);  // two queries, two exchanges each
}

TEST_F(IdentityTest, FailedQueriesLeaveTheBlockAsItWas) {
    identity.bytes.fill(0x77);
    const Fault faults[] = {{Kind::NoReply, 1},     {Kind::ShortReply, 1, 9}, {Kind::WrongEcho, 1, 0, 3},
                            {Kind::ShortReply, 2, 7}, {Kind::BadChecksum, 2}, {Kind::NoReply, 2},
                            {Kind::BadLength, 1, 0, -20}};
    for (const Fault& f : faults) {
        s.splicer->ClearFaults();
        s.splicer->Arm(f);
        EXPECT_FALSE(QueryDeviceInfo(s.link, identity)) << static_cast<int>(f.kind);
        EXPECT_EQ(identity.bytes[0], 0x77);
        EXPECT_EQ(identity.bytes[41], 0x77);
    }
}

TEST_F(IdentityTest, ShortIdentityLeavesTheRestZero) {
    identity.bytes.fill(0x77);
    vsplicer::Identity id;
    id.declaredLength = 10;  // marker, model and 8 serial bytes
    SetIdentity(id);
    ASSERT_TRUE(QueryDeviceInfo(s.link, identity));
    EXPECT_TRUE(identity.Identified());
    EXPECT_EQ(identity.Serial(), "AB1234");
    for (size_t i = 10; i < kIdentitySize; ++i) EXPECT_EQ(identity.bytes[i], 0) << i;
}

TEST_F(IdentityTest, OverlongIdentityIsReadWithinTheBuffer) {
    vsplicer::Identity id;
    id.declaredLength = 5000;  // L + 8 far beyond the 1024-byte reply buffer
    SetIdentity(id);
    identity.bytes.fill(0x77);
    s.splicer->ClearRequests();
    // The read stops at 1024 bytes, so the frame's checksum byte is some data byte: the query
    // either fails and keeps the block, or keeps the first 42 bytes. Under ASan this also shows
    // that nothing is read or written past the buffer.
    const bool ok = QueryDeviceInfo(s.link, identity);
    EXPECT_EQ(identity.bytes[0], ok ? 0xE8 : 0x77);
    EXPECT_EQ(s.splicer->Requests().size(), 2u);
    // Nothing of the long reply is left over to spoil the next exchange.
    SetIdentity(vsplicer::Identity{});
    ASSERT_TRUE(QueryDeviceInfo(s.link, identity));
    EXPECT_EQ(ConnectedStatusText(identity), "Connected.    SN: AB1234  |  Model: 0x1f  |  Version: 2.1.0");
}

TEST(DeviceIdentity, SerialIsConvertedFromWindows1252) {
    DeviceIdentity identity;
    const uint8_t serial[] = {'S', 'N', 0xE9, 0x80};
    std::copy(std::begin(serial), std::end(serial), identity.bytes.begin() + 2);
    EXPECT_EQ(identity.Serial(), "SN\xC3\xA9\xE2\x82\xAC");
}

}  // namespace
}  // namespace tessaly
