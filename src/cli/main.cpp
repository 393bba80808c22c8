// tessaly-cli: the command-line companion. main only parses and dispatches; each verb lives in
// its own module with its usage text.
#include <CLI/CLI.hpp>

#include <iostream>
#include <string>

#include "info_command.h"
#include "usb_api.h"

namespace {

// Shown by the window too when the USB library is missing.
constexpr const char* kNoUsbLibraryText = "Connect the Fusion Splicer first!";

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Tessaly command-line companion: talks to a fusion splicer over USB."};
    app.require_subcommand(1);
    tessaly::cli::InfoCommand info(app);
    CLI11_PARSE(app, argc, argv);

    std::string why;
    const tessaly::UsbApi* usb = tessaly::LoadUsbLibrary(&why);
    if (usb == nullptr) {
        std::cerr << kNoUsbLibraryText << '\n' << "tessaly-cli: " << why << '\n';
        return tessaly::cli::kInfoNoUsbLibrary;
    }
    if (info.Selected()) return info.Execute(*usb, std::cout, std::cerr);
    return 1;
}
