#include "sim/simulator.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <filesystem>
#include <system_error>
#include <thread>

#include "sim/pty_line.h"
#include "sim/unit_end.h"

namespace vrk::sim {

namespace {

using Clock = PtyLine::Clock;

// How often the unit looks at the line settings while nothing arrives: a change of speed by
// itself sends no byte, and the announce is due when the program first sets the unit's speed.
constexpr auto IDLE_WAKE = std::chrono::milliseconds(10);
constexpr std::size_t READ_BLOCK = 4096;

}  // namespace

// The pseudo-terminal's share: its thread, reading and writing in real time. What the unit
// hears, does and says is the UnitEnd's.
struct Simulator::Impl {
    explicit Impl(UnitConfig config) : unit(std::move(config)) {}

    UnitEnd unit;
    PtyLine line;
    std::thread thread;
    std::atomic<bool> stopping{false};
    bool started = false;
    bool stopped = false;
    bool plugged = false;   // the terminal is open and the unit's thread answers on it
    std::string link_path;  // the symbolic link kept pointing at the terminal; empty: none

    // The unit's thread only.
    Clock::time_point rx_free{};  // when the last byte received has fully arrived
    Clock::time_point tx_free{};  // when the last byte sent has fully left

    bool open_line(std::string* error);
    void close_line();
    bool make_link(std::string* error);
    void remove_link();
    void run();
    void watch_speed();
    void take_bytes(std::span<const std::uint8_t> bytes, Clock::time_point arrived);
    void take_message(std::span<const std::uint8_t> message);
    void send(const Bytes& message);
    void put_on_line(const Bytes& wire);
    void note_lateness(Clock::time_point due) {
        const auto late =
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - due).count();
        if (late > 0) unit.add_late_us(static_cast<std::uint64_t>(late));
    }
    [[nodiscard]] const UnitConfig& config() const { return unit.config(); }
};

void Simulator::Impl::run() {
    std::array<std::uint8_t, READ_BLOCK> block{};
    while (!stopping.load()) {
        const auto event = line.wait_input(Clock::now() + IDLE_WAKE);
        if (event == PtyLine::Event::woken) break;
        // The speed is looked at after the wait: the program sets it before it writes, so bytes
        // that woke us were sent at the speed read now.
        watch_speed();
        if (event != PtyLine::Event::readable) continue;
        const auto got = line.read(block);
        if (!got || *got == 0) continue;
        take_bytes(std::span<const std::uint8_t>(block.data(), *got), Clock::now());
    }
}

void Simulator::Impl::watch_speed() {
    if (auto announce = unit.speed_changed(line.line_speed())) send(*announce);
}

void Simulator::Impl::take_bytes(std::span<const std::uint8_t> bytes, Clock::time_point arrived) {
    const std::uint32_t speed = unit.speed();
    const bool line_time = config().line_time && speed > 0;
    const auto per_byte = line_time ? byte_time(speed) : Clock::duration::zero();
    if (line_time) rx_free = std::max(rx_free, arrived);
    for (const std::uint8_t b : bytes) {
        rx_free += per_byte;
        const auto message = unit.hear(b);
        if (!message) continue;
        // The frame's last byte is not there before its bits have crossed the line.
        if (line_time) {
            if (!line.sleep_until(rx_free)) return;
            note_lateness(rx_free);
        }
        take_message(*message);
        if (stopping.load()) return;
    }
    unit.end_of_block();
}

void Simulator::Impl::take_message(std::span<const std::uint8_t> message) {
    const Answer answer = unit.answer(message);
    if (answer.busy_ms > 0 &&
        !line.sleep_until(Clock::now() + std::chrono::milliseconds(answer.busy_ms)))
        return;
    for (const auto& reply : answer.replies) {
        if (!unit.reply_lost()) send(reply);
    }
}

void Simulator::Impl::send(const Bytes& message) {
    // A program that changed speed while the unit was busy hears garbage; send nothing.
    if (line.line_speed() != config().baud) return;
    put_on_line(unit.to_wire(message));
}

void Simulator::Impl::put_on_line(const Bytes& wire) {
    if (!config().line_time) {
        line.write(wire);
        return;
    }
    // Each byte reaches the program's end when its last bit has: write the bytes at those
    // moments, in groups when the sleeps come back late, and never ahead of time.
    const auto per_byte = byte_time(config().baud);
    const auto start = std::max(tx_free, Clock::now());
    std::size_t sent = 0;
    while (sent < wire.size()) {
        if (!line.sleep_until(start + per_byte * static_cast<long>(sent + 1))) return;
        const auto elapsed = Clock::now() - start;
        std::size_t due = static_cast<std::size_t>(elapsed / per_byte);
        due = std::clamp(due, sent + 1, wire.size());
        line.write(std::span<const std::uint8_t>(wire.data() + sent, due - sent));
        sent = due;
    }
    tx_free = start + per_byte * static_cast<long>(wire.size());
    note_lateness(tx_free);
}

bool Simulator::Impl::open_line(std::string* error) {
    if (!line.open(error)) return false;
    unit.reset_line(line.line_speed());
    rx_free = tx_free = Clock::time_point{};
    stopping.store(false);
    thread = std::thread([this] { run(); });
    plugged = true;
    return true;
}

void Simulator::Impl::close_line() {
    if (!plugged) return;
    plugged = false;
    stopping.store(true);
    line.wake();
    if (thread.joinable()) thread.join();
    line.close();
}

bool Simulator::Impl::make_link(std::string* error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(link_path, ec))) fs::remove(link_path, ec);
    fs::create_symlink(line.slave_path(), link_path, ec);
    if (!ec) return true;
    if (error) *error = "cannot create the link " + link_path + ": " + ec.message();
    return false;
}

void Simulator::Impl::remove_link() {
    namespace fs = std::filesystem;
    std::error_code ec;
    // Only a link to our own terminal: another simulator may have taken the path over since.
    if (!link_path.empty() && fs::is_symlink(fs::symlink_status(link_path, ec)) &&
        fs::read_symlink(link_path, ec) == fs::path(line.slave_path()))
        fs::remove(link_path, ec);
}

Simulator::Simulator(UnitConfig config) : impl_(std::make_unique<Impl>(std::move(config))) {}

Simulator::~Simulator() {
    stop();
}

bool Simulator::start(std::string* error) {
    const auto fail = [&](std::string why) {
        if (error) *error = std::move(why);
        return false;
    };
    if (impl_->started) return fail("the simulator has already been started");
    if (!impl_->unit.prepare(error)) return false;
    std::string why;
    if (!impl_->open_line(&why)) return fail(why);
    impl_->started = true;
    return true;
}

bool Simulator::link_at(const std::string& path, std::string* error) {
    impl_->remove_link();
    impl_->link_path = path;
    if (!impl_->plugged) return true;  // made when the terminal is there again
    return impl_->make_link(error);
}

void Simulator::unplug() {
    if (!impl_->started || impl_->stopped) return;
    // The link first, as udev removes the name when the adapter goes: nobody can open the old
    // terminal's number through it, whoever gets that number next.
    impl_->remove_link();
    impl_->close_line();
}

bool Simulator::plug_in(std::string* error) {
    if (!impl_->started || impl_->stopped) {
        if (error) *error = "the simulator is not running";
        return false;
    }
    if (impl_->plugged) return true;
    if (!impl_->open_line(error)) return false;
    return impl_->link_path.empty() || impl_->make_link(error);
}

const std::string& Simulator::device_path() const {
    return impl_->line.slave_path();
}

bool Simulator::stop(std::string* error) {
    Impl& s = *impl_;
    if (!s.started || s.stopped) return true;
    s.stopped = true;
    s.remove_link();
    s.close_line();
    return s.unit.write_flash_out(error);
}

std::vector<std::uint8_t> Simulator::flash_copy(std::size_t n) const {
    return impl_->unit.flash_copy(n);
}

void Simulator::poke_flash(std::size_t offset, std::uint8_t value) {
    impl_->unit.poke_flash(offset, value);
}

std::vector<std::vector<std::uint8_t>> Simulator::received_messages() const {
    return impl_->unit.received_messages();
}

std::vector<LineRecord> Simulator::line_log() const {
    return impl_->unit.line_log();
}

SimStats Simulator::stats() const {
    return impl_->unit.stats();
}

std::string Simulator::unit_id() const {
    return impl_->unit.unit_id();
}

std::uint8_t Simulator::internal_device() const {
    return impl_->unit.internal_device();
}

std::uint8_t Simulator::external_device() const {
    return impl_->unit.external_device();
}

std::uint8_t Simulator::gps_type() const {
    return impl_->unit.gps_type();
}

void Simulator::set_unit_id(const std::string& id) {
    impl_->unit.set_unit_id(id);
}

void Simulator::set_silent(bool silent) {
    impl_->unit.set_silent(silent);
}

}  // namespace vrk::sim
