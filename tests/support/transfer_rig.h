// A rig for firmware transfers: images placed in the file system and picked in the
// application list as the user does, and a minimal stand-in for the unit's loader that
// answers the erase and page requests the program sent, keeping a copy of its flash.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/rig.h"

namespace vrk::test {

// An image whose every page differs from its neighbours and which holds every byte value,
// the four reserved wire values among them.
Bytes test_image(std::size_t size, std::uint8_t seed = 0);

// The unit's loader as far as the tests need it: flash of 8 MiB erased to 0xFF, requests
// answered as a healthy unit answers them.
struct LoaderModel {
    Bytes flash = Bytes(8'388'608, 0xFF);
    std::vector<Bytes> requests;  // every erase and page request seen, in order
    // Returns the reply to a request, or an empty message for one it does not answer.
    Bytes answer(const Bytes& request);
};

struct TransferRig : Rig {
    TransferRig();
    // Adds a file and selects it in the application list as the user does (which enables
    // Download and Compare).
    void pick(const std::string& name, const Bytes& content);
    // Selects a name that is in the list but may not be in the file system.
    void pick_name(const std::string& name);
    // Sets the Verify box as the user does, then presses Download. Most tests are about the
    // download itself, so they uncheck it.
    enum class Verify { off, on };
    void press_download(Verify verify = Verify::off);
    void press_compare() { window.user_click(ids::COMPARE); }
    // Delivers one message from the unit and runs the tick that dispatches it.
    void reply(const Bytes& message) {
        feed_message(message);
        tick();
    }
    // Answers every request with `unit` until nothing more is sent; returns the requests.
    std::vector<Bytes> run_against(LoaderModel& unit, std::size_t limit = 100'000);
    // The application list, Download, Compare and Verify, which go together.
    [[nodiscard]] bool transfer_controls_enabled() const;
    [[nodiscard]] bool transfer_controls_disabled() const;
};

}  // namespace vrk::test
