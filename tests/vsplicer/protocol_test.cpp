// What the virtual splicer answers on the wire, byte for byte: read transfers of identity,
// history and images, the model-code write and the firmware write with its acknowledgements.
#include <cerrno>

#include "wire.h"

namespace vsplicer::testing {
namespace {

using Protocol = SplicerTest;

TEST_F(Protocol, IdentityExchangeByteForByte) {
    Identity id;
    id.model = 0x1F;
    id.serial = "AB1234";
    id.version = 210;
    id.extra = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    splicer->SetIdentity(id);

    const Bytes request{0xFE, 0xEF, 0x03, 0x03, 0x00, 0x00, 0x00, 0x04, 0x04};
    EXPECT_EQ(Exchange(request),
              (Bytes{0xFE, 0xEF, 0x03, 0x06, 0x00, 0x00, 0x00, 0x2A, 0x00, 0x00, 0x00, 0x2F}));

    const Bytes data{0xFE, 0xEF, 0x03, 0x0A, 0x00, 0x01, 0x00, 0x00, 0x00,
                     0x00, 0x00, 0x2A, 0x00, 0x00, 0x00, 0x22};
    Bytes expected{0xFE, 0xEF, 0x03, 0x2C, 0x00, 0x01, 0x00, 0xE8, 0x1F, 'A', 'B', '1', '2', '3', '4'};
    expected.resize(7 + 26, 0);  // serial field NUL-padded to 24 bytes
    expected.insert(expected.end(), {0xD2, 0x00, 0x00, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    expected.push_back(XorOf(expected, 2, expected.size()));
    const Bytes reply = Exchange(data, 50);
    EXPECT_EQ(reply, expected);
}

TEST_F(Protocol, IdentityWithFullSerialHasNoNul) {
    Identity id;
    id.serial = "ABCDEFGHIJKLMNOPQRSTUVWX";
    splicer->SetIdentity(id);
    Exchange(HeaderRequest(4));
    const Bytes reply = Exchange(DataRequest(1, 0, 42));
    ASSERT_EQ(reply.size(), 50u);
    EXPECT_EQ(std::string(reply.begin() + 9, reply.begin() + 33), id.serial);
    EXPECT_EQ(reply[33], 210);  // version follows at once
}

TEST_F(Protocol, IdentityDeclaredLengthShorterOrLonger) {
    struct Case {
        int32_t declared;
        size_t dataBytes;
    };
    for (const Case c : {Case{10, 10}, Case{42, 42}, Case{100, 100}, Case{0, 0}, Case{2000, 2000}}) {
        SCOPED_TRACE(c.declared);
        Identity id;
        id.declaredLength = c.declared;
        splicer->SetIdentity(id);
        const Bytes header = Exchange(HeaderRequest(4));
        EXPECT_EQ(AnnouncedLength(header), c.declared);
        const Bytes reply = Exchange(DataRequest(1, 0, static_cast<uint32_t>(c.declared)), 4096);
        ASSERT_EQ(reply.size(), c.dataBytes + 8);  // all in one reply, no 504-byte cap
        EXPECT_TRUE(ChecksumOk(reply));
        if (c.dataBytes > 0) {
            EXPECT_EQ(reply[7], 0xE8);
        }
        for (size_t i = 49; i + 1 < reply.size(); ++i) ASSERT_EQ(reply[i], 0) << i;  // padding
    }
}

TEST_F(Protocol, HistoryIsServedIn504ByteReplies) {
    Bytes file(1000);
    for (size_t i = 0; i < file.size(); ++i) file[i] = static_cast<uint8_t>(i * 7);
    splicer->SetHistoryFile(file);

    const Bytes header = Exchange(Bytes{0xFE, 0xEF, 0x03, 0x03, 0x00, 0x00, 0x00, 0x01, 0x01}, 512);
    EXPECT_EQ(header, Packet(3, Cat({{0, 0}, Le32(1000)})));

    const Bytes first = Exchange(DataRequest(1, 0, 1000), 512);
    EXPECT_EQ(first, Packet(3, Cat({Le16(1), Bytes(file.begin(), file.begin() + 504)})));
    const Bytes second = Exchange(DataRequest(2, 504, 496), 504);
    EXPECT_EQ(second, Packet(3, Cat({Le16(2), Bytes(file.begin() + 504, file.end())})));
}

TEST_F(Protocol, OversizedHistoryIsAnnouncedAsItIs) {
    splicer->SetHistorySize(6 * 1024 * 1024);  // the host has to refuse this one
    EXPECT_EQ(AnnouncedLength(Exchange(HeaderRequest(1))), 6 * 1024 * 1024);
    const Bytes tail = Exchange(DataRequest(9, 6 * 1024 * 1024 - 4, 4));
    ASSERT_EQ(tail.size(), 12u);
    const Bytes file = splicer->HistoryFile();
    EXPECT_EQ(Bytes(tail.begin() + 7, tail.end() - 1), Bytes(file.end() - 4, file.end()));
}

TEST_F(Protocol, DataReplyEchoesTheRequestedBlock) {
    splicer->SetHistorySize(5000);
    Exchange(HeaderRequest(1));
    const Bytes reply = Exchange(DataRequest(0x1234, 100, 50));
    ASSERT_EQ(reply.size(), 58u);
    EXPECT_EQ(reply[5], 0x34);
    EXPECT_EQ(reply[6], 0x12);
    const Bytes file = splicer->HistoryFile();
    EXPECT_EQ(Bytes(reply.begin() + 7, reply.end() - 1), Bytes(file.begin() + 100, file.begin() + 150));
}

TEST_F(Protocol, RequestsPastTheObjectGetTruncatedOrEmptyReplies) {
    splicer->SetHistorySize(1000);
    Exchange(HeaderRequest(1));
    struct Case {
        uint32_t offset, remaining;
        size_t data;
    };
    for (const Case c : {Case{990, 504, 10}, Case{1000, 10, 0}, Case{5000, 504, 0},
                         Case{0xFFFFFFF0u, 100, 0}, Case{0, 0, 0}}) {
        SCOPED_TRACE(c.offset);
        const Bytes reply = Exchange(DataRequest(3, c.offset, c.remaining));
        EXPECT_EQ(reply.size(), c.data + 8);
        EXPECT_TRUE(ChecksumOk(reply));
    }
}

TEST_F(Protocol, DataRequestBeforeAnyHeaderCarriesNoData) {
    const Bytes reply = Exchange(DataRequest(1, 0, 100));
    EXPECT_EQ(reply, Packet(3, Le16(1)));
}

TEST_F(Protocol, ObjectsThatDoNotExistAnnounceZero) {
    splicer->SetHistorySize(0);
    EXPECT_EQ(AnnouncedLength(Exchange(HeaderRequest(1))), 0);
    splicer->RemoveImage(7);
    for (uint32_t number : {0u, 501u, 7u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(number);
        EXPECT_EQ(AnnouncedLength(Exchange(ImageRequest(number))), 0);
    }
    EXPECT_EQ(AnnouncedLength(Exchange(HeaderRequest(5))), 0);  // image number missing
    EXPECT_EQ(AnnouncedLength(Exchange(HeaderRequest(9))), 0);  // unknown selector
    // After a not-found header, data requests carry nothing.
    EXPECT_EQ(Exchange(DataRequest(1, 0, 100)).size(), 8u);
}

TEST_F(Protocol, ImageTransferDeliversTheImageObject) {
    splicer->SetImageSize(20, 10);
    const Bytes header = Exchange(Bytes{0xFE, 0xEF, 0x03, 0x07, 0x00, 0x00, 0x00, 0x05, 0x2C, 0x01, 0x00, 0x00, 0x2C});
    const Bytes object = splicer->ImageObject(300);
    ASSERT_EQ(object.size(), 4u + 3 * 20 * 10);
    ASSERT_EQ(AnnouncedLength(header), static_cast<int32_t>(object.size()));
    Bytes received;
    uint16_t block = 1;
    while (received.size() < object.size()) {
        const auto remaining = static_cast<uint32_t>(object.size() - received.size());
        const Bytes reply = Exchange(DataRequest(block++, static_cast<uint32_t>(received.size()), remaining), 512);
        ASSERT_TRUE(ChecksumOk(reply));
        ASSERT_GT(reply.size(), 8u);
        received.insert(received.end(), reply.begin() + 7, reply.end() - 1);
    }
    EXPECT_EQ(received, object);
    EXPECT_EQ(block, 3);  // 604 bytes: 504 + 100
    // Edge numbers exist.
    EXPECT_GT(AnnouncedLength(Exchange(ImageRequest(1))), 0);
    EXPECT_GT(AnnouncedLength(Exchange(ImageRequest(500))), 0);
}

TEST_F(Protocol, ModelCodeWriteIsRememberedAndNotAnswered) {
    EXPECT_EQ(splicer->ModelCode(), -1);
    int code = 0;
    Exchange(Bytes{0xFE, 0xEF, 0x01, 0x02, 0x00, 0x05, 0x03, 0x05}, 64, &code);
    EXPECT_EQ(code, -ETIMEDOUT);
    EXPECT_EQ(splicer->ModelCode(), 3);
    Write(handle, Packet(1, {0x06, 0x01}));  // another setting: not a model code
    EXPECT_EQ(splicer->ModelCode(), 3);
}

TEST_F(Protocol, MalformedRequestsAreIgnoredButRecorded) {
    Bytes badSum = HeaderRequest(4);
    badSum.back() ^= 1;
    Bytes badStart = HeaderRequest(4);
    badStart[0] = 0xFF;
    Bytes badLength = HeaderRequest(4);
    badLength[3] = 4;  // says 4 payload bytes, carries 3
    Bytes extraByte = HeaderRequest(4);
    extraByte.push_back(0);
    const Bytes tiny{0xFE, 0xEF, 0x03};
    for (const Bytes& request : {badSum, badStart, badLength, extraByte, tiny, Packet(7, {1})}) {
        int code = 0;
        Exchange(request, 64, &code);
        EXPECT_EQ(code, -ETIMEDOUT);
    }
    EXPECT_EQ(splicer->Requests().size(), 6u);
    EXPECT_EQ(splicer->Requests()[0], badSum);
    splicer->ClearRequests();
    EXPECT_TRUE(splicer->Requests().empty());
}

TEST_F(Protocol, ShortReadTakesTheFrontAndDropsTheRest) {
    Write(handle, HeaderRequest(4));
    Write(handle, HeaderRequest(1));
    EXPECT_EQ(Read(handle, 4), (Bytes{0xFE, 0xEF, 0x03, 0x06}));
    const Bytes second = Read(handle);  // the history header, not the identity tail
    EXPECT_EQ(AnnouncedLength(second), 65536);
    int code = 0;
    Read(handle, 64, &code);
    EXPECT_EQ(code, -ETIMEDOUT);
}

TEST_F(Protocol, WrongEndpointsAndArgumentsFail) {
    const Bytes request = HeaderRequest(4);
    char buffer[64];
    EXPECT_LT(vsplicer::usb_bulk_write(handle, 0x01, reinterpret_cast<const char*>(request.data()), 9, 100), 0);
    EXPECT_LT(vsplicer::usb_bulk_write(handle, 0x81, reinterpret_cast<const char*>(request.data()), 9, 100), 0);
    EXPECT_LT(vsplicer::usb_bulk_write(handle, 0x02, nullptr, 9, 100), 0);
    EXPECT_LT(vsplicer::usb_bulk_write(nullptr, 0x02, reinterpret_cast<const char*>(request.data()), 9, 100), 0);
    EXPECT_TRUE(splicer->Requests().empty());
    ASSERT_EQ(Write(handle, request), 9);
    EXPECT_LT(vsplicer::usb_bulk_read(handle, 0x82, buffer, 64, 100), 0);
    EXPECT_LT(vsplicer::usb_bulk_read(handle, 0x02, buffer, 64, 100), 0);
    EXPECT_LT(vsplicer::usb_bulk_read(handle, 0x81, buffer, -1, 100), 0);
    EXPECT_EQ(vsplicer::usb_bulk_read(handle, 0x81, buffer, 64, 100), 12);  // still queued
}

TEST_F(Protocol, LatencyDelaysTheReplyWithoutLosingIt) {
    const auto latency = std::chrono::microseconds(300);
    splicer->SetLatency(latency);
    const auto start = std::chrono::steady_clock::now();
    const Bytes reply = Exchange(HeaderRequest(4));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(reply.size(), 12u);
    EXPECT_GE(elapsed, latency);  // a lower bound: the reply is never early
}

// ---------------------------------------------------------------- firmware write

class Firmware : public SplicerTest {
protected:
    static Bytes Ack(uint16_t block, uint8_t status = 0) {
        return Packet(2, Cat({Le16(block), {status, 0, 0, 0, 0, 0, 0, 0}}));
    }
    static Bytes Start(uint32_t size, uint8_t kind) {
        return Packet(2, Cat({{0, 0}, Le32(size), {kind}}));
    }
    static Bytes Block(uint16_t number, const Bytes& file, size_t from, size_t n) {
        return Packet(2, Cat({Le16(number), Bytes(file.begin() + static_cast<long>(from),
                                                  file.begin() + static_cast<long>(from + n))}));
    }
    static Bytes File(size_t n) {
        Bytes f(n);
        for (size_t i = 0; i < n; ++i) f[i] = static_cast<uint8_t>(i ^ (i >> 8));
        return f;
    }
};

TEST_F(Firmware, UploadIsAcknowledgedBlockByBlock) {
    const Bytes file = File(1008);
    const Bytes start{0xFE, 0xEF, 0x02, 0x07, 0x00, 0x00, 0x00, 0xF0, 0x03, 0x00, 0x00, 0xAB, 0x5D};
    EXPECT_EQ(Exchange(start, 20),
              (Bytes{0xFE, 0xEF, 0x02, 0x0A, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0x08}));
    EXPECT_EQ(Exchange(Block(1, file, 0, 504), 20), Ack(1));
    EXPECT_FALSE(splicer->ReceivedFiles().at(0).complete);
    EXPECT_EQ(Exchange(Block(2, file, 504, 504), 20), Ack(2));
    const auto files = splicer->ReceivedFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].kind, 0xAB);
    EXPECT_EQ(files[0].size, 1008u);
    EXPECT_TRUE(files[0].complete);
    EXPECT_EQ(files[0].data, file);
}

TEST_F(Firmware, EmptyFileIsCompleteAtItsStart) {
    EXPECT_EQ(Exchange(Start(0, 0xAD), 20), Ack(0));
    ASSERT_EQ(splicer->ReceivedFiles().size(), 1u);
    EXPECT_TRUE(splicer->ReceivedFiles()[0].complete);
    EXPECT_TRUE(splicer->ReceivedFiles()[0].data.empty());
}

TEST_F(Firmware, OutOfStepBlockIsNotTakenAndRepeatsTheLastGoodBlock) {
    const Bytes file = File(600);
    Exchange(Start(600, 0xAC), 20);
    EXPECT_EQ(Exchange(Block(2, file, 0, 504), 20), Ack(0, 1));
    EXPECT_EQ(Exchange(Block(1, file, 0, 504), 20), Ack(1));
    EXPECT_EQ(Exchange(Block(1, file, 0, 504), 20), Ack(1, 1));  // a repeat is not stored twice
    EXPECT_EQ(Exchange(Block(2, file, 504, 96), 20), Ack(2));
    EXPECT_EQ(Exchange(Block(3, file, 0, 10), 20), Ack(2, 1));   // file already complete
    EXPECT_EQ(splicer->ReceivedFiles().at(0).data, file);
}

TEST_F(Firmware, BytesBeyondTheAnnouncedSizeAreDropped) {
    const Bytes file = File(504);
    Exchange(Start(100, 0xAE), 20);
    EXPECT_EQ(Exchange(Block(1, file, 0, 504), 20), Ack(1));
    const auto f = splicer->ReceivedFiles().at(0);
    EXPECT_TRUE(f.complete);
    EXPECT_EQ(f.data, Bytes(file.begin(), file.begin() + 100));
}

TEST_F(Firmware, ZeroLengthWriteRequeuesTheLastAcknowledgement) {
    int code = 0;
    Exchange(Bytes{}, 20, &code);
    EXPECT_EQ(code, -ETIMEDOUT);  // nothing acknowledged yet
    const Bytes file = File(10);
    Exchange(Start(10, 0xAF), 20);
    EXPECT_EQ(Exchange(Bytes{}, 20), Ack(0));
    EXPECT_EQ(Exchange(Block(1, file, 0, 10), 20), Ack(1));
    EXPECT_EQ(Exchange(Bytes{}, 20), Ack(1));
    EXPECT_EQ(Exchange(Bytes{}, 20), Ack(1));
    EXPECT_EQ(splicer->Requests().at(0), Bytes{});  // zero-length packets are recorded
}

TEST_F(Firmware, NewStartLeavesAnUnfinishedFileIncomplete) {
    const Bytes file = File(1000);
    Exchange(Start(1000, 0xAB), 20);
    Exchange(Block(1, file, 0, 504), 20);
    Exchange(Start(5, 0xAC), 20);
    EXPECT_EQ(Exchange(Block(1, file, 0, 5), 20), Ack(1));
    const auto files = splicer->ReceivedFiles();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_FALSE(files[0].complete);
    EXPECT_EQ(files[0].data.size(), 504u);
    EXPECT_TRUE(files[1].complete);
    EXPECT_EQ(files[1].kind, 0xAC);
}

}  // namespace
}  // namespace vsplicer::testing
