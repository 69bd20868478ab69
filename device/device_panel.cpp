#include "device/device_panel.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "device/device_tables.h"
#include "device/engine.h"
#include "link/link.h"
#include "link/messages.h"
#include "platform/code_page.h"
#include "platform/control_ids.h"

namespace vrk::device {

using namespace link::messages;

namespace {

// Each value text is formatted into 16 bytes, terminator included; the longest (a crystal of
// -2147483648 Hz, "-2147.4836 MHz") takes 14.
constexpr std::size_t FIELD_TEXT_SIZE = 16;

std::int16_t read_i16(std::span<const std::uint8_t> m, std::size_t at) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(m[at] | (m[at + 1] << 8)));
}

std::int32_t read_i32(std::span<const std::uint8_t> m, std::size_t at) {
    const std::uint32_t v = std::uint32_t{m[at]} | (std::uint32_t{m[at + 1]} << 8) |
                            (std::uint32_t{m[at + 2]} << 16) | (std::uint32_t{m[at + 3]} << 24);
    return static_cast<std::int32_t>(v);
}

void fill_list(platform::ControlsModel& window, int id, std::span<const device_entry> table) {
    for (const device_entry& row : table) {
        const int index = window.add_item(id, std::string(row.text));
        window.set_item_data(id, index, row.code);
    }
}

struct DeviceReport {
    Setting setting;
    int list;
    std::span<const device_entry> table;
    const char* confirmation;
    bool sets_settings_loaded;  // the external-device report is the last of the first queries
    bool clears_status;
};

// The code of the list's selected item, or -1 (equal to no byte) when nothing is selected.
std::int64_t selected_code(const platform::ControlsModel& window, int list) {
    const int index = window.selection(list);
    if (index < 0) return -1;
    return window.item_data(list, index);
}

void tell_setting(Engine& e, Setting setting, std::uint8_t code, std::string_view text, bool known,
                  bool confirmation) {
    const std::string utf8 = platform::display_utf8(text);
    e.events.setting_reported({setting, code, text, utf8, known, confirmation});
}

void show_device_report(Engine& e, const DeviceReport& report, std::uint8_t code) {
    auto& window = e.main_window;
    const device_entry* row = find_device(report.table, code);
    const std::string_view text = row != nullptr ? row->text : std::string_view{};
    // Once the settings are loaded, a report equal to what the list shows answers the user's
    // change: the unit took it.
    if (e.link.link_state >= link::LINK_SETTINGS_LOADED &&
        selected_code(window, report.list) == code) {
        tell_setting(e, report.setting, code, text, row != nullptr, true);
        e.events.status_changed(report.confirmation);
        return;
    }
    if (report.sets_settings_loaded) link::mark_settings_loaded(e.link);
    if (report.clears_status) e.events.status_changed("");
    if (row != nullptr) {
        // Selected by text, as the list's own search does: a text that begins another text
        // sorts before it, so the row's own item is found first.
        (void)window.select_by_text(report.list, row->text);
    }
    tell_setting(e, report.setting, code, text, row != nullptr, false);
}

void send_selected_code(Engine& e, int list, std::uint8_t type) {
    const int index = e.main_window.selection(list);
    if (index < 0) return;  // nothing chosen: nothing to send
    const std::array<std::uint8_t, 2> message = {
        type, static_cast<std::uint8_t>(e.main_window.item_data(list, index) & 0xFF)};
    link::send_message(e.link, message);
}

}  // namespace

void fill_device_panel(platform::ControlsModel& window) {
    window.set_text_limit(ids::UNIT_ID, ID_MAX_CHARS);
    fill_list(window, ids::INTERNAL_DEVICE, internal_device_table());
    fill_list(window, ids::EXTERNAL_DEVICE, external_device_table());
    fill_list(window, ids::GPS_TYPE, gps_type_table());
}

void show_version_report(Engine& e, std::span<const std::uint8_t> message) {
    if (message.size() != VERSION_REPORT_SHORT_LENGTH &&
        message.size() != VERSION_REPORT_LONG_LENGTH)
        return;
    auto& window = e.main_window;
    VersionReport report;
    report.flash_type = message[1];
    report.version_hundredths = read_i16(message, 2);
    report.serial_number = read_i32(message, 4);

    char version[FIELD_TEXT_SIZE];
    std::snprintf(version, sizeof version, "%.2f", report.version_hundredths * 0.01);
    window.set_text(ids::FIRMWARE_VERSION, version);

    char serial[FIELD_TEXT_SIZE];
    std::snprintf(serial, sizeof serial, "%ld", static_cast<long>(report.serial_number));
    window.set_text(ids::SERIAL_NUMBER, serial);

    char scratch[4];
    const std::string_view flash = flash_type_name(message[1], scratch);
    window.set_text(ids::FLASH_TYPE, flash);

    char crystal[FIELD_TEXT_SIZE] = "";
    if (message.size() == VERSION_REPORT_LONG_LENGTH) {
        const std::int32_t hz = read_i32(message, 8);
        report.crystal_hz = hz;
        // Whole megahertz read better without decimals; anything else needs four of them
        // (14.7456 MHz is a common UART crystal).
        std::snprintf(crystal, sizeof crystal, hz % 1000000 == 0 ? "%.0lf MHz" : "%.4lf MHz",
                      hz * 0.000001);
        window.set_text(ids::CRYSTAL, crystal);
    }
    report.version_text = version;
    report.serial_text = serial;
    report.flash_type_text = flash;
    report.crystal_text = crystal;
    e.events.version_reported(report);
}

void show_unit_id(Engine& e, std::span<std::uint8_t> message) {
    if (message.size() != ID_MESSAGE_LENGTH) return;
    auto& window = e.main_window;
    // The unit may leave its terminator out; the ID has at most 8 characters.
    message[9] = 0;
    const auto first = message.begin() + 1;
    const std::string reported(first, std::find(first, first + ID_MAX_CHARS, std::uint8_t{0}));

    std::string shown = window.text(ids::UNIT_ID);
    if (shown.size() > ID_MAX_CHARS) shown.resize(ID_MAX_CHARS);

    const bool confirmation = e.link.link_state >= link::LINK_SETTINGS_LOADED && shown == reported;
    if (confirmation) {
        e.events.status_changed(ID_RECEIVED_TEXT);
    } else {
        window.set_text(ids::UNIT_ID, reported);
        window.select_edit_text(ids::UNIT_ID, 0, -1);
    }
    // Also for an empty ID: the user may want to send one.
    window.enable(ids::SEND_ID, true);

    if (e.link.link_state == link::LINK_SEARCHING) {
        // The unit answered the probe: the hunt is over, and its data is asked for.
        link::mark_linked(e.link);
        send_unit_queries(e);
    }
    tell_setting(e, Setting::unit_id, 0, reported, true, confirmation);
}

void show_internal_device(Engine& e, std::span<const std::uint8_t> message) {
    if (message.size() != REQUEST_LENGTH) return;
    show_device_report(e,
                       {Setting::internal_device, ids::INTERNAL_DEVICE, internal_device_table(),
                        INTERNAL_RECEIVED_TEXT, false, true},
                       message[1]);
}

void show_external_device(Engine& e, std::span<const std::uint8_t> message) {
    if (message.size() != REQUEST_LENGTH) return;
    show_device_report(e,
                       {Setting::external_device, ids::EXTERNAL_DEVICE, external_device_table(),
                        EXTERNAL_RECEIVED_TEXT, true, true},
                       message[1]);
}

void show_gps_type(Engine& e, std::span<const std::uint8_t> message) {
    if (message.size() != REQUEST_LENGTH) return;
    show_device_report(
        e, {Setting::gps_type, ids::GPS_TYPE, gps_type_table(), GPS_RECEIVED_TEXT, false, false},
        message[1]);
}

void send_request(Engine& e, std::uint8_t type) {
    const std::array<std::uint8_t, 2> message = {type, NO_PARAMETER};
    link::send_message(e.link, message);
}

void send_unit_queries(Engine& e) {
    send_request(e, VERSION_QUERY);
    send_request(e, GPS_TYPE_QUERY);
    send_request(e, INTERNAL_DEVICE_QUERY);
    send_request(e, EXTERNAL_DEVICE_QUERY);
}

void send_unit_id(Engine& e) {
    std::array<std::uint8_t, ID_MESSAGE_LENGTH> message{};  // bytes after the terminator stay 0
    message[0] = ID_MESSAGE;
    const std::string text = e.main_window.text(ids::UNIT_ID);
    std::memcpy(message.data() + 1, text.data(), std::min(text.size(), ID_MAX_CHARS));
    link::send_message(e.link, message);
}

void send_internal_device(Engine& e) {
    send_selected_code(e, ids::INTERNAL_DEVICE, INTERNAL_DEVICE);
}
void send_external_device(Engine& e) {
    send_selected_code(e, ids::EXTERNAL_DEVICE, EXTERNAL_DEVICE);
}
void send_gps_type(Engine& e) {
    send_selected_code(e, ids::GPS_TYPE, GPS_TYPE);
}

}  // namespace vrk::device
