#include "app/session_commands.h"

#include <utility>

#include "app/main_window.h"
#include "device/device_panel.h"
#include "device/engine.h"
#include "device/firmware_transfer.h"
#include "device/macro_recorder.h"
#include "link/link.h"
#include "link/messages.h"
#include "platform/code_page.h"
#include "platform/control_ids.h"

namespace vrk::app {

namespace {

int list_of(device::Setting setting) {
    switch (setting) {
        case device::Setting::gps_type:
            return ids::GPS_TYPE;
        case device::Setting::internal_device:
            return ids::INTERNAL_DEVICE;
        case device::Setting::external_device:
            return ids::EXTERNAL_DEVICE;
        case device::Setting::unit_id:
            break;
    }
    return ids::UNIT_ID;
}

}  // namespace

std::vector<SettingChoice> setting_choices(device::Setting setting) {
    std::vector<SettingChoice> choices;
    if (setting == device::Setting::unit_id) return choices;
    const platform::ControlsModel& window = built_main_window();
    const int list = list_of(setting);
    for (int i = 0; i < window.item_count(list); ++i) {
        const std::string text = window.item_text(list, i);
        choices.push_back({static_cast<std::uint8_t>(window.item_data(list, i) & 0xFFu), text,
                           platform::display_utf8(text)});
    }
    return choices;
}

void send_unit_id(Session& session, std::string_view id) {
    auto& window = session.window();
    window.user_type_text(ids::UNIT_ID, id);
    window.user_click(ids::SEND_ID);
}

bool choose_setting(Session& session, device::Setting setting, std::uint8_t code) {
    if (setting == device::Setting::unit_id) return false;
    auto& window = session.window();
    const int list = list_of(setting);
    for (int i = 0; i < window.item_count(list); ++i) {
        if ((window.item_data(list, i) & 0xFFu) != code) continue;
        window.user_select(list, i);
        return true;
    }
    return false;
}

void request_qb7_mode(Session& session) {
    session.window().user_click(ids::QB7_MODE);
}

void request_run_application(Session& session) {
    session.window().user_click(ids::RUN_APPLICATION);
}

void ask_identity(Session& session, bool id, bool version) {
    if (id) link::send_id_query(session.context().link);
    if (version) device::send_request(session.engine(), link::messages::VERSION_QUERY);
}

void ask_setting(Session& session, device::Setting setting) {
    switch (setting) {
        case device::Setting::gps_type:
            device::send_request(session.engine(), link::messages::GPS_TYPE_QUERY);
            return;
        case device::Setting::internal_device:
            device::send_request(session.engine(), link::messages::INTERNAL_DEVICE_QUERY);
            return;
        case device::Setting::external_device:
            device::send_request(session.engine(), link::messages::EXTERNAL_DEVICE_QUERY);
            return;
        case device::Setting::unit_id:
            return;
    }
}

void query_unit(Session& session) {
    device::send_unit_queries(session.engine());
}

bool unit_linked(Session& session) {
    return session.context().link.link_state != link::LINK_SEARCHING;
}

void start_transfer(Session& session, device::OperationKind kind, const std::string& path,
                    const std::string& name) {
    device::start_operation(session.engine(), kind, path, name);
}

void start_transfer(Session& session, device::OperationKind kind,
                    std::span<const std::uint8_t> image, const std::string& name) {
    device::start_operation(session.engine(), kind, image, name);
}

void cancel_transfer(Session& session) {
    device::cancel_operation(session.engine());
}

void forget_transfer(Session& session) {
    device::forget_operation(session.engine());
}

bool transfer_running(Session& session) {
    return device::operation_running(session.engine().transfer);
}

std::span<const std::uint8_t> loaded_image(Session& session) {
    const auto& transfer = session.engine().transfer;
    if (!device::image_loaded(transfer)) return {};
    return std::span<const std::uint8_t>(transfer.image_buffer.data(), transfer.image_size);
}

device::Result check_image(platform::FileSystem& files, const std::string& path) {
    return device::check_image(files, path);
}

ImageBytes read_image(platform::FileSystem& files, const std::string& path) {
    device::ImageRead read = device::read_image(files, path);
    return {read.result, std::move(read.bytes)};
}

std::uint32_t max_image_size() {
    return device::MAX_IMAGE_SIZE;
}

bool start_recording(Session& session, const std::string& path, platform::FileError* error) {
    return device::start_recording(session.engine(), path, error);
}

}  // namespace vrk::app
