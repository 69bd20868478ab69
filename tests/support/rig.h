// A whole program core against fakes: a session started as the program starts one (line
// settings, window initialised, first probe), on a scripted port, clock, host and file system.
// Each test makes a fresh one. What the start-up sent is forgotten, so a test sees only what
// follows.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/session.h"
#include "link/frame_codec.h"
#include "platform/control_ids.h"
#include "tests/support/fakes.h"
#include "tests/support/wire.h"

namespace vrk::test {

struct Rig {
    // Runs before the session starts: files placed here appear in the application list.
    using Setup = std::function<void(Rig&)>;

    FakePort port;
    FakeClock clock;
    MemoryFileSystem files;
    FakeHost host;
    std::unique_ptr<app::Session> session;
    app::Context& ctx;
    device::Engine& engine;
    platform::ControlsModel& window;

    explicit Rig(const Setup& setup = {}, const std::string& command_line = "");

    // Queues one framed message for the next read.
    void feed_message(const Bytes& message);
    // Runs one timer tick.
    void tick() { session->tick(); }
    // Decodes everything written to the port into messages, and forgets the writes.
    std::vector<Bytes> take_sent();
    // The status line.
    [[nodiscard]] std::string status() const { return window.text(ids::STATUS); }
};

}  // namespace vrk::test
