// CLibUSB: finding, opening and closing the splicer, and the raw transfers.
#include "lib_usb.h"

#include <cerrno>

#include "packet.h"

namespace tessaly {

CLibUSB::CLibUSB(const UsbApi& api) : m_api(api) {}

CLibUSB::~CLibUSB() { CloseDevice(); }

void CLibUSB::Init() {
    m_api.init();
    m_api.find_busses();
}

struct usb_device* CLibUSB::FindDevice() {
    // The lock keeps the refresh of the device lists out of another thread's exchange.
    auto lock = LockExchange();
    m_api.find_devices();
    for (struct usb_bus* bus = m_api.get_busses(); bus != nullptr; bus = bus->next) {
        for (struct usb_device* dev = bus->devices; dev != nullptr; dev = dev->next) {
            if (dev->descriptor.idVendor == kSplicerVendor &&
                dev->descriptor.idProduct == kSplicerProduct) {
                return dev;
            }
        }
    }
    return nullptr;
}

usb_dev_handle* CLibUSB::OpenDevice(struct usb_device* dev) {
    if (dev == nullptr) return nullptr;
    auto lock = LockExchange();
    CloseLocked();
    usb_dev_handle* handle = m_api.open(dev);
    if (handle == nullptr) return nullptr;
    // A device without configuration descriptors cannot be the splicer.
    if (dev->config == nullptr ||
        m_api.set_configuration(handle, dev->config[0].bConfigurationValue) < 0 ||
        m_api.claim_interface(handle, kInterface) < 0) {
        m_api.close(handle);
        return nullptr;
    }
    m_hDevice.store(handle);
    return handle;
}

void CLibUSB::CloseDevice() {
    auto lock = LockExchange();
    CloseLocked();
}

void CLibUSB::CloseLocked() {
    usb_dev_handle* handle = m_hDevice.exchange(nullptr);
    if (handle == nullptr) return;
    m_api.release_interface(handle, kInterface);
    m_api.close(handle);
}

int CLibUSB::SendPacket(uint8_t command, const uint8_t* payload, int length) {
    auto lock = LockExchange();
    usb_dev_handle* handle = m_hDevice.load();
    if (handle == nullptr) return 0;
    const int size = FramePacket(command, payload, length, m_sendBuffer.data(), kSendBufferSize);
    if (size < 0) return -EINVAL;
    return m_api.bulk_write(handle, kEndpointOut, reinterpret_cast<const char*>(m_sendBuffer.data()),
                            size, kWriteTimeoutMs);
}

int CLibUSB::ReadReply(uint8_t* buffer, int size, int timeoutMs) {
    if (buffer == nullptr || size <= 0) return -EINVAL;
    auto lock = LockExchange();
    usb_dev_handle* handle = m_hDevice.load();
    if (handle == nullptr) return -ENODEV;
    const int n = m_api.bulk_read(handle, kEndpointIn, reinterpret_cast<char*>(buffer), size, timeoutMs);
    // Callers index the buffer with the count; never let a misbehaving library push it past.
    return n > size ? -EOVERFLOW : n;
}

int CLibUSB::WriteZeroLengthPacket() {
    auto lock = LockExchange();
    usb_dev_handle* handle = m_hDevice.load();
    if (handle == nullptr) return 0;
    return m_api.bulk_write(handle, kEndpointOut, reinterpret_cast<const char*>(m_sendBuffer.data()),
                            0, kWriteTimeoutMs);
}

}  // namespace tessaly
