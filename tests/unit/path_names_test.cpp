#include "platform/path_names.h"

#include <gtest/gtest.h>

namespace vrk::platform {
namespace {

// Where the file name starts under each rule; the rules differ on purpose.
TEST(PathNames, FileNameStartByRule) {
    struct Case {
        const char* path;
        std::size_t slash, with_drive_letter, command_line;
    };
    const Case cases[] = {
        {"x.vbm", 0, 0, 0},          {"/a/b.vbm", 3, 3, 3}, {"dir/", 4, 4, 4},
        {"C:\\dir\\x.vbm", 0, 7, 7}, {"C:x.vbm", 0, 2, 2},  {"a:b/c.vbm", 4, 4, 4},
        {"ab:c.vr4", 0, 0, 3},  // only a drive letter's colon ends a directory for the recorder
        {"a/b\\c:d.vr4", 2, 4, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(file_name_start(c.path, PathRule::slash), c.slash);
        EXPECT_EQ(file_name_start(c.path, PathRule::with_drive_letter), c.with_drive_letter);
        EXPECT_EQ(file_name_start(c.path, PathRule::command_line), c.command_line);
    }
}

}  // namespace
}  // namespace vrk::platform
