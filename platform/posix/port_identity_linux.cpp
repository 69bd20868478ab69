// sysfs and the udev links are Linux's; another system needs its own file in place of this one.
//
// /sys/class/tty/NAME/device leads to the tty's hardware: for a USB serial adapter its port or
// interface, whose ancestor with an idVendor attribute is the USB device itself (the root hub
// above it has one too, but the device comes first on the way up). A UART on the board has no
// USB ancestor at all.
#include <algorithm>
#include <fstream>
#include <system_error>
#include <vector>

#include "platform/posix/port_identity.h"

namespace vrk::platform::posix {
namespace {

namespace fs = std::filesystem;

// The first line of a sysfs attribute, without the line end; empty when there is none.
std::string attribute(const fs::path& dir, const char* name) {
    std::ifstream file(dir / name);
    std::string text;
    if (!file || !std::getline(file, text)) return {};
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

bool same_file(const fs::path& link, const fs::path& device) {
    std::error_code error;
    return fs::equivalent(link, device, error) && !error;
}

// The links in `dir` that lead to `device`, sorted so the choice does not depend on the order of
// the directory (udev may make two by-path names for one port).
std::vector<std::string> links_to(const fs::path& dir, const fs::path& device) {
    std::vector<std::string> names;
    std::error_code error;
    fs::directory_iterator entry(dir, error);
    for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
        if (same_file(entry->path(), device)) names.push_back(entry->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

std::optional<UsbDetails> read_usb_details(const fs::path& sysfs, std::string_view tty_name) {
    std::error_code error;
    const fs::path root = fs::canonical(sysfs, error);
    if (error) return std::nullopt;
    fs::path at = fs::canonical(sysfs / "class" / "tty" / tty_name / "device", error);
    if (error) return std::nullopt;
    // Up from the tty's hardware, no further than sysfs itself.
    const std::string inside = root.string() + "/";
    for (; at.string().starts_with(inside); at = at.parent_path()) {
        if (fs::exists(at / "idVendor", error))
            return UsbDetails{attribute(at, "manufacturer"), attribute(at, "product"),
                              attribute(at, "serial"), attribute(at, "idVendor"),
                              attribute(at, "idProduct")};
    }
    return std::nullopt;
}

std::string describe_usb(const UsbDetails& details) {
    std::string text;
    for (const std::string* part : {&details.manufacturer, &details.product, &details.serial}) {
        if (part->empty()) continue;
        text += *part;
        text += ' ';
    }
    return text + "(" + details.vendor_id + ":" + details.product_id + ")";
}

std::string stable_port_name(const fs::path& dev, const std::string& device,
                             std::string_view serial) {
    const fs::path serial_dir = dev / "serial";
    if (!serial.empty()) {
        for (const std::string& name : links_to(serial_dir / "by-id", device)) {
            if (name.find(serial) != std::string::npos)
                return (serial_dir / "by-id" / name).string();
        }
    }
    const auto by_path = links_to(serial_dir / "by-path", device);
    if (!by_path.empty()) return (serial_dir / "by-path" / by_path.front()).string();
    return device;
}

}  // namespace vrk::platform::posix
