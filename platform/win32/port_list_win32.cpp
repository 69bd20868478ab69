// Which COM ports this machine has, and what the system calls them.
//
// The DOS device names COM0 to COM99 say which ports exist; QueryDosDevice asks for one without
// opening it (an open would raise DTR on a port another program is about to use). The device
// manager's friendly names ("USB Serial Port (COM5)") come from SetupAPI: every present device
// of the Ports class, with its port name in the device's registry key.
#include <windows.h>
// After windows.h:
#include <devguid.h>
#include <setupapi.h>

#include <array>
#include <map>
#include <string>
#include <string_view>

#include "platform/win32/com_names.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win32_platform.h"

namespace vrk::platform {
namespace {

bool dos_device_exists(const std::string& name) {
    std::array<char, 512> target{};
    return ::QueryDosDeviceA(name.c_str(), target.data(), static_cast<DWORD>(target.size())) != 0;
}

// The friendly name without the port name the system appends to it: the list shows the port
// name already ("USB Serial Port (COM5)" becomes "USB Serial Port").
std::string without_port_suffix(std::string name) {
    const std::size_t open = name.rfind(" (");
    if (open != std::string::npos && name.back() == ')' &&
        win32::com_port_number(std::string_view(name).substr(open + 2, name.size() - open - 3)))
        name.erase(open);
    return name;
}

std::wstring registry_text(HKEY key, const wchar_t* value) {
    std::array<wchar_t, 256> text{};
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(sizeof(wchar_t) * (text.size() - 1));
    if (::RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                           &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return {};
    return std::wstring(text.data());
}

// The device manager's names of the present ports, by port number: every device of the Ports
// class, its port name from the device's registry key.
std::map<int, std::string> friendly_names() {
    std::map<int, std::string> names;
    const HDEVINFO devices =
        ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) return names;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD i = 0; ::SetupDiEnumDeviceInfo(devices, i, &info); ++i) {
        const HKEY key =
            ::SetupDiOpenDevRegKey(devices, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) continue;
        const std::wstring port_name = registry_text(key, L"PortName");
        ::RegCloseKey(key);
        const auto number = win32::com_port_number(win32::wide_to_utf8(port_name));
        if (!number) continue;
        std::array<wchar_t, 256> name{};
        DWORD type = 0;
        if (::SetupDiGetDeviceRegistryPropertyW(
                devices, &info, SPDRP_FRIENDLYNAME, &type, reinterpret_cast<BYTE*>(name.data()),
                static_cast<DWORD>(sizeof(wchar_t) * (name.size() - 1)), nullptr) &&
            type == REG_SZ)
            names[*number] = without_port_suffix(win32::wide_to_utf8(name.data()));
    }
    ::SetupDiDestroyDeviceInfoList(devices);
    return names;
}

}  // namespace

std::vector<std::string> Win32PortProvider::candidate_ports() {
    std::vector<std::string> ports;
    for (int n = win32::FIRST_COM_NUMBER; n <= win32::LAST_COM_NUMBER; ++n) {
        std::string name = win32::com_port_name(n);
        if (dos_device_exists(name)) ports.push_back(std::move(name));
    }
    return ports;
}

std::vector<PortInfo> Win32PortProvider::list_ports() {
    const std::map<int, std::string> names = friendly_names();
    std::vector<PortInfo> ports;
    for (const std::string& device : candidate_ports()) {
        OpenResult opened = open(device);
        if (opened.port) opened.port->close();
        if (opened.error != PortError::none && opened.error != PortError::busy) continue;
        const auto number = win32::com_port_number(device);
        const auto name = number ? names.find(*number) : names.end();
        ports.push_back(
            PortInfo{device, device, name != names.end() ? name->second : "", opened.error});
    }
    return ports;
}

}  // namespace vrk::platform
