// What a job does to every unit on its port: one operation (info, download, compare, set-id,
// set, qb7, run) or a production recipe (program), as steps done in order over one link-up.
// Made once from the command line (and the recipe) and shared, read only, by every port.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/cli/options.h"
#include "app/cli/station/recipe.h"
#include "device/events.h"
#include "platform/files.h"

namespace vrk::cli {

struct SettingChange {
    device::Setting setting = device::Setting::gps_type;
    std::uint8_t code = 0;
};

// The image of a run's transfers, read once for the whole run and shared by every port's job,
// so that every unit is sent the bytes that were checked. Before each unit the file is read
// again and compared with them: a file changed on the disk (rewritten, or half written by
// another program) must stop the line before anything goes to that unit, never be flashed in
// part. Thread-safe.
class RunImage {
  public:
    struct Check {
        // success, or why the first read failed (file_not_found, ...).
        device::Result result = device::Result::success;
        // The file is no longer what the run read (or what `sha256` names): neither it nor the
        // bytes read may go to another unit.
        bool changed = false;
        std::span<const std::uint8_t> bytes;  // the run's image, when neither of the above
    };
    // The first call reads the file at `path` and, when `sha256` is not empty, checks its
    // SHA-256 (lower-case hex); every later call reads it again and compares.
    [[nodiscard]] Check check(platform::FileSystem& files, const std::string& path,
                              const std::string& sha256);

  private:
    std::mutex mutex_;
    std::optional<std::vector<std::uint8_t>> bytes_;  // set once, then never changed
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
    std::shared_ptr<RunImage> run_image = std::make_shared<RunImage>();
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
