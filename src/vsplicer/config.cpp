// TESSALY_VSPLICER: the small option language that sets up the drop-in library's bus.
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "vsplicer.h"

namespace vsplicer {
namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// Whole-text integer in [lo, hi]; decimal, or hexadecimal with 0x.
std::optional<int64_t> Number(std::string_view s, int64_t lo, int64_t hi) {
    int base = 10;
    bool negative = false;
    if (!s.empty() && s.front() == '-') {
        negative = true;
        s.remove_prefix(1);
    }
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    uint64_t v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
    if (s.empty() || ec != std::errc{} || end != s.data() + s.size() || v > INT64_MAX)
        return std::nullopt;
    const int64_t r = negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
    if (r < lo || r > hi) return std::nullopt;
    return r;
}

struct KindName {
    const char* name;
    Fault::Kind kind;
    int defaultArg;  // `length` or `value` when ":<arg>" is left out
};
constexpr KindName kKinds[] = {
    {"badsum", Fault::Kind::BadChecksum, 0}, {"short", Fault::Kind::ShortReply, 4},
    {"long", Fault::Kind::LongReply, 1},     {"noreply", Fault::Kind::NoReply, 0},
    {"echo", Fault::Kind::WrongEcho, 99},    {"badlen", Fault::Kind::BadLength, -1},
    {"unplug", Fault::Kind::Unplug, 0},
};

// <kind>@<k>[-<last>][:<arg>]; a range arms the same fault on each of k..last.
bool ParseFault(std::string_view text, std::vector<Fault>& out) {
    const size_t at = text.find('@');
    if (at == std::string_view::npos) return false;
    const std::string_view name = text.substr(0, at);
    std::string_view rest = text.substr(at + 1);
    std::optional<int64_t> arg;
    if (const size_t colon = rest.find(':'); colon != std::string_view::npos) {
        arg = Number(rest.substr(colon + 1), INT32_MIN, INT32_MAX);
        if (!arg) return false;
        rest = rest.substr(0, colon);
    }
    std::optional<int64_t> first, last;
    if (const size_t dash = rest.find('-'); dash != std::string_view::npos) {
        first = Number(rest.substr(0, dash), 1, 1000000);
        last = Number(rest.substr(dash + 1), 1, 1000000);
    } else {
        first = last = Number(rest, 1, 1000000);
    }
    if (!first || !last || *last < *first || *last - *first > 10000) return false;
    for (const KindName& k : kKinds) {
        if (name != k.name) continue;
        const int a = static_cast<int>(arg.value_or(k.defaultArg));
        for (int64_t i = *first; i <= *last; ++i) {
            Fault f{k.kind, static_cast<int>(i), 0, 0};
            if (k.kind == Fault::Kind::ShortReply || k.kind == Fault::Kind::LongReply) {
                if (a < 0) return false;
                f.length = a;
            } else {
                f.value = a;
            }
            out.push_back(f);
        }
        return true;
    }
    return false;
}

}  // namespace

Config ParseConfig(std::string_view text, std::vector<std::string>* problems) {
    Config c;
    const std::string_view whole = text;
    bool splicerOptions = false;
    auto problem = [&](std::string_view option, const char* why) {
        if (problems) problems->push_back(std::string(why) + " '" + std::string(option) + "'");
    };
    while (!text.empty()) {
        const size_t comma = text.find(',');
        const std::string_view option = Trim(text.substr(0, comma));
        text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
        if (option.empty()) continue;
        if (option == "none") {
            c.splicer = false;
            continue;
        }
        if (option == "splicer") {
            c.splicer = true;
            continue;
        }
        if (option == "other_device") {
            c.otherDevice = true;
            continue;
        }
        const size_t eq = option.find('=');
        if (eq == std::string_view::npos) {
            problem(option, "unknown option, ignored:");
            continue;
        }
        const std::string_view key = Trim(option.substr(0, eq));
        const std::string_view value = Trim(option.substr(eq + 1));
        bool ok = true;
        if (key == "serial") {
            ok = value.size() <= 24;
            if (ok) c.identity.serial = std::string(value);
        } else if (key == "model") {
            const auto v = Number(value, 0, 255);
            if ((ok = v.has_value())) c.identity.model = static_cast<uint8_t>(*v);
        } else if (key == "marker") {
            const auto v = Number(value, 0, 255);
            if ((ok = v.has_value())) c.identity.marker = static_cast<uint8_t>(*v);
        } else if (key == "version") {
            const auto v = Number(value, 0, UINT32_MAX);
            if ((ok = v.has_value())) c.identity.version = static_cast<uint32_t>(*v);
        } else if (key == "history") {
            const auto v = Number(value, 0, 1LL << 31);
            if ((ok = v.has_value())) c.historyBytes = static_cast<size_t>(*v);
        } else if (key == "image") {
            const size_t x = value.find_first_of("xX");
            const auto w = Number(value.substr(0, x), 0, 65535);
            const auto h = x == std::string_view::npos ? std::nullopt
                                                       : Number(value.substr(x + 1), 0, 65535);
            if ((ok = w && h)) {
                c.imageWidth = static_cast<uint16_t>(*w);
                c.imageHeight = static_cast<uint16_t>(*h);
            }
        } else if (key == "latency_us") {
            const auto v = Number(value, 0, 10000000);
            if ((ok = v.has_value())) c.latency = std::chrono::microseconds(*v);
        } else if (key == "fault") {
            ok = ParseFault(value, c.faults);
        } else if (key == "unplug_after") {
            const auto v = Number(value, 1, 1000000);
            if ((ok = v.has_value()))
                c.faults.push_back({Fault::Kind::Unplug, static_cast<int>(*v), 0, 0});
        } else if (key == "bus") {
            const auto v = Number(value, 0, 15);
            if ((ok = v.has_value())) c.bus = static_cast<int>(*v);
        } else {
            problem(option, "unknown option, ignored:");
            continue;
        }
        if (!ok) {
            problem(option, "bad value, option ignored:");
            continue;
        }
        if (key != "bus") splicerOptions = true;
    }
    if (splicerOptions && !c.splicer)
        problem(whole, "splicer options given without 'splicer', no splicer on the bus:");
    return c;
}

void ApplyConfig(const Config& config) {
    Bus& bus = Bus::Instance();
    bus.Reset();
    for (int i = 0; i <= config.bus; ++i) bus.AddBus();
    if (config.otherDevice) bus.Plug(config.bus, nullptr, 0x03EB, 0x6125);
    if (!config.splicer) return;
    auto splicer = std::make_shared<Splicer>();
    splicer->SetIdentity(config.identity);
    splicer->SetHistorySize(config.historyBytes);
    splicer->SetImageSize(config.imageWidth, config.imageHeight);
    splicer->SetLatency(config.latency);
    for (const Fault& f : config.faults) splicer->Arm(f);
    bus.Plug(config.bus, std::move(splicer));
}

void ConfigureFromEnvironment() {
    static std::mutex mutex;
    static std::optional<std::string> applied;
    const char* env = std::getenv("TESSALY_VSPLICER");
    const std::string text = env ? env : "none";
    std::lock_guard lock(mutex);
    if (applied == text) return;
    std::vector<std::string> problems;
    const Config config = ParseConfig(text, &problems);
    for (const std::string& p : problems) std::fprintf(stderr, "TESSALY_VSPLICER: %s\n", p.c_str());
    ApplyConfig(config);
    applied = text;
}

}  // namespace vsplicer
