#include "tests/support/transfer_rig.h"

#include <algorithm>

#include "link/link.h"
#include "platform/control_ids.h"

namespace vrk::test {

Bytes test_image(std::size_t size, std::uint8_t seed) {
    Bytes image(size);
    for (std::size_t i = 0; i < size; ++i)
        image[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8) * 13 + seed);
    return image;
}

Bytes LoaderModel::answer(const Bytes& r) {
    requests.push_back(r);
    if (r.empty()) return {};
    const auto write_page = [&](std::size_t page, std::size_t at) {
        std::copy(r.begin() + static_cast<std::ptrdiff_t>(at), r.end(),
                  flash.begin() + static_cast<std::ptrdiff_t>(page * 256));
    };
    switch (r[0]) {
        case 0x28:
        case 0x2C:
            std::fill(flash.begin(), flash.end(), std::uint8_t{0xFF});
            return {0x29, 0x00};
        case 0x2A:
            if (r.size() != 258) return {};
            write_page(r[1], 2);
            return {0x2B, r[1]};
        case 0x2D:
            if (r.size() != 260) return {};
            write_page(static_cast<std::size_t>(r[2] | (r[3] << 8)), 4);
            return {0x2E, 0x00, r[2], r[3]};
        case 0x2F: {
            if (r.size() != 260) return {};
            const std::size_t at = static_cast<std::size_t>(r[2] | (r[3] << 8)) * 256;
            const bool same =
                std::equal(r.begin() + 4, r.end(), flash.begin() + static_cast<std::ptrdiff_t>(at));
            return {0x30, static_cast<std::uint8_t>(same ? 1 : 0), r[2], r[3]};
        }
        default:
            return {};
    }
}

TransferRig::TransferRig() {
    // A linked unit, so the ticks send no probes of their own.
    ctx.link.link_state = link::LINK_SETTINGS_LOADED;
}

void TransferRig::pick(const std::string& name, const Bytes& content) {
    files.files[name] = content;
    pick_name(name);
}

void TransferRig::pick_name(const std::string& name) {
    int index = -1;
    for (int i = 0; i < window.item_count(ids::APPLICATION); ++i)
        if (window.item_text(ids::APPLICATION, i) == name) index = i;
    if (index < 0) index = window.add_item(ids::APPLICATION, name);
    window.user_select(ids::APPLICATION, index);
}

void TransferRig::press_download(Verify verify) {
    if (window.is_checked(ids::VERIFY) != (verify == Verify::on)) window.user_click(ids::VERIFY);
    window.user_click(ids::DOWNLOAD);
}

std::vector<Bytes> TransferRig::run_against(LoaderModel& unit, std::size_t limit) {
    std::vector<Bytes> all;
    std::vector<Bytes> pending = take_sent();
    while (!pending.empty() && all.size() < limit) {
        for (const Bytes& request : pending) {
            all.push_back(request);
            const Bytes answer = unit.answer(request);
            if (!answer.empty()) reply(answer);
        }
        pending = take_sent();
    }
    return all;
}

bool TransferRig::transfer_controls_enabled() const {
    return window.is_enabled(ids::APPLICATION) && window.is_enabled(ids::DOWNLOAD) &&
           window.is_enabled(ids::COMPARE) && window.is_enabled(ids::VERIFY);
}

bool TransferRig::transfer_controls_disabled() const {
    return !window.is_enabled(ids::APPLICATION) && !window.is_enabled(ids::DOWNLOAD) &&
           !window.is_enabled(ids::COMPARE) && !window.is_enabled(ids::VERIFY);
}

}  // namespace vrk::test
