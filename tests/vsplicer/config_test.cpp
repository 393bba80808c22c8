// TESSALY_VSPLICER: the option parser (table of cases), building the bus from a configuration,
// and re-reading the variable.
#include <cstdlib>
#include <functional>

#include "wire.h"

namespace vsplicer::testing {
namespace {

using Kind = Fault::Kind;

struct ParseCase {
    const char* name;
    const char* text;
    size_t problems;
    std::function<void(const Config&)> check;
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class Parse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(Parse, Case) {
    std::vector<std::string> problems;
    const Config c = ParseConfig(GetParam().text, &problems);
    EXPECT_EQ(problems.size(), GetParam().problems) << ::testing::PrintToString(problems);
    GetParam().check(c);
}

const Config kDefaults;

INSTANTIATE_TEST_SUITE_P(
    Table, Parse,
    ::testing::Values(
        ParseCase{"Empty", "", 0, [](const Config& c) { EXPECT_FALSE(c.splicer); EXPECT_EQ(c.bus, 0); }},
        ParseCase{"None", "none", 0, [](const Config& c) { EXPECT_FALSE(c.splicer); }},
        ParseCase{"SplicerDefaults", "splicer", 0,
                  [](const Config& c) {
                      EXPECT_TRUE(c.splicer);
                      EXPECT_EQ(c.historyBytes, kDefaults.historyBytes);
                      EXPECT_EQ(c.identity.serial, "AB1234");
                      EXPECT_TRUE(c.faults.empty());
                  }},
        ParseCase{"LeadExample", "splicer,history=5242880,latency_us=125,fault=badsum@3", 0,
                  [](const Config& c) {
                      EXPECT_EQ(c.historyBytes, 5242880u);
                      EXPECT_EQ(c.latency, std::chrono::microseconds(125));
                      ASSERT_EQ(c.faults.size(), 1u);
                      EXPECT_EQ(c.faults[0].kind, Kind::BadChecksum);
                      EXPECT_EQ(c.faults[0].at, 3);
                  }},
        ParseCase{"IdentityAndImageWithSpaces", " splicer , serial=XY-99 , model=0x0a , marker=0 , version=1234 , image=640x480 ", 0,
                  [](const Config& c) {
                      EXPECT_EQ(c.identity.serial, "XY-99");
                      EXPECT_EQ(c.identity.marker, 0);
                      EXPECT_EQ(c.identity.model, 0x0A);
                      EXPECT_EQ(c.identity.version, 1234u);
                      EXPECT_EQ(c.imageWidth, 640);
                      EXPECT_EQ(c.imageHeight, 480);
                  }},
        ParseCase{"NoHistoryOtherDeviceBus", "splicer,history=0,other_device,bus=2", 0,
                  [](const Config& c) {
                      EXPECT_EQ(c.historyBytes, 0u);
                      EXPECT_TRUE(c.otherDevice);
                      EXPECT_EQ(c.bus, 2);
                  }},
        ParseCase{"EveryFaultKind", "splicer,fault=short@2:7,fault=long@4,fault=echo@1:5,fault=badlen@6:-3,"
                  "fault=noreply@9,fault=unplug@12,unplug_after=20",
                  0,
                  [](const Config& c) {
                      ASSERT_EQ(c.faults.size(), 7u);
                      EXPECT_EQ(c.faults[0].kind, Kind::ShortReply);
                      EXPECT_EQ(c.faults[0].length, 7);
                      EXPECT_EQ(c.faults[1].kind, Kind::LongReply);
                      EXPECT_EQ(c.faults[1].length, 1);  // default
                      EXPECT_EQ(c.faults[2].value, 5);
                      EXPECT_EQ(c.faults[3].value, -3);
                      EXPECT_EQ(c.faults[4].kind, Kind::NoReply);
                      EXPECT_EQ(c.faults[5].kind, Kind::Unplug);
                      EXPECT_EQ(c.faults[6].kind, Kind::Unplug);
                      EXPECT_EQ(c.faults[6].at, 20);
                  }},
        ParseCase{"FaultRange", "splicer,fault=badsum@2-11", 0,
                  [](const Config& c) {
                      ASSERT_EQ(c.faults.size(), 10u);
                      EXPECT_EQ(c.faults.front().at, 2);
                      EXPECT_EQ(c.faults.back().at, 11);
                  }},
        // Bad options are reported one by one and skipped; the rest still counts.
        ParseCase{"BadOptionsSkipped", "splicer,colour=red,history=12x,serial=ABCDEFGHIJKLMNOPQRSTUVWXYZ,latency_us=125", 3,
                  [](const Config& c) {
                      EXPECT_TRUE(c.splicer);
                      EXPECT_EQ(c.historyBytes, kDefaults.historyBytes);
                      EXPECT_EQ(c.identity.serial, "AB1234");
                      EXPECT_EQ(c.latency, std::chrono::microseconds(125));
                  }},
        ParseCase{"BadFaults", "splicer,fault=badsum,fault=bogus@1,fault=badsum@0,fault=short@1:-2,"
                  "fault=badsum@5-2,fault=echo@x",
                  6, [](const Config& c) { EXPECT_TRUE(c.faults.empty()); }},
        ParseCase{"BadValues", "splicer,model=256,version=-1,image=640,image=0x10x20,bus=99,unplug_after=0", 6,
                  [](const Config& c) {
                      EXPECT_EQ(c.identity.model, kDefaults.identity.model);
                      EXPECT_EQ(c.imageWidth, kDefaults.imageWidth);
                      EXPECT_EQ(c.bus, 0);
                      EXPECT_TRUE(c.faults.empty());
                  }},
        ParseCase{"NamesAreCaseSensitive", "Splicer", 1, [](const Config& c) { EXPECT_FALSE(c.splicer); }},
        ParseCase{"SplicerOptionsWithoutSplicer", "history=100", 1, [](const Config& c) { EXPECT_FALSE(c.splicer); }},
        ParseCase{"NoneWithOtherDevice", "none,other_device", 0,
                  [](const Config& c) {
                      EXPECT_FALSE(c.splicer);
                      EXPECT_TRUE(c.otherDevice);
                  }},
        ParseCase{"EmptyOptions", "splicer,,history=8,", 0,
                  [](const Config& c) { EXPECT_EQ(c.historyBytes, 8u); }}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(ParseProblems, NameTheBadOption) {
    std::vector<std::string> problems;
    ParseConfig("splicer,history=lots", &problems);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("history=lots"), std::string::npos) << problems[0];
    ParseConfig("splicer,history=lots", nullptr);  // problems may be left unwanted
}

class Apply : public ::testing::Test {
protected:
    void TearDown() override {
        unsetenv("TESSALY_VSPLICER");
        Bus::Instance().Reset();
    }
    static std::vector<usb_bus*> Listed() {
        vsplicer::usb_find_busses();
        vsplicer::usb_find_devices();
        std::vector<usb_bus*> v;
        for (usb_bus* b = vsplicer::usb_get_busses(); b; b = b->next) v.push_back(b);
        return v;
    }
};

TEST_F(Apply, NoneGivesOneEmptyBus) {
    ApplyConfig(ParseConfig("none", nullptr));
    const auto buses = Listed();
    ASSERT_EQ(buses.size(), 1u);
    EXPECT_EQ(buses[0]->devices, nullptr);
}

TEST_F(Apply, SplicerBehindOtherDeviceOnTheLastBus) {
    ApplyConfig(ParseConfig("splicer,other_device,bus=1,serial=Q7,history=0,fault=badlen@1:77", nullptr));
    const auto buses = Listed();
    ASSERT_EQ(buses.size(), 2u);
    EXPECT_EQ(buses[0]->devices, nullptr);
    struct usb_device* other = buses[1]->devices;
    ASSERT_NE(other, nullptr);
    ASSERT_NE(other->next, nullptr);
    const uint16_t otherProduct = other->descriptor.idProduct;
    const uint16_t splicerProduct = other->next->descriptor.idProduct;
    EXPECT_EQ(otherProduct, 0x6125);
    EXPECT_EQ(splicerProduct, 0x6124);

    usb_dev_handle* h = vsplicer::usb_open(other->next);
    ASSERT_NE(h, nullptr);
    Write(h, HeaderRequest(1));
    EXPECT_EQ(AnnouncedLength(Read(h)), 77);  // the armed fault
    Write(h, HeaderRequest(1));
    EXPECT_EQ(AnnouncedLength(Read(h)), 0);  // history=0: no export file
    Write(h, HeaderRequest(4));
    EXPECT_EQ(AnnouncedLength(Read(h)), 42);
    Write(h, DataRequest(1, 0, 42));
    const Bytes id = Read(h);
    EXPECT_EQ(std::string(id.begin() + 9, id.begin() + 11), "Q7");
    vsplicer::usb_close(h);
}

TEST_F(Apply, EnvironmentIsReadAgainOnlyWhenItChanged) {
    setenv("TESSALY_VSPLICER", "splicer", 1);
    ConfigureFromEnvironment();
    const auto buses = Listed();
    ASSERT_EQ(buses.size(), 1u);
    usb_dev_handle* h = vsplicer::usb_open(buses[0]->devices);
    ASSERT_NE(h, nullptr);
    ConfigureFromEnvironment();  // unchanged: the handle survives
    EXPECT_EQ(Write(h, HeaderRequest(4)), 9);
    setenv("TESSALY_VSPLICER", "none", 1);
    ConfigureFromEnvironment();
    EXPECT_LT(Write(h, HeaderRequest(4)), 0);
    EXPECT_EQ(Listed()[0]->devices, nullptr);
    unsetenv("TESSALY_VSPLICER");
    ConfigureFromEnvironment();  // unset is the same as "none"
    EXPECT_EQ(Listed().size(), 1u);
    vsplicer::usb_close(h);
}

}  // namespace
}  // namespace vsplicer::testing
