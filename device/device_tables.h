// The unit's device-type codes and what the lists show for them. Row order is the order in
// which the lists are filled and in which a reported code is looked up; the lists show the
// texts sorted.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace vrk::device {

struct device_entry {
    std::uint8_t code;
    std::string_view text;  // single-byte text; one external row is Windows-1255 Hebrew
};

[[nodiscard]] std::span<const device_entry> internal_device_table();  // 38 rows
[[nodiscard]] std::span<const device_entry> external_device_table();  // 24 rows
[[nodiscard]] std::span<const device_entry> gps_type_table();         // 5 rows

// The first row with this code, in table order, or nullptr.
[[nodiscard]] const device_entry* find_device(std::span<const device_entry> table,
                                              std::uint8_t code);

// What the flash-type field shows for a code: "2 Meg", "1 Meg" or the code in decimal.
[[nodiscard]] std::string_view flash_type_name(std::uint8_t code, char (&scratch)[4]);

}  // namespace vrk::device
