#include "platform/posix/port_names.h"

namespace vrk::platform::posix {
namespace {

struct NamePattern {
    std::string_view prefix;
    PortNameKind kind;
};

// Longer prefixes that share a start with a shorter one (ttyS / ttySAC) are told apart by the
// rule that only digits may follow the prefix.
constexpr NamePattern PORT_NAMES[] = {
    {"ttyS", PortNameKind::serial_if_uart},  // 8250/16550 UARTs of PCs
    {"ttyUSB", PortNameKind::serial},        // USB serial adapters (FTDI, CP210x, PL2303, ...)
    {"ttyACM", PortNameKind::serial},        // USB CDC-ACM devices
    {"ttyAMA", PortNameKind::serial},        // ARM PrimeCell UARTs (Raspberry Pi)
    {"ttyXRUSB", PortNameKind::serial},      // Exar USB UARTs with the vendor's driver
    {"rfcomm", PortNameKind::serial},        // Bluetooth serial links
};

bool all_digits(std::string_view text) {
    if (text.empty()) return false;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

}  // namespace

PortNameKind classify_port_name(std::string_view name) {
    for (const auto& pattern : PORT_NAMES) {
        if (name.starts_with(pattern.prefix) && all_digits(name.substr(pattern.prefix.size()))) {
            return pattern.kind;
        }
    }
    return PortNameKind::not_serial;
}

}  // namespace vrk::platform::posix
