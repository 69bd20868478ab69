// Where the station database lives by default, and the folder made for it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/machine.h"
#include "platform/posix/data_directory.h"

namespace vrk::test {
namespace {

namespace fs = std::filesystem;

TEST(PosixMachine, UserDataFollowsTheXdgRules) {
    struct Case {
        const char* xdg;
        const char* home;
        std::optional<std::string> folder;
    };
    const Case cases[] = {
        {"/data", "/home/dana", "/data"},
        {nullptr, "/home/dana", "/home/dana/.local/share"},
        {"", "/home/dana/", "/home/dana/.local/share"},
        {"relative/data", "/home/dana", "/home/dana/.local/share"},  // invalid: ignored
        {nullptr, nullptr, std::nullopt},
        {nullptr, "", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::posix::data_directory(c.xdg, c.home), c.folder)
            << (c.xdg ? c.xdg : "(unset)") << " " << (c.home ? c.home : "(unset)");
}

TEST(PosixMachine, TheStationsFolderIsTheUsersAndPathsJoinWithASlash) {
    const auto folder = platform::station_data_directory();
    ASSERT_TRUE(folder.has_value());  // the tests run with HOME set
    EXPECT_EQ(*folder, platform::posix::data_directory(std::getenv("XDG_DATA_HOME"),
                                                       std::getenv("HOME"))
                               .value() +
                           "/vrk");
    const std::pair<std::pair<const char*, const char*>, const char*> joined[] = {
        {{"/home/dana/.local/share/vrk", "station.db"}, "/home/dana/.local/share/vrk/station.db"},
        {{"/data/", "vrk"}, "/data/vrk"},
        {{"/", "vrk"}, "/vrk"},
    };
    for (const auto& [parts, path] : joined)
        EXPECT_EQ(platform::path_in(parts.first, parts.second), path) << path;
}

TEST(PosixMachine, MakesAFolderWithItsParentsOnlyWhereItCan) {
    const fs::path dir = fs::temp_directory_path() / ("vrk-mkdir-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream(dir / "file") << "x";
    struct Case {
        fs::path path;
        bool made;
    };
    const Case cases[] = {
        {dir / "a" / "b" / "vrk", true},
        {dir / "a" / "b" / "vrk", true},  // there already
        {dir / "file", false},            // a file of that name
        {dir / "file" / "vrk", false},
    };
    for (const Case& c : cases) {
        platform::FileError error = platform::FileError::none;
        EXPECT_EQ(platform::make_directories(c.path.string(), &error), c.made) << c.path;
        EXPECT_EQ(error == platform::FileError::none, c.made) << c.path;
        if (c.made) {
            EXPECT_TRUE(fs::is_directory(c.path)) << c.path;
        }
    }
    EXPECT_FALSE(platform::host_name().empty());
    fs::remove_all(dir);
}

}  // namespace
}  // namespace vrk::test
