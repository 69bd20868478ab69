#include "platform/pending_writes.h"

#include <utility>

namespace vrk::platform {

PendingWrites::PendingWrites() {
    // Both buffers at their largest once, so that no write allocates and the block in flight
    // never moves.
    in_flight_.reserve(CAPACITY);
    waiting_.reserve(CAPACITY);
}

bool PendingWrites::add(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > CAPACITY - in_flight_.size() - waiting_.size()) return false;
    waiting_.insert(waiting_.end(), bytes.begin(), bytes.end());
    return true;
}

std::span<const std::uint8_t> PendingWrites::start() {
    if (in_flight() || waiting_.empty()) return {};
    // in_flight_ is empty: the swap leaves waiting_ empty with the other buffer's capacity.
    std::swap(in_flight_, waiting_);
    return in_flight_;
}

void PendingWrites::finish() {
    in_flight_.clear();
}

void PendingWrites::clear() {
    in_flight_.clear();
    waiting_.clear();
}

}  // namespace vrk::platform
