// The zone a report names to a line database's server, from what the system says: TZ first
// (as the C library reads it), then the zone files' link, then /etc/timezone.
#include "platform/time_zone_name.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace vrk::test {
namespace {

using platform::time_zone_name;

TEST(TimeZoneName, TzThenTheZoneFilesLinkThenTheZonesFile) {
    struct Case {
        std::string name;
        std::optional<std::string> tz, link, file;
        std::optional<std::string> zone;
    };
    const std::string berlin_link = "/usr/share/zoneinfo/Europe/Berlin";
    const Case cases[] = {
        {"nothing set: UTC, as the C library takes it", {}, {}, {}, "UTC"},
        {"a zone's name", "America/New_York", berlin_link, "Asia/Tokyo\n", "America/New_York"},
        {"a POSIX rule as it is",
         "CET-1CEST,M3.5.0,M10.5.0/3",
         {},
         {},
         "CET-1CEST,M3.5.0,M10.5.0/3"},
        {"a name after ':'", ":Europe/Lisbon", {}, {}, "Europe/Lisbon"},
        {"a path into the zone files",
         ":/usr/share/zoneinfo/Australia/Perth",
         {},
         {},
         "Australia/Perth"},
        {"the posix tree of the zone files",
         "/usr/share/zoneinfo/posix/Europe/Oslo",
         {},
         {},
         "Europe/Oslo"},
        {"a file of its own no server has", "/home/op/my.tz", berlin_link, {}, std::nullopt},
        {"an empty TZ is not set", "", berlin_link, {}, "Europe/Berlin"},
        {"a relative link", {}, "../usr/share/zoneinfo/Europe/Berlin", {}, "Europe/Berlin"},
        {"a link elsewhere: the zones file",
         {},
         "/etc/local.tz",
         "  Asia/Tokyo  \nx\n",
         "Asia/Tokyo"},
        {"an empty zones file", {}, {}, "\n", "UTC"},
    };
    for (const Case& c : cases) EXPECT_EQ(time_zone_name(c.tz, c.link, c.file), c.zone) << c.name;
}

}  // namespace
}  // namespace vrk::test
