#include "app/cli/station_records.h"

#include <cstdio>

#include "app/cli/output.h"
#include "vrk_version.h"

namespace vrk::cli {

namespace {

std::string version_text(std::int16_t hundredths) {
    char text[16];
    std::snprintf(text, sizeof text, "%.2f", hundredths * 0.01);
    return text;
}

}  // namespace

RunStart run_start(const JobPlan& plan, const std::string& port, const std::string& run_key,
                   const UnitIdentity* unit) {
    RunStart start;
    start.run_key = run_key;
    start.started_at = utc_time_now();
    start.host = plan.host;
    if (plan.recipe != nullptr) {
        start.station_number = plan.recipe->station_number;
        start.operator_name = plan.recipe->operator_name;
        start.lot = plan.recipe->lot;
    }
    start.port = port;
    if (unit != nullptr && unit->version) {
        start.serial_number = unit->version->serial_number;
        start.id_before = unit->id_utf8;
        start.firmware_version = unit->version->version;
        start.flash_type_code = unit->version->flash_type_code;
        start.flash_type = unit->version->flash_type;
        start.settings_before = unit->codes();
    }
    start.image = plan.image;
    start.image_sha256 = plan.image_sha256;
    start.tool_version = VRK_VERSION_TEXT;
    return start;
}

std::optional<std::string> check_failure(const RecipeChecks& checks, const VersionFacts& version) {
    if (checks.flash_type && version.flash_type_code != *checks.flash_type)
        return "the unit's flash type is " + std::to_string(version.flash_type_code) + " (" +
               version.flash_type + "), the recipe wants " + std::to_string(*checks.flash_type);
    if (checks.min_version && version.version_hundredths < *checks.min_version)
        return "the unit's firmware is " + version.version + ", the recipe wants " +
               version_text(*checks.min_version) + " or later";
    return std::nullopt;
}

RunSteps steps_of(const JobPlan& plan) {
    RunSteps steps;
    const auto asked = [](bool in_recipe) {
        return in_recipe ? std::string() : std::string(STEP_NOT_ASKED);
    };
    steps.download = asked(plan.transfer.has_value());
    steps.id = asked(plan.recipe_id);
    steps.settings = asked(!plan.settings.empty());
    steps.then = asked(plan.then != FinalMode::none);
    return steps;
}

void mark_skipped(RunSteps& steps) {
    for (std::string* step : {&steps.download, &steps.id, &steps.settings, &steps.then})
        if (step->empty()) *step = STEP_SKIPPED;
}

}  // namespace vrk::cli
