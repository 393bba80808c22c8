// The drop-in libusb-0.1.so.4: the libusb 0.1 C functions over the virtual bus, configured
// from TESSALY_VSPLICER at usb_init. Only these names are exported (see dropin.map).
#include "vsplicer.h"

#define VSPLICER_EXPORT __attribute__((visibility("default")))

VSPLICER_EXPORT struct usb_bus* usb_busses = nullptr;

namespace {
// Real programs may read the global list head instead of calling usb_get_busses.
void SyncBusList() { usb_busses = vsplicer::usb_get_busses(); }
}  // namespace

extern "C" {

VSPLICER_EXPORT void usb_init(void) {
    vsplicer::ConfigureFromEnvironment();
    vsplicer::usb_init();
    SyncBusList();
}

VSPLICER_EXPORT void usb_set_debug(int /*level*/) {}

VSPLICER_EXPORT int usb_find_busses(void) {
    const int n = vsplicer::usb_find_busses();
    SyncBusList();
    return n;
}

VSPLICER_EXPORT int usb_find_devices(void) {
    const int n = vsplicer::usb_find_devices();
    SyncBusList();
    return n;
}

VSPLICER_EXPORT struct usb_bus* usb_get_busses(void) { return vsplicer::usb_get_busses(); }

VSPLICER_EXPORT usb_dev_handle* usb_open(struct usb_device* dev) { return vsplicer::usb_open(dev); }

VSPLICER_EXPORT int usb_close(usb_dev_handle* dev) { return vsplicer::usb_close(dev); }

VSPLICER_EXPORT int usb_set_configuration(usb_dev_handle* dev, int configuration) {
    return vsplicer::usb_set_configuration(dev, configuration);
}

VSPLICER_EXPORT int usb_claim_interface(usb_dev_handle* dev, int interface) {
    return vsplicer::usb_claim_interface(dev, interface);
}

VSPLICER_EXPORT int usb_release_interface(usb_dev_handle* dev, int interface) {
    return vsplicer::usb_release_interface(dev, interface);
}

VSPLICER_EXPORT int usb_bulk_write(usb_dev_handle* dev, int ep, const char* bytes, int size,
                                   int timeout) {
    return vsplicer::usb_bulk_write(dev, ep, bytes, size, timeout);
}

VSPLICER_EXPORT int usb_bulk_read(usb_dev_handle* dev, int ep, char* bytes, int size,
                                  int timeout) {
    return vsplicer::usb_bulk_read(dev, ep, bytes, size, timeout);
}

VSPLICER_EXPORT struct usb_device* usb_device(usb_dev_handle* dev) {
    return vsplicer::DeviceOfHandle(dev);
}

// libusb 0.1 hands out a writable buffer; ours is a fixed text per error, never written.
VSPLICER_EXPORT char* usb_strerror(void) { return const_cast<char*>(vsplicer::LastErrorText()); }

}  // extern "C"
