// Which serial devices this machine has: Linux only, through /dev, sysfs and the serial
// driver's TIOCGSERIAL. Another POSIX system needs its own file in place of this one.
//
// A PC kernel creates ttyS0 to ttyS3 (often up to ttyS31) whether or not there is a UART at
// those addresses, and opening a missing one fails only later, with EIO. Those nodes are offered
// only when the serial driver found a chip; every other kind of node exists only while its
// device does.
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>

#include "platform/posix/port_identity.h"
#include "platform/posix/port_names.h"
#include "platform/posix/posix_platform.h"
#include "platform/posix/unique_fd.h"

namespace vrk::platform {
namespace {

namespace fs = std::filesystem;

// The UART type the serial driver found, from sysfs (readable by everyone, no open needed).
std::optional<int> uart_type_from_sysfs(const std::string& name) {
    std::ifstream file("/sys/class/tty/" + name + "/type");
    std::string text;
    if (!file || !std::getline(file, text)) return std::nullopt;
    int type = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), type);
    if (error != std::errc{} || end == text.data()) return std::nullopt;
    return type;
}

// The same from the driver itself, for kernels without the sysfs attribute. Non-blocking, so a
// port without carrier does not hold us; like any open it may pulse DTR on an idle port.
std::optional<int> uart_type_from_driver(const std::string& path) {
    const posix::UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) return std::nullopt;
    serial_struct info{};
    const bool known = ::ioctl(fd.get(), TIOCGSERIAL, &info) == 0;
    if (!known) return std::nullopt;
    return info.type;
}

bool has_uart(const std::string& name, const std::string& path) {
    auto type = uart_type_from_sysfs(name);
    if (!type) type = uart_type_from_driver(path);
    if (type) return *type != PORT_UNKNOWN;
    // Neither could tell (no sysfs attribute and no permission to open): offer the port when a
    // device stands behind it, so that opening it can explain the permission problem.
    std::error_code error;
    return fs::exists("/sys/class/tty/" + name + "/device", error);
}

}  // namespace

std::vector<std::string> PosixPortProvider::candidate_ports() {
    std::vector<std::string> ports;
    std::error_code error;
    fs::directory_iterator entry("/dev", error);
    for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        const auto kind = posix::classify_port_name(name);
        if (kind == posix::PortNameKind::not_serial) continue;
        std::error_code type_error;
        if (!entry->is_character_file(type_error)) continue;
        const std::string path = entry->path().string();
        if (kind == posix::PortNameKind::serial_if_uart && !has_uart(name, path)) continue;
        ports.push_back(path);
    }
    return ports;
}

std::vector<PortInfo> PosixPortProvider::list_ports() {
    std::vector<PortInfo> ports;
    for (const std::string& device : candidate_ports()) {
        PortInfo info;
        // Opened exactly as for use, so that "free" means the program could take it.
        if (auto port = PosixSerialPort::open(device, info.access)) port->close();
        if (info.access != PortError::none && info.access != PortError::busy &&
            info.access != PortError::access_denied)
            continue;
        const auto usb = posix::read_usb_details("/sys", fs::path(device).filename().string());
        info.device = device;
        info.stable_name = posix::stable_port_name("/dev", device, usb ? usb->serial : "");
        if (usb) info.description = posix::describe_usb(*usb);
        ports.push_back(std::move(info));
    }
    return ports;
}

}  // namespace vrk::platform
