#include "sim/simulated_port.h"

#include <algorithm>
#include <thread>

#include "platform/line_speeds.h"

namespace vrk::sim {

namespace {

using Clock = LineClock::Clock;

}  // namespace

Clock::time_point SteadyLineClock::now() {
    return Clock::now();
}

void SteadyLineClock::sleep_until(Clock::time_point deadline) {
    std::this_thread::sleep_until(deadline);
}

SimulatedPort::SimulatedPort(UnitEnd& unit, LineClock& clock) : unit_(unit), clock_(clock) {
    // A new line: the unit hears nothing until the program sets its end to the unit's speed.
    unit_.reset_line(0);
    rx_free_ = unit_free_ = tx_free_ = clock_.now();
}

SimulatedPort::~SimulatedPort() {
    close();
}

bool SimulatedPort::configure(std::uint32_t baud) {
    if (!open_) return false;
    set_speed(baud);
    return true;
}

bool SimulatedPort::set_baud_rate(std::uint32_t baud) {
    if (!open_) return false;
    set_speed(baud);
    return true;
}

void SimulatedPort::set_speed(std::uint32_t baud) {
    const auto now = clock_.now();
    while (!to_program_.empty() && to_program_.back().at > now) to_program_.pop_back();
    if (auto announce = unit_.speed_changed(platform::is_line_speed(baud) ? baud : 0))
        send(*announce, now);
}

platform::ReadResult SimulatedPort::read(std::span<std::uint8_t> buffer) {
    if (!open_) return {platform::IoStatus::failed, 0};
    if (buffer.empty()) return {};
    auto now = clock_.now();
    const auto deadline = now + FIRST_BYTE_WAIT;
    if (to_program_.empty() || to_program_.front().at > deadline) {
        // Nothing can arrive meanwhile: every byte the unit sends answers a write, and writes
        // come from the thread that is reading.
        clock_.sleep_until(deadline);
        return {};
    }
    if (to_program_.front().at > now) {
        clock_.sleep_until(to_program_.front().at);
        now = clock_.now();
    }
    std::size_t count = 0;
    while (count < buffer.size() && !to_program_.empty() && to_program_.front().at <= now) {
        buffer[count++] = to_program_.front().byte;
        to_program_.pop_front();
    }
    return {platform::IoStatus::ok, count};
}

platform::IoStatus SimulatedPort::write(std::span<const std::uint8_t> bytes) {
    if (!open_) return platform::IoStatus::failed;
    const std::uint32_t speed = unit_.speed();
    const auto per_byte =
        unit_.config().line_time && speed != 0 ? byte_time(speed) : Clock::duration::zero();
    // The bytes go out one after the other, after whatever is still going out.
    auto heard = std::max(rx_free_, clock_.now());
    for (const std::uint8_t b : bytes) {
        heard += per_byte;
        // The unit takes a frame in when its last byte has arrived.
        if (auto message = unit_.hear(b)) take_message(*message, heard);
    }
    rx_free_ = heard;
    unit_.end_of_block();
    return platform::IoStatus::ok;
}

void SimulatedPort::take_message(const Bytes& message, TimePoint heard) {
    // The unit does one thing at a time: a message that arrives while it is still busy with the
    // last one (erasing, or putting its replies on the line) waits.
    const auto start = std::max(heard, unit_free_);
    const Answer answer = unit_.answer(message);
    const auto ready = start + std::chrono::milliseconds(answer.busy_ms);
    unit_free_ = ready;
    for (const Bytes& reply : answer.replies) {
        if (!unit_.reply_lost()) send(reply, ready);
    }
}

void SimulatedPort::send(const Bytes& message, TimePoint ready) {
    // The program's end is at another speed: the unit's bytes are garbage there.
    if (!unit_.at_unit_speed()) return;
    const Bytes wire = unit_.to_wire(message);
    const bool line_time = unit_.config().line_time;
    const auto per_byte = line_time ? byte_time(unit_.config().baud) : Clock::duration::zero();
    auto at = line_time ? std::max(ready, tx_free_) : ready;
    for (const std::uint8_t b : wire) {
        at += per_byte;
        if (to_program_.size() < INPUT_QUEUE_SIZE) to_program_.push_back({at, b});
    }
    if (line_time) {
        tx_free_ = at;
        unit_free_ = std::max(unit_free_, at);
    }
}

std::optional<platform::ModemLines> SimulatedPort::modem_lines() {
    return std::nullopt;
}

bool SimulatedPort::set_dtr_rts(bool /*on*/) {
    return open_;
}

void SimulatedPort::close() {
    if (!open_) return;
    open_ = false;
    to_program_.clear();
    unit_.release_line();
}

std::vector<std::string> SimulatedPortProvider::candidate_ports() {
    return {SIMULATED_PORT_NAME};
}

platform::OpenResult SimulatedPortProvider::open(const std::string& device) {
    platform::OpenResult result;
    if (device != SIMULATED_PORT_NAME) {
        result.error = platform::PortError::not_found;
    } else if (!unit_.take_line()) {
        result.error = platform::PortError::busy;
    } else {
        result.port = std::make_unique<SimulatedPort>(unit_, clock_);
    }
    return result;
}

}  // namespace vrk::sim
