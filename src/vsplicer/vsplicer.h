// The virtual splicer: an imitation of the fusion splicer and of the USB bus it sits on, behind
// the libusb 0.1 C API. Tests drive it in-process through this header; built as a drop-in
// libusb-0.1.so.4 (see usb_exports.cpp) it lets the real programs run with no hardware.
#pragma once

#include <usb.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace vsplicer {

// What the device says about itself in the 42-byte identity block.
struct Identity {
    uint8_t marker = 0xE8;
    uint8_t model = 0x1F;
    std::string serial = "AB1234";  // at most 24 bytes; exactly 24 leaves no NUL in the field
    uint32_t version = 210;
    std::array<uint8_t, 12> extra{};
    // Length L the device announces for the identity object; -1 means "the block's 42 bytes".
    int32_t declaredLength = -1;
};

// A fault armed on one reply or exchange. Replies are counted from 1, starting at the first
// reply the device produces after the fault was armed; exchanges likewise (one exchange = one
// request written to the device, zero-length and malformed ones included). A reply suppressed
// by NoReply still counts, and so does an acknowledgement re-queued by a zero-length write.
// Several faults may be armed on one reply; each fires once. `at` below 1 counts as 1.
struct Fault {
    enum class Kind {
        BadChecksum,  // last byte of the reply flipped
        ShortReply,   // reply cut to `length` bytes
        LongReply,    // `length` extra bytes appended after the checksum (never checksum-clean)
        NoReply,      // nothing delivered: the read times out at once (no real waiting)
        WrongEcho,    // echoed block number replaced by `value`; checksum kept valid
        BadLength,    // header reply announces L = `value`; checksum kept valid; other replies untouched
        Unplug,       // device leaves right after exchange `at` (handled; its reply is lost)
    };
    Kind kind;
    int at = 1;
    int length = 0;
    int32_t value = 0;
};

// One firmware file as the device received it through command 2.
struct ReceivedFirmware {
    uint8_t kind = 0;       // kind code from the start packet (0xAB..0xAF)
    uint32_t size = 0;      // size announced in the start packet
    std::vector<uint8_t> data;
    bool complete = false;  // all announced bytes arrived
};

class Splicer {
public:
    Splicer();
    ~Splicer();
    Splicer(const Splicer&) = delete;
    Splicer& operator=(const Splicer&) = delete;

    // --- what the device holds ---
    void SetIdentity(const Identity& id);
    Identity GetIdentity() const;
    // History export file: 8-byte header ("HIST", record count uint32 LE) followed by plausible
    // CSV records, exactly `bytes` long (below 8 bytes: a cut header; larger than 5 MiB is
    // allowed). 0 means "no export file": the header reply announces L = 0.
    void SetHistorySize(size_t bytes);
    void SetHistoryFile(std::vector<uint8_t> exportFile);  // used as given, header included
    std::vector<uint8_t> HistoryFile() const;
    // Splice images 1..500, all of this size; a missing image announces L = 0.
    void SetImageSize(uint16_t width, uint16_t height);
    void RemoveImage(uint32_t number);
    std::vector<uint8_t> ImageObject(uint32_t number) const;  // W, H, then B,G,R rows; empty when missing
    // Last model code written with command 1 (payload 05, index); -1 before any write.
    int ModelCode() const;
    std::vector<ReceivedFirmware> ReceivedFiles() const;

    // --- behaviour of the wire ---
    void Arm(const Fault& fault);
    void ClearFaults();
    void SetLatency(std::chrono::nanoseconds perExchange);  // exact: spins, never oversleeps
    // Every request the host wrote, as written (zero-length packets included as empty vectors).
    // Kept until ClearRequests: a very long run may want to clear it now and then.
    std::vector<std::vector<uint8_t>> Requests() const;
    void ClearRequests();

    // --- used by the virtual bus; not for tests ---
    struct Impl;
    Impl& impl() { return *m_impl; }

private:
    std::unique_ptr<Impl> m_impl;
};

// The virtual bus: buses in list order, each with devices in list order. Thread-safe: tests
// plug and unplug from one thread while the program under test polls from others.
class Bus {
public:
    static Bus& Instance();

    // Removes every bus and device; handles still open become dead (reads/writes fail).
    void Reset();
    // Adds a bus at the end of the bus list; returns its index.
    int AddBus();
    // Plugs a device onto a bus (at the end of its device list). The splicer is shared so that a
    // test can keep talking to it; a null splicer is a device that swallows writes and never
    // answers. Vendor/product default to the splicer's 0x03EB/0x6124. Plugs and unplugs show
    // in the bus lists at the next usb_find_devices; an unplug kills open handles at once.
    // Returns an id for Unplug, or -1 when there is no such bus.
    int Plug(int bus, std::shared_ptr<Splicer> splicer, uint16_t vendor = 0x03EB,
             uint16_t product = 0x6124, uint8_t configurationValue = 1);
    void Unplug(int deviceId);
    // Makes usb_set_configuration / usb_claim_interface fail for this device.
    void FailConfiguration(int deviceId, bool fail);
    void FailClaim(int deviceId, bool fail);

    // Counters for tests of the link's bookkeeping.
    int OpenHandles() const;     // handles opened and not closed
    int ClaimedInterfaces() const;
    int ReleaseCalls() const;
};

// What TESSALY_VSPLICER asks for (syntax in README.md).
struct Config {
    bool splicer = false;         // one splicer on bus `bus`
    int bus = 0;                  // buses 0..bus exist; the splicer sits on the last one
    bool otherDevice = false;     // vendor 0x03EB, product 0x6125, plugged before the splicer
    Identity identity;
    size_t historyBytes = 65536;
    uint16_t imageWidth = 320;
    uint16_t imageHeight = 240;
    std::chrono::nanoseconds latency{0};
    std::vector<Fault> faults;    // unplug_after=<k> arrives here as an Unplug fault
};

// Parses the variable's text. Each option it cannot use is skipped and described by one line
// in `problems`; the rest still counts.
Config ParseConfig(std::string_view text, std::vector<std::string>* problems);
// Resets the bus and builds what `config` describes.
void ApplyConfig(const Config& config);

// Reads the configuration of the drop-in library from the environment variable
// TESSALY_VSPLICER and sets up the bus accordingly (see README), printing one line to stderr
// per bad option. Called by the drop-in library's usb_init; calling it again with the
// variable unchanged does nothing, so handles and device records survive a second usb_init.
void ConfigureFromEnvironment();

// The libusb 0.1 functions the program uses, implemented on the virtual bus. The drop-in
// library exports them under their C names; tests call them through a function table.
void usb_init();
int usb_find_busses();
int usb_find_devices();
struct usb_bus* usb_get_busses();
usb_dev_handle* usb_open(struct usb_device* dev);
int usb_close(usb_dev_handle* dev);
int usb_set_configuration(usb_dev_handle* dev, int configuration);
int usb_claim_interface(usb_dev_handle* dev, int interface);
int usb_release_interface(usb_dev_handle* dev, int interface);
int usb_bulk_write(usb_dev_handle* dev, int ep, const char* bytes, int size, int timeout);
int usb_bulk_read(usb_dev_handle* dev, int ep, char* bytes, int size, int timeout);
// Helpers for the drop-in's extras: the device record behind a handle (null for null), and
// the text of the last error this thread met.
struct usb_device* DeviceOfHandle(usb_dev_handle* dev);
const char* LastErrorText();

}  // namespace vsplicer
