// The POSIX serial port on a real pseudo-terminal: the port opens the slave, the test plays the
// unit on the master. Termios requests on a master act on its slave, so the test reads the line
// settings there the way the simulator does.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/port_names.h"
#include "platform/posix/posix_platform.h"
#include "platform/posix/termios_line.h"

namespace vrk::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// Long enough for a loaded CI machine; only reached when something is wrong.
constexpr auto PATIENCE = std::chrono::seconds(10);
constexpr std::size_t READ_BLOCK = 80;

Bytes counting_bytes(std::size_t count) {
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(i);
    return bytes;
}

// Whether a user without privilege could open the device now. Exclusive mode does not stop
// root, so when the test runs as root the open is tried by a child that has given root up.
bool opens_for_unprivileged_user(const std::string& device) {
    if (::geteuid() != 0) {
        const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) return false;
        ::close(fd);
        return true;
    }
    if (::chmod(device.c_str(), 0666) != 0) return false;
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ::_exit(fd >= 0 ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class PosixSerialPortOnPty : public ::testing::Test {
  protected:
    void SetUp() override {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(::grantpt(master_), 0);
        ASSERT_EQ(::unlockpt(master_), 0);
        std::array<char, 256> name{};
        ASSERT_EQ(::ptsname_r(master_, name.data(), name.size()), 0);
        device_ = name.data();
        OpenResult opened = provider_.open(device_);
        ASSERT_EQ(opened.error, PortError::none);
        ASSERT_NE(opened.port, nullptr);
        port_ = std::move(opened.port);
    }

    void TearDown() override {
        port_.reset();
        close_far_end();
    }

    void close_far_end() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

    termios line() const {
        termios settings{};
        EXPECT_EQ(::tcgetattr(master_, &settings), 0);
        return settings;
    }

    void set_line(const termios& settings) const {
        ASSERT_EQ(::tcsetattr(master_, TCSANOW, &settings), 0);
    }

    void send_from_far_end(const Bytes& bytes) const {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t count = ::write(master_, bytes.data() + done, bytes.size() - done);
            ASSERT_GT(count, 0);
            done += static_cast<std::size_t>(count);
        }
    }

    // What the far end receives, until count bytes came or patience ran out.
    Bytes receive_at_far_end(std::size_t count) const {
        Bytes received;
        const auto deadline = Clock::now() + PATIENCE;
        while (received.size() < count && Clock::now() < deadline) {
            pollfd entry{master_, POLLIN, 0};
            if (::poll(&entry, 1, 100) <= 0) continue;
            std::array<std::uint8_t, 4096> chunk{};
            const ssize_t got = ::read(master_, chunk.data(), chunk.size());
            if (got <= 0) break;
            received.insert(received.end(), chunk.begin(), chunk.begin() + got);
        }
        return received;
    }

    // Reads through the port in 80-byte blocks until count bytes came, a read failed or
    // patience ran out; the size of each non-empty read goes to block_sizes.
    Bytes read_port(std::size_t count, std::vector<std::size_t>* block_sizes = nullptr) {
        Bytes received;
        const auto deadline = Clock::now() + PATIENCE;
        while (received.size() < count && Clock::now() < deadline) {
            std::array<std::uint8_t, READ_BLOCK> block{};
            const ReadResult got = port_->read(block);
            if (got.count == 0 && got.status != IoStatus::ok) break;
            if (got.count == 0) continue;
            if (block_sizes) block_sizes->push_back(got.count);
            received.insert(received.end(), block.begin(),
                            block.begin() + static_cast<std::ptrdiff_t>(got.count));
        }
        return received;
    }

    PosixPortProvider provider_;
    int master_ = -1;
    std::string device_;
    std::unique_ptr<SerialPort> port_;
};

TEST_F(PosixSerialPortOnPty, ConfigureMakesRawEightNoneOneAtTheSpeed) {
    for (const std::uint32_t baud : {1200u, 9600u, 57600u, 115200u}) {
        SCOPED_TRACE(baud);
        // Start each round from a line set up for a terminal user, with everything on that the
        // unit's line must not have.
        termios dirty = line();
        dirty.c_cflag = (dirty.c_cflag & ~static_cast<tcflag_t>(CSIZE | CLOCAL)) | CS7 | PARENB |
                        PARODD | CSTOPB | CRTSCTS;
        dirty.c_iflag |= ICRNL | INLCR | IGNCR | IXON | IXOFF | IXANY | ISTRIP | INPCK | PARMRK;
        dirty.c_oflag |= OPOST | ONLCR;
        dirty.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
        set_line(dirty);

        ASSERT_TRUE(port_->configure(baud));
        const termios settings = line();
        const speed_t speed = *posix::speed_for_baud(baud);
        EXPECT_EQ(::cfgetospeed(&settings), speed);
        EXPECT_EQ(::cfgetispeed(&settings), speed);
        EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_EQ(settings.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
        EXPECT_EQ(settings.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
        EXPECT_EQ(settings.c_iflag &
                      (ICRNL | INLCR | IGNCR | IXON | IXOFF | IXANY | ISTRIP | INPCK | PARMRK),
                  0u);
        EXPECT_EQ(settings.c_oflag & OPOST, 0u);
        EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    }
}

TEST_F(PosixSerialPortOnPty, SpeedRequestsForUnknownRatesChangeNothing) {
    ASSERT_TRUE(port_->configure(115200));
    const termios before = line();
    EXPECT_FALSE(port_->configure(0));  // B0 would hang the line up
    EXPECT_FALSE(port_->configure(14400));
    EXPECT_FALSE(port_->set_baud_rate(0));
    EXPECT_FALSE(port_->set_baud_rate(115201));
    const termios after = line();
    EXPECT_EQ(::cfgetospeed(&after), B115200);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
}

TEST_F(PosixSerialPortOnPty, SetBaudRateChangesOnlyTheSpeed) {
    ASSERT_TRUE(port_->configure(115200));
    // Marks that a read-modify-write keeps and a second configure would undo.
    termios marked = line();
    marked.c_iflag |= IGNPAR | IGNBRK;
    marked.c_cflag ^= HUPCL;
    marked.c_cc[VSTART] = 0x01;
    marked.c_cc[VMIN] = 7;
    set_line(marked);

    for (const std::uint32_t baud : {1200u, 2400u, 4800u, 9600u, 19200u, 57600u, 115200u}) {
        SCOPED_TRACE(baud);
        termios expected = line();
        const speed_t speed = *posix::speed_for_baud(baud);
        ASSERT_EQ(::cfsetispeed(&expected, speed), 0);
        ASSERT_EQ(::cfsetospeed(&expected, speed), 0);

        ASSERT_TRUE(port_->set_baud_rate(baud));
        const termios settings = line();
        EXPECT_EQ(::cfgetospeed(&settings), speed);
        EXPECT_EQ(::cfgetispeed(&settings), speed);
        EXPECT_EQ(settings.c_iflag, expected.c_iflag);
        EXPECT_EQ(settings.c_oflag, expected.c_oflag);
        EXPECT_EQ(settings.c_cflag, expected.c_cflag);
        EXPECT_EQ(settings.c_lflag, expected.c_lflag);
        for (std::size_t i = 0; i < NCCS; ++i) {
            EXPECT_EQ(settings.c_cc[i], expected.c_cc[i]) << "control character " << i;
        }
    }
}

TEST_F(PosixSerialPortOnPty, ReadReturnsEmptyAfterTheFirstByteTimeOut) {
    ASSERT_TRUE(port_->configure(115200));
    std::array<std::uint8_t, READ_BLOCK> block{};
    const auto start = Clock::now();
    const ReadResult got = port_->read(block);
    const auto elapsed = Clock::now() - start;
    EXPECT_EQ(got.status, IoStatus::ok);
    EXPECT_EQ(got.count, 0u);
    // About 50 ms; the bounds only tell "waited" from "returned at once" or "blocked".
    EXPECT_GE(elapsed, std::chrono::milliseconds(40));
    EXPECT_LE(elapsed, std::chrono::milliseconds(1000));
}

TEST_F(PosixSerialPortOnPty, ReadReturnsWhatArrivedTogetherInOneBlock) {
    ASSERT_TRUE(port_->configure(115200));
    const Bytes sent = {0xFF, 0x0B, 0x00, 0xFE, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46};
    send_from_far_end(sent);
    std::vector<std::size_t> blocks;
    EXPECT_EQ(read_port(sent.size(), &blocks), sent);
    EXPECT_EQ(blocks, std::vector<std::size_t>{sent.size()});
}

TEST_F(PosixSerialPortOnPty, ReadStopsAtTheEndOfTheCallersBuffer) {
    ASSERT_TRUE(port_->configure(115200));
    const Bytes sent = counting_bytes(200);
    send_from_far_end(sent);

    // A block of 80 inside a larger array: nothing may land past the span.
    std::array<std::uint8_t, READ_BLOCK + 20> storage{};
    storage.fill(0xAA);
    ReadResult got;
    const auto deadline = Clock::now() + PATIENCE;
    while (got.status == IoStatus::ok && got.count == 0 && Clock::now() < deadline) {
        got = port_->read(std::span<std::uint8_t>(storage.data(), READ_BLOCK));
    }
    ASSERT_EQ(got.count, READ_BLOCK);
    EXPECT_TRUE(std::equal(storage.begin(), storage.begin() + READ_BLOCK, sent.begin()));
    for (std::size_t i = READ_BLOCK; i < storage.size(); ++i) EXPECT_EQ(storage[i], 0xAA);

    // The rest follows in order, in blocks no larger than asked for.
    std::vector<std::size_t> blocks;
    const Bytes rest = read_port(sent.size() - READ_BLOCK, &blocks);
    EXPECT_EQ(rest, Bytes(sent.begin() + READ_BLOCK, sent.end()));
    for (const std::size_t size : blocks) EXPECT_LE(size, READ_BLOCK);
}

TEST_F(PosixSerialPortOnPty, EveryByteValuePassesUnchangedBothWays) {
    // CR, NL, XON, XOFF, ^C, ^V, DEL and the frame bytes 0xFC..0xFF are all data to the unit:
    // any translation, flow control, line editing or signal character left on shows here.
    ASSERT_TRUE(port_->configure(115200));
    Bytes sent = counting_bytes(256);
    sent.insert(sent.end(), sent.rbegin(), sent.rend());

    send_from_far_end(sent);
    EXPECT_EQ(read_port(sent.size()), sent);

    ASSERT_EQ(port_->write(sent), IoStatus::ok);
    EXPECT_EQ(receive_at_far_end(sent.size()), sent);
}

TEST_F(PosixSerialPortOnPty, ASecondOpenIsRefusedUntilTheFirstIsClosed) {
    const OpenResult second = provider_.open(device_);
    EXPECT_EQ(second.port, nullptr);
    EXPECT_EQ(second.error, PortError::busy);
    EXPECT_FALSE(opens_for_unprivileged_user(device_));

    // The port dialog opens and closes each port and then opens the chosen one again: closing
    // must leave nothing behind that refuses the next open, for any user.
    port_->close();
    EXPECT_TRUE(opens_for_unprivileged_user(device_));
    const OpenResult again = provider_.open(device_);
    EXPECT_EQ(again.error, PortError::none);
    EXPECT_NE(again.port, nullptr);
}

TEST_F(PosixSerialPortOnPty, ModemLinesAreUnknownOnAPseudoTerminal) {
    ASSERT_TRUE(port_->configure(115200));
    EXPECT_EQ(port_->modem_lines(), std::nullopt);
}

TEST_F(PosixSerialPortOnPty, AHangUpIsThePortLostNotAFailedRead) {
    // How an unplugged adapter looks, too: the kernel drops what was still queued, and the next
    // read finds the line gone. From then on every call says so; none reaches the device.
    ASSERT_TRUE(port_->configure(115200));
    send_from_far_end({0x01, 0x02, 0x03});
    close_far_end();
    std::array<std::uint8_t, READ_BLOCK> block{};
    EXPECT_EQ(port_->read(block).status, IoStatus::lost);
    EXPECT_EQ(port_->write(Bytes{0x0B, 0x00}), IoStatus::lost);
    EXPECT_EQ(port_->read(block).status, IoStatus::lost);
    EXPECT_FALSE(port_->set_baud_rate(9600));
    port_->close();
}

TEST_F(PosixSerialPortOnPty, WriteGivesUpWhenTheFarEndStopsTaking) {
    // The far end never reads, so the kernel's buffers fill; the write must end, false.
    port_.reset();
    PortError error = PortError::io_failure;
    auto port = PosixSerialPort::open(device_, error);
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(port->configure(115200));
    port->set_write_time_limit(std::chrono::milliseconds(0), std::chrono::milliseconds(200));
    EXPECT_NE(port->write(Bytes(1 << 20, 0x55)), IoStatus::ok);
}

TEST_F(PosixSerialPortOnPty, AClosedPortRefusesEverythingHarmlessly) {
    port_->close();
    port_->close();
    std::array<std::uint8_t, READ_BLOCK> block{};
    EXPECT_NE(port_->read(block).status, IoStatus::ok);
    EXPECT_NE(port_->write(Bytes{0x0B, 0x00}), IoStatus::ok);
    EXPECT_FALSE(port_->configure(115200));
    EXPECT_FALSE(port_->set_baud_rate(9600));
    EXPECT_FALSE(port_->set_dtr_rts(true));
    EXPECT_EQ(port_->modem_lines(), std::nullopt);
}

TEST(PosixPortOpen, ClassifiesWhatIsNotAPort) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("vrk_port_open_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto plain_file = dir / "ttyUSB0";
    std::ofstream(plain_file) << "not a terminal";

    struct Row {
        std::string device;
        PortError expected;
    };
    const std::vector<Row> rows = {
        {(dir / "missing" / "ttyUSB9").string(), PortError::not_found},
        {"/dev/null", PortError::not_a_serial},
        {plain_file.string(), PortError::not_a_serial},
        {dir.string(), PortError::not_a_serial},
    };
    PosixPortProvider provider;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.device);
        const OpenResult result = provider.open(row.device);
        EXPECT_EQ(result.port, nullptr);
        EXPECT_EQ(result.error, row.expected);
    }
    std::filesystem::remove_all(dir);
}

TEST(PosixPortList, OffersOnlySerialDevicesByFullPath) {
    for (const auto& device : PosixPortProvider().candidate_ports()) {
        SCOPED_TRACE(device);
        const std::filesystem::path path(device);
        EXPECT_EQ(path.parent_path(), "/dev");
        EXPECT_NE(posix::classify_port_name(path.filename().string()),
                  posix::PortNameKind::not_serial);
    }
}

}  // namespace
}  // namespace vrk::platform
