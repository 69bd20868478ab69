// The unit's end of a serial line, whatever carries the bytes: what the unit hears (bits flipped
// on the way in, frames decoded, whole frames lost, frames at another speed heard as noise),
// what it makes of each message (the unit model) and what it puts back on the wire (replies
// lost or bits flipped on the way out), with the line monitor's records, the log and the
// counts. The simulator behind a pseudo-terminal and the simulated port inside the program
// both drive one; each adds only its own way of moving bytes and of letting time pass.
//
// The feeding calls (reset_line, speed_changed, hear, end_of_block, answer, reply_lost, to_wire,
// add_late_us) come from one thread at a time; every accessor may be called from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <fstream>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/frame_codec.h"
#include "sim/simulator.h"
#include "sim/unit_model.h"

namespace vrk::sim {

// One byte on an 8N1 line: start bit, 8 data bits, stop bit.
[[nodiscard]] inline std::chrono::steady_clock::duration byte_time(std::uint32_t baud) {
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::nanoseconds(10'000'000'000LL / baud));
}

class UnitEnd {
  public:
    explicit UnitEnd(UnitConfig config);
    UnitEnd(const UnitEnd&) = delete;
    UnitEnd& operator=(const UnitEnd&) = delete;

    // Checks the configuration and creates the log file, if one is asked for. False, with a
    // reason in *error (when given), when either fails; the unit must not be fed then.
    bool prepare(std::string* error);
    [[nodiscard]] const UnitConfig& config() const { return config_; }

    // The only line at a time: a second taker is refused until the first has let go (a COM
    // port is one program's).
    [[nodiscard]] bool take_line();
    void release_line();

    // A new line, at the speed it starts with before the program has touched it (0: none):
    // no frame in progress, and only a change from this speed is the program's.
    void reset_line(std::uint32_t speed);
    // The program's end of the line is now at `speed` (0: not a line speed). A UART switched to
    // another speed loses the frame it was in the middle of. Returns the ANNOUNCE message when
    // it is due now (the unit's speed, set for the first time, and the unit announces itself).
    [[nodiscard]] std::optional<Bytes> speed_changed(std::uint32_t speed);
    [[nodiscard]] std::uint32_t speed() const { return speed_; }
    [[nodiscard]] bool at_unit_speed() const { return speed_ == config_.baud; }

    // One wire byte from the program, at the speed last given. Returns the message it
    // completes when the unit can hear it (at its own speed); a frame at another speed is only
    // recorded, as a line monitor would see it.
    [[nodiscard]] std::optional<Bytes> hear(std::uint8_t byte);
    // The end of the bytes that arrived together: at another speed the unit's UART keeps no half
    // frame of noise.
    void end_of_block();

    // What the unit does with a message it heard: nothing when the frame is lost on the way in
    // (drop_rx), else the model's answer. The message is recorded and logged either way it went.
    [[nodiscard]] Answer answer(std::span<const std::uint8_t> message);
    // Whether the next reply is lost on its way (drop_tx); the announce is not a reply.
    [[nodiscard]] bool reply_lost();
    // A message as it goes onto the wire: its frame, with bits flipped as configured.
    [[nodiscard]] Bytes to_wire(const Bytes& message);
    // How late the carrier put a byte on the line or took a message in (see SimStats::late_us).
    void add_late_us(std::uint64_t late_us);

    // Writes config.flash_out (when set): the flash up to its last programmed byte. False,
    // with a reason in *error (when given), when the file cannot be written.
    bool write_flash_out(std::string* error);

    [[nodiscard]] std::vector<std::uint8_t> flash_copy(std::size_t n) const;
    void poke_flash(std::size_t offset, std::uint8_t value);
    [[nodiscard]] std::vector<std::vector<std::uint8_t>> received_messages() const;
    [[nodiscard]] std::vector<LineRecord> line_log() const;
    [[nodiscard]] SimStats stats() const;
    [[nodiscard]] std::string unit_id() const;
    [[nodiscard]] std::uint8_t internal_device() const;
    [[nodiscard]] std::uint8_t external_device() const;
    [[nodiscard]] std::uint8_t gps_type() const;
    void set_unit_id(const std::string& id);
    void set_silent(bool silent);

  private:
    const UnitConfig config_;
    std::atomic<bool> line_taken_{false};

    // Shared with the accessors.
    mutable std::mutex mutex_;
    UnitModel model_;
    std::deque<Bytes> received_;
    std::deque<LineRecord> records_;
    SimStats stats_;
    FaultSource faults_;

    // The feeding thread only.
    std::ofstream log_;
    link::FrameDecoder decoder_;
    std::uint32_t speed_ = 0;
    bool announced_ = false;
};

}  // namespace vrk::sim
