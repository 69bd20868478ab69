#include "app/cli/unit_identity.h"

#include "platform/hex_text.h"

namespace vrk::cli {

std::string value_text(const SettingValue& value) {
    return (value.text.empty() ? std::string("(not in the list)") : value.text) + " (" +
           platform::hex_code(value.code) + ")";
}

VersionFacts VersionFacts::of(const device::VersionReport& report) {
    VersionFacts facts;
    facts.flash_type_code = report.flash_type;
    facts.version_hundredths = report.version_hundredths;
    facts.serial_number = report.serial_number;
    facts.crystal_hz = report.crystal_hz;
    facts.version = report.version_text;
    facts.flash_type = report.flash_type_text;
    if (report.crystal_hz) facts.crystal = report.crystal_text;
    return facts;
}

bool VersionFacts::same_report(const VersionFacts& other) const {
    return flash_type_code == other.flash_type_code &&
           version_hundredths == other.version_hundredths && serial_number == other.serial_number &&
           crystal_hz == other.crystal_hz;
}

DeviceCodes UnitIdentity::codes() const {
    DeviceCodes codes;
    if (gps.known) codes.gps = gps.code;
    if (internal.known) codes.internal = internal.code;
    if (external.known) codes.external = external.code;
    return codes;
}

const SettingValue& UnitIdentity::setting(device::Setting which) const {
    switch (which) {
        case device::Setting::gps_type:
            return gps;
        case device::Setting::internal_device:
            return internal;
        case device::Setting::external_device:
        case device::Setting::unit_id:
            break;
    }
    return external;
}

void take_report(UnitIdentity& unit, const device::VersionReport& report) {
    VersionFacts facts = VersionFacts::of(report);
    // A short report says nothing of the crystal: what a long one said stays.
    if (!facts.crystal_hz && unit.version && unit.version->crystal_hz) {
        facts.crystal_hz = unit.version->crystal_hz;
        facts.crystal = unit.version->crystal;
    }
    unit.version = std::move(facts);
}

void take_report(UnitIdentity& unit, const device::SettingReport& report) {
    SettingValue* value = nullptr;
    switch (report.setting) {
        case device::Setting::unit_id:
            unit.id = std::string(report.text);
            unit.id_utf8 = report.text_utf8;
            return;
        case device::Setting::gps_type:
            value = &unit.gps;
            break;
        case device::Setting::internal_device:
            value = &unit.internal;
            break;
        case device::Setting::external_device:
            value = &unit.external;
            break;
    }
    value->known = true;
    value->code = report.code;
    value->text = report.text_utf8;
}

}  // namespace vrk::cli
