// The trace of the wire that the command-line tool writes for bug reports: every frame both
// ways, from the session's first probe on, with the decoded message and the frame's raw bytes.
#include "app/wire_trace.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/session.h"
#include "tests/support/fakes.h"

namespace vrk::test {
namespace {

TEST(WireTrace, EveryFrameBothWaysFromTheFirstProbeWithItsRawBytes) {
    FakePort port;
    FakeClock clock;
    MemoryFileSystem files;
    FakeHost host;
    std::vector<std::string> lines;
    std::unique_ptr<app::WireTrace> trace;
    app::SessionServices services{clock, files, host};
    services.before_start = [&](app::Session& session) {
        trace = std::make_unique<app::WireTrace>(
            session, "/dev/ttyUSB0", clock, clock.now,
            [&lines](std::string_view line) { lines.emplace_back(line); });
    };
    app::Session session(port, "/dev/ttyUSB0", services);

    clock.advance(25);
    // Line noise, then the unit's ID report with an escaped byte and a run of zeros.
    port.feed(hex("13 37 FF 0B 41 FD 31 FC 07 00 FE"));
    session.tick();

    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "0 /dev/ttyUSB0 tx 0B 00 | FF 0B 00 FE");
    EXPECT_EQ(lines[1],
              "25 /dev/ttyUSB0 rx 0B 41 FE 00 00 00 00 00 00 00 | FF 0B 41 FD 31 FC 07 00 FE");
    EXPECT_EQ(lines[2], "25 /dev/ttyUSB0 tx 01 00 | FF 01 00 FE") << "the first query it caused";
    trace.reset();  // a trace ends before the session whose link it watches
}

}  // namespace
}  // namespace vrk::test
