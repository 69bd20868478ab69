// Test doubles for the platform: a scripted serial port, a settable clock, scripted host
// answers and an in-memory file system that can be told to fail.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/controls_model.h"
#include "platform/files.h"
#include "platform/host_services.h"
#include "platform/serial_port.h"
#include "platform/tick_clock.h"

namespace vrk::test {

using Bytes = std::vector<std::uint8_t>;

// Parses "FF 0B 00 FE" (spaces optional) into bytes.
Bytes hex(const std::string& text);
// Formats bytes as "FF 0B 00 FE".
std::string to_hex(const Bytes& bytes);

class FakePort : public platform::SerialPort {
  public:
    // Everything the program did to the port, in order: "configure 115200", "baud 9600",
    // "write <n>", "dtr_rts on", "dtr_rts off", "close", "modem", "read".
    std::vector<std::string> events;
    std::vector<Bytes> writes;               // each write call's bytes
    std::deque<std::optional<Bytes>> reads;  // scripted reads; nullopt = a failed read
    bool lost = false;                       // the device is gone: every read and write says so
    bool writes_lost = false;                // only writes have found out so far
    std::optional<platform::ModemLines> lines = platform::ModemLines{true, true};
    std::uint32_t baud = 0;
    bool closed = false;
    bool log_reads = false;  // reads are frequent; log them only when a test asks

    // Queues bytes to be delivered by one read.
    void feed(const Bytes& bytes) { reads.emplace_back(bytes); }
    // Everything written so far, concatenated.
    [[nodiscard]] Bytes written() const;
    void clear_writes() { writes.clear(); }

    bool configure(std::uint32_t b) override;
    bool set_baud_rate(std::uint32_t b) override;
    platform::ReadResult read(std::span<std::uint8_t> buffer) override;
    platform::IoStatus write(std::span<const std::uint8_t> bytes) override;
    std::optional<platform::ModemLines> modem_lines() override;
    bool set_dtr_rts(bool on) override;
    void close() override;
};

class FakeClock : public platform::TickClock {
  public:
    std::uint32_t now = 1000;
    std::uint32_t tick_ms() override { return now; }
    // A sleep is time passing, at once.
    void sleep_ms(std::uint32_t ms) override { now += ms; }
    void advance(std::uint32_t ms) { now += ms; }
};

struct MessageBoxCall {
    std::string text;
    std::string caption;
    platform::MessageButtons buttons;
    platform::MessageIcon icon;
};

class FakeHost : public platform::HostServices {
  public:
    std::vector<MessageBoxCall> boxes;
    std::deque<platform::MessageAnswer> answers;  // default: ok / no
    int beeps = 0;
    std::vector<platform::SaveFileRequest> save_requests;
    std::deque<std::optional<std::string>> save_answers;  // default: cancel
    // Runs while a message box is "open" (to tick the timer re-entrantly, for instance).
    std::function<void()> while_box_open;

    platform::MessageAnswer message_box(const std::string& text, const std::string& caption,
                                        platform::MessageButtons buttons,
                                        platform::MessageIcon icon) override;
    void beep() override { ++beeps; }
    std::optional<std::string> save_file_dialog(const platform::SaveFileRequest& request) override;
};

// Files held in memory. Paths are used as given; find_files looks at names without '/'.
class MemoryFileSystem : public platform::FileSystem {
  public:
    std::map<std::string, Bytes> files;
    std::string cwd = "/work/images";
    // Faults: creation fails; writes fail after this many bytes have been written in total;
    // reads deliver at most this many bytes; a file's size is reported larger than its content.
    bool fail_create = false;
    std::optional<std::size_t> fail_writes_after;
    std::optional<std::size_t> short_read_limit;
    bool fail_size = false;
    // Files that exist but cannot be opened (no permission, a directory of that name).
    std::set<std::string> unreadable;
    std::size_t bytes_written = 0;

    std::string current_directory() override { return cwd; }
    // Any directory exists; files stored under "<cwd>/" then count as the current directory's.
    bool change_directory(const std::string& path) override;
    char separator() const override { return '/'; }
    std::vector<std::string> find_files(const std::string& extension) override;
    std::unique_ptr<platform::InputFile> open_read(const std::string& path,
                                                   platform::FileError* error) override;
    std::unique_ptr<platform::OutputFile> create(const std::string& path,
                                                 platform::FileError* error) override;
};

}  // namespace vrk::test
