// The identity query and the texts made from the identity block.
#include "device_identity.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "bytes.h"
#include "read_transfer.h"
#include "text_codec.h"

namespace tessaly {

std::string DeviceIdentity::Serial() const {
    const uint8_t* field = bytes.data() + 2;
    const uint8_t* end = std::find(field, field + kSerialFieldSize, uint8_t{0});
    return Windows1252ToUtf8(field, static_cast<size_t>(end - field));
}

uint32_t DeviceIdentity::Version() const { return GetLe32(bytes.data() + 26); }

bool QueryDeviceInfo(CLibUSB& link, DeviceIdentity& identity) {
    std::array<uint8_t, 1024> data{};
    const TransferResult r = RunReadTransfer(link, kIdentityRead, 0, data);
    if (r.status != TransferStatus::Ok) return false;
    // A short identity leaves the rest of the block zero rather than stale.
    identity.Clear();
    std::memcpy(identity.bytes.data(), data.data(), std::min<size_t>(r.received, kIdentitySize));
    return true;
}

bool IdentifySplicer(CLibUSB& link, DeviceIdentity& identity) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        QueryDeviceInfo(link, identity);
        if (identity.Identified()) return true;
    }
    return false;
}

std::string FormatVersion(uint32_t v) {
    char text[40];
    std::snprintf(text, sizeof text, "%u.%u.%u", v / 100, (v / 10) % 10, v % 10);
    return text;
}

std::string ConnectedStatusText(const DeviceIdentity& identity) {
    const std::string serial = identity.Serial();
    const std::string version = FormatVersion(identity.Version());
    char text[200];
    std::snprintf(text, sizeof text, "Connected.    SN: %s  |  Model: 0x%02x  |  Version: %s",
                  serial.c_str(), identity.Model(), version.c_str());
    return text;
}

}  // namespace tessaly
