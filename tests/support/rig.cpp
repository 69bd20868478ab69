#include "tests/support/rig.h"

namespace vrk::test {

namespace {

std::unique_ptr<app::Session> start_session(Rig& rig, const Rig::Setup& setup,
                                            const std::string& command_line) {
    if (setup) setup(rig);
    auto session = std::make_unique<app::Session>(
        rig.port, "/dev/ttyFAKE0", app::SessionServices{rig.clock, rig.files, rig.host},
        command_line);
    rig.port.writes.clear();
    rig.port.events.clear();
    return session;
}

}  // namespace

Rig::Rig(const Setup& setup, const std::string& command_line)
    : session(start_session(*this, setup, command_line)),
      ctx(session->context()),
      engine(session->engine()),
      window(session->window()) {}

void Rig::feed_message(const Bytes& message) {
    port.feed(frame(message));
}

std::vector<Bytes> Rig::take_sent() {
    auto messages = unframe(port.written());
    port.clear_writes();
    return messages;
}

}  // namespace vrk::test
