// POSIX files and the tick clock, in a private temporary directory that is the current one for
// the duration of each test (the image search looks there).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/posix/posix_platform.h"

namespace vrk::platform {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

class PosixFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = fs::current_path();
        std::string pattern = (fs::temp_directory_path() / "vrk_files_XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = fs::canonical(pattern);
        fs::current_path(dir_);
    }

    void TearDown() override {
        fs::current_path(previous_);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    static void put(const std::string& name, const std::string& content) {
        std::ofstream(name, std::ios::binary) << content;
    }

    static std::string contents(const std::string& name) {
        std::ifstream file(name, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }

    PosixFileSystem files_;
    fs::path previous_;
    fs::path dir_;
};

TEST_F(PosixFiles, CurrentDirectoryIsTheProcesssOwn) {
    EXPECT_EQ(files_.current_directory(), dir_.string());
    EXPECT_EQ(files_.separator(), '/');
}

TEST_F(PosixFiles, FindFilesListsRegularFilesWithTheExtensionInAnyCase) {
    for (const char* name :
         {"app.vr4", "BOOT.VR4", "mixed.Vr4", "notes.txt", "app.vr4.bak", "app.vr", "vr4"}) {
        put(name, "x");
    }
    fs::create_directory("folder.vr4");
    ASSERT_EQ(::mkfifo("pipe.vr4", 0600), 0);
    fs::create_symlink("app.vr4", "link.vr4");
    fs::create_symlink("missing", "dangling.vr4");
    fs::create_directory("sub");
    put("sub/nested.vr4", "x");

    std::vector<std::string> found = files_.find_files(".vr4");
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{"BOOT.VR4", "app.vr4", "link.vr4", "mixed.Vr4"}));
}

TEST_F(PosixFiles, OpenReadDeliversTheWholeFileAndItsSize) {
    std::string content(1000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
    put("image.vr4", content);

    FileError error = FileError::io_failure;
    auto file = files_.open_read("image.vr4", &error);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(error, FileError::none);
    EXPECT_EQ(file->size(), std::optional<std::uint64_t>(1000));
    std::string read_back;
    std::array<std::uint8_t, 256> chunk{};
    for (;;) {
        const auto got = file->read(chunk);
        ASSERT_TRUE(got.has_value());
        if (*got == 0) break;
        read_back.append(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(*got));
    }
    EXPECT_EQ(read_back, content);
}

TEST_F(PosixFiles, OpenReadRefusesWhatIsNotARegularFile) {
    fs::create_directory("folder.vr4");
    // A FIFO with no writer would block a plain open for good.
    ASSERT_EQ(::mkfifo("pipe.vr4", 0600), 0);
    struct Row {
        std::string path;
        FileError expected;
    };
    const std::vector<Row> rows = {
        {"missing.vr4", FileError::not_found}, {"nowhere/app.vr4", FileError::not_found},
        {"folder.vr4", FileError::io_failure}, {"pipe.vr4", FileError::io_failure},
        {"/dev/zero", FileError::io_failure},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        FileError error = FileError::none;
        EXPECT_EQ(files_.open_read(row.path, &error), nullptr);
        EXPECT_EQ(error, row.expected);
        EXPECT_EQ(files_.open_read(row.path, nullptr), nullptr);  // no error wanted: no crash
    }
}

TEST_F(PosixFiles, CreateTruncatesAndWritesEveryByte) {
    put("macro.vbm", std::string(100, 'o'));
    FileError error = FileError::io_failure;
    auto file = files_.create("macro.vbm", &error);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(error, FileError::none);
    const Bytes record = {0x02, 0x00, 0x0B, 0x00, 0x0B, 0x00};
    EXPECT_TRUE(file->write(record));
    EXPECT_TRUE(file->write(record));
    EXPECT_TRUE(file->close());
    EXPECT_TRUE(file->close());
    EXPECT_EQ(contents("macro.vbm"), std::string("\x02\x00\x0B\x00\x0B\x00", 6) +
                                         std::string("\x02\x00\x0B\x00\x0B\x00", 6));
}

TEST_F(PosixFiles, CreateHonoursTheUmask) {
    const mode_t previous = ::umask(027);
    auto file = files_.create("macro.vbm", nullptr);
    ::umask(previous);
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(file->close());
    EXPECT_EQ(fs::status("macro.vbm").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(PosixFiles, AWriteTheDeviceRefusesIsReportedAsFailed) {
    // /dev/full opens like any file and fails every write with ENOSPC: a full disk.
    auto file = files_.create("/dev/full", nullptr);
    ASSERT_NE(file, nullptr);
    EXPECT_FALSE(file->write(Bytes{0x02, 0x00, 0x0B, 0x00}));
    // The loss sticks: the file as a whole did not make it.
    EXPECT_FALSE(file->close());
    EXPECT_FALSE(file->write(Bytes{0x01}));
}

TEST_F(PosixFiles, CreateFailsWhereNoFileCanBe) {
    fs::create_directory("folder.vbm");
    struct Row {
        std::string path;
        FileError expected;
    };
    const std::vector<Row> rows = {
        {"nowhere/macro.vbm", FileError::not_found},
        {"folder.vbm", FileError::io_failure},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        FileError error = FileError::none;
        EXPECT_EQ(files_.create(row.path, &error), nullptr);
        EXPECT_EQ(error, row.expected);
    }
}

TEST(PosixTickClock, FollowsTheSteadyClockInMilliseconds) {
    // The tick is the steady clock's millisecond count cut to 32 bits, so it lies between two
    // readings of that taken around it (modulo 2^32: the difference, not the values).
    const auto steady_ms = [] {
        return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now().time_since_epoch())
                                              .count());
    };
    PosixTickClock clock;
    const std::uint32_t before = steady_ms();
    const std::uint32_t tick = clock.tick_ms();
    const std::uint32_t after = steady_ms();
    EXPECT_LE(static_cast<std::uint32_t>(tick - before),
              static_cast<std::uint32_t>(after - before));

    // And it moves: wait for the next millisecond without sleeping a fixed time.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (clock.tick_ms() == tick && std::chrono::steady_clock::now() < deadline) {
    }
    EXPECT_NE(clock.tick_ms(), tick);
}

}  // namespace
}  // namespace vrk::platform
