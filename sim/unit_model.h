// The unit itself, without any line: its identity, its three device settings and its flash,
// and how it answers each message. The simulator feeds it the messages that reach the unit and
// sends back what it says; the tests drive it directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/line_speeds.h"
#include "sim/fault_source.h"
#include "sim/simulator.h"

namespace vrk::sim {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::size_t FLASH_PAGE_SIZE = 256;
inline constexpr std::size_t FLASH_BLOCK_SIZE = 65536;
// The wide page messages carry a 16-bit page number: no unit has more flash than that reaches.
inline constexpr std::size_t MAX_FLASH_SIZE = std::size_t{65536} * FLASH_PAGE_SIZE;
inline constexpr std::uint8_t ERASED = 0xFF;
// With wrong_page set, every this many-th PROGRAM_PAGE_WIDE is acknowledged with page + 1.
inline constexpr std::uint32_t WRONG_PAGE_EVERY = 8;
inline constexpr std::size_t WIDE_PAGE_FIRST = 256;
// The bit that flip_byte loses after programming.
inline constexpr std::uint8_t FLIPPED_BIT = 0x01;

// What the unit does with one message: the time it is busy before it answers, then its replies.
struct Answer {
    std::uint32_t busy_ms = 0;
    std::vector<Bytes> replies;
};

class UnitModel {
  public:
    // The configuration must have passed validate_config().
    explicit UnitModel(const UnitConfig& config);

    // Handles one message that reached the unit. A message of an unknown type, or of a known
    // type at a length the unit does not use, gets no answer.
    Answer handle(std::span<const std::uint8_t> message);
    // The unsolicited message a unit sends when it starts talking.
    [[nodiscard]] static Bytes announce_message();

    [[nodiscard]] std::size_t flash_size() const { return flash_.size(); }
    [[nodiscard]] Bytes flash_copy(std::size_t n) const;
    void poke_flash(std::size_t offset, std::uint8_t value);
    // One past the last byte that is not erased: how much of the flash holds something.
    [[nodiscard]] std::size_t programmed_extent() const;

    [[nodiscard]] const std::string& id() const { return id_; }
    void set_id(const std::string& id);
    [[nodiscard]] std::uint8_t internal_device() const { return internal_device_; }
    [[nodiscard]] std::uint8_t external_device() const { return external_device_; }
    [[nodiscard]] std::uint8_t gps_type() const { return gps_type_; }
    [[nodiscard]] bool silent() const { return silent_; }
    void set_silent(bool silent) { silent_ = silent; }
    [[nodiscard]] std::uint32_t page_requests() const { return page_requests_; }
    // Requests of a known type whose layout breaks the catalogue (a wide page below 256, a
    // reserved byte that is not 0): the unit does not answer them.
    [[nodiscard]] std::uint32_t malformed_requests() const { return malformed_requests_; }

  private:
    Answer erase_blocks(std::size_t blocks);
    Answer program_page(std::size_t page, std::span<const std::uint8_t> data, bool wide);
    Answer compare_page(std::size_t page, std::span<const std::uint8_t> data) const;
    // Counts a page request; false once the unit has gone dead because of it.
    bool count_page_request();
    [[nodiscard]] Bytes id_report() const;
    [[nodiscard]] Bytes version_report() const;

    UnitConfig config_;
    std::string id_;
    std::uint8_t gps_type_;
    std::uint8_t internal_device_;
    std::uint8_t external_device_;
    std::vector<std::uint8_t> flash_;
    std::uint32_t page_requests_ = 0;
    std::uint32_t malformed_requests_ = 0;
    std::uint32_t wide_requests_ = 0;
    bool silent_ = false;
};

// Why a configuration cannot run, or empty when it can.
[[nodiscard]] std::string validate_config(const UnitConfig& config);

// The line speeds a serial line (and so the simulated unit) can be set to.
using platform::is_line_speed;

}  // namespace vrk::sim
