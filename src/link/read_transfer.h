// The read transfer of command 3: a header exchange that announces the object's length L, then
// data exchanges of at most 504 bytes each until the object is complete. Written once and
// parameterised by its uses (identity, history, image).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "lib_usb.h"
#include "protocol.h"

namespace tessaly {

struct ReadTransferUse {
    uint8_t selector;
    bool hasArgument;          // a 32-bit argument follows the selector
    int headerReadSize;
    int headerTimeoutMs;
    int dataReadCap;           // a data read asks for min(remaining + 8, cap)
    int dataTimeoutMs;
    int toleratedBadReplies;   // bad checksums absorbed in the whole transfer
    bool singleReply;          // stop after the first accepted data reply
    bool requirePositiveLength;  // L < 1 means "not on the splicer"
};

inline constexpr ReadTransferUse kIdentityRead{kSelectIdentity, false, 1024, kIdentityHeaderTimeoutMs,
                                               1024, kIdentityDataTimeoutMs, 0, true, false};
inline constexpr ReadTransferUse kHistoryRead{kSelectHistory, false, 512, kTransferTimeoutMs,
                                              512, kTransferTimeoutMs, 10, false, true};
inline constexpr ReadTransferUse kImageRead{kSelectImage, true, 512, kTransferTimeoutMs,
                                            512, kTransferTimeoutMs, 10, false, true};

enum class TransferStatus {
    Ok,
    HeaderFailed,  // no header reply, too short to hold L, or block echo not 0
    NotFound,      // L < 1 where the use requires an object
    TooLarge,      // L larger than the destination: refused before any data request
    DataFailed,    // data reply missing or short, or the bad-reply budget exhausted
};

struct TransferResult {
    TransferStatus status = TransferStatus::HeaderFailed;
    int32_t length = 0;     // L as announced (valid from the header on)
    uint32_t received = 0;  // data bytes placed in the destination
};

// Hooks for a caller that draws progress. They run on the transferring thread.
class TransferObserver {
public:
    virtual ~TransferObserver() = default;
    // After the header request went out, before its reply is read. Keep it short: the link is
    // held for the exchange.
    virtual void HeaderSent() {}
    // After each accepted data reply, with the new offset and L; the link is not held.
    virtual void DataAccepted(uint32_t /*offset*/, int32_t /*length*/) {}
};

// Runs one read transfer over the link. The data land in `destination` in the order received;
// a single-reply transfer keeps what fits and drops the rest.
TransferResult RunReadTransfer(CLibUSB& link, const ReadTransferUse& use, uint32_t argument,
                               std::span<uint8_t> destination, TransferObserver* observer = nullptr);

}  // namespace tessaly
