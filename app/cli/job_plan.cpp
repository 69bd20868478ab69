#include "app/cli/job_plan.h"

#include <cmath>

namespace vrk::cli {

std::string_view command_name(Command command) {
    switch (command) {
        case Command::ports:
            return "ports";
        case Command::info:
            return "info";
        case Command::download:
            return "download";
        case Command::compare:
            return "compare";
        case Command::set_id:
            return "set-id";
        case Command::set:
            return "set";
        case Command::qb7:
            return "qb7";
        case Command::run:
            return "run";
        case Command::program:
            return "program";
        case Command::log:
            return "log";
        case Command::report:
            return "report";
        case Command::none:
            break;
    }
    return "none";
}

JobPlan make_plan(const Options& options, const Recipe* recipe, StationStore* store,
                  std::string host) {
    JobPlan plan;
    plan.command = options.command;
    plan.repeat = options.repeat;
    plan.link_timeout_ms = static_cast<std::uint32_t>(std::lround(options.link_timeout_s * 1000));
    switch (options.command) {
        case Command::download:
            plan.transfer = options.verify ? device::OperationKind::download_and_verify
                                           : device::OperationKind::download;
            plan.image = options.image;
            break;
        case Command::compare:
            plan.transfer = device::OperationKind::compare;
            plan.image = options.image;
            break;
        case Command::set_id:
            plan.id = options.id;
            break;
        case Command::set:
            plan.settings.push_back({options.setting, options.code});
            break;
        case Command::qb7:
            plan.then = FinalMode::qb7;
            break;
        case Command::run:
            plan.then = FinalMode::run;
            break;
        case Command::program:
            if (recipe == nullptr) break;
            plan.transfer = recipe->verify ? device::OperationKind::download_and_verify
                                           : device::OperationKind::download;
            plan.image = recipe->image;
            plan.image_sha256 = recipe->image_sha256;
            plan.recipe_id = recipe->id_choice != IdChoice::keep;
            if (recipe->settings.gps)
                plan.settings.push_back({device::Setting::gps_type, *recipe->settings.gps});
            if (recipe->settings.internal)
                plan.settings.push_back(
                    {device::Setting::internal_device, *recipe->settings.internal});
            if (recipe->settings.external)
                plan.settings.push_back(
                    {device::Setting::external_device, *recipe->settings.external});
            plan.then = recipe->then;
            plan.recipe = recipe;
            plan.store = store;
            plan.host = std::move(host);
            break;
        case Command::info:
        case Command::ports:
        case Command::log:
        case Command::report:
        case Command::none:
            break;
    }
    return plan;
}

}  // namespace vrk::cli
