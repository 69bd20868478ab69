// The name of the machine's time zone, for a server that converts times for us (a report's
// hours and days on the line's database): the server has its own zone, so it must be told
// ours by a name it knows. Pure: the system's sources are read by the caller.
#pragma once

#include <optional>
#include <string>

namespace vrk::platform {

// The zone named by, in the C library's order: TZ (a zone's name such as "Europe/Berlin", a
// POSIX rule such as "CET-1CEST,M3.5.0,M10.5.0/3", or either after a ':'; a path into the
// zone files gives the zone's name), else where /etc/localtime points, else the first line of
// /etc/timezone; "UTC" when none says, as the C library then takes UTC. nullopt when TZ names
// a file outside the zone files, which no server could find.
[[nodiscard]] std::optional<std::string> time_zone_name(
    const std::optional<std::string>& tz, const std::optional<std::string>& localtime_target,
    const std::optional<std::string>& timezone_file);

}  // namespace vrk::platform
