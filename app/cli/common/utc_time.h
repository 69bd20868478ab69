// Times as vrk writes them, in its JSON and in the station's records: ISO 8601 in UTC with
// milliseconds, "2025-03-01T12:34:56.789Z", so that the text compares as the time does.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vrk::cli {

// The time now.
[[nodiscard]] std::string utc_time_now();

// A time in ISO 8601, UTC: "2025-03-01", "2025-03-01T12:30", "2025-03-01T12:30:15" or with
// fractions of a second, optionally ending in "Z"; written as above. nullopt when it is not
// such a time (another time zone included).
[[nodiscard]] std::optional<std::string> utc_time_text(std::string_view text);

}  // namespace vrk::cli
