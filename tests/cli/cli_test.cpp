// tessaly-cli as a user runs it: the real program, the USB library taken by soname from
// LD_LIBRARY_PATH, the virtual splicer's drop-in library standing in for hardware.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

struct Outcome {
    int exitCode;
    std::string out;
};

// Runs the command with stderr folded into stdout.
Outcome Shell(const std::string& command) {
    Outcome r{-1, {}};
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return r;
    std::array<char, 4096> chunk;
    size_t n;
    while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) r.out.append(chunk.data(), n);
    const int status = pclose(pipe);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

Outcome Info(const std::string& libraryDir, const std::string& splicer) {
    return Shell("LD_LIBRARY_PATH='" + libraryDir + "' TESSALY_VSPLICER='" + splicer + "' '" +
                 TESSALY_CLI + "' info");
}

struct InfoCase {
    const char* splicer;
    int exitCode;
    const char* firstLine;
};

TEST(CliInfo, StatusLineAndExitCode) {
    const InfoCase cases[] = {
        {"splicer", 0, "Connected.    SN: AB1234  |  Model: 0x1f  |  Version: 2.1.0"},
        {"splicer,serial=ZX-0042,model=0x0a,version=205", 0,
         "Connected.    SN: ZX-0042  |  Model: 0x0a  |  Version: 2.0.5"},
        {"none", 2, "Not connected."},
        {"splicer,marker=0", 4, "Not connected."},
        // The first identity query fails on its data reply's checksum; the second try succeeds.
        {"splicer,fault=badsum@2", 0, "Connected.    SN: AB1234  |  Model: 0x1f  |  Version: 2.1.0"},
        // Both queries fail.
        {"splicer,fault=badsum@2,fault=badsum@4", 4, "Not connected."},
    };
    for (const InfoCase& c : cases) {
        const Outcome r = Info(TESSALY_VSPLICER_LIB, c.splicer);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.splicer << "\n" << r.out;
        EXPECT_EQ(r.out.substr(0, r.out.find('\n')), c.firstLine) << c.splicer;
    }
}

TEST(CliInfo, MissingUsbLibraryIsToldPlainly) {
    // A file of the right name that is no library: loading it fails like a missing one would.
    const auto dir = std::filesystem::temp_directory_path() / "tessaly-cli-test-nolib";
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "libusb-0.1.so.4") << "not a library";
    // The system library must not be found either: point the loader at the broken file only.
    const Outcome r = Shell("LD_LIBRARY_PATH='" + dir.string() + "' '" + TESSALY_CLI + "' info");
    std::filesystem::remove_all(dir);
    if (r.out.find("Connected") != std::string::npos || r.out.find("Not connected") != std::string::npos) {
        GTEST_SKIP() << "the loader found another libusb-0.1.so.4 first";
    }
    EXPECT_EQ(r.exitCode, 5);
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "Connect the Fusion Splicer first!");
}

TEST(CliInfo, UsageErrors) {
    EXPECT_NE(Shell(std::string("'") + TESSALY_CLI + "'").exitCode, 0);
    EXPECT_NE(Shell(std::string("'") + TESSALY_CLI + "' bogus").exitCode, 0);
    const Outcome help = Shell(std::string("'") + TESSALY_CLI + "' --help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("info"), std::string::npos);
}

}  // namespace
