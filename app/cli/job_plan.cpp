#include "app/cli/job_plan.h"

#include <cmath>

#include "app/session_commands.h"
#include "platform/sha256.h"

namespace vrk::cli {

RunImage::Check RunImage::check(platform::FileSystem& files, const std::string& path,
                                const std::string& sha256) {
    std::lock_guard lock(mutex_);
    app::ImageBytes read = app::read_image(files, path);
    Check check;
    if (!bytes_) {
        if (read.result != device::Result::success) {
            check.result = read.result;
            return check;
        }
        if (!sha256.empty() && platform::sha256_hex(read.bytes) != sha256) {
            check.changed = true;
            return check;
        }
        bytes_ = std::move(read.bytes);
    } else if (read.result != device::Result::success || read.bytes != *bytes_) {
        // Gone or unreadable counts as changed too: the run cannot show that it is the same.
        check.changed = true;
        return check;
    }
    check.bytes = *bytes_;
    return check;
}

JobPlan make_plan(const Options& options, const Recipe* recipe) {
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
            break;
        case Command::info:
        case Command::ports:
        case Command::log:
        case Command::import_records:
        case Command::report:
        case Command::ids:
        case Command::none:
            break;
    }
    return plan;
}

}  // namespace vrk::cli
