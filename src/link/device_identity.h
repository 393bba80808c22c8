// Who the attached splicer is: the 42-byte identity block, the identity query, and the status
// text built from it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "lib_usb.h"

namespace tessaly {

inline constexpr uint8_t kIdentityMarker = 0xE8;
inline constexpr size_t kIdentitySize = 42;
inline constexpr size_t kSerialFieldSize = 24;

inline constexpr const char* kNotConnectedText = "Not connected.";

// The first 42 data bytes of the identity transfer, as they arrived. All zero: no identity.
struct DeviceIdentity {
    std::array<uint8_t, kIdentitySize> bytes{};

    void Clear() { bytes.fill(0); }
    bool Identified() const { return bytes[0] == kIdentityMarker; }
    uint8_t Model() const { return bytes[1]; }
    // The serial number up to its first NUL (at most 24 bytes), as UTF-8 text.
    std::string Serial() const;
    uint32_t Version() const;
};

// One identity query. On success the first 42 data bytes replace `identity` (bytes the splicer
// did not send become zero); on any failure `identity` is left as it was.
bool QueryDeviceInfo(CLibUSB& link, DeviceIdentity& identity);

// What the connection monitor does right after opening: up to two queries, accepted when the
// marker is 0xE8.
bool IdentifySplicer(CLibUSB& link, DeviceIdentity& identity);

// "%d.%d.%d" of v / 100, (v / 10) mod 10, v mod 10.
std::string FormatVersion(uint32_t version);

// "Connected.    SN: %s  |  Model: 0x%02x  |  Version: %s"
std::string ConnectedStatusText(const DeviceIdentity& identity);

}  // namespace tessaly
