// The units of a whole run, over every port: --count and --max-failures count them all, the
// board's total line and the summary show them. Shared by the ports' jobs.
//
// Threads: every call is safe from any thread (one lock; each call is short).
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vrk::cli {

struct Tally {
    std::uint32_t units = 0;
    std::uint32_t passed = 0;
    [[nodiscard]] std::uint32_t failed() const { return units - passed; }
    // Passed units in percent of those handled, one decimal; nullopt before the first unit
    // (no unit handled has no yield, not a yield of 0 %).
    [[nodiscard]] std::optional<std::string> yield_text() const;
};

class LineTally {
  public:
    // `ports` many ports; stop after `count` units or after `max_failures` failures (nullopt:
    // no such limit).
    LineTally(std::size_t ports, std::optional<std::uint32_t> count,
              std::optional<std::uint32_t> max_failures);

    // A job has a unit in hand and asks whether to work on it: true takes one of --count's
    // units; false when the line has stopped or every unit it was to do is taken (the job
    // leaves the unit alone and ends).
    [[nodiscard]] bool take_unit();
    // The unit taken has ended on port `port`. Stops the line when that was the last of
    // --count, or the failure that reaches --max-failures.
    void unit_ended(std::size_t port, bool passed);
    // Something every port shares failed (the station's database, the ID scheme's counter):
    // no port takes another unit.
    void stop();
    // No port takes another unit; the units in hand are finished.
    [[nodiscard]] bool stopped() const;
    // True the first time it is asked in this run: what every port shares is told once (the
    // ID scheme running out).
    [[nodiscard]] bool first_ids_warning();

    [[nodiscard]] Tally total() const;
    [[nodiscard]] Tally of_port(std::size_t port) const;

  private:
    mutable std::mutex mutex_;
    std::optional<std::uint32_t> count_;
    std::optional<std::uint32_t> max_failures_;
    std::uint32_t taken_ = 0;
    bool stopped_ = false;
    bool ids_warned_ = false;
    Tally total_;
    std::vector<Tally> ports_;
};

}  // namespace vrk::cli
