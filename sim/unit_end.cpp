#include "sim/unit_end.h"

#include <utility>

#include "platform/hex_text.h"

namespace vrk::sim {

namespace {

// The records kept for the tests. A simulator left running for days (vrk-sim) forgets the oldest.
constexpr std::size_t RECORD_LIMIT = std::size_t{1} << 17;

template <typename T>
void push_limited(std::deque<T>& records, T value) {
    if (records.size() >= RECORD_LIMIT) records.pop_front();
    records.push_back(std::move(value));
}

std::uint8_t flip_one_bit(FaultSource& faults, std::uint8_t byte) {
    return static_cast<std::uint8_t>(byte ^ (1u << (faults.next() % 8)));
}

}  // namespace

UnitEnd::UnitEnd(UnitConfig config)
    : config_(std::move(config)), model_(config_), faults_(config_.seed) {}

bool UnitEnd::prepare(std::string* error) {
    const auto fail = [&](std::string why) {
        if (error) *error = std::move(why);
        return false;
    };
    if (auto why = validate_config(config_); !why.empty()) return fail(why);
    if (!config_.log_path.empty()) {
        log_.open(config_.log_path, std::ios::out | std::ios::trunc);
        if (!log_) return fail("cannot create the log file " + config_.log_path);
    }
    return true;
}

bool UnitEnd::take_line() {
    return !line_taken_.exchange(true);
}

void UnitEnd::release_line() {
    line_taken_.store(false);
}

void UnitEnd::reset_line(std::uint32_t speed) {
    speed_ = speed;
    decoder_ = link::FrameDecoder{};
}

std::optional<Bytes> UnitEnd::speed_changed(std::uint32_t speed) {
    if (speed == speed_) return std::nullopt;
    speed_ = speed;
    decoder_ = link::FrameDecoder{};
    if (at_unit_speed() && config_.announce && !announced_) {
        announced_ = true;
        return UnitModel::announce_message();
    }
    return std::nullopt;
}

std::optional<Bytes> UnitEnd::hear(std::uint8_t byte) {
    if (at_unit_speed()) {
        std::lock_guard lock(mutex_);
        ++stats_.wire_bytes_received;
        // Noise on the way in: only bytes the unit can hear at all draw from the generator, so
        // a run with the same seed flips the same bits however the hunt went.
        if (config_.corrupt_rx > 0 && faults_.chance(config_.corrupt_rx)) {
            byte = flip_one_bit(faults_, byte);
            ++stats_.bytes_corrupted_rx;
        }
    }
    const auto message = link::frame_decoder(decoder_, byte);
    if (message.empty()) return std::nullopt;
    Bytes copy(message.begin(), message.end());
    if (!at_unit_speed()) {
        // At another speed the unit hears only noise; the record is a line monitor's view.
        std::lock_guard lock(mutex_);
        push_limited(records_, LineRecord{speed_, std::move(copy), false});
        return std::nullopt;
    }
    return copy;
}

void UnitEnd::end_of_block() {
    if (!at_unit_speed()) decoder_ = link::FrameDecoder{};
}

Answer UnitEnd::answer(std::span<const std::uint8_t> message) {
    Answer answer;
    {
        std::lock_guard lock(mutex_);
        if (faults_.chance(config_.drop_rx)) {
            ++stats_.frames_dropped_rx;
            push_limited(records_,
                         LineRecord{speed_, Bytes(message.begin(), message.end()), false});
            return answer;
        }
        push_limited(records_, LineRecord{speed_, Bytes(message.begin(), message.end()), true});
        push_limited(received_, Bytes(message.begin(), message.end()));
        answer = model_.handle(message);
    }
    if (log_.is_open()) log_ << platform::hex_text(message) << '\n' << std::flush;
    return answer;
}

bool UnitEnd::reply_lost() {
    std::lock_guard lock(mutex_);
    if (!faults_.chance(config_.drop_tx)) return false;
    ++stats_.replies_dropped_tx;
    return true;
}

Bytes UnitEnd::to_wire(const Bytes& message) {
    std::lock_guard lock(mutex_);
    Bytes wire(link::max_frame_size(message.size()));
    wire.resize(link::encode_frame(message, wire));
    for (auto& b : wire) {
        if (faults_.chance(config_.corrupt)) {
            b = flip_one_bit(faults_, b);
            ++stats_.bytes_corrupted;
        }
    }
    stats_.wire_bytes_sent += wire.size();
    return wire;
}

void UnitEnd::add_late_us(std::uint64_t late_us) {
    std::lock_guard lock(mutex_);
    stats_.late_us += late_us;
}

bool UnitEnd::write_flash_out(std::string* error) {
    if (config_.flash_out.empty()) return true;
    // The flash up to its last programmed byte: the image that was downloaded, unless the image
    // itself ends in erased (0xFF) bytes, which flash cannot tell from never written ones.
    Bytes flash;
    {
        std::lock_guard lock(mutex_);
        flash = model_.flash_copy(model_.programmed_extent());
    }
    std::ofstream out(config_.flash_out, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(flash.data()),
              static_cast<std::streamsize>(flash.size()));
    out.close();
    if (!out) {
        if (error) *error = "cannot write the flash to " + config_.flash_out;
        return false;
    }
    return true;
}

std::vector<std::uint8_t> UnitEnd::flash_copy(std::size_t n) const {
    std::lock_guard lock(mutex_);
    return model_.flash_copy(n);
}

void UnitEnd::poke_flash(std::size_t offset, std::uint8_t value) {
    std::lock_guard lock(mutex_);
    model_.poke_flash(offset, value);
}

std::vector<std::vector<std::uint8_t>> UnitEnd::received_messages() const {
    std::lock_guard lock(mutex_);
    return {received_.begin(), received_.end()};
}

std::vector<LineRecord> UnitEnd::line_log() const {
    std::lock_guard lock(mutex_);
    return {records_.begin(), records_.end()};
}

SimStats UnitEnd::stats() const {
    std::lock_guard lock(mutex_);
    return stats_;
}

std::string UnitEnd::unit_id() const {
    std::lock_guard lock(mutex_);
    return model_.id();
}

std::uint8_t UnitEnd::internal_device() const {
    std::lock_guard lock(mutex_);
    return model_.internal_device();
}

std::uint8_t UnitEnd::external_device() const {
    std::lock_guard lock(mutex_);
    return model_.external_device();
}

std::uint8_t UnitEnd::gps_type() const {
    std::lock_guard lock(mutex_);
    return model_.gps_type();
}

void UnitEnd::set_unit_id(const std::string& id) {
    std::lock_guard lock(mutex_);
    model_.set_id(id);
}

void UnitEnd::set_silent(bool silent) {
    std::lock_guard lock(mutex_);
    model_.set_silent(silent);
}

}  // namespace vrk::sim
