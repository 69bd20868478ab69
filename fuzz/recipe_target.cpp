// The station's text inputs against whatever a person or a file brings: recipe files (TOML),
// ID templates and fixed IDs. None of them may crash, and what they accept must hold to the
// unit's rules: an ID the station would send has at most 8 characters, each 0x21 to 0x7E with
// letters upper case, and a template recognises every ID it gives.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>

#include "app/cli/station/id_scheme.h"
#include "app/cli/station/recipe.h"
#include "fuzz/fuzz_targets.h"

namespace vrk::fuzz {

namespace {

[[noreturn]] void fail(const char* what, std::string_view text) {
    std::fprintf(stderr, "fuzz_recipe: %s: '%.*s'\n", what, static_cast<int>(text.size()),
                 text.data());
    std::abort();
}

bool unit_can_store(std::string_view id) {
    if (id.empty() || id.size() > cli::UNIT_ID_MAX_CHARS) return false;
    return std::all_of(id.begin(), id.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b >= 0x21 && b <= 0x7E && !(b >= 'a' && b <= 'z');
    });
}

// Counter values around every width a counter can have, and the ends of its range.
constexpr std::array<std::uint64_t, 14> COUNTERS = {0,
                                                    1,
                                                    9,
                                                    10,
                                                    99,
                                                    100,
                                                    99'999,
                                                    100'000,
                                                    9'999'999,
                                                    10'000'000,
                                                    99'999'999,
                                                    100'000'000,
                                                    4'294'967'296,
                                                    std::numeric_limits<std::uint64_t>::max()};

void check_template(std::string_view text, std::optional<std::uint32_t> station) {
    std::string error;
    const auto scheme = cli::IdScheme::parse(text, station, &error);
    if (!scheme) {
        if (error.empty()) fail("a template refused without a reason", text);
        return;
    }
    bool exhausted = false;
    for (const std::uint64_t n : COUNTERS) {
        const auto id = scheme->format(n);
        if (!id) {
            exhausted = true;
            continue;
        }
        // IDs only grow with the counter: once one no longer fits, none after it may.
        if (exhausted) fail("an ID after the counter was exhausted", text);
        if (!unit_can_store(*id)) fail("a template gave an ID the unit cannot store", *id);
        if (!scheme->matches(*id)) fail("a template does not recognise its own ID", *id);
    }
    if (!scheme->format(1) && !scheme->format(0))
        fail("a template accepted although no ID of it fits", text);
    // Anything at all may be asked about.
    (void)scheme->matches(text);
}

void check_recipe_file(std::string_view text) {
    std::string error;
    const std::string name = "station.toml";
    const auto file = cli::parse_recipe_file(text, name, &error);
    if (file) return;
    // A refusal names the file and a line: "station.toml:7: ...".
    if (error.rfind(name + ":", 0) != 0) fail("a refusal that does not name the file", error);
    const std::size_t digits = name.size() + 1;
    std::size_t end = digits;
    while (end < error.size() && error[end] >= '0' && error[end] <= '9') ++end;
    if (end == digits || error.compare(end, 2, ": ") != 0)
        fail("a refusal without its line", error);
}

}  // namespace

void recipe_input(Input input) {
    if (input.empty()) return;
    // The first byte says what the rest is; the rest is text.
    const std::uint8_t selector = input[0];
    const std::string_view text(reinterpret_cast<const char*>(input.data() + 1), input.size() - 1);
    switch (selector % 3) {
        case 0:
            check_recipe_file(text);
            break;
        case 1: {
            // Station numbers from the selector's other bits; 0x54 and up: none given.
            const std::uint32_t number = selector / 3;
            check_template(text,
                           number < 0x54 / 3 ? std::optional<std::uint32_t>(number) : std::nullopt);
            break;
        }
        default: {
            std::string error;
            const auto id = cli::station_id(text, &error);
            if (id && !unit_can_store(*id)) fail("a fixed ID the unit cannot store", *id);
            if (!id && error.empty()) fail("a fixed ID refused without a reason", text);
            break;
        }
    }
}

}  // namespace vrk::fuzz
