// The drop-in libusb-0.1.so.4, loaded by full path the way the program loads libusb: only the
// libusb names are visible, and a whole identity exchange runs through it.
#include <dlfcn.h>

#include <cstdlib>

#include "wire.h"

namespace vsplicer::testing {
namespace {

template <typename F>
F Symbol(void* lib, const char* name) {
    void* p = dlsym(lib, name);
    EXPECT_NE(p, nullptr) << name;
    return reinterpret_cast<F>(p);
}

TEST(DropIn, IdentityExchangeThroughTheSharedLibrary) {
    setenv("TESSALY_VSPLICER", "splicer,serial=DROP-77,model=0x0a,version=205,other_device", 1);
    // Never unloaded: the library keeps its bus until the process ends.
    void* lib = dlopen(VSPLICER_DROPIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();

    auto init = Symbol<void (*)()>(lib, "usb_init");
    auto findBusses = Symbol<int (*)()>(lib, "usb_find_busses");
    auto findDevices = Symbol<int (*)()>(lib, "usb_find_devices");
    auto getBusses = Symbol<usb_bus* (*)()>(lib, "usb_get_busses");
    auto open = Symbol<usb_dev_handle* (*)(struct usb_device*)>(lib, "usb_open");
    auto setConfiguration = Symbol<int (*)(usb_dev_handle*, int)>(lib, "usb_set_configuration");
    auto claim = Symbol<int (*)(usb_dev_handle*, int)>(lib, "usb_claim_interface");
    auto release = Symbol<int (*)(usb_dev_handle*, int)>(lib, "usb_release_interface");
    auto close = Symbol<int (*)(usb_dev_handle*)>(lib, "usb_close");
    auto write = Symbol<int (*)(usb_dev_handle*, int, const char*, int, int)>(lib, "usb_bulk_write");
    auto read = Symbol<int (*)(usb_dev_handle*, int, char*, int, int)>(lib, "usb_bulk_read");
    auto deviceOf = Symbol<struct usb_device* (*)(usb_dev_handle*)>(lib, "usb_device");
    auto strerror = Symbol<char* (*)()>(lib, "usb_strerror");
    auto busses = Symbol<usb_bus**>(lib, "usb_busses");
    if (::testing::Test::HasFailure()) return;

    // Nothing of the device model leaks out to clash with the program.
    EXPECT_EQ(dlsym(lib, "_ZN8vsplicer3Bus8InstanceEv"), nullptr);
    EXPECT_EQ(dlsym(lib, "_ZN8vsplicer15usb_bulk_writeEP14usb_dev_handleiPKcii"), nullptr);
    EXPECT_EQ(dlsym(lib, "_ZN8vsplicer13MakeImageEttj"), nullptr);
    // ... and the library's bus is its own, not this process's in-process one.
    Bus::Instance().Reset();

    init();
    EXPECT_EQ(findBusses(), 1);
    EXPECT_EQ(findDevices(), 2);
    usb_bus* bus = getBusses();
    ASSERT_NE(bus, nullptr);
    EXPECT_EQ(*busses, bus);
    struct usb_device* dev = bus->devices;
    ASSERT_NE(dev, nullptr);
    const uint16_t firstProduct = dev->descriptor.idProduct;
    EXPECT_EQ(firstProduct, 0x6125);
    dev = dev->next;
    ASSERT_NE(dev, nullptr);
    const uint16_t vendor = dev->descriptor.idVendor, product = dev->descriptor.idProduct;
    EXPECT_EQ(vendor, 0x03EB);
    EXPECT_EQ(product, 0x6124);

    usb_dev_handle* h = open(dev);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(deviceOf(h), dev);
    ASSERT_EQ(setConfiguration(h, dev->config[0].bConfigurationValue), 0);
    ASSERT_EQ(claim(h, 0), 0);

    auto exchange = [&](const Bytes& request, int size) {
        EXPECT_EQ(write(h, 0x02, reinterpret_cast<const char*>(request.data()),
                        static_cast<int>(request.size()), 100),
                  static_cast<int>(request.size()));
        Bytes reply(static_cast<size_t>(size));
        const int n = read(h, 0x81, reinterpret_cast<char*>(reply.data()), size, 500);
        reply.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return reply;
    };
    const Bytes header = exchange(HeaderRequest(4), 1024);
    ASSERT_EQ(header.size(), 12u);
    const int32_t length = AnnouncedLength(header);
    ASSERT_EQ(length, 42);
    const Bytes data = exchange(DataRequest(1, 0, 42), 50);
    ASSERT_EQ(data.size(), 50u);
    EXPECT_TRUE(ChecksumOk(data));
    EXPECT_EQ(data[7], 0xE8);
    EXPECT_EQ(data[8], 0x0A);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&data[9])), "DROP-77");
    EXPECT_EQ(data[33], 205);

    char buffer[16];
    EXPECT_LT(read(h, 0x81, buffer, sizeof buffer, 500), 0);  // nothing queued
    EXPECT_STREQ(strerror(), "Connection timed out");
    EXPECT_EQ(release(h, 0), 0);
    EXPECT_EQ(close(h), 0);

    init();  // a second usb_init with the same variable keeps the bus as it is
    EXPECT_EQ(findDevices(), 0);
    EXPECT_EQ(getBusses()->devices->next, dev);
}

}  // namespace
}  // namespace vsplicer::testing
