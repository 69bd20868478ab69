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
#include "platform/pending_writes.h"
#include "platform/serial_port.h"
#include "platform/tick_clock.h"
#include "platform/win32/unique_handle.h"

namespace vrk::platform {

// A serial line on a COM device ("\\.\COM5"). Held without sharing from open to close.
//
// Writes do not wait for the line. A serial driver completes a write only once its bytes have
// gone, and a 260-byte page takes 2.2 s at 1200 baud: waited for, it would freeze the window
// that long. So the port is opened for overlapped I/O, write() copies the bytes into buffers the
// port owns (PendingWrites), starts the system's write of them and returns; bytes written while
// a write is still going out wait behind it and go as the next one. Every later call (read,
// write, the modem lines, a speed change) looks whether the write in flight has finished,
// without waiting, and starts the next; a read that waits for the unit also wakes for a write
// that finishes meanwhile. Reads are overlapped too but behave as before: what is waiting at
// once, else up to 50 ms for the first byte, the port's thread waiting on the read's event.
// close() cancels what is still in flight and waits for the cancellation before the buffers go.
// The link reckons from the byte count and the speed when the line is free; the port need not
// tell.
class Win32SerialPort final : public SerialPort {
  public:
    // When a write gives up: per byte plus a constant. 20 ms is more than twice a byte's time at
    // 1200 baud, the slowest rate the unit uses, so a write only gives up on a line that has
    // stopped (output held, device gone); and as nothing waits for it, it never holds anything
    // up meanwhile.
    static constexpr std::uint32_t WRITE_TIME_PER_BYTE_MS = 20;
    static constexpr std::uint32_t WRITE_TIME_CONSTANT_MS = 1000;
    // A read waits for the driver's 50 ms first-byte time-out, and at most this long: then it is
    // cancelled, and what it brought until then is handed out. The slack is a timer tick and a
    // half (Windows' timers run at 15.6 ms). Wine's serial driver keeps no time-out for
    // overlapped reads and completes one only when its buffer is full, so there every read ends
    // here.
    static constexpr std::uint32_t READ_WAIT_LIMIT_MS = 75;
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
    // The system's state of the overlapped read and write (OVERLAPPED and their events).
    struct Io;
    struct Key {
        explicit Key() = default;
    };

  public:
    Win32SerialPort(Key, win32::UniqueHandle handle, std::unique_ptr<Io> io);

  private:
    // Looks whether the write in flight has finished, without waiting, and starts the next.
    void check_write();
    // Hands the bytes waiting to the system, unless a write is in flight. False when the system
    // refused them at once (they are given up).
    bool start_write();
    // Ends the write in flight with the system's result: lost when the device has gone.
    void end_write(bool succeeded, unsigned long error);

    win32::UniqueHandle handle_;
    std::unique_ptr<Io> io_;
    PendingWrites pending_;
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
    void sleep_ms(std::uint32_t ms) override;
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
    void count_second_interrupt() override;
    [[nodiscard]] int interrupts() override;
};

}  // namespace vrk::platform
