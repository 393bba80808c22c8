// The read transfer against the virtual splicer: the happy paths, the retry budget and every
// kind of bad reply.
#include <gtest/gtest.h>

#include "case_name.h"

#include <vector>

#include "bytes.h"
#include "read_transfer.h"
#include "virtual_usb.h"

namespace tessaly {
namespace {

using testing::AttachedSplicer;
using vsplicer::Fault;
using Bytes = std::vector<uint8_t>;
using Kind = Fault::Kind;

constexpr size_t kReceiveBuffer = 5 * 1024 * 1024;

struct Recorder : TransferObserver {
    int headerSent = 0;
    std::vector<uint32_t> offsets;
    void HeaderSent() override { ++headerSent; }
    void DataAccepted(uint32_t offset, int32_t) override { offsets.push_back(offset); }
};

// Data requests seen by the splicer: (block, offset, remaining).
struct DataRequest {
    uint16_t block;
    uint32_t offset, remaining;
    bool operator==(const DataRequest&) const = default;
};

std::vector<DataRequest> DataRequests(const vsplicer::Splicer& s) {
    std::vector<DataRequest> out;
    for (const Bytes& r : s.Requests()) {
        if (r.size() == 16 && r[2] == 3 && r[3] == 10) {
            out.push_back({GetLe16(&r[5]), GetLe32(&r[7]), GetLe32(&r[11])});
        }
    }
    return out;
}

class TransferTest : public ::testing::Test {
protected:
    AttachedSplicer s;
    Bytes buffer = Bytes(kReceiveBuffer);
    Recorder recorder;

    TransferResult History() { return RunReadTransfer(s.link, kHistoryRead, 0, buffer, &recorder); }
    Bytes Received(const TransferResult& r) { return Bytes(buffer.begin(), buffer.begin() + r.received); }
};

TEST_F(TransferTest, HistoryOf1000BytesTakesTwoDataExchanges) {
    s.splicer->SetHistorySize(1000);
    s.splicer->ClearRequests();
    const TransferResult r = History();
    ASSERT_EQ(r.status, TransferStatus::Ok);
    EXPECT_EQ(r.length, 1000);
    EXPECT_EQ(Received(r), s.splicer->HistoryFile());
    EXPECT_EQ(DataRequests(*s.splicer),
              (std::vector<DataRequest>{{1, 0, 1000}, {2, 504, 496}}));
    EXPECT_EQ(recorder.headerSent, 1);
    EXPECT_EQ(recorder.offsets, (std::vector<uint32_t>{504, 1000}));
    const Bytes header = s.splicer->Requests().at(0);
    EXPECT_EQ(header, (Bytes{0xFE, 0xEF, 0x03, 0x03, 0x00, 0x00, 0x00, 0x01, 0x01}));
}

TEST_F(TransferTest, ImageRequestCarriesTheNumber) {
    s.splicer->SetImageSize(8, 4);
    s.splicer->ClearRequests();
    const TransferResult r = RunReadTransfer(s.link, kImageRead, 300, buffer);
    ASSERT_EQ(r.status, TransferStatus::Ok);
    EXPECT_EQ(Received(r), s.splicer->ImageObject(300));
    const Bytes header = s.splicer->Requests().at(0);
    EXPECT_EQ(header, (Bytes{0xFE, 0xEF, 0x03, 0x07, 0x00, 0x00, 0x00, 0x05, 0x2C, 0x01, 0x00, 0x00,
                             static_cast<uint8_t>(0x03 ^ 0x07 ^ 0x05 ^ 0x2C ^ 0x01)}));
}

TEST_F(TransferTest, BlockNumberFollowsTheEcho) {
    s.splicer->SetHistorySize(1500);
    s.splicer->Arm({Kind::WrongEcho, 2, 0, 5});  // reply 2 is the first data reply
    s.splicer->ClearRequests();
    ASSERT_EQ(History().status, TransferStatus::Ok);
    const auto requests = DataRequests(*s.splicer);
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1].block, 6);
    EXPECT_EQ(requests[2].block, 7);
}

TEST_F(TransferTest, TenBadChecksumsAreRetriedTheEleventhFails) {
    for (int bad : {10, 11}) {
        s.splicer->ClearFaults();
        s.splicer->SetHistorySize(20 * 504);
        // Spread over the transfer: replies 2, 4, 6, ... (reply 1 is the header).
        for (int i = 0; i < bad; ++i) s.splicer->Arm({Kind::BadChecksum, 2 + 2 * i});
        s.splicer->ClearRequests();
        recorder.offsets.clear();
        const TransferResult r = History();
        if (bad == 10) {
            ASSERT_EQ(r.status, TransferStatus::Ok);
            EXPECT_EQ(Received(r), s.splicer->HistoryFile());
            // A retried request repeats block, offset and remaining unchanged.
            const auto requests = DataRequests(*s.splicer);
            EXPECT_EQ(requests[0], requests[1]);
            EXPECT_EQ(requests.size(), 30u);
        } else {
            EXPECT_EQ(r.status, TransferStatus::DataFailed);
        }
    }
}

TEST_F(TransferTest, HeaderChecksumIsNotTested) {
    s.splicer->SetHistorySize(100);
    s.splicer->Arm({Kind::BadChecksum, 1});
    const TransferResult r = History();
    EXPECT_EQ(r.status, TransferStatus::Ok);
    EXPECT_EQ(r.length, 100);
}

struct FailureCase {
    const char* what;
    Fault fault;
    TransferStatus expected;
};

class TransferFailure : public TransferTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(TransferFailure, EndsTheTransfer) {
    s.splicer->SetHistorySize(5000);
    s.splicer->Arm(GetParam().fault);
    const TransferResult r = History();
    EXPECT_EQ(r.status, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    BadReplies, TransferFailure,
    ::testing::Values(
        FailureCase{"no header reply", {Kind::NoReply, 1}, TransferStatus::HeaderFailed},
        FailureCase{"header of 7 bytes", {Kind::ShortReply, 1, 7}, TransferStatus::HeaderFailed},
        // 8 to 10 bytes pass the length test but cannot hold all of L.
        FailureCase{"header of 9 bytes", {Kind::ShortReply, 1, 9}, TransferStatus::HeaderFailed},
        FailureCase{"header of 10 bytes", {Kind::ShortReply, 1, 10}, TransferStatus::HeaderFailed},
        FailureCase{"header echo not 0", {Kind::WrongEcho, 1, 0, 1}, TransferStatus::HeaderFailed},
        FailureCase{"L = 0", {Kind::BadLength, 1, 0, 0}, TransferStatus::NotFound},
        FailureCase{"L negative", {Kind::BadLength, 1, 0, -7}, TransferStatus::NotFound},
        FailureCase{"L beyond the receive buffer", {Kind::BadLength, 1, 0, 5 * 1024 * 1024 + 1},
                    TransferStatus::TooLarge},
        FailureCase{"L = INT32_MAX", {Kind::BadLength, 1, 0, 0x7FFFFFFF}, TransferStatus::TooLarge},
        FailureCase{"no data reply", {Kind::NoReply, 3}, TransferStatus::DataFailed},
        FailureCase{"data reply of 7 bytes", {Kind::ShortReply, 2, 7}, TransferStatus::DataFailed},
        FailureCase{"unplugged mid-transfer", {Kind::Unplug, 4}, TransferStatus::DataFailed}),
    [](const auto& c) { return testing::CaseName(c.param.what); });

TEST_F(TransferTest, TooLargeSendsNoDataRequest) {
    s.splicer->SetHistorySize(100);
    s.splicer->Arm({Kind::BadLength, 1, 0, 6 * 1024 * 1024});
    s.splicer->ClearRequests();
    EXPECT_EQ(History().status, TransferStatus::TooLarge);
    EXPECT_TRUE(DataRequests(*s.splicer).empty());
}

TEST_F(TransferTest, LongDataReplyIsCutToTheRead) {
    // A splicer that sends more than asked: the read takes only what was asked for, so the
    // surplus never reaches the receive buffer.
    s.splicer->SetHistorySize(600);
    s.splicer->Arm({Kind::LongReply, 3, 40});
    const TransferResult r = History();
    ASSERT_EQ(r.status, TransferStatus::Ok);
    EXPECT_EQ(Received(r), s.splicer->HistoryFile());
}

TEST_F(TransferTest, AnnouncedLengthBeyondTheObjectCannotHang) {
    // The splicer announces more than it holds; its replies past the end carry no data. The
    // transfer must end, failed, within the bad-reply budget.
    s.splicer->SetHistorySize(1000);
    s.splicer->Arm({Kind::BadLength, 1, 0, 4000});
    const TransferResult r = History();
    EXPECT_EQ(r.status, TransferStatus::DataFailed);
    EXPECT_LT(s.splicer->Requests().size(), 40u);
}

}  // namespace
}  // namespace tessaly
