// Fault injection: each kind spoils exactly the reply (or exchange) it was armed on, counted
// from the moment it was armed.
#include <cerrno>
#include <functional>

#include "wire.h"

namespace vsplicer::testing {
namespace {

using Kind = Fault::Kind;

class Faults : public SplicerTest {
protected:
    // The clean identity header reply, taken before any fault is armed.
    void SetUp() override {
        SplicerTest::SetUp();
        clean = Exchange(HeaderRequest(4));
        ASSERT_EQ(clean.size(), 12u);
    }
    Bytes clean;
};

struct FaultCase {
    const char* name;
    Fault fault;
    std::function<void(const Bytes& clean, const Bytes& got, int code)> check;
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class EachFaultKind : public Faults, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(EachFaultKind, SpoilsOnlyTheArmedReply) {
    Fault f = GetParam().fault;
    f.at = 2;
    splicer->Arm(f);
    EXPECT_EQ(Exchange(HeaderRequest(4)), clean);  // reply 1 after arming
    int code = 0;
    const Bytes got = Exchange(HeaderRequest(4), 1024, &code);
    GetParam().check(clean, got, code);
    EXPECT_EQ(Exchange(HeaderRequest(4)), clean);  // fired once only
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, EachFaultKind,
    ::testing::Values(
        FaultCase{"BadChecksum", {Kind::BadChecksum},
                  [](const Bytes& clean, const Bytes& got, int) {
                      ASSERT_EQ(got.size(), clean.size());
                      EXPECT_TRUE(std::equal(clean.begin(), clean.end() - 1, got.begin()));
                      EXPECT_FALSE(ChecksumOk(got));
                  }},
        FaultCase{"ShortReply", {Kind::ShortReply, 1, 5},
                  [](const Bytes& clean, const Bytes& got, int) {
                      EXPECT_EQ(got, Bytes(clean.begin(), clean.begin() + 5));
                  }},
        FaultCase{"ShortReplyToNothing", {Kind::ShortReply, 1, 0},
                  [](const Bytes&, const Bytes& got, int code) {
                      EXPECT_EQ(code, 0);
                      EXPECT_TRUE(got.empty());
                  }},
        FaultCase{"LongReply", {Kind::LongReply, 1, 3},
                  [](const Bytes& clean, const Bytes& got, int) {
                      ASSERT_EQ(got.size(), clean.size() + 3);
                      EXPECT_TRUE(std::equal(clean.begin(), clean.end(), got.begin()));
                      EXPECT_FALSE(ChecksumOk(got));  // the longer frame must not pass
                  }},
        FaultCase{"NoReply", {Kind::NoReply},
                  [](const Bytes&, const Bytes& got, int code) {
                      EXPECT_EQ(code, -ETIMEDOUT);
                      EXPECT_TRUE(got.empty());
                  }},
        FaultCase{"WrongEcho", {Kind::WrongEcho, 1, 0, 5},
                  [](const Bytes&, const Bytes& got, int) {
                      ASSERT_EQ(got.size(), 12u);
                      EXPECT_EQ(got[5], 5);
                      EXPECT_EQ(got[6], 0);
                      EXPECT_TRUE(ChecksumOk(got));
                  }},
        FaultCase{"BadLength", {Kind::BadLength, 1, 0, -7},
                  [](const Bytes&, const Bytes& got, int) {
                      EXPECT_EQ(AnnouncedLength(got), -7);
                      EXPECT_TRUE(ChecksumOk(got));
                  }}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(Faults, CountingStartsWhenArmed) {
    Exchange(HeaderRequest(4));
    Exchange(HeaderRequest(4));
    splicer->Arm({Kind::NoReply, 1});
    int code = 0;
    Exchange(HeaderRequest(4), 64, &code);
    EXPECT_EQ(code, -ETIMEDOUT);
}

TEST_F(Faults, SeveralFaultsAtOnce) {
    splicer->Arm({Kind::BadChecksum, 3});
    splicer->Arm({Kind::WrongEcho, 1, 0, 9});
    splicer->Arm({Kind::BadChecksum, 1});  // two faults on one reply both apply
    Bytes r1 = Exchange(HeaderRequest(4));
    EXPECT_EQ(r1[5], 9);
    EXPECT_FALSE(ChecksumOk(r1));
    EXPECT_EQ(Exchange(HeaderRequest(4)), clean);
    EXPECT_FALSE(ChecksumOk(Exchange(HeaderRequest(4))));
    EXPECT_EQ(Exchange(HeaderRequest(4)), clean);
}

TEST_F(Faults, RunOfBadChecksumsThenClean) {
    splicer->SetHistorySize(20000);
    Exchange(HeaderRequest(1));
    for (int k = 1; k <= 11; ++k) splicer->Arm({Kind::BadChecksum, k});
    for (int i = 0; i < 11; ++i) EXPECT_FALSE(ChecksumOk(Exchange(DataRequest(1, 0, 20000), 512))) << i;
    EXPECT_TRUE(ChecksumOk(Exchange(DataRequest(1, 0, 20000), 512)));
}

TEST_F(Faults, NoReplyStillCountsAsAReply) {
    splicer->Arm({Kind::NoReply, 1});
    splicer->Arm({Kind::BadChecksum, 2});
    int code = 0;
    Exchange(HeaderRequest(4), 64, &code);
    EXPECT_EQ(code, -ETIMEDOUT);
    EXPECT_FALSE(ChecksumOk(Exchange(HeaderRequest(4))));
}

TEST_F(Faults, RequestsWithoutReplyDoNotCount) {
    splicer->Arm({Kind::BadChecksum, 1});
    Write(handle, Packet(1, {5, 2}));  // model code: no reply
    EXPECT_FALSE(ChecksumOk(Exchange(HeaderRequest(4))));
}

TEST_F(Faults, BadLengthLeavesDataRepliesAlone) {
    splicer->SetHistorySize(100);
    Exchange(HeaderRequest(1));
    splicer->Arm({Kind::BadLength, 1, 0, 5});
    const Bytes reply = Exchange(DataRequest(1, 0, 100));
    EXPECT_EQ(reply.size(), 108u);
    EXPECT_TRUE(ChecksumOk(reply));
}

TEST_F(Faults, WrongEchoOnDataReply) {
    splicer->SetHistorySize(2000);
    Exchange(HeaderRequest(1));
    splicer->Arm({Kind::WrongEcho, 1, 0, 5});
    const Bytes reply = Exchange(DataRequest(1, 0, 2000), 512);
    EXPECT_EQ(reply[5], 5);
    EXPECT_TRUE(ChecksumOk(reply));
    EXPECT_EQ(reply.size(), 512u);
}

TEST_F(Faults, RequeuedAcknowledgementsAreRepliesToo) {
    Exchange(Packet(2, Cat({{0, 0}, Le32(10), {0xAB}})), 20);
    splicer->Arm({Kind::BadChecksum, 1});
    splicer->Arm({Kind::WrongEcho, 2, 0, 3});
    const Bytes bad = Exchange(Bytes{}, 20);
    EXPECT_EQ(bad.size(), 16u);
    EXPECT_FALSE(ChecksumOk(bad));
    EXPECT_EQ(Exchange(Bytes{}, 20)[5], 3);
    const Bytes good = Exchange(Bytes{}, 20);  // the stored acknowledgement stayed clean
    EXPECT_TRUE(ChecksumOk(good));
    EXPECT_EQ(good[5], 0);
}

TEST_F(Faults, ClearFaultsDisarms) {
    splicer->Arm({Kind::NoReply, 1});
    splicer->Arm({Kind::Unplug, 1});
    splicer->ClearFaults();
    EXPECT_EQ(Exchange(HeaderRequest(4)), clean);
    EXPECT_EQ(Exchange(HeaderRequest(4)), clean);
}

TEST_F(Faults, UnplugAfterTheKthExchange) {
    Exchange(Packet(2, Cat({{0, 0}, Le32(1000), {0xAB}})), 20);
    splicer->Arm({Kind::Unplug, 2});
    Write(handle, Bytes{});  // exchange 1: a zero-length write counts
    EXPECT_EQ(Read(handle, 20).size(), 16u);
    const Bytes block(504, 0x11);
    EXPECT_EQ(Write(handle, Packet(2, Cat({Le16(1), block}))), 512);  // exchange 2 arrives
    int code = 0;
    Read(handle, 20, &code);
    EXPECT_EQ(code, -ENODEV);  // its acknowledgement never comes
    EXPECT_EQ(Write(handle, HeaderRequest(4)), -ENODEV);
    EXPECT_EQ(splicer->ReceivedFiles().at(0).data.size(), 504u);

    struct usb_device* gone = vsplicer::usb_get_busses()->devices;
    ASSERT_NE(gone, nullptr);  // still listed until the next search
    EXPECT_EQ(vsplicer::usb_find_devices(), 1);
    EXPECT_EQ(vsplicer::usb_get_busses()->devices, nullptr);
    const uint16_t product = gone->descriptor.idProduct;  // the record stays readable
    EXPECT_EQ(product, 0x6124);
    EXPECT_EQ(vsplicer::usb_open(gone), nullptr);
}

}  // namespace
}  // namespace vsplicer::testing
