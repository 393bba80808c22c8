// CLibUSB: the one connection between the program and the splicer. It finds the splicer on the
// buses, opens and closes it, and carries the two transfer operations the protocol rests on.
//
// Three threads share one link (connection monitor, window, firmware worker). Every exchange
// (a request and the reply that belongs to it) runs under the link's lock, and CloseDevice takes
// the same lock, so exchanges never interleave and a handle is never closed under one. The lock
// is recursive so that SendPacket and ReadReply, which lock on their own, can be grouped.
#pragma once

#include <usb.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "protocol.h"
#include "usb_api.h"

namespace tessaly {

class CLibUSB {
public:
    explicit CLibUSB(const UsbApi& api);
    virtual ~CLibUSB();
    CLibUSB(const CLibUSB&) = delete;
    CLibUSB& operator=(const CLibUSB&) = delete;

    // usb_init, then usb_find_busses: the bus list is read only here.
    void Init();

    // The first device on the buses, in list order, with the splicer's vendor and product, or null.
    struct usb_device* FindDevice();

    // Opens the device, sets its first configuration and claims interface 0; on success the
    // handle becomes m_hDevice and is returned. A link that is already open is closed first.
    usb_dev_handle* OpenDevice(struct usb_device* dev);

    // Releases interface 0 and closes the handle; nothing on a closed link.
    void CloseDevice();

    bool IsOpen() const { return m_hDevice.load() != nullptr; }

    // Frames a packet and writes it with one bulk write to the OUT endpoint (100 ms). Returns the
    // write's result; 0 (nothing written) on a closed link; a negative error for a payload that
    // does not fit the send buffer.
    int SendPacket(uint8_t command, const uint8_t* payload, int length);

    // One bulk read of at most `size` bytes from the IN endpoint. Returns the byte count or a
    // negative error (-ENODEV on a closed link).
    int ReadReply(uint8_t* buffer, int size, int timeoutMs);

    // A bulk write of 0 bytes to the OUT endpoint (100 ms): the firmware upload's answer to a
    // bad acknowledgement. 0 on a closed link.
    int WriteZeroLengthPacket();

    // Holds the link for one whole exchange; take it around a request and its reply.
    [[nodiscard]] std::unique_lock<std::recursive_mutex> LockExchange() {
        return std::unique_lock<std::recursive_mutex>(m_exchangeLock);
    }

    // Null while the link is closed. Read without the lock only as a hint ("is a splicer
    // attached?"); exchanges test it again under the lock.
    std::atomic<usb_dev_handle*> m_hDevice{nullptr};

private:
    void CloseLocked();

    const UsbApi& m_api;
    std::recursive_mutex m_exchangeLock;
    std::array<uint8_t, kSendBufferSize> m_sendBuffer{};
};

}  // namespace tessaly
