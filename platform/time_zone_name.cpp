#include "platform/time_zone_name.h"

#include <string_view>

namespace vrk::platform {

namespace {

constexpr std::string_view ZONE_FILES = "zoneinfo/";

// "Europe/Berlin" of ".../zoneinfo/Europe/Berlin" (also "posix/" or "right/" trees inside it,
// whose names are the same zones'); nullopt when the path is not into the zone files.
std::optional<std::string> zone_of_path(std::string_view path) {
    const auto at = path.rfind(ZONE_FILES);
    if (at == std::string_view::npos) return std::nullopt;
    std::string_view name = path.substr(at + ZONE_FILES.size());
    for (std::string_view tree : {"posix/", "right/"})
        if (name.starts_with(tree)) name.remove_prefix(tree.size());
    if (name.empty()) return std::nullopt;
    return std::string(name);
}

std::string trimmed(std::string_view text) {
    const auto begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string_view::npos) return {};
    const auto end = text.find_first_of("\r\n", begin);
    text = text.substr(begin, end == std::string_view::npos ? text.size() - begin : end - begin);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return std::string(text);
}

}  // namespace

std::optional<std::string> time_zone_name(const std::optional<std::string>& tz,
                                          const std::optional<std::string>& localtime_target,
                                          const std::optional<std::string>& timezone_file) {
    if (tz && !tz->empty()) {
        std::string_view name = *tz;
        if (name.front() == ':') name.remove_prefix(1);
        if (name.starts_with("/")) return zone_of_path(name);
        if (!name.empty()) return std::string(name);
    }
    if (localtime_target)
        if (auto zone = zone_of_path(*localtime_target)) return zone;
    if (timezone_file) {
        std::string zone = trimmed(*timezone_file);
        if (!zone.empty()) return zone;
    }
    return "UTC";
}

}  // namespace vrk::platform
