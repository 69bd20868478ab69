// The platform services on Windows: the serial port on a COM device, the GetTickCount tick and
// the files of the current directory. The rest of the program sees only the interfaces in
// platform/; start-up creates these and hands them over. No system header leaks out of this
// one: handles are held by UniqueHandle.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/files.h"
#include "platform/serial_port.h"
#include "platform/tick_clock.h"
#include "platform/win32/unique_handle.h"

namespace vrk::platform {

// A serial line on a COM device ("\\.\COM5"). Held without sharing from open to close.
class Win32SerialPort final : public SerialPort {
  public:
    // How long a write may take: per byte plus a constant. 8 ms is about one byte's time at
    // 1200 baud, the slowest rate the unit uses, and the driver's 1024-byte queue takes a whole
    // block at once while the line moves at all; so a write only gives up on a line that has
    // stopped (output held, device gone), and never hangs on it.
    static constexpr std::uint32_t WRITE_TIME_PER_BYTE_MS = 8;
    static constexpr std::uint32_t WRITE_TIME_CONSTANT_MS = 1000;
    // The driver's queues each way.
    static constexpr std::uint32_t QUEUE_SIZE = 1024;

    // Opens a port by its name ("COM5", "com5", or the device path "\\.\COM5") for reading and
    // writing, without sharing. On failure returns null and sets error: not_found (no such
    // port), busy (another program holds it), not_a_serial (a device or file that is not a
    // serial line), io_failure (anything else).
    [[nodiscard]] static std::unique_ptr<Win32SerialPort> open(const std::string& name,
                                                               PortError& error);

    ~Win32SerialPort() override;
    Win32SerialPort(const Win32SerialPort&) = delete;
    Win32SerialPort& operator=(const Win32SerialPort&) = delete;

    bool configure(std::uint32_t baud) override;
    bool set_baud_rate(std::uint32_t baud) override;
    [[nodiscard]] ReadResult read(std::span<std::uint8_t> buffer) override;
    IoStatus write(std::span<const std::uint8_t> bytes) override;
    [[nodiscard]] std::optional<ModemLines> modem_lines() override;
    bool set_dtr_rts(bool on) override;
    void close() override;

  private:
    struct Key {
        explicit Key() = default;
    };

  public:
    Win32SerialPort(Key, win32::UniqueHandle handle) : handle_(std::move(handle)) {}

  private:
    win32::UniqueHandle handle_;
    // A read or write found the device gone: every later call reports the loss at once
    // instead of asking the driver again.
    bool lost_ = false;
};

class Win32PortProvider final : public PortProvider {
  public:
    // "com0" to "com99": every number whose device exists, whether or not it is free. Unsorted.
    [[nodiscard]] std::vector<std::string> candidate_ports() override;
    // The candidates that open now or are held by another program, each described by the
    // device manager's name for it ("USB Serial Port", "Communications Port") where the system
    // has one (Wine has none). A COM name stays with its adapter, so it is the stable name too.
    [[nodiscard]] std::vector<PortInfo> list_ports() override;
    [[nodiscard]] OpenResult open(const std::string& device) override;
};

class Win32TickClock final : public TickClock {
  public:
    // GetTickCount: milliseconds since the system started, wrapping after 49.7 days.
    [[nodiscard]] std::uint32_t tick_ms() override;
};

// File names reach the program as UTF-8 and go to the system as UTF-16 (the W functions), so a
// name in any script opens, whatever the machine's ANSI code page.
class Win32FileSystem final : public FileSystem {
  public:
    [[nodiscard]] std::string current_directory() override;
    [[nodiscard]] bool change_directory(const std::string& path) override;
    [[nodiscard]] char separator() const override { return '\\'; }
    [[nodiscard]] std::vector<std::string> find_files(const std::string& extension) override;
    // Only files on a disk open for reading: a device or a pipe named on the command line
    // would otherwise block the program or feed it endless bytes.
    [[nodiscard]] std::unique_ptr<InputFile> open_read(const std::string& path,
                                                       FileError* error) override;
    // Creates with normal attributes, truncating an existing file.
    [[nodiscard]] std::unique_ptr<OutputFile> create(const std::string& path,
                                                     FileError* error) override;
};

// The console a command-line program runs in.
class Win32Console final : public Console {
  public:
    [[nodiscard]] bool is_terminal(StandardStream stream) override;
    [[nodiscard]] std::optional<int> columns(StandardStream stream) override;
    // Ctrl+C, Ctrl+Break and closing the console window.
    void watch_interrupt() override;
    [[nodiscard]] bool interrupted() override;
};

}  // namespace vrk::platform
