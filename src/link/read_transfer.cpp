// The two-stage read transfer.
#include "read_transfer.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "bytes.h"
#include "packet.h"

namespace tessaly {
namespace {

constexpr int kReplyAreaSize = 1024;  // the largest read any use asks for

int SendHeaderRequest(CLibUSB& link, const ReadTransferUse& use, uint32_t argument) {
    uint8_t payload[7] = {0, 0, use.selector};
    int length = 3;
    if (use.hasArgument) {
        PutLe32(payload + 3, argument);
        length = 7;
    }
    return link.SendPacket(kCommandRead, payload, length);
}

int SendDataRequest(CLibUSB& link, uint16_t block, uint32_t offset, uint32_t remaining) {
    uint8_t payload[10];
    PutLe16(payload, block);
    PutLe32(payload + 2, offset);
    PutLe32(payload + 6, remaining);
    return link.SendPacket(kCommandRead, payload, sizeof payload);
}

}  // namespace

TransferResult RunReadTransfer(CLibUSB& link, const ReadTransferUse& use, uint32_t argument,
                               std::span<uint8_t> destination, TransferObserver* observer) {
    TransferResult result;
    std::array<uint8_t, kReplyAreaSize> reply;
    const int headerSize = std::min(use.headerReadSize, kReplyAreaSize);

    int n;
    {
        auto exchange = link.LockExchange();
        SendHeaderRequest(link, use, argument);
        if (observer) observer->HeaderSent();
        n = link.ReadReply(reply.data(), headerSize, use.headerTimeoutMs);
    }
    // A reply of 8 to 10 bytes cannot hold all of L: it fails like a short one.
    if (n < kReplyDataOffset + 4 || GetLe16(reply.data() + 5) != 0) return result;
    const int32_t length = static_cast<int32_t>(GetLe32(reply.data() + kReplyDataOffset));
    result.length = length;

    if (use.requirePositiveLength && length < 1) {
        result.status = TransferStatus::NotFound;
        return result;
    }
    if (length < 0) {  // no frame fits a negative length
        result.status = TransferStatus::DataFailed;
        return result;
    }
    if (!use.singleReply && static_cast<uint64_t>(length) > destination.size()) {
        result.status = TransferStatus::TooLarge;
        return result;
    }

    const uint32_t total = static_cast<uint32_t>(length);
    uint16_t block = 1;
    uint32_t offset = 0;
    int badReplies = 0;
    result.status = TransferStatus::DataFailed;
    for (;;) {
        const uint32_t remaining = total - offset;
        const int readSize = static_cast<int>(
            std::min<uint64_t>(uint64_t{remaining} + kMinReplySize, static_cast<uint64_t>(use.dataReadCap)));
        {
            auto exchange = link.LockExchange();
            SendDataRequest(link, block, offset, remaining);
            n = link.ReadReply(reply.data(), std::min(readSize, kReplyAreaSize), use.dataTimeoutMs);
        }
        if (n < kMinReplySize) return result;
        const uint32_t pieceSize = static_cast<uint32_t>(n - kMinReplySize);
        // A reply with no data would never finish the transfer: it spends the budget like a
        // bad checksum does.
        if (!ReplyChecksumOk(reply.data(), n) || (pieceSize == 0 && !use.singleReply)) {
            if (badReplies >= use.toleratedBadReplies) return result;
            ++badReplies;
            continue;
        }
        const size_t room = offset < destination.size() ? destination.size() - offset : 0;
        const size_t kept = std::min<size_t>(pieceSize, room);
        if (kept > 0) std::memcpy(destination.data() + offset, reply.data() + kReplyDataOffset, kept);
        offset += pieceSize;
        result.received = static_cast<uint32_t>(std::min<uint64_t>(offset, destination.size()));
        block = static_cast<uint16_t>(GetLe16(reply.data() + 5) + 1);
        if (observer) observer->DataAccepted(offset, length);
        if (use.singleReply || offset >= total) break;
    }
    result.status = TransferStatus::Ok;
    return result;
}

}  // namespace tessaly
