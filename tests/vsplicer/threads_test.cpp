// Concurrency: transfers on one thread while another plugs, unplugs and refreshes the lists.
// Runs under TSan too.
#include <atomic>
#include <cerrno>
#include <thread>

#include "wire.h"

namespace vsplicer::testing {
namespace {

struct ReaderResult {
    int good = 0;
    int corrupt = 0;
    int unexpected = 0;  // failures before the unplug was asked for
    bool sawDead = false;
};

// Identity exchanges until the device is gone; every reply that arrives must be whole.
void Reader(usb_dev_handle* h, const Bytes& expected, const std::atomic<bool>& unplugging,
            std::atomic<int>& progress, ReaderResult& r) {
    for (;;) {
        const int w = Write(h, DataRequest(1, 0, 42));
        int code = 0;
        const Bytes reply = w < 0 ? Bytes{} : Read(h, 1024, &code);
        if (w == -ENODEV || code == -ENODEV) {
            r.sawDead = true;
            return;
        }
        if (w < 0 || code < 0) {
            // A reply lost to the unplug racing the read is fine; anything earlier is not.
            if (!unplugging) ++r.unexpected;
            continue;
        }
        if (reply == expected) {
            ++r.good;
        } else {
            ++r.corrupt;
        }
        progress.fetch_add(1, std::memory_order_relaxed);
    }
}

TEST(Threads, TransfersWhilePluggingAndUnplugging) {
    Bus& bus = Bus::Instance();
    bus.Reset();
    bus.AddBus();
    bus.AddBus();
    // A steady splicer on bus 1 that must never notice the churn on bus 0.
    auto steady = std::make_shared<Splicer>();
    bus.Plug(1, steady);
    vsplicer::usb_find_busses();
    vsplicer::usb_find_devices();
    usb_dev_handle* steadyHandle = vsplicer::usb_open(vsplicer::usb_get_busses()->next->devices);
    ASSERT_NE(steadyHandle, nullptr);
    Write(steadyHandle, HeaderRequest(4));
    Read(steadyHandle);
    Write(steadyHandle, DataRequest(1, 0, 42));
    const Bytes expected = Read(steadyHandle);
    ASSERT_EQ(expected.size(), 50u);

    std::atomic<bool> stop{false};
    std::atomic<int> steadyProgress{0};
    ReaderResult steadyResult;
    std::thread steadyThread([&] {
        while (!stop) {
            const int w = Write(steadyHandle, DataRequest(1, 0, 42));
            int code = 0;
            const Bytes reply = Read(steadyHandle, 1024, &code);
            if (w < 0 || code < 0 || reply != expected) ++steadyResult.corrupt;
            else ++steadyResult.good;
            steadyProgress.fetch_add(1, std::memory_order_relaxed);
        }
    });

    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        auto splicer = std::make_shared<Splicer>();
        splicer->SetLatency(std::chrono::microseconds(round % 2 ? 20 : 0));  // also unplug mid-wait
        const int id = bus.Plug(0, splicer);
        vsplicer::usb_find_devices();
        usb_dev_handle* h = vsplicer::usb_open(vsplicer::usb_get_busses()->devices);
        ASSERT_NE(h, nullptr);
        Write(h, HeaderRequest(4));
        ASSERT_EQ(Read(h).size(), 12u);

        std::atomic<bool> unplugging{false};
        std::atomic<int> progress{0};
        ReaderResult r;
        std::thread reader(Reader, h, std::cref(expected), std::cref(unplugging), std::ref(progress),
                           std::ref(r));
        while (progress.load() < 10) std::this_thread::yield();
        unplugging = true;
        bus.Unplug(id);
        EXPECT_EQ(vsplicer::usb_find_devices(), 1);
        reader.join();
        EXPECT_TRUE(r.sawDead);
        EXPECT_EQ(r.corrupt, 0);
        EXPECT_EQ(r.unexpected, 0);
        EXPECT_GE(r.good, 10);
        EXPECT_EQ(vsplicer::usb_close(h), 0);
    }
    while (steadyProgress.load() < 50) std::this_thread::yield();
    stop = true;
    steadyThread.join();
    EXPECT_EQ(steadyResult.corrupt, 0);
    EXPECT_GT(steadyResult.good, 0);
    EXPECT_EQ(bus.OpenHandles(), 1);
    vsplicer::usb_close(steadyHandle);
    bus.Reset();
}

}  // namespace
}  // namespace vsplicer::testing
