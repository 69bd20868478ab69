#include "platform/win32/com_names.h"

#include <charconv>

namespace vrk::platform::win32 {
namespace {

constexpr std::string_view DEVICE_NAMESPACE = "\\\\.\\";

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

}  // namespace

std::string com_port_name(int number) {
    return "com" + std::to_string(number);
}

std::string com_device_path(std::string_view name) {
    if (name.empty() || name.find_first_of("\\/:") != std::string_view::npos)
        return std::string(name);
    return std::string(DEVICE_NAMESPACE) + std::string(name);
}

std::optional<int> com_port_number(std::string_view name) {
    if (name.substr(0, DEVICE_NAMESPACE.size()) == DEVICE_NAMESPACE)
        name.remove_prefix(DEVICE_NAMESPACE.size());
    if (!starts_with_ignoring_case(name, "com")) return std::nullopt;
    name.remove_prefix(3);
    // Digits only, no sign, no leading zero ("COM05" is no name of COM5).
    if (name.empty() || name.size() > 3 || (name.size() > 1 && name[0] == '0')) return std::nullopt;
    int number = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), number);
    if (error != std::errc{} || end != name.data() + name.size()) return std::nullopt;
    return number;
}

}  // namespace vrk::platform::win32
