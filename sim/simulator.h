// A stand-in for the VRK 700 unit behind a pseudo-terminal. The program opens the terminal's
// other end as its serial port and cannot tell the difference: the simulator answers only at
// its own line speed (as set by the program on its end), keeps the unit's identity, settings
// and flash, and can emulate line time, slow flash and a noisy or failing line. What the unit
// hears, does and says is sim/unit_end's, shared with the simulated port of sim/simulated_port;
// this class adds the terminal, its thread and real time.
//
// The simulator runs its own thread. Every accessor may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vrk::sim {

struct UnitConfig {
    std::uint32_t baud = 115200;  // the only line speed the unit understands
    std::string id = "VRK00042";  // at most 8 characters
    std::int16_t version_hundredths = 215;
    std::uint8_t flash_type = 0x28;
    std::int32_t serial_number = 70012;
    std::int32_t crystal_hz = 14745600;
    bool short_version = false;  // answer with the 8-byte version report, without the crystal
    std::uint8_t gps_type = 0;
    std::uint8_t internal_device = 1;
    std::uint8_t external_device = 1;
    // Send ANNOUNCE once, when the program's end of the line is first set to the unit's speed.
    bool announce = false;
    // Every byte takes 10 bit times at the current speed, both ways, as on a real UART.
    bool line_time = false;
    std::uint32_t erase_ms = 0;    // per 64 KiB block erased
    std::uint32_t program_ms = 0;  // per page programmed
    // Faults, all drawn from one generator seeded with `seed`, so a run can be repeated.
    std::uint64_t seed = 1;
    double drop_rx = 0;  // probability that a whole received frame is lost
    double drop_tx = 0;  // probability that a whole reply is not sent
    double corrupt = 0;  // probability, per wire byte sent, that one of its bits flips
    // Probability, per wire byte received at the unit's speed, that one of its bits flips before
    // the unit decodes it: page data programmed wrong, a request that names another page.
    double corrupt_rx = 0;
    // After this many page requests (program or compare) the unit goes dead: no answer to
    // anything any more.
    std::optional<std::uint32_t> stop_after_pages;
    // The unit takes an ID that is set, but never answers the set (ID queries are answered):
    // the moment between an ID sent and its confirmation, held open.
    bool no_id_reply = false;
    // Every 8th PROGRAM_PAGE_WIDE is acknowledged naming the page above the one programmed.
    bool wrong_page = false;
    // Flash that does not keep what was written: this byte of the flash loses a bit right after
    // its page is programmed (the acknowledgement still says the page was taken), so only a
    // compare of that page can find it.
    std::optional<std::size_t> flip_byte;
    std::size_t flash_size = std::size_t{8} << 20;  // at most 16 MiB (the 16-bit page range)
    // Bytes at the start of the flash that hold a previous application (pseudo-random, from
    // `seed`) instead of being erased, so that a download that forgets to erase shows.
    std::size_t previous_application = 0;
    std::string log_path;   // one hex line per message the unit received
    std::string flash_out;  // the flash, up to its last programmed byte, written at stop()
};

// What went over the line towards the unit, as a line monitor would see it: every complete
// frame, also those sent at a speed the unit does not understand.
struct LineRecord {
    std::uint32_t baud = 0;             // the speed the program's end was set to
    std::vector<std::uint8_t> message;  // decoded
    bool accepted = false;              // the unit took it (right speed, not lost on the way)
};

struct SimStats {
    std::uint64_t frames_dropped_rx = 0;
    std::uint64_t replies_dropped_tx = 0;
    std::uint64_t bytes_corrupted = 0;      // sent by the unit
    std::uint64_t bytes_corrupted_rx = 0;   // received by the unit
    std::uint64_t wire_bytes_received = 0;  // at the unit's speed
    std::uint64_t wire_bytes_sent = 0;
    // With line time: how far behind the line the unit ran, in total (a received frame handled
    // after its last byte arrived, a reply's last byte written after it was due). Sleeps wake
    // late, so this is the simulator's own share of a transfer's time beyond the wire's.
    std::uint64_t late_us = 0;
};

class Simulator {
  public:
    explicit Simulator(UnitConfig config);
    ~Simulator();  // stops
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens the pseudo-terminal and starts answering. False, with a reason in *error (when
    // given), if the terminal cannot be opened, the configuration is unusable or it runs already.
    bool start(std::string* error);
    // The device the program is to open (the terminal's slave end). Empty before start(); a new
    // one after plug_in().
    [[nodiscard]] const std::string& device_path() const;
    // Makes a symbolic link at `path` that points at the terminal (replacing a link left behind,
    // never anything else) and keeps it pointing there across unplug() and plug_in(), as udev
    // keeps a /dev/serial name with an adapter. Removed at stop(). False, with a reason in
    // *error (when given), when it cannot be made.
    bool link_at(const std::string& path, std::string* error);
    // Stops answering, writes flash_out, closes the terminal. Idempotent. False, with a reason
    // in *error (when given), only when flash_out could not be written.
    bool stop(std::string* error = nullptr);

    // As a USB adapter pulled out: the terminal closes, so the program's end hangs up, and the
    // link goes. The unit keeps its flash and settings.
    void unplug();
    // As the adapter plugged back in: a new terminal (another device name), the link pointing
    // at it, the unit answering again. False, with a reason in *error (when given), when no
    // terminal can be had.
    bool plug_in(std::string* error);

    // The first n bytes of the flash (fewer when the flash is smaller).
    [[nodiscard]] std::vector<std::uint8_t> flash_copy(std::size_t n) const;
    // Changes one flash byte, as a fault would; offsets outside the flash are ignored.
    void poke_flash(std::size_t offset, std::uint8_t value);
    // Every message the unit took, in order.
    [[nodiscard]] std::vector<std::vector<std::uint8_t>> received_messages() const;
    [[nodiscard]] std::vector<LineRecord> line_log() const;
    [[nodiscard]] SimStats stats() const;

    // Settings as the unit holds them now.
    [[nodiscard]] std::string unit_id() const;
    [[nodiscard]] std::uint8_t internal_device() const;
    [[nodiscard]] std::uint8_t external_device() const;
    [[nodiscard]] std::uint8_t gps_type() const;
    void set_unit_id(const std::string& id);
    // Makes the unit dead (true) or alive again (false), as stop_after_pages does.
    void set_silent(bool silent);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vrk::sim
