// Which port is which, on Linux: what sysfs knows of the hardware behind a tty, and the udev
// names under /dev/serial that stay with an adapter when it comes back as another ttyUSB. Pure
// file-system readers that take their roots as parameters, so the tests run them on fake trees.
// Internal to platform/posix and its tests.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vrk::platform::posix {

// A USB device's identity, from its descriptors as sysfs shows them.
struct UsbDetails {
    std::string manufacturer;  // each empty when the device does not say
    std::string product;
    std::string serial;
    std::string vendor_id;  // four hex digits, as sysfs writes them
    std::string product_id;
};

// The USB device that a tty belongs to (`tty_name` such as "ttyUSB0", `sysfs` normally "/sys"),
// or nullopt when there is none above it: a built-in or platform UART, a tty without hardware.
[[nodiscard]] std::optional<UsbDetails> read_usb_details(const std::filesystem::path& sysfs,
                                                         std::string_view tty_name);

// "FTDI FT232R USB UART A600ABCD (0403:6001)": the strings the device gives, then its ids.
[[nodiscard]] std::string describe_usb(const UsbDetails& details);

// The name by which the port `device` (a path in `dev`, normally "/dev") is found again: the
// /dev/serial/by-id link that points to it when that name carries the adapter's serial number
// `serial` (adapters without one share a by-id name, so a second identical adapter would take
// it), else its /dev/serial/by-path link (the same USB socket), else the device itself.
[[nodiscard]] std::string stable_port_name(const std::filesystem::path& dev,
                                           const std::string& device, std::string_view serial);

}  // namespace vrk::platform::posix
