// A serial port whose far end is a simulated unit in this same process: what the program
// writes reaches the unit at once (or after its line time), and what the unit answers waits to
// be read. It needs no pseudo-terminal and no thread, so it serves --simulate where there are no
// pseudo-terminals (Windows) and lets tests run a whole session on one thread with a clock they
// control.
//
// Time is kept, not slept: each byte the unit sends carries the moment it reaches the program's
// end (after the unit's busy time and, with line time, its bits on the line), and a read waits
// for that moment as a read on a real port waits for the byte. Everything runs on the thread
// that uses the port; the unit's accessors may be read from any thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/serial_port.h"
#include "sim/unit_end.h"

namespace vrk::sim {

// The time the simulated line runs on.
class LineClock {
  public:
    using Clock = std::chrono::steady_clock;
    virtual ~LineClock() = default;
    [[nodiscard]] virtual Clock::time_point now() = 0;
    // Returns once now() has reached the deadline (at once when it has already).
    virtual void sleep_until(Clock::time_point deadline) = 0;
};

// The machine's steady clock; a sleep blocks the calling thread.
class SteadyLineClock final : public LineClock {
  public:
    [[nodiscard]] Clock::time_point now() override;
    void sleep_until(Clock::time_point deadline) override;
};

// The device name the simulated port opens by.
inline constexpr const char* SIMULATED_PORT_NAME = "SIMULATED";

class SimulatedPort final : public platform::SerialPort {
  public:
    // How long a read waits for a first byte, as on a real port.
    static constexpr auto FIRST_BYTE_WAIT = std::chrono::milliseconds(50);
    // What a serial driver holds for the program; bytes beyond it are lost, as on a real port.
    static constexpr std::size_t INPUT_QUEUE_SIZE = 1024;

    // A port on the unit's line, which the caller has taken (UnitEnd::take_line); close()
    // gives it back. The unit and the clock outlive the port.
    SimulatedPort(UnitEnd& unit, LineClock& clock);
    ~SimulatedPort() override;
    SimulatedPort(const SimulatedPort&) = delete;
    SimulatedPort& operator=(const SimulatedPort&) = delete;

    // Only the speed matters on a simulated line: the unit answers only when the program's end
    // is at the unit's own speed.
    bool configure(std::uint32_t baud) override;
    // Bytes still on their way to the program when its speed changes arrive as garbage at the
    // new speed: they are lost.
    bool set_baud_rate(std::uint32_t baud) override;
    // The bytes that have reached the program's end by now; when none have, waits for the
    // first to come, at most FIRST_BYTE_WAIT.
    [[nodiscard]] platform::ReadResult read(std::span<std::uint8_t> buffer) override;
    // Hands the bytes to the unit, which takes in each frame when its last byte has arrived and
    // answers after its busy time. Never blocks.
    platform::IoStatus write(std::span<const std::uint8_t> bytes) override;
    // A simulated line has no modem lines, as a pseudo-terminal has none.
    [[nodiscard]] std::optional<platform::ModemLines> modem_lines() override;
    bool set_dtr_rts(bool on) override;
    void close() override;

  private:
    using TimePoint = LineClock::Clock::time_point;
    struct Arrival {
        TimePoint at;  // when the byte has fully reached the program's end
        std::uint8_t byte;
    };

    void set_speed(std::uint32_t baud);
    void take_message(const Bytes& message, TimePoint heard);
    void send(const Bytes& message, TimePoint ready);

    UnitEnd& unit_;
    LineClock& clock_;
    bool open_ = true;
    TimePoint rx_free_{};             // the unit has received every byte written by then
    TimePoint unit_free_{};           // the unit is done with what it took in by then
    TimePoint tx_free_{};             // the unit's last byte sent has fully left by then
    std::deque<Arrival> to_program_;  // in the order, and so the time, of arrival
};

// Opens the simulated port by SIMULATED_PORT_NAME; one at a time (a second open while one is
// open is busy, as on a COM port).
class SimulatedPortProvider final : public platform::PortProvider {
  public:
    SimulatedPortProvider(UnitEnd& unit, LineClock& clock) : unit_(unit), clock_(clock) {}
    [[nodiscard]] std::vector<std::string> candidate_ports() override;
    [[nodiscard]] platform::OpenResult open(const std::string& device) override;

  private:
    UnitEnd& unit_;
    LineClock& clock_;
};

}  // namespace vrk::sim
