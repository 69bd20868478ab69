// The Windows platform layer: its error classes, COM port names, files and the station's
// folder, run under Windows
// (or Wine) in a private temporary directory that is the current one for each file test.
#include "platform/win32/win32_platform.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/machine.h"
#include "platform/win32/com_names.h"
#include "platform/win32/error_classes.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_text.h"
#include "tests/support/test_environment.h"

namespace vrk::platform {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

TEST(Win32ErrorClasses, PortOpen) {
    const std::pair<DWORD, PortError> rows[] = {
        {ERROR_FILE_NOT_FOUND, PortError::not_found},
        {ERROR_PATH_NOT_FOUND, PortError::not_found},
        // Another program holds the port: busy, never a permission problem to fix.
        {ERROR_ACCESS_DENIED, PortError::busy},
        {ERROR_SHARING_VIOLATION, PortError::busy},
        {ERROR_INVALID_FUNCTION, PortError::not_a_serial},
        {ERROR_GEN_FAILURE, PortError::io_failure},
    };
    for (const auto& [code, expected] : rows)
        EXPECT_EQ(win32::classify_port_error(code), expected) << code;
}

TEST(Win32ErrorClasses, PortReadAndWrite) {
    // An unplugged adapter's driver fails every request with one of these: the port is lost.
    for (const DWORD code : {ERROR_BAD_COMMAND, ERROR_OPERATION_ABORTED, ERROR_DEVICE_REMOVED,
                             ERROR_NOT_READY, ERROR_GEN_FAILURE, ERROR_DEVICE_NOT_CONNECTED})
        EXPECT_EQ(win32::classify_port_io_error(code), IoStatus::lost) << code;
    // A call that went wrong on a port that is still there.
    for (const DWORD code : {ERROR_INVALID_PARAMETER, ERROR_IO_PENDING, ERROR_NOT_ENOUGH_MEMORY})
        EXPECT_EQ(win32::classify_port_io_error(code), IoStatus::failed) << code;
}

TEST(Win32ErrorClasses, Files) {
    const std::pair<DWORD, FileError> rows[] = {
        {ERROR_FILE_NOT_FOUND, FileError::not_found},
        {ERROR_PATH_NOT_FOUND, FileError::not_found},
        {ERROR_ACCESS_DENIED, FileError::access_denied},
        {ERROR_WRITE_PROTECT, FileError::access_denied},
        {ERROR_DISK_FULL, FileError::no_space},
        {ERROR_HANDLE_DISK_FULL, FileError::no_space},
        {ERROR_CRC, FileError::io_failure},
    };
    for (const auto& [code, expected] : rows)
        EXPECT_EQ(win32::classify_file_error(code), expected) << code;
}

TEST(ComPortNames, DevicePathAndNumber) {
    struct Row {
        const char* name;
        const char* path;
        int number;  // -1: not a COM port name
    };
    const Row rows[] = {
        {"COM1", "\\\\.\\COM1", 1},
        {"com12", "\\\\.\\com12", 12},
        {"\\\\.\\COM99", "\\\\.\\COM99", 99},
        {"CNCA0", "\\\\.\\CNCA0", -1},
        {"COM05", "\\\\.\\COM05", -1},
        {"C:\\x\\COM1", "C:\\x\\COM1", -1},
        {"COM", "\\\\.\\COM", -1},
        {"COM1000", "\\\\.\\COM1000", -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(win32::com_device_path(row.name), row.path);
        EXPECT_EQ(win32::com_port_number(row.name).value_or(-1), row.number);
    }
    EXPECT_EQ(win32::com_port_name(7), "com7");
}

TEST(Win32SerialPort, OpenTellsAMissingPortFromAnotherDevice) {
    const std::pair<const char*, PortError> rows[] = {
        {"COM87", PortError::not_found},  // no such port on any machine we test on
        {"NUL", PortError::not_a_serial},
    };
    for (const auto& [name, expected] : rows) {
        PortError error = PortError::none;
        EXPECT_EQ(Win32SerialPort::open(name, error), nullptr) << name;
        EXPECT_EQ(error, expected) << name;
    }
}

TEST(WideText, TheUnitsHebrewAndUtf8NamesBothWays) {
    // The Hebrew row of the external devices is Windows-1255; a file name is UTF-8.
    const std::string hebrew_1255 = "\xF9\xE9\xF8\xE5\xFA 2";
    const std::wstring wide = win32::unit_text_to_wide(hebrew_1255);
    EXPECT_EQ(wide, L"\u05E9\u05D9\u05E8\u05D5\u05EA 2");
    EXPECT_EQ(win32::to_wide(hebrew_1255), wide);
    EXPECT_EQ(win32::wide_to_unit_text(wide), hebrew_1255);
    const std::string name = "\xD7\xA9\xD7\x99\xD7\xA8.vr4 \xF0\x9F\x93\xA1";  // with a U+1F4E1
    EXPECT_EQ(win32::wide_to_utf8(win32::to_wide(name)), name);
}

class Win32Files : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = fs::current_path();
        dir_ = fs::temp_directory_path() /
               ("vrk_files_" + std::to_string(::GetCurrentProcessId()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        fs::current_path(dir_);
    }

    void TearDown() override {
        fs::current_path(previous_);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    static void put(const fs::path& name, const std::string& content) {
        std::ofstream(name, std::ios::binary) << content;
    }

    static std::string contents(const std::string& name) {
        std::ifstream file(name, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }

    Win32FileSystem files_;
    fs::path previous_;
    fs::path dir_;
};

TEST_F(Win32Files, CurrentDirectoryAndImageSearch) {
    EXPECT_EQ(fs::path(win32::to_wide(files_.current_directory())), fs::current_path());
    EXPECT_EQ(files_.separator(), '\\');
    for (const char* name : {"app.vr4", "BOOT.VR4", "notes.txt", "app.vr4old", "vr4"})
        put(name, "x");
    put(fs::path(L"\u05E9\u05D9\u05E8.vr4"), "x");
    fs::create_directory("folder.vr4");
    std::vector<std::string> found = files_.find_files(".vr4");
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found,
              (std::vector<std::string>{"BOOT.VR4", "app.vr4", "\xD7\xA9\xD7\x99\xD7\xA8.vr4"}));
}

TEST_F(Win32Files, ReadWholeFileAndRefuseWhatIsNone) {
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
    for (auto got = file->read(chunk); got && *got > 0; got = file->read(chunk))
        read_back.append(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(*got));
    EXPECT_EQ(read_back, content);

    fs::create_directory("folder.vr4");
    const std::pair<const char*, FileError> rows[] = {
        {"missing.vr4", FileError::not_found},
        {"nowhere\\app.vr4", FileError::not_found},
        {"folder.vr4", FileError::io_failure},
        {"NUL", FileError::io_failure},
    };
    for (const auto& [path, expected] : rows) {
        SCOPED_TRACE(path);
        EXPECT_EQ(files_.open_read(path, &error), nullptr);
        EXPECT_EQ(error, expected);
    }

    // Another program still writing it: refused as unreadable, not read half written. (Our own
    // reading handle goes first: it shares reading only, so the writer could not open.)
    file.reset();
    const win32::UniqueHandle writer(::CreateFileW(L"image.vr4", GENERIC_WRITE,
                                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer);
    EXPECT_EQ(files_.open_read("image.vr4", &error), nullptr);
    EXPECT_EQ(error, FileError::access_denied);
}

TEST_F(Win32Files, CreateTruncatesWritesEveryByteAndFailsWhereNoFileCanBe) {
    put("macro.vbm", std::string(100, 'o'));
    FileError error = FileError::io_failure;
    auto file = files_.create("macro.vbm", &error);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(error, FileError::none);
    EXPECT_TRUE(file->write(Bytes{0x02, 0x00, 0x0B, 0x00}));
    EXPECT_TRUE(file->close());
    EXPECT_TRUE(file->close());
    EXPECT_EQ(contents("macro.vbm"), std::string("\x02\x00\x0B\x00", 4));

    fs::create_directory("folder.vbm");
    const std::pair<const char*, FileError> rows[] = {
        {"nowhere\\macro.vbm", FileError::not_found},
        {"folder.vbm", FileError::io_failure},
    };
    for (const auto& [path, expected] : rows) {
        SCOPED_TRACE(path);
        EXPECT_EQ(files_.create(path, &error), nullptr);
        EXPECT_EQ(error, expected);
    }
}

// The station's records are the machine's, in ProgramData, whoever is logged on.
TEST(Win32Machine, TheStationsFolderIsInProgramData) {
    const auto folder = station_data_directory();
    ASSERT_TRUE(folder.has_value());
    const char* program_data = std::getenv("ProgramData");
    ASSERT_NE(program_data, nullptr);
    EXPECT_EQ(*folder, std::string(program_data) + "\\vrk");
    const std::pair<std::pair<const char*, const char*>, const char*> joined[] = {
        {{"C:\\ProgramData\\vrk", "station.db"}, "C:\\ProgramData\\vrk\\station.db"},
        {{"C:\\", "station.db"}, "C:\\station.db"},
        {{"D:/line/", "station.db"}, "D:/line/station.db"},
    };
    for (const auto& [parts, path] : joined)
        EXPECT_EQ(path_in(parts.first, parts.second), path) << path;
}

// A line database's server converts a report's hours in the zone it is told: on Windows only
// TZ names one, never the system's zone under its Windows name ("W. Europe Standard Time").
TEST(Win32Machine, TheZoneForTheServerComesFromTzAlone) {
    std::optional<std::string> had;
    if (const char* tz = std::getenv("TZ")) had = tz;
    const std::pair<std::optional<std::string>, std::optional<std::string>> cases[] = {
        {std::nullopt, std::nullopt},
        {"Europe/Berlin", "Europe/Berlin"},
        {":Asia/Kolkata", "Asia/Kolkata"},
        {"CET-1CEST,M3.5.0,M10.5.0/3", "CET-1CEST,M3.5.0,M10.5.0/3"},
    };
    for (const auto& [tz, zone] : cases) {
        vrk::test::set_test_environment("TZ", tz);
        EXPECT_EQ(local_time_zone(), zone) << tz.value_or("(no TZ)");
    }
    vrk::test::set_test_environment("TZ", had);
}

// Folders are made by their UTF-8 names, as every file of the program is opened: a name
// outside the machine's ANSI code page (Hebrew here) must not come out as another folder.
TEST_F(Win32Files, MakesFoldersByTheirUtf8Names) {
    const std::string made = (dir_.string() + "\\\xD7\xA7\xD7\x95/vrk");
    FileError error = FileError::io_failure;
    ASSERT_TRUE(make_directories(made, &error));
    EXPECT_EQ(error, FileError::none);
    EXPECT_TRUE(fs::is_directory(dir_ / fs::path(L"\u05E7\u05D5") / "vrk"));
    put("plain", "x");
    EXPECT_FALSE(make_directories((dir_ / "plain" / "vrk").string(), &error));
}

}  // namespace
}  // namespace vrk::platform
