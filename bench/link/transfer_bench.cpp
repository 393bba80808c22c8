// Host cost of the read transfer against the in-process virtual splicer.
//  1. At zero latency: the time of each data exchange (request framing, lock, write, the virtual
//     device's answer, read, checksum, copy), median over a 5 MiB history transfer. It includes
//     the virtual device's own work, so it is an upper bound on what the host adds.
//  2. At 125 us per exchange (a high-speed stop-and-wait round trip): elapsed time over
//     exchanges x latency. 1.00 would mean the host adds nothing to what the wire costs.
// Usage: link_transfer_bench [runs]   (default 5; the best ratio and the median cost are shown)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "read_transfer.h"
#include "virtual_usb.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kHistoryBytes = 5 * 1024 * 1024;

struct Stamps : tessaly::TransferObserver {
    std::vector<Clock::time_point> at;
    void DataAccepted(uint32_t, int32_t) override { at.push_back(Clock::now()); }
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    tessaly::testing::AttachedSplicer s;
    s.splicer->SetHistorySize(kHistoryBytes);
    std::vector<uint8_t> buffer(kHistoryBytes);

    std::vector<double> exchangeMicros;
    for (int run = 0; run < runs; ++run) {
        Stamps stamps;
        stamps.at.reserve(kHistoryBytes / 504 + 2);
        stamps.at.push_back(Clock::now());
        const auto r = tessaly::RunReadTransfer(s.link, tessaly::kHistoryRead, 0, buffer, &stamps);
        if (r.status != tessaly::TransferStatus::Ok) {
            std::fprintf(stderr, "transfer failed\n");
            return 1;
        }
        // The first gap also holds the header exchange: leave it out.
        for (size_t i = 2; i < stamps.at.size(); ++i) {
            exchangeMicros.push_back(std::chrono::duration<double, std::micro>(stamps.at[i] - stamps.at[i - 1]).count());
        }
    }

    const auto latency = std::chrono::microseconds(125);
    s.splicer->SetLatency(latency);
    const size_t exchanges = 1 + (kHistoryBytes + 503) / 504;
    double bestRatio = 1e9, worstRatio = 0;
    std::vector<double> latencyExchangeMicros;
    for (int run = 0; run < runs; ++run) {
        s.splicer->ClearRequests();
        Stamps stamps;
        stamps.at.reserve(exchanges + 1);
        const auto start = Clock::now();
        stamps.at.push_back(start);
        const auto r = tessaly::RunReadTransfer(s.link, tessaly::kHistoryRead, 0, buffer, &stamps);
        const auto elapsed = Clock::now() - start;
        if (r.status != tessaly::TransferStatus::Ok || s.splicer->Requests().size() != exchanges) {
            std::fprintf(stderr, "latency transfer failed\n");
            return 1;
        }
        const double ratio = std::chrono::duration<double>(elapsed).count() /
                             (static_cast<double>(exchanges) * std::chrono::duration<double>(latency).count());
        for (size_t i = 2; i < stamps.at.size(); ++i) {
            latencyExchangeMicros.push_back(
                std::chrono::duration<double, std::micro>(stamps.at[i] - stamps.at[i - 1]).count());
        }
        bestRatio = std::min(bestRatio, ratio);
        worstRatio = std::max(worstRatio, ratio);
    }

    std::printf("5 MiB history transfer, %zu exchanges, %d runs\n", exchanges, runs);
    std::printf("zero latency: median %.2f us per data exchange\n", Median(exchangeMicros));
    std::printf("125 us latency: elapsed / (exchanges x latency) = %.4f best, %.4f worst\n", bestRatio, worstRatio);
    std::printf("125 us latency: median data exchange %.2f us (ratio %.4f)\n", Median(latencyExchangeMicros),
                Median(latencyExchangeMicros) / 125.0);
    return 0;
}
