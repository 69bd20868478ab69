#include "device/device_panel.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "device/context.h"
#include "device/control_ids.h"
#include "device/device_tables.h"
#include "device/messages.h"
#include "link/frame_codec.h"
#include "link/poll_cycle.h"

namespace vrk::device {

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

void show_device_report(Context& ctx, const DeviceReport& report, std::uint8_t code) {
    auto& window = ctx.main_window;
    // Once the settings are loaded, a report equal to what the list shows answers the user's
    // change: the unit took it.
    if (ctx.link.link_state >= link::LINK_SETTINGS_LOADED &&
        selected_code(window, report.list) == code) {
        window.set_text(ids::STATUS, report.confirmation);
        return;
    }
    if (report.sets_settings_loaded) ctx.link.link_state = link::LINK_SETTINGS_LOADED;
    if (report.clears_status) window.set_text(ids::STATUS, "");
    if (const device_entry* row = find_device(report.table, code)) {
        // Selected by text, as the list's own search does: a text that begins another text
        // sorts before it, so the row's own item is found first.
        (void)window.select_by_text(report.list, row->text);
    }
}

void send_selected_code(Context& ctx, int list, std::uint8_t type) {
    const int index = ctx.main_window.selection(list);
    if (index < 0) return;  // nothing chosen: nothing to send
    const std::array<std::uint8_t, 2> message = {
        type, static_cast<std::uint8_t>(ctx.main_window.item_data(list, index) & 0xFF)};
    link::send_message(ctx, message);
}

}  // namespace

void init_device_panel(Context& ctx) {
    auto& window = ctx.main_window;
    window.set_text_limit(ids::UNIT_ID, ID_MAX_CHARS);
    fill_list(window, ids::INTERNAL_DEVICE, internal_device_table());
    fill_list(window, ids::EXTERNAL_DEVICE, external_device_table());
    fill_list(window, ids::GPS_TYPE, gps_type_table());
}

void show_version_report(Context& ctx, std::span<const std::uint8_t> message) {
    if (message.size() != VERSION_REPORT_SHORT_LENGTH &&
        message.size() != VERSION_REPORT_LONG_LENGTH)
        return;
    auto& window = ctx.main_window;
    char text[FIELD_TEXT_SIZE];

    std::snprintf(text, sizeof text, "%.2f", read_i16(message, 2) * 0.01);
    window.set_text(ids::FIRMWARE_VERSION, text);

    std::snprintf(text, sizeof text, "%ld", static_cast<long>(read_i32(message, 4)));
    window.set_text(ids::SERIAL_NUMBER, text);

    char scratch[4];
    window.set_text(ids::FLASH_TYPE, flash_type_name(message[1], scratch));

    if (message.size() == VERSION_REPORT_LONG_LENGTH) {
        const std::int32_t hz = read_i32(message, 8);
        // Whole megahertz read better without decimals; anything else needs four of them
        // (14.7456 MHz is a common UART crystal).
        std::snprintf(text, sizeof text, hz % 1000000 == 0 ? "%.0lf MHz" : "%.4lf MHz",
                      hz * 0.000001);
        window.set_text(ids::CRYSTAL, text);
    }
}

void show_unit_id(Context& ctx, std::span<std::uint8_t> message) {
    if (message.size() != ID_MESSAGE_LENGTH) return;
    auto& window = ctx.main_window;
    // The unit may leave its terminator out; the ID has at most 8 characters.
    message[9] = 0;
    const auto first = message.begin() + 1;
    const std::string reported(first, std::find(first, first + ID_MAX_CHARS, std::uint8_t{0}));

    std::string shown = window.text(ids::UNIT_ID);
    if (shown.size() > ID_MAX_CHARS) shown.resize(ID_MAX_CHARS);

    if (ctx.link.link_state >= link::LINK_SETTINGS_LOADED && shown == reported) {
        window.set_text(ids::STATUS, ID_RECEIVED_TEXT);
    } else {
        window.set_text(ids::UNIT_ID, reported);
        window.select_edit_text(ids::UNIT_ID, 0, -1);
    }
    // Also for an empty ID: the user may want to send one.
    window.enable(ids::SEND_ID, true);

    if (ctx.link.link_state == link::LINK_SEARCHING) {
        ctx.link.link_state = link::LINK_LINKED;
        send_request(ctx, VERSION_QUERY);
        send_request(ctx, GPS_TYPE_QUERY);
        send_request(ctx, INTERNAL_DEVICE_QUERY);
        send_request(ctx, EXTERNAL_DEVICE_QUERY);
    }
}

void show_internal_device(Context& ctx, std::span<const std::uint8_t> message) {
    if (message.size() != REQUEST_LENGTH) return;
    show_device_report(
        ctx, {ids::INTERNAL_DEVICE, internal_device_table(), INTERNAL_RECEIVED_TEXT, false, true},
        message[1]);
}

void show_external_device(Context& ctx, std::span<const std::uint8_t> message) {
    if (message.size() != REQUEST_LENGTH) return;
    show_device_report(
        ctx, {ids::EXTERNAL_DEVICE, external_device_table(), EXTERNAL_RECEIVED_TEXT, true, true},
        message[1]);
}

void show_gps_type(Context& ctx, std::span<const std::uint8_t> message) {
    if (message.size() != REQUEST_LENGTH) return;
    show_device_report(ctx, {ids::GPS_TYPE, gps_type_table(), GPS_RECEIVED_TEXT, false, false},
                       message[1]);
}

void send_request(Context& ctx, std::uint8_t type) {
    const std::array<std::uint8_t, 2> message = {type, NO_PARAMETER};
    link::send_message(ctx, message);
}

void send_unit_id(Context& ctx) {
    std::array<std::uint8_t, ID_MESSAGE_LENGTH> message{};  // bytes after the terminator stay 0
    message[0] = ID_MESSAGE;
    const std::string text = ctx.main_window.text(ids::UNIT_ID);
    std::memcpy(message.data() + 1, text.data(), std::min(text.size(), ID_MAX_CHARS));
    link::send_message(ctx, message);
}

void send_internal_device(Context& ctx) {
    send_selected_code(ctx, ids::INTERNAL_DEVICE, INTERNAL_DEVICE);
}
void send_external_device(Context& ctx) {
    send_selected_code(ctx, ids::EXTERNAL_DEVICE, EXTERNAL_DEVICE);
}
void send_gps_type(Context& ctx) {
    send_selected_code(ctx, ids::GPS_TYPE, GPS_TYPE);
}

}  // namespace vrk::device
