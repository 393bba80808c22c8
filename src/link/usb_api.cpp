// Run-time binding of the libusb 0.1 functions.
#include "usb_api.h"

#include <dlfcn.h>

#include <mutex>

namespace tessaly {
namespace {

template <typename Fn>
bool Bind(void* library, const char* name, Fn*& slot, std::string& error) {
    void* symbol = dlsym(library, name);
    if (symbol == nullptr) {
        error = std::string(kUsbLibrarySoname) + " has no " + name;
        return false;
    }
    slot = reinterpret_cast<Fn*>(symbol);
    return true;
}

struct Loaded {
    UsbApi api{};
    bool ok = false;
    std::string error;
};

Loaded Load() {
    Loaded r;
    // Kept open for the life of the process: handles and bus records point into it.
    void* library = dlopen(kUsbLibrarySoname, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* why = dlerror();
        r.error = std::string("cannot load ") + kUsbLibrarySoname + (why ? ": " + std::string(why) : "");
        return r;
    }
    UsbApi& a = r.api;
    r.ok = Bind(library, "usb_init", a.init, r.error) &&
           Bind(library, "usb_find_busses", a.find_busses, r.error) &&
           Bind(library, "usb_find_devices", a.find_devices, r.error) &&
           Bind(library, "usb_get_busses", a.get_busses, r.error) &&
           Bind(library, "usb_open", a.open, r.error) &&
           Bind(library, "usb_set_configuration", a.set_configuration, r.error) &&
           Bind(library, "usb_claim_interface", a.claim_interface, r.error) &&
           Bind(library, "usb_release_interface", a.release_interface, r.error) &&
           Bind(library, "usb_close", a.close, r.error) &&
           Bind(library, "usb_bulk_write", a.bulk_write, r.error) &&
           Bind(library, "usb_bulk_read", a.bulk_read, r.error);
    return r;
}

}  // namespace

const UsbApi* LoadUsbLibrary(std::string* error) {
    static const Loaded loaded = Load();
    if (!loaded.ok) {
        if (error) *error = loaded.error;
        return nullptr;
    }
    return &loaded.api;
}

}  // namespace tessaly
