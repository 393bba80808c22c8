// Packet framing and reply checks.
#include "packet.h"

#include <cstring>

#include "protocol.h"

namespace tessaly {

uint8_t XorChecksum(const uint8_t* bytes, int count) {
    uint8_t sum = 0;
    for (int i = 0; i < count; ++i) sum ^= bytes[i];
    return sum;
}

int FramePacket(uint8_t command, const uint8_t* payload, int length, uint8_t* out, int outSize) {
    if (length < 0 || length > 0xFFFF || (length > 0 && payload == nullptr) ||
        length + kPacketOverhead > outSize) {
        return -1;
    }
    out[0] = kStartByte0;
    out[1] = kStartByte1;
    out[2] = command;
    out[3] = static_cast<uint8_t>(length & 0xFF);
    out[4] = static_cast<uint8_t>((length >> 8) & 0xFF);
    if (length > 0) std::memcpy(out + kPacketHeaderSize, payload, static_cast<size_t>(length));
    out[kPacketHeaderSize + length] = XorChecksum(out + 2, length + 3);
    return length + kPacketOverhead;
}

bool ReplyChecksumOk(const uint8_t* frame, int n) {
    return n >= kMinReplySize && XorChecksum(frame + 2, n - 3) == frame[n - 1];
}

}  // namespace tessaly
