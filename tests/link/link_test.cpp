// Finding, opening and closing the splicer on the virtual bus, and the raw transfers.
#include <gtest/gtest.h>

#include <cerrno>

#include "lib_usb.h"
#include "virtual_usb.h"

namespace tessaly {
namespace {

using testing::AttachedSplicer;
using testing::VirtualUsb;
using vsplicer::Bus;
using vsplicer::Splicer;

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override { Bus::Instance().Reset(); }
    void TearDown() override { Bus::Instance().Reset(); }
    static std::shared_ptr<Splicer> NewSplicer() { return std::make_shared<Splicer>(); }
};

TEST_F(LinkTest, NoSplicerFoundLeavesLinkClosed) {
    CLibUSB link(VirtualUsb());
    link.Init();
    EXPECT_EQ(link.FindDevice(), nullptr);  // no bus at all
    Bus::Instance().AddBus();
    link.Init();
    EXPECT_EQ(link.FindDevice(), nullptr);  // an empty bus
    EXPECT_FALSE(link.IsOpen());
}

TEST_F(LinkTest, IgnoresOtherProductsAndTakesTheEarlierBus) {
    auto& bus = Bus::Instance();
    bus.AddBus();
    bus.AddBus();
    bus.Plug(0, NewSplicer(), 0x03EB, 0x6125);  // same maker, other product
    auto second = NewSplicer();
    auto first = NewSplicer();
    bus.Plug(1, second);
    bus.Plug(0, first);
    vsplicer::Identity id;
    id.serial = "FIRST";
    first->SetIdentity(id);

    CLibUSB link(VirtualUsb());
    link.Init();
    struct usb_device* dev = link.FindDevice();
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(dev->descriptor.idProduct, 0x6124);
    ASSERT_NE(link.OpenDevice(dev), nullptr);
    // The device on bus 0 answers: a packet sent now lands in `first`.
    const uint8_t payload[] = {0x05, 0x03};
    link.SendPacket(1, payload, 2);
    EXPECT_EQ(first->ModelCode(), 3);
    EXPECT_EQ(second->ModelCode(), -1);
}

TEST_F(LinkTest, FailedConfigurationOrClaimClosesTheHandle) {
    for (bool failConfig : {true, false}) {
        auto& bus = Bus::Instance();
        bus.Reset();
        bus.AddBus();
        const int id = bus.Plug(0, NewSplicer());
        if (failConfig) bus.FailConfiguration(id, true);
        else bus.FailClaim(id, true);
        CLibUSB link(VirtualUsb());
        link.Init();
        EXPECT_EQ(link.OpenDevice(link.FindDevice()), nullptr);
        EXPECT_FALSE(link.IsOpen());
        EXPECT_EQ(bus.OpenHandles(), 0) << (failConfig ? "configuration" : "claim");
        EXPECT_EQ(bus.ReleaseCalls(), 0);
    }
}

TEST_F(LinkTest, CloseReleasesTheInterfaceThenClosesOnce) {
    AttachedSplicer s;
    auto& bus = Bus::Instance();
    ASSERT_TRUE(s.link.IsOpen());
    EXPECT_EQ(bus.ClaimedInterfaces(), 1);
    s.link.CloseDevice();
    EXPECT_FALSE(s.link.IsOpen());
    EXPECT_EQ(bus.OpenHandles(), 0);
    EXPECT_EQ(bus.ClaimedInterfaces(), 0);
    EXPECT_EQ(bus.ReleaseCalls(), 1);
    s.link.CloseDevice();  // closed already: nothing happens
    EXPECT_EQ(bus.ReleaseCalls(), 1);
}

TEST_F(LinkTest, DestructionClosesAnOpenLink) {
    auto& bus = Bus::Instance();
    bus.AddBus();
    bus.Plug(0, NewSplicer());
    {
        CLibUSB link(VirtualUsb());
        link.Init();
        ASSERT_NE(link.OpenDevice(link.FindDevice()), nullptr);
        EXPECT_EQ(bus.OpenHandles(), 1);
    }
    EXPECT_EQ(bus.OpenHandles(), 0);
    EXPECT_EQ(bus.ReleaseCalls(), 1);
}

TEST_F(LinkTest, ClosedLinkSendsNothingAndReadsFail) {
    AttachedSplicer s;
    s.link.CloseDevice();
    s.splicer->ClearRequests();
    const uint8_t payload[] = {0x05, 0x01};
    EXPECT_EQ(s.link.SendPacket(1, payload, 2), 0);
    EXPECT_EQ(s.link.WriteZeroLengthPacket(), 0);
    uint8_t buffer[64];
    EXPECT_LT(s.link.ReadReply(buffer, sizeof buffer, 100), 0);
    EXPECT_TRUE(s.splicer->Requests().empty());
    EXPECT_EQ(s.splicer->ModelCode(), -1);
}

TEST_F(LinkTest, SendPacketPutsTheFramedBytesOnTheWire) {
    AttachedSplicer s;
    s.splicer->ClearRequests();
    const uint8_t payload[] = {0x05, 0x02};
    EXPECT_EQ(s.link.SendPacket(1, payload, 2), 8);
    ASSERT_EQ(s.splicer->Requests().size(), 1u);
    EXPECT_EQ(s.splicer->Requests()[0], (std::vector<uint8_t>{0xFE, 0xEF, 0x01, 0x02, 0x00, 0x05, 0x02, 0x04}));
    EXPECT_EQ(s.splicer->ModelCode(), 2);
}

TEST_F(LinkTest, OversizedPayloadIsRefusedUnsent) {
    AttachedSplicer s;
    s.splicer->ClearRequests();
    std::vector<uint8_t> payload(600, 0);
    EXPECT_EQ(s.link.SendPacket(2, payload.data(), 600), -EINVAL);
    EXPECT_TRUE(s.splicer->Requests().empty());
}

TEST_F(LinkTest, UnpluggedDeviceFailsTransfersButStaysOpenUntilClosed) {
    AttachedSplicer s;
    Bus::Instance().Unplug(s.deviceId);
    const uint8_t payload[] = {0x00, 0x00, 0x04};
    EXPECT_LT(s.link.SendPacket(3, payload, 3), 0);
    uint8_t buffer[64];
    EXPECT_LT(s.link.ReadReply(buffer, sizeof buffer, 500), 0);
    EXPECT_TRUE(s.link.IsOpen());  // only the monitor's next search closes it
    EXPECT_EQ(s.link.FindDevice(), nullptr);
}

}  // namespace
}  // namespace tessaly
