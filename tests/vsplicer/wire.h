// Test helpers for the virtual splicer: packet framing written out independently of the
// device model, and a fixture with one splicer opened on a fresh bus.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "vsplicer.h"

namespace vsplicer::testing {

using Bytes = std::vector<uint8_t>;

inline uint8_t XorOf(const Bytes& b, size_t from, size_t to) {  // bytes from..to-1
    uint8_t x = 0;
    for (size_t i = from; i < to; ++i) x ^= b[i];
    return x;
}

inline Bytes Packet(uint8_t cmd, const Bytes& payload) {
    Bytes p(payload.size() + 6);
    p[0] = 0xFE;
    p[1] = 0xEF;
    p[2] = cmd;
    p[3] = static_cast<uint8_t>(payload.size());
    p[4] = static_cast<uint8_t>(payload.size() >> 8);
    std::copy(payload.begin(), payload.end(), p.begin() + 5);
    p.back() = XorOf(p, 2, p.size() - 1);
    return p;
}

inline Bytes Le16(uint32_t v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; }
inline Bytes Le32(uint32_t v) {
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}
inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes r;
    for (const Bytes& p : parts) r.insert(r.end(), p.begin(), p.end());
    return r;
}

inline Bytes HeaderRequest(uint8_t selector) { return Packet(3, {0, 0, selector}); }
inline Bytes ImageRequest(uint32_t number) { return Packet(3, Cat({{0, 0, 5}, Le32(number)})); }
inline Bytes DataRequest(uint16_t block, uint32_t offset, uint32_t remaining) {
    return Packet(3, Cat({Le16(block), Le32(offset), Le32(remaining)}));
}
inline bool ChecksumOk(const Bytes& f) { return f.size() >= 8 && XorOf(f, 2, f.size() - 1) == f.back(); }
inline int32_t AnnouncedLength(const Bytes& f) {
    const uint32_t v = uint32_t{f.at(7)} | uint32_t{f.at(8)} << 8 | uint32_t{f.at(9)} << 16 |
                       uint32_t{f.at(10)} << 24;
    return static_cast<int32_t>(v);
}

inline int Write(usb_dev_handle* h, const Bytes& p) {
    return vsplicer::usb_bulk_write(h, 0x02, reinterpret_cast<const char*>(p.data()),
                                    static_cast<int>(p.size()), 100);
}
// One bulk read; the result code goes to *code when given.
inline Bytes Read(usb_dev_handle* h, int size = 1024, int* code = nullptr) {
    Bytes b(static_cast<size_t>(size));
    const int n = vsplicer::usb_bulk_read(h, 0x81, reinterpret_cast<char*>(b.data()), size, 1000);
    if (code) *code = n;
    b.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return b;
}

// One splicer on bus 0, listed and opened (not yet configured or claimed).
class SplicerTest : public ::testing::Test {
protected:
    void SetUp() override {
        Bus& bus = Bus::Instance();
        bus.Reset();
        bus.AddBus();
        deviceId = bus.Plug(0, splicer);
        vsplicer::usb_find_busses();
        vsplicer::usb_find_devices();
        handle = vsplicer::usb_open(vsplicer::usb_get_busses()->devices);
        ASSERT_NE(handle, nullptr);
    }
    void TearDown() override {
        if (handle) vsplicer::usb_close(handle);
        Bus::Instance().Reset();
    }
    Bytes Exchange(const Bytes& request, int readSize = 1024, int* code = nullptr) {
        Write(handle, request);
        return Read(handle, readSize, code);
    }

    std::shared_ptr<Splicer> splicer = std::make_shared<Splicer>();
    int deviceId = -1;
    usb_dev_handle* handle = nullptr;
};

}  // namespace vsplicer::testing
