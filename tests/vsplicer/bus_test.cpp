// The virtual bus: list building and refreshing, plug and unplug, handles going dead, several
// buses and devices, configuration and claim failures, and the bookkeeping counters.
#include <cerrno>

#include "wire.h"

namespace vsplicer::testing {
namespace {

uint16_t Vendor(const struct usb_device* d) { return d->descriptor.idVendor; }
uint16_t Product(const struct usb_device* d) { return d->descriptor.idProduct; }

std::vector<struct usb_device*> DevicesOf(const usb_bus* b) {
    std::vector<struct usb_device*> v;
    for (struct usb_device* d = b->devices; d; d = d->next) v.push_back(d);
    return v;
}
std::vector<usb_bus*> Buses() {
    std::vector<usb_bus*> v;
    for (usb_bus* b = vsplicer::usb_get_busses(); b; b = b->next) v.push_back(b);
    return v;
}

class BusTest : public ::testing::Test {
protected:
    void SetUp() override { bus.Reset(); }
    void TearDown() override { bus.Reset(); }
    Bus& bus = Bus::Instance();
};

TEST_F(BusTest, EmptyBusHasNoDevices) {
    bus.AddBus();
    EXPECT_EQ(vsplicer::usb_get_busses(), nullptr);  // nothing until the search
    EXPECT_EQ(vsplicer::usb_find_busses(), 1);
    EXPECT_EQ(vsplicer::usb_find_busses(), 0);
    EXPECT_EQ(vsplicer::usb_find_devices(), 0);
    ASSERT_EQ(Buses().size(), 1u);
    EXPECT_EQ(Buses()[0]->devices, nullptr);
}

TEST_F(BusTest, NoBusAtAll) {
    EXPECT_EQ(vsplicer::usb_find_busses(), 0);
    EXPECT_EQ(vsplicer::usb_find_devices(), 0);
    EXPECT_EQ(vsplicer::usb_get_busses(), nullptr);
}

TEST_F(BusTest, ListsFollowPlugOrderAcrossBuses) {
    bus.AddBus();
    bus.AddBus();
    bus.Plug(1, std::make_shared<Splicer>(), 0x03EB, 0x6124, 2);
    bus.Plug(0, nullptr, 0x03EB, 0x6125);
    bus.Plug(0, std::make_shared<Splicer>());
    vsplicer::usb_find_busses();
    EXPECT_EQ(vsplicer::usb_find_devices(), 3);
    const auto buses = Buses();
    ASSERT_EQ(buses.size(), 2u);
    EXPECT_EQ(buses[1]->prev, buses[0]);
    const auto first = DevicesOf(buses[0]);
    const auto second = DevicesOf(buses[1]);
    ASSERT_EQ(first.size(), 2u);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(Product(first[0]), 0x6125);
    EXPECT_EQ(Product(first[1]), 0x6124);
    EXPECT_EQ(Vendor(first[1]), 0x03EB);
    EXPECT_EQ(first[1]->prev, first[0]);
    EXPECT_EQ(first[1]->bus, buses[0]);
    EXPECT_EQ(second[0]->bus, buses[1]);
    ASSERT_NE(second[0]->config, nullptr);
    EXPECT_EQ(second[0]->config[0].bConfigurationValue, 2);
    EXPECT_EQ(first[1]->config[0].bConfigurationValue, 1);
    // Descriptors a real program might look at are filled in too.
    const usb_interface_descriptor& alt = first[1]->config[0].interface[0].altsetting[0];
    ASSERT_EQ(alt.bNumEndpoints, 2);
    EXPECT_EQ(alt.endpoint[0].bEndpointAddress, 0x02);
    EXPECT_EQ(alt.endpoint[1].bEndpointAddress, 0x81);
}

TEST_F(BusTest, PlugOnMissingBusFails) {
    EXPECT_EQ(bus.Plug(0, std::make_shared<Splicer>()), -1);
    bus.AddBus();
    EXPECT_EQ(bus.Plug(1, std::make_shared<Splicer>()), -1);
    EXPECT_EQ(bus.Plug(-1, std::make_shared<Splicer>()), -1);
}

TEST_F(BusTest, PlugsAndUnplugsShowAtTheNextDeviceSearch) {
    bus.AddBus();
    vsplicer::usb_find_busses();
    const int a = bus.Plug(0, std::make_shared<Splicer>());
    EXPECT_EQ(Buses()[0]->devices, nullptr);
    EXPECT_EQ(vsplicer::usb_find_devices(), 1);
    struct usb_device* record = Buses()[0]->devices;
    ASSERT_NE(record, nullptr);
    bus.Unplug(a);
    EXPECT_EQ(Buses()[0]->devices, record);
    const int b = bus.Plug(0, std::make_shared<Splicer>());
    EXPECT_EQ(vsplicer::usb_find_devices(), 2);  // one gone, one new
    const auto now = DevicesOf(Buses()[0]);
    ASSERT_EQ(now.size(), 1u);
    EXPECT_NE(now[0], record);
    EXPECT_EQ(now[0]->prev, nullptr);
    EXPECT_EQ(Product(record), 0x6124);  // the old record is kept, not freed
    EXPECT_EQ(vsplicer::usb_open(record), nullptr);
    bus.Unplug(b);
    bus.Unplug(b);  // twice: harmless
    bus.Unplug(12345);
    EXPECT_EQ(vsplicer::usb_find_devices(), 1);
    EXPECT_EQ(vsplicer::usb_find_devices(), 0);
}

TEST_F(BusTest, DeviceGoneBeforeAnySearchNeverShows) {
    bus.AddBus();
    vsplicer::usb_find_busses();
    bus.Unplug(bus.Plug(0, std::make_shared<Splicer>()));
    EXPECT_EQ(vsplicer::usb_find_devices(), 0);
    EXPECT_EQ(Buses()[0]->devices, nullptr);
}

TEST_F(BusTest, BusAddedAfterTheSearchIsNotListedUntilTheNext) {
    bus.AddBus();
    vsplicer::usb_find_busses();
    bus.AddBus();
    bus.Plug(1, std::make_shared<Splicer>());
    EXPECT_EQ(vsplicer::usb_find_devices(), 0);
    EXPECT_EQ(Buses().size(), 1u);
    EXPECT_EQ(vsplicer::usb_find_busses(), 1);
    EXPECT_EQ(vsplicer::usb_find_devices(), 1);
}

class HandleTest : public SplicerTest {};

TEST_F(HandleTest, UnplugKillsHandlesAtOnce) {
    usb_dev_handle* second = vsplicer::usb_open(vsplicer::usb_get_busses()->devices);
    ASSERT_NE(second, nullptr);
    Write(handle, HeaderRequest(4));  // a reply waiting when the device goes
    Bus::Instance().Unplug(deviceId);
    int code = 0;
    Read(handle, 64, &code);
    EXPECT_EQ(code, -ENODEV);
    EXPECT_EQ(Write(second, HeaderRequest(4)), -ENODEV);
    EXPECT_EQ(vsplicer::usb_set_configuration(handle, 1), -ENODEV);
    EXPECT_EQ(vsplicer::usb_claim_interface(handle, 0), -ENODEV);
    EXPECT_EQ(vsplicer::usb_close(second), 0);
}

TEST_F(HandleTest, ReplugStartsWithAnEmptyReplyQueue) {
    Write(handle, HeaderRequest(4));
    Bus::Instance().Unplug(deviceId);
    Bus::Instance().Plug(0, splicer);
    vsplicer::usb_find_devices();
    usb_dev_handle* again = vsplicer::usb_open(vsplicer::usb_get_busses()->devices);
    ASSERT_NE(again, nullptr);
    int code = 0;
    Read(again, 64, &code);
    EXPECT_EQ(code, -ETIMEDOUT);
    EXPECT_EQ(Exchange(HeaderRequest(4)).size(), 0u);  // the old handle stays dead
    vsplicer::usb_close(again);
}

TEST_F(HandleTest, DeviceWithoutSplicerSwallowsWritesAndNeverAnswers) {
    Bus::Instance().Plug(0, nullptr, 0x03EB, 0x6125);
    vsplicer::usb_find_devices();
    usb_dev_handle* other = vsplicer::usb_open(vsplicer::usb_get_busses()->devices->next);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(Write(other, HeaderRequest(4)), 9);
    int code = 0;
    Read(other, 64, &code);
    EXPECT_EQ(code, -ETIMEDOUT);
    EXPECT_TRUE(splicer->Requests().empty());
    vsplicer::usb_close(other);
}

TEST_F(HandleTest, OpenRejectsRecordsItNeverHandedOut) {
    struct usb_device foreign{};
    EXPECT_EQ(vsplicer::usb_open(&foreign), nullptr);
    EXPECT_EQ(vsplicer::usb_open(nullptr), nullptr);
    EXPECT_LT(vsplicer::usb_close(nullptr), 0);
}

TEST_F(HandleTest, ConfigurationAndClaimFailures) {
    Bus& bus = Bus::Instance();
    EXPECT_LT(vsplicer::usb_set_configuration(handle, 2), 0);  // not this device's value
    EXPECT_EQ(vsplicer::usb_set_configuration(handle, 1), 0);
    bus.FailConfiguration(deviceId, true);
    EXPECT_LT(vsplicer::usb_set_configuration(handle, 1), 0);
    bus.FailConfiguration(deviceId, false);
    EXPECT_EQ(vsplicer::usb_set_configuration(handle, 1), 0);

    bus.FailClaim(deviceId, true);
    EXPECT_LT(vsplicer::usb_claim_interface(handle, 0), 0);
    EXPECT_EQ(bus.ClaimedInterfaces(), 0);
    bus.FailClaim(deviceId, false);
    EXPECT_LT(vsplicer::usb_claim_interface(handle, 1), 0);  // the device has interface 0 only
    EXPECT_EQ(vsplicer::usb_claim_interface(handle, 0), 0);
    EXPECT_EQ(bus.ClaimedInterfaces(), 1);
}

TEST_F(HandleTest, CountersFollowOpenClaimReleaseClose) {
    Bus& bus = Bus::Instance();
    EXPECT_EQ(bus.OpenHandles(), 1);
    usb_dev_handle* second = vsplicer::usb_open(vsplicer::usb_get_busses()->devices);
    EXPECT_EQ(bus.OpenHandles(), 2);
    vsplicer::usb_claim_interface(handle, 0);
    vsplicer::usb_claim_interface(handle, 0);  // claiming again is not a second claim
    vsplicer::usb_claim_interface(second, 0);
    EXPECT_EQ(bus.ClaimedInterfaces(), 2);
    EXPECT_EQ(vsplicer::usb_release_interface(handle, 0), 0);
    EXPECT_LT(vsplicer::usb_release_interface(handle, 0), 0);  // not claimed any more
    EXPECT_EQ(bus.ReleaseCalls(), 2);
    EXPECT_EQ(bus.ClaimedInterfaces(), 1);
    vsplicer::usb_close(second);  // closing gives its claim back
    EXPECT_EQ(bus.ClaimedInterfaces(), 0);
    EXPECT_EQ(bus.OpenHandles(), 1);
    EXPECT_EQ(bus.ReleaseCalls(), 2);
}

TEST_F(HandleTest, ReleaseAfterUnplugStillDropsTheClaim) {
    vsplicer::usb_claim_interface(handle, 0);
    Bus::Instance().Unplug(deviceId);
    EXPECT_LT(vsplicer::usb_release_interface(handle, 0), 0);
    EXPECT_EQ(Bus::Instance().ClaimedInterfaces(), 0);
    EXPECT_EQ(Bus::Instance().ReleaseCalls(), 1);
}

TEST_F(HandleTest, ResetKillsHandlesAndZeroesCounters) {
    vsplicer::usb_claim_interface(handle, 0);
    Bus::Instance().Reset();
    EXPECT_EQ(vsplicer::usb_get_busses(), nullptr);
    EXPECT_EQ(Write(handle, HeaderRequest(4)), -ENODEV);
    EXPECT_EQ(Bus::Instance().OpenHandles(), 0);
    EXPECT_EQ(Bus::Instance().ClaimedInterfaces(), 0);
    vsplicer::usb_release_interface(handle, 0);
    vsplicer::usb_close(handle);  // a handle from before the reset leaves the counters alone
    handle = nullptr;
    EXPECT_EQ(Bus::Instance().OpenHandles(), 0);
    EXPECT_EQ(Bus::Instance().ReleaseCalls(), 0);
}

TEST(LastError, NamesTheFailure) {
    Bus::Instance().Reset();
    EXPECT_EQ(vsplicer::usb_open(nullptr), nullptr);
    EXPECT_STREQ(vsplicer::LastErrorText(), "Invalid argument");
}

}  // namespace
}  // namespace vsplicer::testing
