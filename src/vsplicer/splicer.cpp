// The device model: how the virtual splicer answers each packet the host writes, and how
// armed faults spoil its replies.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "content.h"
#include "splicer_impl.h"

namespace vsplicer {
namespace {

constexpr uint8_t kCmdSetting = 1;
constexpr uint8_t kCmdFirmware = 2;
constexpr uint8_t kCmdRead = 3;
constexpr uint8_t kSelHistory = 1;
constexpr uint8_t kSelIdentity = 4;
constexpr uint8_t kSelImage = 5;
constexpr size_t kMaxData = 504;     // data bytes per history/image reply
constexpr size_t kIdentitySize = 42;
constexpr size_t kMaxQueued = 32;    // a real endpoint buffers little; oldest replies fall off

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t U32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
void Put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    Put16(p, v);
    Put16(p + 2, v >> 16);
}
uint8_t Xor(const uint8_t* p, size_t n) {
    uint8_t x = 0;
    for (size_t i = 0; i < n; ++i) x ^= p[i];
    return x;
}
// Writes the length field and the checksum of a frame whose payload is already in place.
void Seal(std::vector<uint8_t>& f) {
    Put16(&f[3], static_cast<uint32_t>(f.size() - 6));
    f.back() = Xor(&f[2], f.size() - 3);
}
void Reseal(std::vector<uint8_t>& f) { f.back() = Xor(&f[2], f.size() - 3); }
bool PassesChecksum(const std::vector<uint8_t>& f) {
    return f.size() >= 8 && Xor(&f[2], f.size() - 3) == f.back();
}
// Start of a frame of `payload` bytes: FE EF cmd len len, payload zeroed, checksum slot.
void Frame(std::vector<uint8_t>& f, uint8_t cmd, size_t payload) {
    f.resize(payload + 6);
    f[0] = 0xFE;
    f[1] = 0xEF;
    f[2] = cmd;
}

}  // namespace

// ---------------------------------------------------------------- wire

bool Splicer::Impl::Receive(const uint8_t* bytes, size_t size, Clock::time_point writtenAt) {
    std::lock_guard lock(mutex);
    ++exchanges;
    requests.emplace_back(bytes, bytes + size);
    const Clock::time_point due = writtenAt + latency;

    if (size == 0) {
        // The host saw a bad acknowledgement: say the last one again.
        if (!lastAck.empty()) {
            std::vector<uint8_t> f = TakeBuffer();
            f.assign(lastAck.begin(), lastAck.end());
            Emit(std::move(f), ReplyKind::Ack, due);
        }
    } else if (size >= 6 && bytes[0] == 0xFE && bytes[1] == 0xEF &&
               size == static_cast<size_t>(U16(bytes + 3)) + 6 &&
               Xor(bytes + 2, size - 3) == bytes[size - 1]) {
        // Packets with bad framing or checksum are dropped silently, as the device does.
        const uint8_t* payload = bytes + 5;
        const size_t n = size - 6;
        switch (bytes[2]) {
        case kCmdSetting:
            if (n >= 2 && payload[0] == 0x05) modelCode = payload[1];
            break;
        case kCmdFirmware: HandleFirmware(payload, n, due); break;
        case kCmdRead: HandleRead(payload, n, due); break;
        default: break;  // unknown commands are ignored
        }
    }

    for (auto it = faults.begin(); it != faults.end(); ++it) {
        if (it->fault.kind == Fault::Kind::Unplug && it->target == exchanges) {
            faults.erase(it);
            PowerCycleLocked();  // whatever it had queued is lost with it
            return true;
        }
    }
    return false;
}

void Splicer::Impl::HandleRead(const uint8_t* payload, size_t n, Clock::time_point due) {
    if (n < 3) return;
    const uint16_t block = U16(payload);
    std::vector<uint8_t> f = TakeBuffer();
    if (block == 0) {
        int64_t length = 0;
        source = Source::None;
        if (payload[2] == kSelIdentity) {
            identityObject = BuildIdentity();
            length = identity.declaredLength == -1 ? static_cast<int64_t>(kIdentitySize)
                                                   : identity.declaredLength;
            source = Source::Identity;
        } else if (payload[2] == kSelHistory) {
            length = static_cast<int64_t>(history.size());
            if (length > 0) source = Source::History;
        } else if (payload[2] == kSelImage && n >= 7) {
            const uint32_t number = U32(payload + 3);
            if (number >= 1 && number <= 500 && !removedImages.count(number)) {
                if (imageCacheNumber != number) {
                    imageCache = MakeImage(imageWidth, imageHeight, number);
                    imageCacheNumber = number;
                }
                length = static_cast<int64_t>(imageCache.size());
                source = Source::Image;
            }
        }
        length = std::min<int64_t>(length, INT32_MAX);
        Frame(f, kCmdRead, 6);
        Put16(&f[5], 0);
        Put32(&f[7], static_cast<uint32_t>(length));
        Seal(f);
        Emit(std::move(f), ReplyKind::Header, due);
        return;
    }
    if (n < 10) {  // not a data request
        spare.push_back(std::move(f));
        return;
    }
    // Data request: serve from the object the last header request chose. The device trusts
    // neither offset nor remaining: an offset past the object gives a reply with no data.
    const size_t offset = U32(payload + 2);
    const size_t remaining = U32(payload + 6);
    const std::vector<uint8_t>& object = SourceBytes();
    size_t count = offset < object.size() ? std::min(remaining, object.size() - offset) : 0;
    if (source != Source::Identity) count = std::min(count, kMaxData);
    Frame(f, kCmdRead, 2 + count);
    Put16(&f[5], block);
    if (count) std::memcpy(&f[7], object.data() + offset, count);
    Seal(f);
    Emit(std::move(f), ReplyKind::Data, due);
}

void Splicer::Impl::HandleFirmware(const uint8_t* payload, size_t n, Clock::time_point due) {
    if (n < 2) return;
    const uint16_t block = U16(payload);
    if (block == 0) {
        if (n < 7) return;  // a start packet without size and kind is not understood
        ReceivedFirmware file;
        file.size = U32(payload + 2);
        file.kind = payload[6];
        file.complete = file.size == 0;
        firmware.push_back(std::move(file));
        firmwareOpen = !firmware.back().complete;
        firmwareNext = 1;
        SendAck(0, true, due);
        return;
    }
    if (!firmwareOpen || block != firmwareNext || n == 2) {
        // Out of step: repeat the last block taken, which the host sees as a bad reply.
        SendAck(static_cast<uint16_t>(firmwareNext > 0 ? firmwareNext - 1 : 0), false, due);
        return;
    }
    ReceivedFirmware& file = firmware.back();
    const size_t room = file.size - file.data.size();
    file.data.insert(file.data.end(), payload + 2, payload + 2 + std::min(n - 2, room));
    file.complete = file.data.size() >= file.size;
    firmwareOpen = !file.complete;
    ++firmwareNext;
    SendAck(block, true, due);
}

void Splicer::Impl::SendAck(uint16_t block, bool accepted, Clock::time_point due) {
    std::vector<uint8_t> f = TakeBuffer();
    Frame(f, kCmdFirmware, 10);
    Put16(&f[5], block);
    f[7] = accepted ? 0x00 : 0x01;  // status; the host does not look at it
    Seal(f);
    lastAck.assign(f.begin(), f.end());
    Emit(std::move(f), ReplyKind::Ack, due);
}

std::vector<uint8_t> Splicer::Impl::TakeBuffer() {
    if (spare.empty()) return {};
    std::vector<uint8_t> b = std::move(spare.back());
    spare.pop_back();
    b.clear();
    return b;
}

// Counts the reply and spoils it as the faults armed on it say, then queues it.
void Splicer::Impl::Emit(std::vector<uint8_t> f, ReplyKind kind, Clock::time_point due) {
    ++replies;
    bool drop = false;
    int cut = -1;
    size_t extra = 0;
    bool flip = false;
    for (auto it = faults.begin(); it != faults.end();) {
        if (it->fault.kind == Fault::Kind::Unplug || it->target != replies) {
            ++it;
            continue;
        }
        const Fault& fault = it->fault;
        switch (fault.kind) {
        case Fault::Kind::BadChecksum: flip = true; break;
        case Fault::Kind::ShortReply: cut = std::max(0, fault.length); break;
        case Fault::Kind::LongReply: extra = static_cast<size_t>(std::max(0, fault.length)); break;
        case Fault::Kind::NoReply: drop = true; break;
        case Fault::Kind::WrongEcho:
            Put16(&f[5], static_cast<uint32_t>(fault.value));
            Reseal(f);
            break;
        case Fault::Kind::BadLength:
            if (kind == ReplyKind::Header) {
                Put32(&f[7], static_cast<uint32_t>(fault.value));
                Reseal(f);
            }
            break;
        case Fault::Kind::Unplug: break;
        }
        it = faults.erase(it);
    }
    if (flip) f.back() ^= 0xFF;
    if (cut >= 0 && static_cast<size_t>(cut) < f.size()) f.resize(static_cast<size_t>(cut));
    if (extra > 0) {
        f.insert(f.end(), extra, 0xA5);
        if (PassesChecksum(f)) f.back() ^= 0x5A;  // a long reply must not look whole
    }
    if (drop) {
        spare.push_back(std::move(f));
        return;
    }
    queue.push_back({std::move(f), due});
    if (queue.size() > kMaxQueued) {
        spare.push_back(std::move(queue.front().bytes));
        queue.pop_front();
    }
}

const std::vector<uint8_t>& Splicer::Impl::SourceBytes() const {
    static const std::vector<uint8_t> kNothing;
    switch (source) {
    case Source::Identity: return identityObject;
    case Source::History: return history;
    case Source::Image: return imageCache;
    case Source::None: break;
    }
    return kNothing;
}

std::vector<uint8_t> Splicer::Impl::BuildIdentity() const {
    std::vector<uint8_t> b(kIdentitySize, 0);
    b[0] = identity.marker;
    b[1] = identity.model;
    std::memcpy(&b[2], identity.serial.data(), std::min<size_t>(identity.serial.size(), 24));
    Put32(&b[26], identity.version);
    std::copy(identity.extra.begin(), identity.extra.end(), b.begin() + 30);
    if (identity.declaredLength != -1) b.resize(static_cast<size_t>(std::max(0, identity.declaredLength)));
    return b;
}

int Splicer::Impl::Deliver(uint8_t* out, size_t size, const std::atomic<bool>& alive) {
    std::unique_lock lock(mutex);
    for (;;) {
        if (queue.empty()) return -ETIMEDOUT;
        const Clock::time_point due = queue.front().due;
        if (Clock::now() >= due) break;
        // Spin without the lock so that the device stays reachable; sleeping would oversleep.
        lock.unlock();
        while (Clock::now() < due) {
            if (!alive.load(std::memory_order_relaxed)) return -ENODEV;
        }
        lock.lock();
    }
    if (!alive.load(std::memory_order_relaxed)) return -ENODEV;
    std::vector<uint8_t> r = std::move(queue.front().bytes);
    queue.pop_front();
    const size_t n = std::min(size, r.size());
    if (n) std::memcpy(out, r.data(), n);
    spare.push_back(std::move(r));
    return static_cast<int>(n);
}

void Splicer::Impl::PowerCycle() {
    std::lock_guard lock(mutex);
    PowerCycleLocked();
}

void Splicer::Impl::PowerCycleLocked() {
    while (!queue.empty()) {
        spare.push_back(std::move(queue.front().bytes));
        queue.pop_front();
    }
    lastAck.clear();
    source = Source::None;
    firmwareOpen = false;
    firmwareNext = 0;
}

// ---------------------------------------------------------------- test interface

Splicer::Splicer() : m_impl(std::make_unique<Impl>()) { SetHistorySize(65536); }
Splicer::~Splicer() = default;

void Splicer::SetIdentity(const Identity& id) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->identity = id;
}
Identity Splicer::GetIdentity() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->identity;
}
void Splicer::SetHistorySize(size_t bytes) { SetHistoryFile(MakeHistoryFile(bytes)); }
void Splicer::SetHistoryFile(std::vector<uint8_t> exportFile) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->history = std::move(exportFile);
}
std::vector<uint8_t> Splicer::HistoryFile() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->history;
}
void Splicer::SetImageSize(uint16_t width, uint16_t height) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->imageWidth = width;
    m_impl->imageHeight = height;
    m_impl->imageCacheNumber = 0;
}
void Splicer::RemoveImage(uint32_t number) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->removedImages.insert(number);
    if (m_impl->imageCacheNumber == number) m_impl->imageCacheNumber = 0;
}
std::vector<uint8_t> Splicer::ImageObject(uint32_t number) const {
    std::lock_guard lock(m_impl->mutex);
    if (number < 1 || number > 500 || m_impl->removedImages.count(number)) return {};
    return MakeImage(m_impl->imageWidth, m_impl->imageHeight, number);
}
int Splicer::ModelCode() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->modelCode;
}
std::vector<ReceivedFirmware> Splicer::ReceivedFiles() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->firmware;
}
void Splicer::Arm(const Fault& fault) {
    std::lock_guard lock(m_impl->mutex);
    const int64_t base = fault.kind == Fault::Kind::Unplug ? m_impl->exchanges : m_impl->replies;
    m_impl->faults.push_back({fault, base + std::max(1, fault.at)});
}
void Splicer::ClearFaults() {
    std::lock_guard lock(m_impl->mutex);
    m_impl->faults.clear();
}
void Splicer::SetLatency(std::chrono::nanoseconds perExchange) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->latency = std::max(perExchange, std::chrono::nanoseconds{0});
}
std::vector<std::vector<uint8_t>> Splicer::Requests() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->requests;
}
void Splicer::ClearRequests() {
    std::lock_guard lock(m_impl->mutex);
    m_impl->requests.clear();
}

}  // namespace vsplicer
