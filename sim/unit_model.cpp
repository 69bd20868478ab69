#include "sim/unit_model.h"

#include <algorithm>
#include <array>

#include "link/messages.h"
#include "platform/line_speeds.h"
#include "sim/demo_image.h"

namespace vrk::sim {

namespace dev = vrk::link::messages;

namespace {

void put_le16(Bytes& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

void put_le32(Bytes& out, std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>((v >> shift) & 0xFF));
}

std::size_t le16(std::span<const std::uint8_t> m, std::size_t at) {
    return static_cast<std::size_t>(m[at]) | (static_cast<std::size_t>(m[at + 1]) << 8);
}

}  // namespace

std::string validate_config(const UnitConfig& c) {
    if (!is_line_speed(c.baud)) return "unsupported line speed " + std::to_string(c.baud);
    if (c.id.size() > 8) return "the unit ID holds at most 8 characters";
    if (c.id.find('\0') != std::string::npos) return "the unit ID cannot contain a NUL character";
    for (double p : {c.drop_rx, c.drop_tx, c.corrupt, c.corrupt_rx}) {
        if (!(p >= 0 && p <= 1)) return "fault probabilities must lie between 0 and 1";
    }
    if (c.flash_size > MAX_FLASH_SIZE) return "the flash holds at most 16 MiB";
    return {};
}

UnitModel::UnitModel(const UnitConfig& config)
    : config_(config),
      gps_type_(config.gps_type),
      internal_device_(config.internal_device),
      external_device_(config.external_device),
      flash_(std::min(config.flash_size, MAX_FLASH_SIZE), ERASED) {
    set_id(config.id);
    const Bytes previous =
        make_demo_image(std::min(config.previous_application, flash_.size()), config.seed + 1);
    std::copy(previous.begin(), previous.end(), flash_.begin());
}

void UnitModel::set_id(const std::string& id) {
    // The unit stores 8 characters; a NUL ends the text as it does on the wire.
    id_ = id.substr(0, std::min(id.find('\0'), std::size_t{8}));
}

Bytes UnitModel::announce_message() {
    return {dev::ANNOUNCE, 0x00};
}

Bytes UnitModel::id_report() const {
    Bytes out(dev::ID_MESSAGE_LENGTH, 0x00);
    out[0] = dev::ID_MESSAGE;
    std::copy(id_.begin(), id_.end(), out.begin() + 1);
    return out;
}

Bytes UnitModel::version_report() const {
    Bytes out{dev::VERSION_REPORT, config_.flash_type};
    put_le16(out, static_cast<std::uint16_t>(config_.version_hundredths));
    put_le32(out, config_.serial_number);
    if (!config_.short_version) put_le32(out, config_.crystal_hz);
    return out;
}

bool UnitModel::count_page_request() {
    ++page_requests_;
    if (config_.stop_after_pages && page_requests_ > *config_.stop_after_pages) silent_ = true;
    return !silent_;
}

Answer UnitModel::handle(std::span<const std::uint8_t> m) {
    Answer a;
    if (silent_ || m.empty()) return a;
    const std::size_t n = m.size();
    const auto reply = [&a](Bytes bytes) { a.replies.push_back(std::move(bytes)); };
    switch (m[0]) {
        case dev::VERSION_QUERY:
            if (n == dev::REQUEST_LENGTH) reply(version_report());
            break;
        case dev::ID_MESSAGE:
            // Two bytes ask; ten bytes set (8 characters and a terminator). The unit answers
            // both with what it now holds.
            if (n == dev::ID_MESSAGE_LENGTH) {
                set_id(std::string(reinterpret_cast<const char*>(m.data() + 1), 8));
                if (!config_.no_id_reply) reply(id_report());
            } else if (n == dev::REQUEST_LENGTH) {
                reply(id_report());
            }
            break;
        case dev::INTERNAL_DEVICE_QUERY:
        case dev::INTERNAL_DEVICE:
            if (n != dev::REQUEST_LENGTH) break;
            // A code the unit does not know is kept all the same: the unit only stores it.
            if (m[0] == dev::INTERNAL_DEVICE) internal_device_ = m[1];
            reply({dev::INTERNAL_DEVICE, internal_device_});
            break;
        case dev::GPS_TYPE_QUERY:
        case dev::GPS_TYPE:
            if (n != dev::REQUEST_LENGTH) break;
            if (m[0] == dev::GPS_TYPE) gps_type_ = m[1];
            reply({dev::GPS_TYPE, gps_type_});
            break;
        case dev::EXTERNAL_DEVICE_QUERY:
        case dev::EXTERNAL_DEVICE:
            if (n != dev::REQUEST_LENGTH) break;
            if (m[0] == dev::EXTERNAL_DEVICE) external_device_ = m[1];
            reply({dev::EXTERNAL_DEVICE, external_device_});
            break;
        case dev::ENTER_QB7_MODE:
            if (n == dev::REQUEST_LENGTH) reply({dev::QB7_MODE_REPORT, 0x00});
            break;
        case dev::RUN_APPLICATION:
            if (n == dev::REQUEST_LENGTH) reply({dev::APPLICATION_RUNNING, 0x00});
            break;
        case dev::ERASE:
            if (n == dev::REQUEST_LENGTH) a = erase_blocks(1);
            break;
        case dev::ERASE_BLOCKS:
            if (n == dev::REQUEST_LENGTH) a = erase_blocks(m[1]);
            break;
        case dev::PROGRAM_PAGE:
            if (n == dev::PROGRAM_PAGE_LENGTH)
                a = program_page(m[1], m.subspan(2, FLASH_PAGE_SIZE), false);
            break;
        case dev::PROGRAM_PAGE_WIDE:
            if (n != dev::PROGRAM_PAGE_WIDE_LENGTH) break;
            // The wide request is for pages 256 and up; below, the 8-bit one is the only form.
            if (m[1] != 0x00 || le16(m, 2) < WIDE_PAGE_FIRST) {
                ++malformed_requests_;
                break;
            }
            a = program_page(le16(m, 2), m.subspan(4, FLASH_PAGE_SIZE), true);
            break;
        case dev::COMPARE_PAGE:
            if (n != dev::COMPARE_PAGE_LENGTH) break;
            if (m[1] != 0x00) {
                ++malformed_requests_;
                break;
            }
            if (count_page_request()) a = compare_page(le16(m, 2), m.subspan(4, FLASH_PAGE_SIZE));
            break;
        default:
            break;  // not a request the unit knows
    }
    return a;
}

Answer UnitModel::erase_blocks(std::size_t blocks) {
    // A count beyond the flash erases what there is: the unit has no more blocks to clear.
    const std::size_t bytes = std::min(blocks * FLASH_BLOCK_SIZE, flash_.size());
    std::fill_n(flash_.begin(), bytes, ERASED);
    Answer a;
    a.busy_ms = static_cast<std::uint32_t>(std::min<std::uint64_t>(
        std::uint64_t{config_.erase_ms} * ((bytes + FLASH_BLOCK_SIZE - 1) / FLASH_BLOCK_SIZE),
        UINT32_MAX));
    a.replies.push_back({dev::ERASE_DONE, 0x00});
    return a;
}

Answer UnitModel::program_page(std::size_t page, std::span<const std::uint8_t> data, bool wide) {
    Answer a;
    if (!count_page_request()) return a;
    const std::size_t offset = page * FLASH_PAGE_SIZE;
    // A page the flash does not have is not programmed and not acknowledged.
    if (offset + FLASH_PAGE_SIZE > flash_.size()) return a;
    // NOR flash programming can only clear bits: writing over a page that was not erased
    // leaves the AND of old and new. A program that forgets the erase shows up in the flash.
    for (std::size_t i = 0; i < FLASH_PAGE_SIZE; ++i) flash_[offset + i] &= data[i];
    if (config_.flip_byte && *config_.flip_byte >= offset &&
        *config_.flip_byte < offset + FLASH_PAGE_SIZE)
        flash_[*config_.flip_byte] ^= FLIPPED_BIT;
    a.busy_ms = config_.program_ms;
    if (!wide) {
        a.replies.push_back({dev::PAGE_PROGRAMMED, static_cast<std::uint8_t>(page)});
        return a;
    }
    std::size_t named = page;
    ++wide_requests_;
    if (config_.wrong_page && wide_requests_ % WRONG_PAGE_EVERY == 0 && page < 0xFFFF)
        named = page + 1;
    Bytes ack{dev::PAGE_PROGRAMMED_WIDE, 0x00};
    put_le16(ack, static_cast<std::uint32_t>(named));
    a.replies.push_back(std::move(ack));
    return a;
}

Answer UnitModel::compare_page(std::size_t page, std::span<const std::uint8_t> data) const {
    const std::size_t offset = page * FLASH_PAGE_SIZE;
    // A page beyond the flash cannot hold what the program expects: a mismatch.
    const bool equal =
        offset + FLASH_PAGE_SIZE <= flash_.size() &&
        std::equal(data.begin(), data.end(), flash_.begin() + static_cast<std::ptrdiff_t>(offset));
    Bytes out{dev::PAGE_COMPARED, static_cast<std::uint8_t>(equal ? 1 : 0)};
    put_le16(out, static_cast<std::uint32_t>(page));
    Answer a;
    a.replies.push_back(std::move(out));
    return a;
}

Bytes UnitModel::flash_copy(std::size_t n) const {
    const std::size_t count = std::min(n, flash_.size());
    return Bytes(flash_.begin(), flash_.begin() + static_cast<std::ptrdiff_t>(count));
}

void UnitModel::poke_flash(std::size_t offset, std::uint8_t value) {
    if (offset < flash_.size()) flash_[offset] = value;
}

std::size_t UnitModel::programmed_extent() const {
    const auto last =
        std::find_if(flash_.rbegin(), flash_.rend(), [](std::uint8_t b) { return b != ERASED; });
    return static_cast<std::size_t>(flash_.rend() - last);
}

}  // namespace vrk::sim
