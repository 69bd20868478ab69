// The upper half of the main window: what the unit reports about itself and its three
// device-type settings, and the requests that change them. The values shown live only in the
// window's controls; the panel keeps no copy.
#pragma once

#include <cstdint>
#include <span>

namespace vrk::platform {
class ControlsModel;
}

namespace vrk::device {

struct Engine;

// Fills the three device lists of a main window model from their tables (item data = code) and
// limits the ID box.
void fill_device_panel(platform::ControlsModel& window);

// Report handlers, called by the dispatcher at the exact lengths.
void show_version_report(Engine& engine, std::span<const std::uint8_t> message);  // 8 or 12 bytes
void show_unit_id(Engine& engine,
                  std::span<std::uint8_t> message);  // 10 bytes; byte 9 is overwritten
void show_internal_device(Engine& engine, std::span<const std::uint8_t> message);  // 2 bytes
void show_external_device(Engine& engine, std::span<const std::uint8_t> message);  // 2 bytes
void show_gps_type(Engine& engine, std::span<const std::uint8_t> message);         // 2 bytes

// Requests.
void send_request(Engine& engine, std::uint8_t type);  // two bytes, byte 1 without meaning
void send_unit_id(Engine& engine);                     // always 10 bytes
// The four queries that load the unit's data once it answers the probe: version, GPS type,
// internal and external device (the last report marks the settings loaded).
void send_unit_queries(Engine& engine);
void send_internal_device(Engine& engine);  // on the user's selection change
void send_external_device(Engine& engine);
void send_gps_type(Engine& engine);

inline constexpr const char* ID_RECEIVED_TEXT = "The new ID was received by the VRK";
inline constexpr const char* INTERNAL_RECEIVED_TEXT =
    "The new internal device was received by the VRK.";
inline constexpr const char* EXTERNAL_RECEIVED_TEXT =
    "The new external device was received by the VRK.";
inline constexpr const char* GPS_RECEIVED_TEXT = "The new GPS type was received by the VRK.";
inline constexpr std::size_t ID_MAX_CHARS = 8;

}  // namespace vrk::device
