#include "sim/simulator.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <system_error>
#include <thread>

#include "link/frame_codec.h"
#include "platform/line_speeds.h"
#include "sim/pty_line.h"
#include "sim/unit_model.h"

namespace vrk::sim {

namespace {

using Clock = PtyLine::Clock;

// How often the unit looks at the line settings while nothing arrives: a change of speed by
// itself sends no byte, and the announce is due when the program first sets the unit's speed.
constexpr auto IDLE_WAKE = std::chrono::milliseconds(10);
// The records kept for the tests. A simulator left running for days (vrk-sim) forgets the oldest.
constexpr std::size_t RECORD_LIMIT = std::size_t{1} << 17;
constexpr std::size_t READ_BLOCK = 4096;

// One byte on an 8N1 line: start bit, 8 data bits, stop bit.
Clock::duration byte_time(std::uint32_t baud) {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::nanoseconds(10'000'000'000LL / baud));
}

template <typename T>
void push_limited(std::deque<T>& records, T value) {
    if (records.size() >= RECORD_LIMIT) records.pop_front();
    records.push_back(std::move(value));
}

}  // namespace

struct Simulator::Impl {
    explicit Impl(UnitConfig c) : config(std::move(c)), model(config), faults(config.seed) {}

    UnitConfig config;
    PtyLine line;
    std::thread thread;
    std::atomic<bool> stopping{false};
    bool started = false;
    bool stopped = false;
    bool plugged = false;   // the terminal is open and the unit's thread answers on it
    std::string link_path;  // the symbolic link kept pointing at the terminal; empty: none

    // Shared with the accessors.
    mutable std::mutex mutex;
    UnitModel model;
    std::deque<Bytes> received;
    std::deque<LineRecord> records;
    SimStats stats;

    // The unit's thread only.
    FaultSource faults;
    std::ofstream log;
    link::FrameDecoder decoder;
    std::uint32_t speed = 0;
    bool announced = false;
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
        std::lock_guard lock(mutex);
        if (late > 0) stats.late_us += static_cast<std::uint64_t>(late);
    }
    [[nodiscard]] bool at_unit_speed() const { return speed == config.baud; }
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
    const std::uint32_t now_speed = line.line_speed();
    if (now_speed == speed) return;
    speed = now_speed;
    // A UART switched to another speed loses whatever frame it was in the middle of.
    decoder = link::FrameDecoder{};
    if (at_unit_speed() && config.announce && !announced) {
        announced = true;
        send(UnitModel::announce_message());
    }
}

void Simulator::Impl::take_bytes(std::span<const std::uint8_t> bytes, Clock::time_point arrived) {
    const bool line_time = config.line_time && speed > 0;
    const auto per_byte = line_time ? byte_time(speed) : Clock::duration::zero();
    if (line_time) rx_free = std::max(rx_free, arrived);
    if (at_unit_speed()) {
        std::lock_guard lock(mutex);
        stats.wire_bytes_received += bytes.size();
    }
    for (std::uint8_t b : bytes) {
        rx_free += per_byte;
        // Noise on the way in: only bytes the unit can hear at all draw from the generator, so
        // a run with the same seed flips the same bits however the hunt went.
        if (config.corrupt_rx > 0 && at_unit_speed()) {
            std::lock_guard lock(mutex);
            if (faults.chance(config.corrupt_rx)) {
                b = static_cast<std::uint8_t>(b ^ (1u << (faults.next() % 8)));
                ++stats.bytes_corrupted_rx;
            }
        }
        const auto message = link::frame_decoder(decoder, b);
        if (message.empty()) continue;
        Bytes copy(message.begin(), message.end());
        if (!at_unit_speed()) {
            // At another speed the unit hears only noise; the record is a line monitor's view.
            std::lock_guard lock(mutex);
            push_limited(records, LineRecord{speed, std::move(copy), false});
            continue;
        }
        // The frame's last byte is not there before its bits have crossed the line.
        if (line_time) {
            if (!line.sleep_until(rx_free)) return;
            note_lateness(rx_free);
        }
        take_message(copy);
        if (stopping.load()) return;
    }
    if (!at_unit_speed()) decoder = link::FrameDecoder{};
}

void Simulator::Impl::take_message(std::span<const std::uint8_t> message) {
    Answer answer;
    {
        std::lock_guard lock(mutex);
        if (faults.chance(config.drop_rx)) {
            ++stats.frames_dropped_rx;
            push_limited(records, LineRecord{speed, Bytes(message.begin(), message.end()), false});
            return;
        }
        push_limited(records, LineRecord{speed, Bytes(message.begin(), message.end()), true});
        push_limited(received, Bytes(message.begin(), message.end()));
        answer = model.handle(message);
    }
    if (log.is_open()) log << hex_line(message) << '\n' << std::flush;
    if (answer.busy_ms > 0 &&
        !line.sleep_until(Clock::now() + std::chrono::milliseconds(answer.busy_ms)))
        return;
    for (const auto& reply : answer.replies) {
        bool drop;
        {
            std::lock_guard lock(mutex);
            drop = faults.chance(config.drop_tx);
            if (drop) ++stats.replies_dropped_tx;
        }
        if (!drop) send(reply);
    }
}

void Simulator::Impl::send(const Bytes& message) {
    // A program that changed speed while the unit was busy hears garbage; send nothing.
    if (line.line_speed() != config.baud) return;
    Bytes wire(link::max_frame_size(message.size()));
    wire.resize(link::encode_frame(message, wire));
    {
        std::lock_guard lock(mutex);
        for (auto& b : wire) {
            if (faults.chance(config.corrupt)) {
                b = static_cast<std::uint8_t>(b ^ (1u << (faults.next() % 8)));
                ++stats.bytes_corrupted;
            }
        }
        stats.wire_bytes_sent += wire.size();
    }
    put_on_line(wire);
}

void Simulator::Impl::put_on_line(const Bytes& wire) {
    if (!config.line_time) {
        line.write(wire);
        return;
    }
    // Each byte reaches the program's end when its last bit has: write the bytes at those
    // moments, in groups when the sleeps come back late, and never ahead of time.
    const auto per_byte = byte_time(config.baud);
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
    // The speed before the program has touched its end: only a change from it is the program's.
    speed = line.line_speed();
    decoder = link::FrameDecoder{};
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
    if (auto why = validate_config(impl_->config); !why.empty()) return fail(why);
    if (!impl_->config.log_path.empty()) {
        impl_->log.open(impl_->config.log_path, std::ios::out | std::ios::trunc);
        if (!impl_->log) return fail("cannot create the log file " + impl_->config.log_path);
    }
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
    s.log.close();
    if (s.config.flash_out.empty()) return true;
    // The flash up to its last programmed byte: the image that was downloaded, unless the image
    // itself ends in erased (0xFF) bytes, which flash cannot tell from never written ones.
    Bytes flash;
    {
        std::lock_guard lock(s.mutex);
        flash = s.model.flash_copy(s.model.programmed_extent());
    }
    std::ofstream out(s.config.flash_out, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(flash.data()),
              static_cast<std::streamsize>(flash.size()));
    out.close();
    if (!out) {
        if (error) *error = "cannot write the flash to " + s.config.flash_out;
        return false;
    }
    return true;
}

std::vector<std::uint8_t> Simulator::flash_copy(std::size_t n) const {
    std::lock_guard lock(impl_->mutex);
    return impl_->model.flash_copy(n);
}

void Simulator::poke_flash(std::size_t offset, std::uint8_t value) {
    std::lock_guard lock(impl_->mutex);
    impl_->model.poke_flash(offset, value);
}

std::vector<std::vector<std::uint8_t>> Simulator::received_messages() const {
    std::lock_guard lock(impl_->mutex);
    return {impl_->received.begin(), impl_->received.end()};
}

std::vector<LineRecord> Simulator::line_log() const {
    std::lock_guard lock(impl_->mutex);
    return {impl_->records.begin(), impl_->records.end()};
}

SimStats Simulator::stats() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->stats;
}

std::string Simulator::unit_id() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->model.id();
}

std::uint8_t Simulator::internal_device() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->model.internal_device();
}

std::uint8_t Simulator::external_device() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->model.external_device();
}

std::uint8_t Simulator::gps_type() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->model.gps_type();
}

void Simulator::set_unit_id(const std::string& id) {
    std::lock_guard lock(impl_->mutex);
    impl_->model.set_id(id);
}

void Simulator::set_silent(bool silent) {
    std::lock_guard lock(impl_->mutex);
    impl_->model.set_silent(silent);
}

}  // namespace vrk::sim
