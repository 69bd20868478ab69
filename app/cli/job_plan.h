// What a job does to every unit on its port: one operation (info, download, compare, set-id,
// set, qb7, run) or a production recipe (program), as steps done in order over one link-up.
// Made once from the command line (and the recipe) and shared, read only, by every port.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/options.h"
#include "app/cli/station/recipe.h"
#include "device/events.h"

namespace vrk::cli {

struct SettingChange {
    device::Setting setting = device::Setting::gps_type;
    std::uint8_t code = 0;
};

struct JobPlan {
    Command command = Command::none;
    bool repeat = false;
    // How long to look for the first unit, and for its identity to agree; 0: no limit.
    std::uint32_t link_timeout_ms = 10'000;

    // The steps, each present or not, done in this order.
    std::optional<device::OperationKind> transfer;
    std::string image;              // the path, as given
    std::string image_sha256;       // program: the image must still be the one the recipe checked
    std::optional<std::string> id;  // set-id: the ID in the unit's code page
    bool recipe_id = false;         // program: the recipe's ID step (the records choose the ID)
    std::vector<SettingChange> settings;
    FinalMode then = FinalMode::none;

    // program only: the recipe (each port's job keeps its units' records by it).
    const Recipe* recipe = nullptr;
};

// The plan of a command line; `recipe` for program.
[[nodiscard]] JobPlan make_plan(const Options& options, const Recipe* recipe = nullptr);

}  // namespace vrk::cli
