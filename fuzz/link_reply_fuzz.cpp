// libFuzzer target for the device link: every reply the splicer sends is device input. The fuzz
// input is a script of replies (2-byte length, then that many bytes; length 0xFFFF = no reply)
// served to the identity query and to history and image transfers. Nothing may crash, hang or
// touch memory outside its buffers.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "device_identity.h"
#include "lib_usb.h"
#include "read_transfer.h"

namespace {

struct Script {
    const uint8_t* data = nullptr;
    size_t size = 0;
} g_script;

struct usb_device g_device{};
struct usb_config_descriptor g_config{};
struct usb_bus g_bus{};
int g_handle = 0;

void Init() {}
int FindBusses() { return 1; }
int FindDevices() { return 0; }
struct usb_bus* GetBusses() { return &g_bus; }
usb_dev_handle* Open(struct usb_device*) { return reinterpret_cast<usb_dev_handle*>(&g_handle); }
int Ok(usb_dev_handle*, int) { return 0; }
int Close(usb_dev_handle*) { return 0; }
int Write(usb_dev_handle*, int, const char*, int size, int) { return size; }

int Read(usb_dev_handle*, int, char* bytes, int size, int) {
    if (g_script.size < 2) return -ETIMEDOUT;
    const size_t length = static_cast<size_t>(g_script.data[0] | (g_script.data[1] << 8));
    g_script.data += 2;
    g_script.size -= 2;
    if (length == 0xFFFF) return -ETIMEDOUT;
    const size_t available = length < g_script.size ? length : g_script.size;
    const size_t n = available < static_cast<size_t>(size) ? available : static_cast<size_t>(size);
    std::memcpy(bytes, g_script.data, n);
    g_script.data += available;
    g_script.size -= available;
    return static_cast<int>(n);
}

const tessaly::UsbApi kScriptedUsb{&Init, &FindBusses, &FindDevices, &GetBusses, &Open, &Ok, &Ok, &Ok,
                                   &Close, &Write, &Read};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    g_config.bConfigurationValue = 1;
    g_device.descriptor.idVendor = tessaly::kSplicerVendor;
    g_device.descriptor.idProduct = tessaly::kSplicerProduct;
    g_device.config = &g_config;
    g_bus.devices = &g_device;
    g_script = {data, size};

    tessaly::CLibUSB link(kScriptedUsb);
    link.Init();
    if (link.OpenDevice(link.FindDevice()) == nullptr) return 0;

    tessaly::DeviceIdentity identity;
    tessaly::IdentifySplicer(link, identity);
    (void)tessaly::ConnectedStatusText(identity);

    // A small destination makes the length checks bite as often as the data path runs.
    std::vector<uint8_t> destination(4096);
    tessaly::RunReadTransfer(link, tessaly::kHistoryRead, 0, destination);
    tessaly::RunReadTransfer(link, tessaly::kImageRead, 7, destination);
    return 0;
}
