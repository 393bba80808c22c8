// Three users of one link at once, as in the program: a monitor that identifies and closes and
// reopens the link, and a window thread downloading the history. Exchanges must never
// interleave (the data would come out scrambled) and a closed handle must never be used
// (ASan sees a freed handle; TSan sees the race).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "device_identity.h"
#include "read_transfer.h"
#include "virtual_usb.h"

namespace tessaly {
namespace {

using testing::AttachedSplicer;

TEST(LinkConcurrency, TransfersSurviveCloseAndReopenFromAnotherThread) {
    AttachedSplicer s;
    s.splicer->SetHistorySize(40 * 1024);
    const std::vector<uint8_t> expected = s.splicer->HistoryFile();

    std::atomic<bool> stop{false};
    std::atomic<int> reopenCycles{0};
    std::atomic<int> identified{0};
    std::thread monitor([&] {
        DeviceIdentity identity;
        while (!stop.load()) {
            if (QueryDeviceInfo(s.link, identity) && identity.Identified()) identified.fetch_add(1);
            s.link.CloseDevice();
            s.link.OpenDevice(s.link.FindDevice());
            reopenCycles.fetch_add(1);
            std::this_thread::yield();
        }
    });

    int complete = 0, failed = 0;
    std::vector<uint8_t> buffer(expected.size());
    // Until both sides have had their turns many times; bounded so a fault cannot hang the test.
    for (int i = 0; (reopenCycles.load() < 50 || complete < 20) && i < 200000; ++i) {
        std::fill(buffer.begin(), buffer.end(), 0);
        const TransferResult r = RunReadTransfer(s.link, kHistoryRead, 0, buffer);
        if (r.status == TransferStatus::Ok) {
            ++complete;
            ASSERT_EQ(r.received, expected.size());
            ASSERT_TRUE(std::equal(buffer.begin(), buffer.end(), expected.begin())) << "run " << i;
        } else {
            ++failed;
        }
    }
    stop.store(true);
    monitor.join();

    EXPECT_GT(reopenCycles.load(), 0);
    EXPECT_GT(identified.load(), 0);
    EXPECT_GT(complete, 0);
    // Whatever the interleaving, the link ends with exactly its own handle open.
    EXPECT_EQ(vsplicer::Bus::Instance().OpenHandles(), s.link.IsOpen() ? 1 : 0);
    RecordProperty("complete", complete);
    RecordProperty("failed", failed);
}

}  // namespace
}  // namespace tessaly
