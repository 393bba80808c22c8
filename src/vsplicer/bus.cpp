// The virtual USB bus and the libusb 0.1 functions over it: bus and device lists that change
// only when the program asks (usb_find_busses / usb_find_devices), handles that die when their
// device leaves, and bulk transfers handed to the splicer behind the device.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <map>
#include <new>

#include "splicer_impl.h"

namespace vsplicer {

// One plug of a device: what its handles share. `alive` drops at unplug, at once.
struct Port {
    std::atomic<bool> alive{true};
    std::shared_ptr<Splicer> splicer;  // null: a device that never answers
};

}  // namespace vsplicer

// Opaque in usb.h; ours. Transfers touch only `port`, so they need no bus-wide lock.
struct usb_dev_handle {
    std::shared_ptr<vsplicer::Port> port;
    struct usb_device* device = nullptr;
    int deviceId = 0;
    int generation = 0;  // bus generation: counters ignore handles from before a Reset
    bool claimed = false;
};

namespace vsplicer {
namespace {

// A device record as libusb hands it out, with the descriptors it points to.
struct DeviceRecord {
    struct usb_device device{};
    usb_config_descriptor config{};
    usb_interface interface{};
    usb_interface_descriptor setting{};
    usb_endpoint_descriptor endpoints[2]{};
};

struct Device {
    int bus = 0;
    std::unique_ptr<DeviceRecord> record;
    std::shared_ptr<Port> port;
    uint8_t configurationValue = 1;
    bool plugged = true;
    bool failConfiguration = false;
    bool failClaim = false;
};

struct BusEntry {
    std::unique_ptr<usb_bus> record;
    std::vector<int> plugged;    // device ids in plug order
    std::vector<int> published;  // device ids in the list the program sees
    bool listed = false;         // in the bus list since a usb_find_busses
    unsigned nextDevnum = 1;
};

struct State {
    std::mutex mutex;
    std::vector<BusEntry> buses;
    std::map<int, Device> devices;  // plugged, or unplugged but still in a published list
    // Records of devices that left the lists: programs may still hold pointers to them.
    std::vector<std::unique_ptr<DeviceRecord>> graveyard;
    usb_bus* head = nullptr;
    int nextId = 1;
    int generation = 1;
    int openHandles = 0;
    int claimed = 0;
    int releaseCalls = 0;

    void Clear() {
        for (auto& [id, d] : devices) d.port->alive = false;
        devices.clear();
        buses.clear();
        buses.shrink_to_fit();
        graveyard.clear();
        graveyard.shrink_to_fit();
        head = nullptr;
        ++generation;
        openHandles = claimed = releaseCalls = 0;
    }
    void Bury(int id) {
        auto it = devices.find(id);
        if (it == devices.end()) return;
        graveyard.push_back(std::move(it->second.record));
        devices.erase(it);
    }
};

// The state is never destroyed, so that a program's own exit-time calls (a link closed by a
// static destructor) stay safe; the sweeper below frees everything it owns at exit instead.
State& S() {
    alignas(State) static unsigned char storage[sizeof(State)];
    static State* state = new (storage) State;
    return *state;
}

struct Sweeper {
    ~Sweeper() {
        State& s = S();
        std::lock_guard lock(s.mutex);
        s.Clear();
    }
} sweeper;

thread_local int lastError = 0;

int Error(int code) {
    lastError = code;
    return -code;
}

std::unique_ptr<DeviceRecord> MakeRecord(usb_bus* bus, unsigned devnum, uint16_t vendor,
                                         uint16_t product, uint8_t configurationValue) {
    auto r = std::make_unique<DeviceRecord>();
    struct usb_device& d = r->device;
    std::snprintf(d.filename, sizeof d.filename, "%03u", devnum);
    d.bus = bus;
    d.devnum = static_cast<uint8_t>(devnum);
    d.descriptor.bLength = 18;
    d.descriptor.bDescriptorType = USB_DT_DEVICE;
    d.descriptor.bcdUSB = 0x0200;
    d.descriptor.bDeviceClass = 0;
    d.descriptor.bMaxPacketSize0 = 64;
    d.descriptor.idVendor = vendor;
    d.descriptor.idProduct = product;
    d.descriptor.bcdDevice = 0x0100;
    d.descriptor.bNumConfigurations = 1;
    d.config = &r->config;
    r->config.bLength = 9;
    r->config.bDescriptorType = USB_DT_CONFIG;
    r->config.wTotalLength = 32;
    r->config.bNumInterfaces = 1;
    r->config.bConfigurationValue = configurationValue;
    r->config.bmAttributes = 0x80;
    r->config.MaxPower = 50;  // 100 mA
    r->config.interface = &r->interface;
    r->interface.altsetting = &r->setting;
    r->interface.num_altsetting = 1;
    r->setting.bLength = 9;
    r->setting.bDescriptorType = USB_DT_INTERFACE;
    r->setting.bNumEndpoints = 2;
    r->setting.bInterfaceClass = USB_CLASS_VENDOR_SPEC;
    r->setting.endpoint = r->endpoints;
    const uint8_t addresses[2] = {0x02, 0x81};
    for (int i = 0; i < 2; ++i) {
        r->endpoints[i].bLength = 7;
        r->endpoints[i].bDescriptorType = USB_DT_ENDPOINT;
        r->endpoints[i].bEndpointAddress = addresses[i];
        r->endpoints[i].bmAttributes = USB_ENDPOINT_TYPE_BULK;
        r->endpoints[i].wMaxPacketSize = 512;
    }
    return r;
}

bool Contains(const std::vector<int>& v, int id) {
    return std::find(v.begin(), v.end(), id) != v.end();
}

}  // namespace

// ---------------------------------------------------------------- Bus

Bus& Bus::Instance() {
    static Bus bus;
    return bus;
}

void Bus::Reset() {
    State& s = S();
    std::lock_guard lock(s.mutex);
    s.Clear();
}

int Bus::AddBus() {
    State& s = S();
    std::lock_guard lock(s.mutex);
    BusEntry b;
    b.record = std::make_unique<usb_bus>();
    const auto index = s.buses.size();
    std::snprintf(b.record->dirname, sizeof b.record->dirname, "%03zu", index + 1);
    b.record->location = static_cast<uint32_t>(index + 1);
    s.buses.push_back(std::move(b));
    return static_cast<int>(index);
}

int Bus::Plug(int bus, std::shared_ptr<Splicer> splicer, uint16_t vendor, uint16_t product,
              uint8_t configurationValue) {
    State& s = S();
    std::lock_guard lock(s.mutex);
    if (bus < 0 || static_cast<size_t>(bus) >= s.buses.size()) return -1;
    BusEntry& b = s.buses[static_cast<size_t>(bus)];
    const int id = s.nextId++;
    Device d;
    d.bus = bus;
    d.record = MakeRecord(b.record.get(), b.nextDevnum++, vendor, product, configurationValue);
    d.port = std::make_shared<Port>();
    d.configurationValue = configurationValue;
    if (splicer) splicer->impl().PowerCycle();
    d.port->splicer = std::move(splicer);
    s.devices.emplace(id, std::move(d));
    b.plugged.push_back(id);
    return id;
}

void Bus::Unplug(int deviceId) {
    State& s = S();
    std::lock_guard lock(s.mutex);
    auto it = s.devices.find(deviceId);
    if (it == s.devices.end() || !it->second.plugged) return;
    Device& d = it->second;
    d.plugged = false;
    d.port->alive = false;
    if (d.port->splicer) d.port->splicer->impl().PowerCycle();
    BusEntry& b = s.buses[static_cast<size_t>(d.bus)];
    std::erase(b.plugged, deviceId);
    if (!Contains(b.published, deviceId)) s.Bury(deviceId);  // never seen by the program
}

void Bus::FailConfiguration(int deviceId, bool fail) {
    State& s = S();
    std::lock_guard lock(s.mutex);
    if (auto it = s.devices.find(deviceId); it != s.devices.end())
        it->second.failConfiguration = fail;
}

void Bus::FailClaim(int deviceId, bool fail) {
    State& s = S();
    std::lock_guard lock(s.mutex);
    if (auto it = s.devices.find(deviceId); it != s.devices.end()) it->second.failClaim = fail;
}

int Bus::OpenHandles() const {
    State& s = S();
    std::lock_guard lock(s.mutex);
    return s.openHandles;
}

int Bus::ClaimedInterfaces() const {
    State& s = S();
    std::lock_guard lock(s.mutex);
    return s.claimed;
}

int Bus::ReleaseCalls() const {
    State& s = S();
    std::lock_guard lock(s.mutex);
    return s.releaseCalls;
}

// ---------------------------------------------------------------- libusb 0.1

void usb_init() { S(); }

int usb_find_busses() {
    State& s = S();
    std::lock_guard lock(s.mutex);
    int changes = 0;
    usb_bus* prev = nullptr;
    for (BusEntry& b : s.buses) {
        if (!b.listed) ++changes;
        b.listed = true;
        b.record->prev = prev;
        b.record->next = nullptr;
        if (prev) prev->next = b.record.get();
        prev = b.record.get();
    }
    s.head = s.buses.empty() ? nullptr : s.buses.front().record.get();
    return changes;
}

int usb_find_devices() {
    State& s = S();
    std::lock_guard lock(s.mutex);
    int changes = 0;
    for (BusEntry& b : s.buses) {
        if (!b.listed) continue;
        // A device that pulled itself off (Unplug fault) leaves now as well.
        std::erase_if(b.plugged, [&](int id) { return !s.devices.at(id).port->alive; });
        for (int id : b.published) {
            if (!Contains(b.plugged, id)) {
                ++changes;
                s.Bury(id);
            }
        }
        struct usb_device* prev = nullptr;
        for (int id : b.plugged) {
            if (!Contains(b.published, id)) ++changes;
            struct usb_device* d = &s.devices.at(id).record->device;
            d->prev = prev;
            d->next = nullptr;
            if (prev) prev->next = d;
            prev = d;
        }
        b.record->devices = b.plugged.empty() ? nullptr : &s.devices.at(b.plugged.front()).record->device;
        b.published = b.plugged;
    }
    return changes;
}

usb_bus* usb_get_busses() {
    State& s = S();
    std::lock_guard lock(s.mutex);
    return s.head;
}

usb_dev_handle* usb_open(struct usb_device* dev) {
    if (!dev) {
        Error(EINVAL);
        return nullptr;
    }
    State& s = S();
    std::lock_guard lock(s.mutex);
    for (auto& [id, d] : s.devices) {
        if (&d.record->device != dev) continue;
        if (!d.port->alive) break;
        auto* h = new usb_dev_handle;
        h->port = d.port;
        h->device = dev;
        h->deviceId = id;
        h->generation = s.generation;
        ++s.openHandles;
        return h;
    }
    Error(ENODEV);  // gone, or a record this bus never handed out
    return nullptr;
}

int usb_close(usb_dev_handle* dev) {
    if (!dev) return Error(EINVAL);
    {
        State& s = S();
        std::lock_guard lock(s.mutex);
        if (dev->generation == s.generation) {
            --s.openHandles;
            if (dev->claimed) --s.claimed;  // closing gives the interface back
        }
    }
    delete dev;
    return 0;
}

int usb_set_configuration(usb_dev_handle* dev, int configuration) {
    if (!dev) return Error(EINVAL);
    State& s = S();
    std::lock_guard lock(s.mutex);
    auto it = s.devices.find(dev->deviceId);
    if (!dev->port->alive || it == s.devices.end()) return Error(ENODEV);
    if (it->second.failConfiguration) return Error(EBUSY);
    if (configuration != it->second.configurationValue) return Error(EINVAL);
    return 0;
}

int usb_claim_interface(usb_dev_handle* dev, int interface) {
    if (!dev) return Error(EINVAL);
    State& s = S();
    std::lock_guard lock(s.mutex);
    auto it = s.devices.find(dev->deviceId);
    if (!dev->port->alive || it == s.devices.end()) return Error(ENODEV);
    if (it->second.failClaim) return Error(EBUSY);
    if (interface != 0) return Error(EINVAL);
    if (!dev->claimed && dev->generation == s.generation) ++s.claimed;
    dev->claimed = true;
    return 0;
}

int usb_release_interface(usb_dev_handle* dev, int interface) {
    if (!dev) return Error(EINVAL);
    State& s = S();
    std::lock_guard lock(s.mutex);
    const bool current = dev->generation == s.generation;
    if (current) ++s.releaseCalls;
    if (interface != 0 || !dev->claimed) return Error(EINVAL);
    dev->claimed = false;
    if (current) --s.claimed;
    return dev->port->alive ? 0 : Error(ENODEV);
}

int usb_bulk_write(usb_dev_handle* dev, int ep, const char* bytes, int size, int /*timeout*/) {
    if (!dev || size < 0 || (size > 0 && !bytes)) return Error(EINVAL);
    if (ep != 0x02) return Error(EINVAL);
    Port& port = *dev->port;
    if (!port.alive) return Error(ENODEV);
    const Clock::time_point now = Clock::now();
    if (port.splicer &&
        port.splicer->impl().Receive(reinterpret_cast<const uint8_t*>(bytes),
                                     static_cast<size_t>(size), now)) {
        port.alive = false;  // the device is gone right after this exchange
    }
    return size;
}

int usb_bulk_read(usb_dev_handle* dev, int ep, char* bytes, int size, int /*timeout*/) {
    if (!dev || size < 0 || (size > 0 && !bytes)) return Error(EINVAL);
    if (ep != 0x81) return Error(EINVAL);
    Port& port = *dev->port;
    if (!port.alive) return Error(ENODEV);
    if (!port.splicer) return Error(ETIMEDOUT);
    const int n = port.splicer->impl().Deliver(reinterpret_cast<uint8_t*>(bytes),
                                                static_cast<size_t>(size), port.alive);
    return n < 0 ? Error(-n) : n;
}

struct usb_device* DeviceOfHandle(usb_dev_handle* dev) { return dev ? dev->device : nullptr; }

const char* LastErrorText() {
    switch (lastError) {
    case 0: return "No error";
    case EINVAL: return "Invalid argument";
    case ENODEV: return "No such device";
    case EBUSY: return "Device or resource busy";
    case ETIMEDOUT: return "Connection timed out";
    default: return "Input/output error";
    }
}

}  // namespace vsplicer
