// The platform services on a POSIX system (Linux is the one we build for): the serial port on a
// terminal device, the steady-clock tick and the files of the current directory. The rest of the
// program sees only the interfaces in platform/; start-up creates these and hands them over.
// No system header leaks out of this one: the descriptors are held by UniqueFd.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/console.h"
#include "platform/files.h"
#include "platform/posix/unique_fd.h"
#include "platform/serial_port.h"
#include "platform/tick_clock.h"

namespace vrk::platform {

// A serial line on a terminal device (/dev/ttyUSB0, /dev/ttyS0, a pseudo-terminal's slave).
// Holds the device exclusively from open to close.
class PosixSerialPort final : public SerialPort {
  public:
    // How long a write may wait for the driver to take its bytes: per byte plus a constant.
    // 8 ms is about one byte's time at 1200 baud, the slowest rate the unit uses, and the
    // kernel's buffer takes a whole block at once while the line moves at all; so a write only
    // gives up on a line that has stopped (output held, device gone), and never hangs on it.
    static constexpr std::chrono::milliseconds WRITE_TIME_PER_BYTE{8};
    static constexpr std::chrono::milliseconds WRITE_TIME_CONSTANT{1000};

    // Opens a device read-write and exclusively. On failure returns null and sets error:
    // not_found (no such device), access_denied (permissions), busy (another program holds
    // it), not_a_serial (a file or device that is not a terminal), io_failure (anything else).
    [[nodiscard]] static std::unique_ptr<PosixSerialPort> open(const std::string& device,
                                                               PortError& error);

    ~PosixSerialPort() override;
    PosixSerialPort(const PosixSerialPort&) = delete;
    PosixSerialPort& operator=(const PosixSerialPort&) = delete;

    bool configure(std::uint32_t baud) override;
    bool set_baud_rate(std::uint32_t baud) override;
    [[nodiscard]] ReadResult read(std::span<std::uint8_t> buffer) override;
    IoStatus write(std::span<const std::uint8_t> bytes) override;
    [[nodiscard]] std::optional<ModemLines> modem_lines() override;
    bool set_dtr_rts(bool on) override;
    void close() override;

    [[nodiscard]] const std::string& device() const { return device_; }

    // Replaces the write time limit (the defaults above). For tests that need a stuck line to
    // give up quickly.
    void set_write_time_limit(std::chrono::milliseconds per_byte,
                              std::chrono::milliseconds constant) {
        write_time_per_byte_ = per_byte;
        write_time_constant_ = constant;
    }

  private:
    // Only open() makes ports: the key lets it use make_unique with a constructor nobody else
    // can call.
    struct Key {
        explicit Key() = default;
    };

  public:
    PosixSerialPort(Key, posix::UniqueFd fd, std::string device)
        : fd_(std::move(fd)), device_(std::move(device)) {}

  private:
    // Marks the port lost and lets go of the descriptor; returns the read result that says so.
    ReadResult lose();

    posix::UniqueFd fd_;
    std::string device_;
    bool lost_ = false;  // the device went away: every call says so from then on
    bool latency_asked_ = false;
    std::optional<int> serial_flags_;  // the driver's flags to put back at close
    std::chrono::milliseconds write_time_per_byte_ = WRITE_TIME_PER_BYTE;
    std::chrono::milliseconds write_time_constant_ = WRITE_TIME_CONSTANT;
};

class PosixPortProvider final : public PortProvider {
  public:
    // The serial devices of this machine under /dev: USB and ACM adapters, SoC and Bluetooth
    // serial lines, and the ttyS ports that have a UART behind them (a PC kernel creates many
    // ttyS nodes with nothing there). Full paths ("/dev/ttyUSB0"), unsorted.
    [[nodiscard]] std::vector<std::string> candidate_ports() override;
    // The candidates with what sysfs knows of their hardware (a USB adapter's strings and ids)
    // and their udev names under /dev/serial as stable names.
    [[nodiscard]] std::vector<PortInfo> list_ports() override;
    [[nodiscard]] OpenResult open(const std::string& device) override;
};

class PosixTickClock final : public TickClock {
  public:
    // The steady clock in milliseconds, truncated to 32 bits.
    [[nodiscard]] std::uint32_t tick_ms() override;
    void sleep_ms(std::uint32_t ms) override;
};

class PosixFileSystem final : public FileSystem {
  public:
    [[nodiscard]] std::string current_directory() override;
    [[nodiscard]] bool change_directory(const std::string& path) override;
    [[nodiscard]] char separator() const override { return '/'; }
    [[nodiscard]] std::vector<std::string> find_files(const std::string& extension) override;
    // Only regular files open for reading: a FIFO or a device named on the command line would
    // otherwise block the program or feed it endless bytes.
    [[nodiscard]] std::unique_ptr<InputFile> open_read(const std::string& path,
                                                       FileError* error) override;
    // Creates with mode 0666 less the umask, truncating an existing file.
    [[nodiscard]] std::unique_ptr<OutputFile> create(const std::string& path,
                                                     FileError* error) override;
};

class PosixConsole final : public Console {
  public:
    [[nodiscard]] bool is_terminal(StandardStream stream) override;
    [[nodiscard]] std::optional<int> columns(StandardStream stream) override;
    void watch_interrupt() override;
    [[nodiscard]] bool interrupted() override;
    void count_second_interrupt() override;
    [[nodiscard]] int interrupts() override;
};

}  // namespace vrk::platform
