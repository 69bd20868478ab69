// A whole program core against fakes: a main window model initialised as at start-up, a
// context, a scripted port, clock, host and file system. Each test makes a fresh one.
#pragma once

#include <string>
#include <vector>

#include "app/main_window.h"
#include "device/context.h"
#include "link/frame_codec.h"
#include "tests/support/fakes.h"

namespace vrk::test {

struct Rig {
    FakePort port;
    FakeClock clock;
    MemoryFileSystem files;
    FakeHost host;
    platform::ControlsModel window;
    Context ctx{port, clock, files, host, window};

    // Builds the window and initialises it with the given command line. Files placed in
    // `files` before init() appear in the application list.
    explicit Rig(bool initialise = true) {
        app::build_main_window(window);
        if (initialise) init();
    }
    void init(const std::string& command_line = "") { app::init_main_window(ctx, command_line); }

    // Queues one framed message for the next read.
    void feed_message(const Bytes& message);
    // Runs one timer tick.
    void tick() { app::on_timer_tick(ctx); }
    // Decodes everything written to the port into messages, and forgets the writes.
    std::vector<Bytes> take_sent();
    // The status line.
    [[nodiscard]] std::string status() const { return window.text(1015); }
};

// The wire form of a message.
Bytes frame(const Bytes& message);
// The messages in a stream of wire bytes.
std::vector<Bytes> unframe(const Bytes& wire);

}  // namespace vrk::test
