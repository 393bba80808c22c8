// The link's function table pointed at the in-process virtual splicer, and a fixture that puts
// one splicer on a fresh virtual bus.
#pragma once

#include <memory>

#include "lib_usb.h"
#include "usb_api.h"
#include "vsplicer.h"

namespace tessaly::testing {

inline const UsbApi& VirtualUsb() {
    static const UsbApi api{
        &vsplicer::usb_init,          &vsplicer::usb_find_busses,       &vsplicer::usb_find_devices,
        &vsplicer::usb_get_busses,    &vsplicer::usb_open,              &vsplicer::usb_set_configuration,
        &vsplicer::usb_claim_interface, &vsplicer::usb_release_interface, &vsplicer::usb_close,
        &vsplicer::usb_bulk_write,    &vsplicer::usb_bulk_read,
    };
    return api;
}

// One splicer on bus 0, found and opened through the link.
struct AttachedSplicer {
    std::shared_ptr<vsplicer::Splicer> splicer = std::make_shared<vsplicer::Splicer>();
    int deviceId = -1;
    CLibUSB link{VirtualUsb()};

    AttachedSplicer() {
        auto& bus = vsplicer::Bus::Instance();
        bus.Reset();
        bus.AddBus();
        deviceId = bus.Plug(0, splicer);
        link.Init();
        link.OpenDevice(link.FindDevice());
    }
    ~AttachedSplicer() {
        link.CloseDevice();
        vsplicer::Bus::Instance().Reset();
    }
};

}  // namespace tessaly::testing
