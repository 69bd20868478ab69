// Sample inputs for the station's records: an ID scheme parsed or failed loudly, and a unit's
// row as a run begins it.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "app/cli/station/id_scheme.h"
#include "app/cli/station/station_store.h"

namespace vrk::test {

inline cli::IdScheme scheme(const std::string& text,
                            std::optional<std::uint32_t> station = std::nullopt) {
    std::string error;
    auto parsed = cli::IdScheme::parse(text, station, &error);
    EXPECT_TRUE(parsed) << error;
    return *parsed;
}

inline cli::RunStart a_start(const std::string& key, std::int32_t serial) {
    cli::RunStart s;
    s.run_key = key;
    s.started_at = "2025-03-01T10:00:00.000Z";
    s.host = "station-1";
    s.station_number = 1;
    s.operator_name = "Dana";
    s.port = "/dev/ttyUSB0";
    s.serial_number = serial;
    s.id_before = "OLD1";
    s.firmware_version = "2.15";
    s.flash_type_code = 0x28;
    s.flash_type = "2 Meg";
    s.settings_before = {0, 1, 1};
    s.image = "fw/app.vr4";
    s.image_sha256 = std::string(64, 'a');
    s.tool_version = "42.15";
    s.lot = "WO-2025-0117";
    return s;
}

}  // namespace vrk::test
