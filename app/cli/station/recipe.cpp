#include "app/cli/station/recipe.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <vector>

#include "app/cli/common/image_file.h"
#include "app/cli/common/setting_values.h"
#include "platform/command_words.h"
#include "platform/path_names.h"
#include "platform/sha256.h"

namespace vrk::cli {

namespace {

// A recipe is a few lines; a larger file is not one.
constexpr std::uint64_t MAX_RECIPE_BYTES = 1 << 20;
constexpr std::size_t READ_BLOCK = 64 * 1024;

// Reads a whole file through the platform; nullopt when it cannot be read.
std::optional<std::vector<std::uint8_t>> read_whole(platform::FileSystem& files,
                                                    const std::string& path, std::uint64_t limit) {
    platform::FileError error = platform::FileError::none;
    auto file = files.open_read(path, &error);
    if (!file) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    std::array<std::uint8_t, READ_BLOCK> block{};
    for (;;) {
        const auto got = file->read(block);
        if (!got) return std::nullopt;
        if (*got == 0) return bytes;
        bytes.insert(bytes.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(*got));
        if (bytes.size() > limit) return std::nullopt;
    }
}

bool is_hex_digest(std::string_view text) {
    if (text.size() != 64) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    return true;
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// "2.15" → 215, "2" → 200, "2.1" → 210; nullopt for anything else or out of the report's range.
std::optional<std::int16_t> version_hundredths(std::string_view text) {
    std::int64_t whole = 0, hundredths = 0;
    std::size_t at = 0, digits = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++digits) {
        whole = whole * 10 + (text[at] - '0');
        if (whole > std::numeric_limits<std::int16_t>::max()) return std::nullopt;
    }
    if (digits == 0) return std::nullopt;
    if (at < text.size()) {
        if (text[at] != '.' || at + 1 == text.size() || text.size() - at - 1 > 2)
            return std::nullopt;
        const std::string_view fraction = text.substr(at + 1);
        for (char c : fraction) {
            if (c < '0' || c > '9') return std::nullopt;
            hundredths = hundredths * 10 + (c - '0');
        }
        if (fraction.size() == 1) hundredths *= 10;
    }
    const std::int64_t value = whole * 100 + hundredths;
    if (value > std::numeric_limits<std::int16_t>::max()) return std::nullopt;
    return static_cast<std::int16_t>(value);
}

class Builder {
  public:
    Builder(const RecipeOptions& options, platform::FileSystem& files)
        : options_(options), files_(files) {}

    RecipeOutcome build(const std::string& db_path) {
        Recipe& r = recipe_;
        r.source = options_.recipe.value_or("");
        if (options_.recipe && !read_file()) return outcome_;

        if (!image(r)) return outcome_;
        r.verify = options_.verify && (!file_.verify || file_.verify->value);
        if (!id(r)) return outcome_;
        if (!settings(r)) return outcome_;
        if (!then(r)) return outcome_;
        if (!checks(r)) return outcome_;
        if (!hook(r)) return outcome_;
        r.station_number = options_.station_number;
        r.operator_name = options_.operator_name;
        if (!lot(r)) return outcome_;
        // The command line first, then the recipe, then what the caller found (VRK_DB, or the
        // default file).
        r.db_path = options_.db ? *options_.db : file_.db ? file_.db->value : db_path;
        if (!db_wait(r)) return outcome_;
        r.repeat = options_.repeat;
        r.count = options_.count;
        r.max_failures = options_.max_failures;
        outcome_.recipe = std::move(recipe_);
        return outcome_;
    }

  private:
    bool usage(std::string error) {
        outcome_.result = Result::usage;
        outcome_.error = std::move(error);
        return false;
    }
    // A mistake on a line of the recipe file.
    bool at_line(std::uint32_t line, const std::string& what) {
        return usage(*options_.recipe + ":" + std::to_string(line) + ": " + what);
    }

    // The command line's hook over the file's; split now, so that a line the tool cannot run
    // is told before any unit is touched.
    bool hook(Recipe& r) {
        const bool command_line = options_.on_unit.has_value();
        if (!command_line && !file_.on_unit) return true;
        r.on_unit = command_line ? *options_.on_unit : file_.on_unit->value;
        platform::CommandWords split = platform::split_command(r.on_unit);
        if (split.words.empty()) {
            const std::string what =
                "on_unit: " + (split.error.empty() ? std::string("no command") : split.error);
            if (command_line) return usage("--on-unit: " + what.substr(9));
            return at_line(file_.on_unit->line, what);
        }
        r.on_unit_words = std::move(split.words);
        if (options_.on_unit_timeout_s) r.on_unit_timeout_ms = *options_.on_unit_timeout_s * 1000;
        return true;
    }

    bool read_file() {
        const std::string& name = *options_.recipe;
        const auto bytes = read_whole(files_, name, MAX_RECIPE_BYTES);
        if (!bytes)
            return usage("the recipe file " + name +
                         " cannot be read (it does not exist, is not a file, or is larger than "
                         "1 MiB)");
        std::string error;
        const std::string text(bytes->begin(), bytes->end());
        auto parsed = parse_recipe_file(text, name, &error);
        if (!parsed) return usage(error);
        file_ = std::move(*parsed);
        return true;
    }

    bool image(Recipe& r) {
        const bool from_file = options_.image.empty();
        if (from_file && !file_.image)
            return usage(options_.recipe
                             ? *options_.recipe +
                                   ": the recipe names no image (image = \"app.vr4\")"
                             : "program needs an image: vrk program IMAGE, or --recipe FILE "
                               "that names one");
        if (from_file) {
            // Relative to the recipe file: the file and its image travel together.
            const std::string& named = file_.image->value;
            const std::string_view folder =
                platform::directory_part(*options_.recipe, platform::PathRule::slash);
            r.image = !named.empty() && named[0] == '/' ? named : std::string(folder) + named;
        } else {
            r.image = options_.image;
        }
        const Result checked = check_image(files_, r.image);
        const auto bytes =
            checked == Result::success
                ? read_whole(files_, r.image, std::numeric_limits<std::uint32_t>::max())
                : std::nullopt;
        if (!bytes) {
            const Result why = checked == Result::success ? Result::file_unreadable : checked;
            const std::string what = "the image " + r.image + " " + image_problem(why);
            if (from_file) return at_line(file_.image->line, what);
            outcome_.result = why;
            outcome_.error = what;
            return false;
        }
        r.image_size = static_cast<std::uint32_t>(bytes->size());
        r.image_sha256 = platform::sha256_hex(*bytes);
        if (file_.image_sha256) {
            const std::string& wanted = file_.image_sha256->value;
            if (!is_hex_digest(wanted))
                return at_line(file_.image_sha256->line,
                               "image_sha256 must be 64 hex digits (sha256sum prints them)");
            if (lower(wanted) != r.image_sha256)
                return at_line(file_.image_sha256->line,
                               "the image " + r.image +
                                   " is not the one the recipe names: its "
                                   "SHA-256 is " +
                                   r.image_sha256 + ", not " + lower(wanted));
        }
        return true;
    }

    bool id(Recipe& r) {
        std::string error;
        const std::optional<std::uint32_t> station = options_.station_number;
        // The command line's choice of ID replaces the file's whole.
        const bool command_line = options_.fixed_id || options_.id_format;
        // Where the counter starts, for the scheme's first ID (a bad id_start is told below).
        std::uint64_t first = 1;
        if (options_.id_start)
            first = *options_.id_start;
        else if (file_.id_start && file_.id_start->value >= 0 &&
                 static_cast<std::uint64_t>(file_.id_start->value) <= ID_COUNTER_MAX)
            first = static_cast<std::uint64_t>(file_.id_start->value);
        if (!command_line && file_.id && file_.id_format)
            return at_line(std::max(file_.id->line, file_.id_format->line),
                           "id and id_format cannot both be given: one fixed ID, or a scheme");
        if (options_.fixed_id) {
            r.id_choice = IdChoice::fixed;
            r.fixed_id = *options_.fixed_id;
        } else if (options_.id_format) {
            auto scheme = IdScheme::parse(*options_.id_format, station, &error, first);
            if (!scheme) return usage("--id-format: " + error);
            r.id_choice = IdChoice::scheme;
            r.scheme = std::move(scheme);
        } else if (file_.id) {
            const auto fixed = station_id(file_.id->value, &error);
            if (!fixed) return at_line(file_.id->line, "id: " + error);
            r.id_choice = IdChoice::fixed;
            r.fixed_id = *fixed;
        } else if (file_.id_format) {
            auto scheme = IdScheme::parse(file_.id_format->value, station, &error, first);
            if (!scheme) return at_line(file_.id_format->line, "id_format: " + error);
            r.id_choice = IdChoice::scheme;
            r.scheme = std::move(scheme);
        }

        if (options_.id_start) {
            r.id_start = options_.id_start;
        } else if (file_.id_start) {
            if (file_.id_start->value < 0 ||
                static_cast<std::uint64_t>(file_.id_start->value) > ID_COUNTER_MAX)
                return at_line(file_.id_start->line, "id_start must be a whole number from 0 to " +
                                                         std::to_string(ID_COUNTER_MAX));
            r.id_start = static_cast<std::uint64_t>(file_.id_start->value);
        }
        r.new_id = options_.new_id;
        if (r.id_choice != IdChoice::scheme) {
            if (options_.id_start) return usage("--id-start goes with an ID scheme (--id-format)");
            if (file_.id_start && !command_line)
                return at_line(file_.id_start->line, "id_start goes with id_format");
            if (r.new_id) return usage("--new-id goes with an ID scheme (--id-format)");
            r.id_start.reset();
        }
        if (r.scheme && r.id_start && !r.scheme->format(*r.id_start))
            return usage("the ID template " + r.scheme->text() + " has no ID for " +
                         std::to_string(*r.id_start) + " that fits in 8 characters");
        // One fixed ID in several units is what a unit's ID is there to prevent.
        if (r.id_choice == IdChoice::fixed && (options_.ports.size() > 1 || options_.repeat)) {
            const std::string why =
                "a fixed ID goes to one unit: give one --port and no --repeat, or number the "
                "units with id_format";
            return file_.id && !options_.fixed_id ? at_line(file_.id->line, why) : usage(why);
        }
        return true;
    }

    bool setting(device::Setting which, const std::optional<std::uint8_t>& command_line,
                 const std::optional<FromFile<std::string>>& from_file, std::string_view name,
                 std::optional<std::uint8_t>& out) {
        if (command_line) {
            out = command_line;
            return true;
        }
        if (!from_file) return true;
        std::string error;
        out = resolve_setting(which, from_file->value, &error);
        if (!out) return at_line(from_file->line, "settings." + std::string(name) + ": " + error);
        return true;
    }

    bool settings(Recipe& r) {
        const DeviceCodes& c = options_.settings;
        return setting(device::Setting::gps_type, c.gps, file_.gps, "gps", r.settings.gps) &&
               setting(device::Setting::internal_device, c.internal, file_.internal, "internal",
                       r.settings.internal) &&
               setting(device::Setting::external_device, c.external, file_.external, "external",
                       r.settings.external);
    }

    bool then(Recipe& r) {
        if (options_.then) {
            r.then = *options_.then;
            return true;
        }
        if (!file_.then) return true;
        const std::string& value = file_.then->value;
        const auto mode = final_mode_named(value);
        if (!mode)
            return at_line(
                file_.then->line,
                "then must be \"run\" (start the application) or \"qb7\", not \"" + value + "\"");
        r.then = *mode;
        return true;
    }

    // The work order: the command line's, else the file's. It goes into every row and is
    // printed in reports, so it is held to what --lot takes: text without control characters.
    bool lot(Recipe& r) {
        if (options_.lot) {
            r.lot = options_.lot;
            return true;
        }
        if (!file_.lot) return true;
        const std::string& value = file_.lot->value;
        const bool control = std::any_of(value.begin(), value.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
        });
        if (value.empty() || control)
            return at_line(file_.lot->line,
                           "lot must be a work order's name, as lot = \"WO-2025-0117\" (text "
                           "without control characters)");
        r.lot = value;
        return true;
    }

    bool db_wait(Recipe& r) {
        if (options_.db_wait_s) {
            r.db_wait_ms = *options_.db_wait_s * 1000;
            return true;
        }
        if (!file_.db_wait) return true;
        const std::int64_t seconds = file_.db_wait->value;
        if (seconds < 0 || seconds > DB_WAIT_MAX_S)
            return at_line(file_.db_wait->line,
                           "db_wait must be a number of seconds from 0 to " +
                               std::to_string(DB_WAIT_MAX_S) + ", as db_wait = 60");
        r.db_wait_ms = static_cast<std::uint32_t>(seconds) * 1000;
        return true;
    }

    bool checks(Recipe& r) {
        if (file_.flash_type) {
            if (file_.flash_type->value < 0 || file_.flash_type->value > 0xFF)
                return at_line(file_.flash_type->line,
                               "checks.flash_type must be a flash type code from 0 to 255");
            r.checks.flash_type = static_cast<std::uint8_t>(file_.flash_type->value);
        }
        if (file_.min_version) {
            r.checks.min_version = version_hundredths(file_.min_version->value);
            if (!r.checks.min_version)
                return at_line(file_.min_version->line,
                               "checks.min_version must be a version such as \"2.15\", not \"" +
                                   file_.min_version->value + "\"");
        }
        return true;
    }

    const RecipeOptions& options_;
    platform::FileSystem& files_;
    RecipeFile file_;
    Recipe recipe_;
    RecipeOutcome outcome_;
};

}  // namespace

RecipeOutcome make_recipe(const RecipeOptions& options, platform::FileSystem& files,
                          const std::string& db_path) {
    return Builder(options, files).build(db_path);
}

std::optional<FinalMode> final_mode_named(std::string_view name) {
    if (name == final_mode_name(FinalMode::run)) return FinalMode::run;
    if (name == final_mode_name(FinalMode::qb7)) return FinalMode::qb7;
    return std::nullopt;
}

std::string_view final_mode_name(FinalMode mode) {
    switch (mode) {
        case FinalMode::run:
            return "run";
        case FinalMode::qb7:
            return "qb7";
        case FinalMode::none:
            break;
    }
    return "";
}

}  // namespace vrk::cli
