// How long a download or compare has left, from the pages done so far. Shared by the window's
// progress bar and the command-line tool's. Times are ticks of the session's clock.
#pragma once

#include <cstdint>
#include <optional>

namespace vrk::app {

class ProgressEstimate {
  public:
    // A phase begins (or the operation): the rate is measured from here.
    void start(std::uint32_t now, std::uint32_t pages_done, std::uint32_t pages);
    // Pages done so far in the phase.
    void update(std::uint32_t now, std::uint32_t pages_done);

    [[nodiscard]] std::uint32_t pages_done() const { return done_; }
    [[nodiscard]] std::uint32_t pages() const { return pages_; }
    // Percent done, 0 to 100.
    [[nodiscard]] unsigned percent() const;
    // Pages per second since the start, once at least one page is done and time has passed.
    [[nodiscard]] std::optional<double> pages_per_second() const;
    // Milliseconds left at the rate so far; nullopt until there is a rate.
    [[nodiscard]] std::optional<std::uint32_t> ms_left() const;

  private:
    std::uint32_t start_tick_ = 0;
    std::uint32_t start_done_ = 0;
    std::uint32_t now_ = 0;
    std::uint32_t done_ = 0;
    std::uint32_t pages_ = 0;
};

// "m:ss" (or "h:mm:ss" from an hour) into buffer; returns the length.
std::size_t format_duration(std::uint32_t ms, char* buffer, std::size_t size);

}  // namespace vrk::app
