// The eleven libusb 0.1 functions the program uses, as a table of function pointers.
// Production takes them from the system's libusb-0.1.so.4 at run time, by soname, so that any
// other implementation of the same C API placed first on LD_LIBRARY_PATH stands in for it
// (the virtual splicer does); tests fill the table directly.
#pragma once

#include <usb.h>

#include <string>

namespace tessaly {

struct UsbApi {
    void (*init)();
    int (*find_busses)();
    int (*find_devices)();
    struct usb_bus* (*get_busses)();
    usb_dev_handle* (*open)(struct usb_device* dev);
    int (*set_configuration)(usb_dev_handle* dev, int configuration);
    int (*claim_interface)(usb_dev_handle* dev, int interface);
    int (*release_interface)(usb_dev_handle* dev, int interface);
    int (*close)(usb_dev_handle* dev);
    int (*bulk_write)(usb_dev_handle* dev, int ep, const char* bytes, int size, int timeout);
    int (*bulk_read)(usb_dev_handle* dev, int ep, char* bytes, int size, int timeout);
};

inline constexpr const char* kUsbLibrarySoname = "libusb-0.1.so.4";

// Loads the USB library once per process and returns its table, or null when the library or
// one of its functions is missing; `error` then says which. Later calls return the same table.
const UsbApi* LoadUsbLibrary(std::string* error);

}  // namespace tessaly
