// The bytes a serial port has taken from the program and not yet seen written: the block the
// system is writing now, and the bytes that came after it, waiting their turn. A port whose
// writes go on while the program does (Windows' overlapped writes) keeps these, so that a
// 260-byte page at 1200 baud, 2.2 s on the wire, never holds the window up; the link knows
// from the byte count and the speed when the line is free again.
//
// Pure bookkeeping, no system calls: the port hands start()'s block to the system and calls
// finish() when the system is done with it. One thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vrk::platform {

class PendingWrites {
  public:
    // At most this many bytes in flight and waiting together: about 15 page requests. The
    // program sends a request and waits for its answer, so only a line that has stopped moving
    // gets this far behind.
    static constexpr std::size_t CAPACITY = 4096;

    PendingWrites();

    // Takes the bytes, to go after everything taken before. False, taking nothing, when they
    // would not fit.
    [[nodiscard]] bool add(std::span<const std::uint8_t> bytes);
    // The block for the system to write now: every byte waiting, in order. Empty when a block
    // is in flight already or nothing waits. The block's bytes stay where they are, unchanged,
    // until finish(), whatever is added meanwhile: the system writes from them.
    [[nodiscard]] std::span<const std::uint8_t> start();
    // The system is done with the block in flight, whether it wrote all of it or not: what it
    // did not write is given up (a line that stalls that long loses bytes, and the program's
    // retries make them good).
    void finish();
    // Gives up everything, in flight and waiting (the port is closing).
    void clear();

    [[nodiscard]] bool in_flight() const { return !in_flight_.empty(); }
    [[nodiscard]] std::size_t waiting() const { return waiting_.size(); }

  private:
    std::vector<std::uint8_t> in_flight_;
    std::vector<std::uint8_t> waiting_;
};

}  // namespace vrk::platform
