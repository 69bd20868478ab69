#include "app/cli/common/setting_values.h"

#include <charconv>
#include <vector>

#include "app/session_commands.h"
#include "platform/code_page.h"
#include "platform/controls_model.h"
#include "platform/hex_text.h"

namespace vrk::cli {

namespace {

std::string_view trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

std::optional<unsigned> parse_code(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return std::nullopt;
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc{} || end != text.data() + text.size() || value > 0xFF)
        return std::nullopt;
    return value;
}

}  // namespace

std::optional<std::uint8_t> resolve_setting(device::Setting setting, std::string_view value,
                                            std::string* error) {
    const auto choices = app::setting_choices(setting);
    const std::string_view wanted = trim(value);
    std::vector<const app::SettingChoice*> found;
    const auto code = parse_code(wanted);
    for (const auto& choice : choices) {
        // The texts are compared as the list compares them, and in UTF-8 too, so the Hebrew
        // row can be typed as a terminal sends it.
        const bool by_text =
            !wanted.empty() && (platform::compare_list_text(trim(choice.text), wanted) == 0 ||
                                platform::compare_list_text(trim(choice.text_utf8), wanted) == 0);
        const bool by_code = code && *code == choice.code;
        if (by_text || by_code) found.push_back(&choice);
    }
    if (found.size() == 1) return found.front()->code;
    std::string list;
    for (const auto& choice : choices)
        list +=
            "\n  " + platform::hex_code(choice.code) + "  " + std::string(trim(choice.text_utf8));
    *error = std::string(found.empty() ? "unknown" : "ambiguous") + " value '" +
             std::string(value) + "'; the valid values are:" + list;
    return std::nullopt;
}

std::optional<device::Setting> setting_named(std::string_view name) {
    if (name == "gps") return device::Setting::gps_type;
    if (name == "internal") return device::Setting::internal_device;
    if (name == "external") return device::Setting::external_device;
    return std::nullopt;
}

}  // namespace vrk::cli
