// `tessaly-cli info`: which splicer is attached.
#pragma once

#include <iosfwd>

#include "usb_api.h"

namespace CLI {
class App;
}

namespace tessaly::cli {

// Exit codes of `info`, distinct so that scripts can tell the cases apart.
enum InfoExit {
    kInfoConnected = 0,
    kInfoNotFound = 2,
    kInfoOpenFailed = 3,
    kInfoNotIdentified = 4,
    kInfoNoUsbLibrary = 5,
};

class InfoCommand {
public:
    explicit InfoCommand(CLI::App& app);
    bool Selected() const;
    // Runs the connection monitor's first poll once: find, open, identify (two tries), and
    // prints the status line as the window would show it.
    int Execute(const UsbApi& usb, std::ostream& out, std::ostream& err) const;

private:
    CLI::App* m_command;
};

}  // namespace tessaly::cli
