#include "info_command.h"

#include <CLI/CLI.hpp>

#include <ostream>

#include "device_identity.h"
#include "lib_usb.h"

namespace tessaly::cli {

InfoCommand::InfoCommand(CLI::App& app)
    : m_command(app.add_subcommand(
          "info",
          "Find the splicer, identify it and print the status line "
          "(exit 0 connected, 2 not found, 3 could not be opened, 4 not identified, "
          "5 USB library missing)")) {}

bool InfoCommand::Selected() const { return m_command->parsed(); }

int InfoCommand::Execute(const UsbApi& usb, std::ostream& out, std::ostream& err) const {
    CLibUSB link(usb);
    link.Init();
    struct usb_device* dev = link.FindDevice();
    if (dev == nullptr) {
        out << kNotConnectedText << '\n';
        return kInfoNotFound;
    }
    if (link.OpenDevice(dev) == nullptr) {
        out << kNotConnectedText << '\n';
        err << "tessaly-cli: a splicer is attached but could not be opened (is it in use?)\n";
        return kInfoOpenFailed;
    }
    DeviceIdentity identity;
    if (!IdentifySplicer(link, identity)) {
        out << kNotConnectedText << '\n';
        err << "tessaly-cli: a splicer is attached but did not identify itself\n";
        return kInfoNotIdentified;
    }
    out << ConnectedStatusText(identity) << '\n';
    return kInfoConnected;
}

}  // namespace tessaly::cli
