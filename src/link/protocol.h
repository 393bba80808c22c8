// Fixed facts of the splicer's USB interface and of its command protocol, named once.
#pragma once

#include <cstdint>

namespace tessaly {

inline constexpr uint16_t kSplicerVendor = 0x03EB;
inline constexpr uint16_t kSplicerProduct = 0x6124;
inline constexpr int kInterface = 0;
inline constexpr int kEndpointOut = 0x02;  // requests
inline constexpr int kEndpointIn = 0x81;   // replies

// Time-outs in milliseconds.
inline constexpr int kWriteTimeoutMs = 100;
inline constexpr int kIdentityHeaderTimeoutMs = 500;
inline constexpr int kIdentityDataTimeoutMs = 1000;
inline constexpr int kTransferTimeoutMs = 5000;  // history and image, both stages

// Packet framing: FE EF, command, 16-bit length, payload, XOR checksum.
inline constexpr uint8_t kStartByte0 = 0xFE;
inline constexpr uint8_t kStartByte1 = 0xEF;
inline constexpr int kPacketHeaderSize = 5;
inline constexpr int kPacketOverhead = 6;     // header and checksum
inline constexpr int kSendBufferSize = 512;   // the largest packet the program sends
inline constexpr int kMaxPayload = kSendBufferSize - kPacketOverhead;

// A reply frame is accepted only from this size on: header, 2-byte block echo, checksum.
inline constexpr int kMinReplySize = 8;
inline constexpr int kReplyDataOffset = 7;

enum Command : uint8_t {
    kCommandWriteSetting = 1,
    kCommandFirmware = 2,
    kCommandRead = 3,
};

enum Selector : uint8_t {
    kSelectHistory = 1,
    kSelectIdentity = 4,
    kSelectImage = 5,
};

// Setting number of the model code in a command-1 write.
inline constexpr uint8_t kSettingModelCode = 0x05;

}  // namespace tessaly
