// The command packet format shared by every request and reply: framing and checksums.
#pragma once

#include <cstdint>

namespace tessaly {

// XOR of `count` bytes starting from 0; a count of 0 or less gives 0.
uint8_t XorChecksum(const uint8_t* bytes, int count);

// Lays out a packet in `out` (room for length + 6 bytes) and returns its size, or -1 when the
// length is negative or does not fit the 16-bit length field.
int FramePacket(uint8_t command, const uint8_t* payload, int length, uint8_t* out, int outSize);

// True when a received frame of n bytes is long enough to be a reply and its last byte is the
// XOR of bytes 2 .. n-2.
bool ReplyChecksumOk(const uint8_t* frame, int n);

}  // namespace tessaly
