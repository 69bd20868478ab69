// The simulator's end of the serial line: the master side of a pseudo-terminal. The program
// opens the slave side as its serial port and sets its speed there; a pseudo-terminal carries
// that setting without acting on it, so the line speed is read back from the terminal settings
// and the simulator decides what a real UART at another speed would have heard.
//
// The implementation is the one part of the simulator that talks to the operating system
// (sim/posix/pty_line.cpp).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace vrk::sim {

class PtyLine {
  public:
    using Clock = std::chrono::steady_clock;

    enum class Event {
        readable,  // bytes from the program are waiting
        idle,      // the time-out passed, or nobody has the slave open (nothing can arrive)
        woken,     // wake() was called: the owner is stopping
    };

    PtyLine();
    ~PtyLine();
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    // Creates the pseudo-terminal in raw mode (no echo, no translation), so that nothing the
    // unit says comes back to it before the program has configured its end.
    bool open(std::string* error);
    // The slave's device name, for the program to open. Empty before open().
    [[nodiscard]] const std::string& slave_path() const { return slave_path_; }

    // Waits until bytes arrive, the deadline passes or wake() is called.
    Event wait_input(Clock::time_point deadline);
    // Waits until the deadline passes or wake() is called; false when woken. Input is left alone.
    bool sleep_until(Clock::time_point deadline);
    // Reads what is waiting without blocking: the count, 0 when nothing waits or nobody has the
    // slave open, nullopt on a failure.
    [[nodiscard]] std::optional<std::size_t> read(std::span<std::uint8_t> buffer);
    // Writes all bytes; bytes the terminal cannot take (the program has closed its end) are lost,
    // as they would be on an unplugged cable.
    void write(std::span<const std::uint8_t> bytes);
    // The speed the program's end is set to, in baud; 0 when it cannot be read or is not a rate.
    [[nodiscard]] std::uint32_t line_speed() const;

    // Makes every present and future wait return at once. Callable from any thread.
    void wake();
    void close();

  private:
    int master_ = -1;
    int wake_read_ = -1;
    int wake_write_ = -1;
    std::string slave_path_;
};

}  // namespace vrk::sim
