// Inner state of one virtual splicer: what it holds, its reply queue and its armed faults.
// Shared by the device model (splicer.cpp) and the virtual bus (bus.cpp).
#pragma once

#include "vsplicer.h"

#include <atomic>
#include <deque>
#include <set>

namespace vsplicer {

using Clock = std::chrono::steady_clock;

struct Splicer::Impl {
    // One bulk write to endpoint 0x02, handled at once (the reply becomes due `latency` after
    // `writtenAt`). Returns true when an armed Unplug fault takes the device off the bus now.
    bool Receive(const uint8_t* bytes, size_t size, Clock::time_point writtenAt);
    // One bulk read from endpoint 0x81: the oldest queued reply, cut to `size` bytes (the rest
    // is dropped). Spins until the reply is due; -ETIMEDOUT at once when nothing is queued,
    // -ENODEV when `alive` drops while waiting.
    int Deliver(uint8_t* out, size_t size, const std::atomic<bool>& alive);
    // Device lost power (unplugged or plugged again): queued replies and transfer state go.
    void PowerCycle();
    void PowerCycleLocked();

    enum class ReplyKind { Header, Data, Ack };
    enum class Source { None, Identity, History, Image };
    struct Reply {
        std::vector<uint8_t> bytes;
        Clock::time_point due;
    };
    struct Armed {
        Fault fault;
        int64_t target;  // absolute reply (or, for Unplug, exchange) number
    };

    void HandleRead(const uint8_t* payload, size_t n, Clock::time_point due);
    void HandleFirmware(const uint8_t* payload, size_t n, Clock::time_point due);
    void SendAck(uint16_t block, bool accepted, Clock::time_point due);
    std::vector<uint8_t> TakeBuffer();
    void Emit(std::vector<uint8_t> frame, ReplyKind kind, Clock::time_point due);
    const std::vector<uint8_t>& SourceBytes() const;
    std::vector<uint8_t> BuildIdentity() const;

    mutable std::mutex mutex;

    Identity identity;
    std::vector<uint8_t> history;
    uint16_t imageWidth = 320;
    uint16_t imageHeight = 240;
    std::set<uint32_t> removedImages;
    int modelCode = -1;
    std::vector<ReceivedFirmware> firmware;
    bool firmwareOpen = false;    // a file is being received
    uint16_t firmwareNext = 0;    // block number expected next

    Source source = Source::None;  // object chosen by the last header request
    std::vector<uint8_t> identityObject;
    std::vector<uint8_t> imageCache;
    uint32_t imageCacheNumber = 0;  // 0: cache empty

    std::vector<uint8_t> lastAck;  // clean copy, re-queued by a zero-length write
    std::deque<Reply> queue;
    std::vector<std::vector<uint8_t>> spare;  // recycled reply buffers: no allocation per reply
    std::vector<Armed> faults;
    int64_t replies = 0;
    int64_t exchanges = 0;
    std::chrono::nanoseconds latency{0};
    std::vector<std::vector<uint8_t>> requests;
};

}  // namespace vsplicer
