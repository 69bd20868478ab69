// What a front-end without a window does with a session: the same requests as the window's
// controls, made the way a person makes them (typing into the ID box and pressing Send,
// picking an item in a device list, pressing a mode button), so the engine cannot tell the
// command-line tool from a person at the window. Nothing here speaks the protocol itself.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/session.h"
#include "device/events.h"
#include "platform/files.h"

namespace vrk::app {

// One item of a device list: the unit's code and the text shown for it.
struct SettingChoice {
    std::uint8_t code = 0;
    std::string text;       // the unit's code page, as the list holds it
    std::string text_utf8;  // the same as UTF-8 (one external device is Hebrew)
};

// What the list of a device setting (gps_type, internal_device or external_device) offers, in
// the order the window shows it. Needs no session: a window model is built for the purpose.
[[nodiscard]] std::vector<SettingChoice> setting_choices(device::Setting setting);

// Types `id` into the ID box as a person would (the box keeps 8 characters and turns letters to
// upper case) and presses Send. The unit's ID report confirms it.
void send_unit_id(Session& session, std::string_view id);

// Picks the item with this code in the setting's list, as a person does: the change goes out at
// once and the unit's report confirms it. False when the list has no such item.
[[nodiscard]] bool choose_setting(Session& session, device::Setting setting, std::uint8_t code);

// The QB7 Mode and Run Application buttons.
void request_qb7_mode(Session& session);
void request_run_application(Session& session);

// Asks the unit again for its ID (the probe's query; with the link up it is no new link-up)
// and/or its version, for a front-end that wants two reports that agree.
void ask_identity(Session& session, bool id, bool version);
// Asks the unit again for one of its three device settings (not the ID), for the same reason.
void ask_setting(Session& session, device::Setting setting);

// Asks the unit again for its version and its three settings (as after the first answer to the
// probe), for a front-end that waits for all of them and lost one of the replies.
void query_unit(Session& session);

// True while a unit answers (the hunt is over).
[[nodiscard]] bool unit_linked(Session& session);

// Download (with or without verify) or compare of the image at `path`; `name` is what the
// texts call it. The engine reports the start, its progress and the end as events.
void start_transfer(Session& session, device::OperationKind kind, const std::string& path,
                    const std::string& name);
// The same from an image read already: exactly these bytes are sent.
void start_transfer(Session& session, device::OperationKind kind,
                    std::span<const std::uint8_t> image, const std::string& name);
// Ends a running download or compare at once (the result says it was interrupted).
void cancel_transfer(Session& session);
// The front-end is done with the transfer (its unit's run has ended): one still running is
// ended as by cancel_transfer, and a late reply from the unit takes nothing up.
void forget_transfer(Session& session);
[[nodiscard]] bool transfer_running(Session& session);
// The bytes of the image the last transfer loaded: what is, or was, sent to the unit.
[[nodiscard]] std::span<const std::uint8_t> loaded_image(Session& session);
// Whether an image can be loaded at all, without a session: Result::success or the reason a
// transfer would refuse it.
[[nodiscard]] device::Result check_image(platform::FileSystem& files, const std::string& path);
// Reads an image whole, as a transfer loads it: its bytes, or why not (file_not_found,
// file_unreadable, file_empty, file_too_large).
struct ImageBytes {
    device::Result result = device::Result::success;
    std::vector<std::uint8_t> bytes;
};
[[nodiscard]] ImageBytes read_image(platform::FileSystem& files, const std::string& path);
// The largest image a transfer takes, in bytes.
[[nodiscard]] std::uint32_t max_image_size();

// Records the requests sent into a macro file at `path`, as the window's Record button does
// once a name is chosen. False, with the reason in *error, when the file cannot be created.
[[nodiscard]] bool start_recording(Session& session, const std::string& path,
                                   platform::FileError* error);

}  // namespace vrk::app
