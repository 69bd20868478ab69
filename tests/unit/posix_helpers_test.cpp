// The device-free decisions of the POSIX layer: speeds, error categories, port names, the
// extension match.
#include <gtest/gtest.h>
#include <poll.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "platform/line_speeds.h"
#include "platform/path_names.h"
#include "platform/posix/errno_classes.h"
#include "platform/posix/port_names.h"
#include "platform/posix/termios_line.h"

namespace vrk::platform::posix {
namespace {

struct SpeedRow {
    std::uint32_t baud;
    speed_t speed;
};

// Every rate of the unit's hunt, its neighbours, and the fast rates of USB adapters.
const std::vector<SpeedRow> SPEED_ROWS = {
    {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},   {4800, B4800},
    {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600}, {115200, B115200},
    {230400, B230400}, {460800, B460800}, {921600, B921600},
};

TEST(PosixSpeedTable, MapsKnownRatesBothWays) {
    for (const std::uint32_t baud : LINE_SPEEDS) EXPECT_TRUE(speed_for_baud(baud)) << baud;
    for (const auto& row : SPEED_ROWS) {
        SCOPED_TRACE(row.baud);
        EXPECT_EQ(speed_for_baud(row.baud), row.speed);
        EXPECT_EQ(baud_for_speed(row.speed), row.baud);
    }
}

TEST(PosixSpeedTable, RefusesRatesItDoesNotHold) {
    // 0 above all: its constant B0 would hang the line up instead of setting a speed. The rest
    // are near misses of real rates, which a sloppy lookup (nearest, lower bound) would accept.
    for (const std::uint32_t baud : {0u, 1u, 1199u, 1201u, 14400u, 115201u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(baud);
        EXPECT_EQ(speed_for_baud(baud), std::nullopt);
    }
    EXPECT_EQ(baud_for_speed(B0), std::nullopt);
}

struct PortErrorRow {
    int error_number;
    PortError expected;
};

TEST(PosixErrorClassification, PortErrors) {
    const std::vector<PortErrorRow> rows = {
        {0, PortError::none},
        {ENOENT, PortError::not_found},
        {ENOTDIR, PortError::not_found},
        {ENODEV, PortError::not_found},
        {ENXIO, PortError::not_found},
        {EACCES, PortError::access_denied},
        {EPERM, PortError::access_denied},
        {EBUSY, PortError::busy},        // exclusive mode held by another program
        {EWOULDBLOCK, PortError::busy},  // another program's lock
        {ENOTTY, PortError::not_a_serial},
        {EISDIR, PortError::not_a_serial},
        {EIO, PortError::io_failure},
        {EINVAL, PortError::io_failure},
        {ENOMEM, PortError::io_failure},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.error_number);
        EXPECT_EQ(classify_port_error(row.error_number), row.expected);
    }
}

struct IoErrorRow {
    int error_number;
    IoStatus expected;
};

TEST(PosixErrorClassification, AVanishedDeviceIsLostAnythingElseOneFailedCall) {
    const std::vector<IoErrorRow> errors = {
        {EIO, IoStatus::lost},       // a hung-up terminal
        {ENXIO, IoStatus::lost},     // the hardware gone from under its driver
        {ENODEV, IoStatus::lost},    // likewise
        {EAGAIN, IoStatus::failed},  // nothing there now
        {EINVAL, IoStatus::failed},  // a request the driver does not take
    };
    for (const auto& row : errors) {
        SCOPED_TRACE(row.error_number);
        EXPECT_EQ(classify_io_error(row.error_number), row.expected);
    }
    const std::vector<std::pair<int, IoStatus>> events = {
        {POLLIN, IoStatus::ok},
        {POLLIN | POLLHUP, IoStatus::lost},
        {POLLERR, IoStatus::lost},
    };
    for (const auto& [polled, expected] : events) {
        SCOPED_TRACE(polled);
        EXPECT_EQ(classify_poll_events(polled), expected);
    }
}

struct FileErrorRow {
    int error_number;
    FileError expected;
};

TEST(PosixErrorClassification, FileErrors) {
    const std::vector<FileErrorRow> rows = {
        {0, FileError::none},
        {ENOENT, FileError::not_found},
        {ENOTDIR, FileError::not_found},
        {EACCES, FileError::access_denied},
        {EPERM, FileError::access_denied},
        {EROFS, FileError::access_denied},
        {ENOSPC, FileError::no_space},
        {EDQUOT, FileError::no_space},
        {EFBIG, FileError::no_space},
        {EIO, FileError::io_failure},
        {EISDIR, FileError::io_failure},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.error_number);
        EXPECT_EQ(classify_file_error(row.error_number), row.expected);
    }
}

struct NameRow {
    const char* name;
    PortNameKind expected;
};

TEST(PosixPortNames, QualifiesDeviceNames) {
    const std::vector<NameRow> rows = {
        {"ttyS0", PortNameKind::serial_if_uart},
        {"ttyS31", PortNameKind::serial_if_uart},
        {"ttyUSB0", PortNameKind::serial},
        {"ttyUSB12", PortNameKind::serial},
        {"ttyACM0", PortNameKind::serial},
        {"ttyAMA0", PortNameKind::serial},
        {"ttyXRUSB3", PortNameKind::serial},
        {"rfcomm0", PortNameKind::serial},
        // Look-alikes: virtual consoles, pseudo-terminals, the prefix alone, suffixes that are
        // not port numbers, other ttyS-prefixed drivers, wrong case, directory parts.
        {"tty", PortNameKind::not_serial},
        {"tty0", PortNameKind::not_serial},
        {"tty63", PortNameKind::not_serial},
        {"ttyS", PortNameKind::not_serial},
        {"ttyUSB", PortNameKind::not_serial},
        {"ttySAC0", PortNameKind::not_serial},
        {"ttyS0.lock", PortNameKind::not_serial},
        {"ttyUSB0-old", PortNameKind::not_serial},
        {"ttyusb0", PortNameKind::not_serial},
        {"ptmx", PortNameKind::not_serial},
        {"console", PortNameKind::not_serial},
        {"/dev/ttyUSB0", PortNameKind::not_serial},
        {"", PortNameKind::not_serial},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(classify_port_name(row.name), row.expected);
    }
}

struct SuffixRow {
    const char* name;
    const char* suffix;
    bool expected;
};

TEST(PosixFileNames, ExtensionMatchIgnoresCase) {
    const std::vector<SuffixRow> rows = {
        {"app.vr4", ".vr4", true},  {"APP.VR4", ".vr4", true},      {"boot.Vr4", ".VR4", true},
        {".vr4", ".vr4", true},     {"app.vr4.bak", ".vr4", false}, {"app.vr", ".vr4", false},
        {"appvr4", ".vr4", false},  {"vr4", ".vr4", false},         {"", ".vr4", false},
        {"app.vr5", ".vr4", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " / " + row.suffix);
        EXPECT_EQ(ends_with_ignoring_case(row.name, row.suffix), row.expected);
    }
}

}  // namespace
}  // namespace vrk::platform::posix
