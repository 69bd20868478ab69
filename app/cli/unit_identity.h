// The unit on a port as it reported itself since the link came up, gathered from the engine's
// events: its ID, its version report (firmware, flash type, serial number, crystal) and its
// three device settings. A job records, checks and numbers units by this, so it must be what
// the unit holds, not a report garbled on a noisy line: ReportAgreement asks again until two
// consecutive reports agree.
//
// Pure code fed by events; one job's thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/cli/station/device_codes.h"
#include "device/events.h"

namespace vrk::cli {

// One device setting as the unit reported it.
struct SettingValue {
    bool known = false;  // reported since the link came up
    std::uint8_t code = 0;
    std::string text;  // the list's text as UTF-8; empty for a code the list does not have
};

// The version report's fields. Two reports are the same report when every field the unit sent
// is equal (the crystal too, when the long form carries it); the texts follow from the fields.
struct VersionFacts {
    std::uint8_t flash_type_code = 0;
    std::int16_t version_hundredths = 0;
    std::int32_t serial_number = 0;
    std::optional<std::int32_t> crystal_hz;  // the long report only
    std::string version;                     // "2.15"
    std::string flash_type;                  // "2 Meg"
    std::string crystal;                     // "14.7456 MHz"; empty without the crystal

    [[nodiscard]] static VersionFacts of(const device::VersionReport& report);
    [[nodiscard]] bool same_report(const VersionFacts& other) const;
};

struct UnitIdentity {
    std::optional<std::string> id;  // in the unit's code page, as it travels
    std::string id_utf8;
    std::optional<VersionFacts> version;
    SettingValue gps, internal, external;

    // The probe's ID report, the version and the three settings have all come.
    [[nodiscard]] bool complete() const {
        return id && version && gps.known && internal.known && external.known;
    }
    [[nodiscard]] DeviceCodes codes() const;
    [[nodiscard]] const SettingValue& setting(device::Setting which) const;
};

// Fills an identity from the engine's reports.
void take_report(UnitIdentity& unit, const device::VersionReport& report);
void take_report(UnitIdentity& unit, const device::SettingReport& report);

}  // namespace vrk::cli
