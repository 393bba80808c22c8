// Extraction speed of a 32 MiB firmware package, side by side with Info-ZIP unzip and bsdtar on
// the same archive in one run; prints our time as a ratio of theirs (below 1.0: we are faster).
// The reader checks every entry's crc-32 as it writes, as it always does.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "lib_zip.h"
#include "zip_builder.h"

namespace {

namespace fs = std::filesystem;

fs::path g_dir;      // scratch folder holding the package and one output folder per extractor
fs::path g_package;

// Bytes shaped like a firmware image: instruction words from a small set of opcodes and
// registers, string tables, lookup tables, erased-flash padding and compressed assets.
std::string FirmwareLikeBytes(size_t size) {
    std::string out;
    out.reserve(size);
    uint64_t state = 0x9E3779B97F4A7C15u;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    static const char* const kWords[] = {"error", "flash", "block", "write", "done ", "fiber",
                                         "splice", "arc  ", "motor", "init ", "fail ", "ok   "};
    while (out.size() < size) {
        const uint64_t kind = next() % 16;
        const size_t length = 256 + next() % 4096;
        if (kind < 9) {  // code: opcode, registers, small immediates
            for (size_t i = 0; i < length; i += 4) {
                const uint64_t r = next();
                const uint32_t word = (0xE0000000u | ((r & 0x0F) << 20)) | ((r >> 4 & 0x0F) << 16) |
                                      ((r >> 8 & 0x0F) << 12) | (r >> 12 & 0xFF);
                out.append(reinterpret_cast<const char*>(&word), 4);
            }
        } else if (kind < 11) {  // strings
            for (const size_t end = out.size() + length; out.size() < end;) {
                out += kWords[next() % 12];
                out += (next() % 4 == 0) ? '\0' : ' ';
            }
        } else if (kind < 12) {  // tables
            const uint32_t step = static_cast<uint32_t>(next() % 64);
            for (uint32_t i = 0; i < length / 4; ++i) {
                const uint32_t v = i * step;
                out.append(reinterpret_cast<const char*>(&v), 4);
            }
        } else if (kind < 13) {  // erased flash
            out.append(length, '\xFF');
        } else {  // compressed assets
            for (size_t i = 0; i < length; i += 8) {
                const uint64_t r = next();
                out.append(reinterpret_cast<const char*>(&r), 8);
            }
        }
    }
    out.resize(size);
    return out;
}

void MakePackage() {
    char pattern[] = "/tmp/tessaly-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    g_dir = pattern;
    g_package = g_dir / "package.zip";
    tessaly::test::ZipArchive archive;
    archive.members.push_back(tessaly::test::Deflated("R8V1", FirmwareLikeBytes(32u << 20)));
    tessaly::test::ZipMember image = tessaly::test::Stored("R8V2", FirmwareLikeBytes(9u << 20));
    archive.members.push_back(image);
    const std::string bytes = archive.Build();
    std::ofstream(g_package, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::printf("package: %s, %.1f MiB\n", g_package.c_str(), double(bytes.size()) / (1 << 20));
}

fs::path OutputFolder(const char* name) {
    const fs::path dir = g_dir / name;
    fs::create_directories(dir);
    return dir;
}

void BM_Tessaly(benchmark::State& state) {
    const std::string out = OutputFolder("tessaly").string();
    const std::string packageName = g_package.string();
    const std::u16string outPath(out.begin(), out.end());
    const std::u16string package(packageName.begin(), packageName.end());
    for (auto _ : state) {
        tessaly::CLibZip zip;
        if (zip.Open(package) != tessaly::kZipOk) {
            state.SkipWithError("open failed");
            break;
        }
        tessaly::ZipEntryInfo info;
        zip.GetEntry(-1, &info);
        for (int i = 0, n = info.index; i < n; ++i) {
            if (zip.GetEntry(i, &info) != tessaly::kZipOk ||
                zip.ExtractEntry(i, outPath + u"/" + info.name) != tessaly::kZipOk) {
                state.SkipWithError("extraction failed");
            }
        }
        zip.Close();
    }
}

void RunTool(benchmark::State& state, const std::string& command) {
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError(("failed: " + command).c_str());
            break;
        }
    }
}

void BM_Unzip(benchmark::State& state) {
    RunTool(state, "unzip -o -q " + g_package.string() + " -d " + OutputFolder("unzip").string());
}

void BM_Bsdtar(benchmark::State& state) {
    RunTool(state, "bsdtar -xf " + g_package.string() + " -C " + OutputFolder("bsdtar").string());
}

// Collects the median wall time of each benchmark while printing as usual.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.aggregate_name == "median" && !run.error_occurred) {
                m_median[run.run_name.function_name] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void PrintRatios() const {
        const auto ours = m_median.find("BM_Tessaly");
        if (ours == m_median.end()) return;
        for (const char* other : {"BM_Unzip", "BM_Bsdtar"}) {
            const auto it = m_median.find(other);
            if (it == m_median.end()) continue;
            std::printf("ratio tessaly / %s: %.3f (%.1f ms vs %.1f ms, medians)\n", other + 3,
                        ours->second / it->second, ours->second, it->second);
        }
    }

private:
    std::map<std::string, double> m_median;
};

}  // namespace

BENCHMARK(BM_Tessaly)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(7);
BENCHMARK(BM_Unzip)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(7);
BENCHMARK(BM_Bsdtar)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(7);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    MakePackage();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    std::error_code ec;
    fs::remove_all(g_dir, ec);
    benchmark::Shutdown();
    return 0;
}
