// The simulated port with the unit in the same process, on a clock the test drives: reads wait
// for the unit's bytes as on a real port, at most 50 ms; the unit hears and answers only at its
// own speed; bytes go both ways, with line time and busy times where asked; and a whole
// session downloads through it on one thread.
#include "sim/simulated_port.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/session.h"
#include "link/link.h"
#include "platform/control_ids.h"
#include "sim/demo_image.h"
#include "tests/support/fakes.h"
#include "tests/support/virtual_time.h"
#include "tests/support/wire.h"

namespace vrk::sim {
namespace {

using namespace std::chrono_literals;
using test::hex;
using test::to_hex;

using test::VirtualTime;

// The program's end: the port opened through the provider, as start-up opens one.
struct Line {
    explicit Line(UnitConfig config = {}) : unit(std::move(config)), ports(unit, time) {
        std::string error;
        EXPECT_TRUE(unit.prepare(&error)) << error;
        auto opened = ports.open(SIMULATED_PORT_NAME);
        EXPECT_TRUE(opened.port);
        port = std::move(opened.port);
    }
    void send(const std::string& message) {
        ASSERT_EQ(port->write(test::frame(hex(message))), platform::IoStatus::ok);
    }
    // One read, with how long it waited.
    struct Got {
        std::string bytes;
        std::chrono::microseconds waited;
    };
    Got read_once() {
        std::array<std::uint8_t, 80> buffer{};
        const auto before = time.elapsed();
        const auto result = port->read(buffer);
        EXPECT_EQ(result.status, platform::IoStatus::ok);
        return {to_hex(test::Bytes(buffer.begin(), buffer.begin() + result.count)),
                std::chrono::duration_cast<std::chrono::microseconds>(time.elapsed() - before)};
    }
    // The messages that reach the program within `limit`, read as the program reads them.
    std::vector<std::string> receive(std::chrono::milliseconds limit) {
        test::Bytes wire;
        const auto end = time.elapsed() + limit;
        std::array<std::uint8_t, 80> buffer{};
        while (time.elapsed() < end) {
            const auto result = port->read(buffer);
            wire.insert(wire.end(), buffer.begin(), buffer.begin() + result.count);
        }
        std::vector<std::string> messages;
        for (const auto& m : test::unframe(wire)) messages.push_back(to_hex(m));
        return messages;
    }

    VirtualTime time;
    UnitEnd unit;
    SimulatedPortProvider ports;
    std::unique_ptr<platform::SerialPort> port;
};

std::string program_page(int page, std::uint8_t fill) {
    test::Bytes m{0x2A, static_cast<std::uint8_t>(page)};
    m.insert(m.end(), 256, fill);
    return to_hex(m);
}

TEST(SimulatedPort, AReadReturnsWhatHasArrivedOrWaitsForTheFirstByteAtMost50Ms) {
    const struct {
        const char* name;
        std::uint32_t erase_ms;
        std::uint32_t program_ms;
        std::string request;  // empty: nothing asked
        // Each read in turn: how long it waited, and whether it brought bytes.
        std::vector<std::pair<std::chrono::microseconds, bool>> reads;
    } cases[] = {
        {"nothing asked", 0, 0, "", {{50ms, false}, {50ms, false}}},
        {"answered at once", 0, 0, "0B 00", {{0ms, true}, {50ms, false}}},
        {"busy 20 ms programming", 0, 20, program_page(3, 0x5A), {{20ms, true}}},
        {"busy 80 ms erasing", 80, 0, "28 00", {{50ms, false}, {30ms, true}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UnitConfig config;
        config.erase_ms = c.erase_ms;
        config.program_ms = c.program_ms;
        Line line(config);
        ASSERT_TRUE(line.port->configure(115200));
        if (!c.request.empty()) line.send(c.request);
        for (const auto& [waited, brings_bytes] : c.reads) {
            const auto got = line.read_once();
            EXPECT_EQ(got.waited, waited);
            EXPECT_EQ(!got.bytes.empty(), brings_bytes) << got.bytes;
        }
    }
}

TEST(SimulatedPort, TheUnitHearsAndAnswersOnlyAtItsOwnSpeed) {
    const struct {
        std::uint32_t unit_baud;
        std::uint32_t program_baud;
        bool answered;
    } cases[] = {
        {115200, 115200, true}, {9600, 9600, true},    {1200, 1200, true},
        {9600, 115200, false},  {115200, 1200, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.unit_baud) + " / " + std::to_string(c.program_baud));
        UnitConfig config;
        config.baud = c.unit_baud;
        Line line(config);
        ASSERT_TRUE(line.port->configure(c.program_baud));
        line.send("0B 00");
        const auto got = line.receive(2s);
        EXPECT_EQ(got.size(), c.answered ? 1u : 0u);
        const auto records = line.unit.line_log();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].baud, c.program_baud);
        EXPECT_EQ(records[0].accepted, c.answered);
    }
}

TEST(SimulatedPort, BytesStillOnTheirWayWhenTheSpeedChangesAreLost) {
    UnitConfig config;
    config.erase_ms = 100;
    Line line(config);
    ASSERT_TRUE(line.port->configure(115200));
    line.send("28 00");
    // The hunt moves on before ERASE_DONE has come back.
    line.time.sleep_until(line.time.now() + 60ms);
    ASSERT_TRUE(line.port->set_baud_rate(9600));
    ASSERT_TRUE(line.port->set_baud_rate(115200));
    EXPECT_TRUE(line.receive(1s).empty());
    // The unit did erase; only its answer was lost to the program.
    EXPECT_EQ(line.unit.received_messages().size(), 1u);
}

TEST(SimulatedPort, WithLineTimeEveryByteTakesItsTenBitsBothWays) {
    const struct {
        std::uint32_t baud;
        std::chrono::microseconds last_byte_arrives;
    } cases[] = {
        // "FF 0B 00 FE" out, the ID report's 12-byte frame back: 16 bytes of 10 bits.
        {115200, 1388us},
        {9600, 16666us},
        {1200, 133333us},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.baud);
        UnitConfig config;
        config.baud = c.baud;
        config.line_time = true;
        Line line(config);
        ASSERT_TRUE(line.port->configure(c.baud));
        line.send("0B 00");
        std::string got;
        std::chrono::microseconds last{};
        while (got.size() < 3 * 12 - 1) {
            const auto read = line.read_once();
            ASSERT_FALSE(read.bytes.empty()) << got;
            got += (got.empty() ? "" : " ") + read.bytes;
            last = std::chrono::duration_cast<std::chrono::microseconds>(line.time.elapsed());
        }
        EXPECT_EQ(got, "FF 0B 56 52 4B FC 03 30 34 32 00 FE");
        EXPECT_LE((last - c.last_byte_arrives).count(), 1) << last.count();
        EXPECT_GE((last - c.last_byte_arrives).count(), -1) << last.count();
    }
}

TEST(SimulatedPort, TheUnitsFaultsApplyAsBehindThePseudoTerminal) {
    const struct {
        const char* name;
        double drop_rx, drop_tx, corrupt, corrupt_rx;
        bool answered;
        bool reply_intact;
    } cases[] = {
        {"clean line", 0, 0, 0, 0, true, true},
        {"request lost", 1, 0, 0, 0, false, false},
        {"reply lost", 0, 1, 0, 0, false, false},
        {"reply corrupted", 0, 0, 1, 0, true, false},
        {"request corrupted", 0, 0, 0, 1, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UnitConfig config;
        config.drop_rx = c.drop_rx;
        config.drop_tx = c.drop_tx;
        config.corrupt = c.corrupt;
        config.corrupt_rx = c.corrupt_rx;
        Line line(config);
        ASSERT_TRUE(line.port->configure(115200));
        line.send("16 00");
        std::array<std::uint8_t, 80> buffer{};
        const auto result = line.port->read(buffer);
        const std::string wire = to_hex(test::Bytes(buffer.begin(), buffer.begin() + result.count));
        EXPECT_EQ(result.count != 0, c.answered) << wire;
        EXPECT_EQ(wire == "FF 17 00 FE", c.reply_intact) << wire;
        const SimStats stats = line.unit.stats();
        EXPECT_EQ(stats.frames_dropped_rx, c.drop_rx > 0 ? 1u : 0u);
        EXPECT_EQ(stats.replies_dropped_tx, c.drop_tx > 0 ? 1u : 0u);
        EXPECT_EQ(stats.bytes_corrupted, c.corrupt > 0 ? 4u : 0u);
        EXPECT_EQ(stats.bytes_corrupted_rx, c.corrupt_rx > 0 ? 4u : 0u);
    }
}

TEST(SimulatedPort, TheUnitAnnouncesItselfWhenTheProgramFirstSetsItsSpeed) {
    UnitConfig config;
    config.announce = true;
    config.baud = 9600;
    Line line(config);
    ASSERT_TRUE(line.port->configure(115200));
    EXPECT_TRUE(line.receive(100ms).empty());
    ASSERT_TRUE(line.port->set_baud_rate(9600));
    EXPECT_EQ(line.receive(100ms), std::vector<std::string>{"00 00"});
    ASSERT_TRUE(line.port->set_baud_rate(1200));
    ASSERT_TRUE(line.port->set_baud_rate(9600));
    EXPECT_TRUE(line.receive(100ms).empty());
}

TEST(SimulatedPortProvider, OpensOnePortAtATimeByItsName) {
    Line line;
    const struct {
        const char* name;
        platform::PortError error;
    } refused[] = {
        {SIMULATED_PORT_NAME, platform::PortError::busy},
        {"COM1", platform::PortError::not_found},
    };
    for (const auto& r : refused) {
        const auto opened = line.ports.open(r.name);
        EXPECT_FALSE(opened.port) << r.name;
        EXPECT_EQ(opened.error, r.error) << r.name;
    }
    line.port->close();
    EXPECT_EQ(line.port->write(hex("FF 0B 00 FE")), platform::IoStatus::failed);
    EXPECT_TRUE(line.ports.open(SIMULATED_PORT_NAME).port);
    EXPECT_EQ(line.ports.candidate_ports(), std::vector<std::string>{SIMULATED_PORT_NAME});
}

// The window as --simulate runs it on Windows: the session's ticks read the simulated port on
// the one thread there is, and the time the unit takes passes on the same clock.
TEST(SimulatedPort, AWholeSessionLinksAndDownloadsAnImageOnOneThread) {
    const struct {
        std::uint32_t baud;
        bool line_time;
        std::size_t image_size;
    } cases[] = {
        {115200, false, DEMO_IMAGE_SIZE},
        {2400, true, 1024},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.baud);
        UnitConfig config;
        config.baud = c.baud;
        config.line_time = c.line_time;
        config.erase_ms = 200;
        config.program_ms = 2;
        VirtualTime time;
        UnitEnd unit(config);
        SimulatedPortProvider ports(unit, time);
        test::MemoryFileSystem files;
        test::FakeHost host;
        const test::Bytes image = make_demo_image(c.image_size);
        files.files["APP.vr4"] = image;
        auto opened = ports.open(SIMULATED_PORT_NAME);
        ASSERT_TRUE(opened.port);
        app::Session session(std::move(opened.port), SIMULATED_PORT_NAME,
                             app::SessionServices{time, files, host});
        const auto run_until = [&](auto done) {
            for (int i = 0; i < 200'000 && !done(); ++i) {
                session.tick();
                time.sleep_until(time.now() + 1ms);
            }
            return done();
        };
        ASSERT_TRUE(run_until([&] {
            return session.context().link.link_state == link::LINK_SETTINGS_LOADED;
        })) << session.window().text(ids::STATUS);
        session.window().user_select(ids::APPLICATION, 0);
        ASSERT_TRUE(session.window().is_enabled(ids::DOWNLOAD));
        session.window().user_click(ids::DOWNLOAD);
        const std::string done = "APP.vr4 has been downloaded and verified successfully";
        ASSERT_TRUE(run_until([&] { return session.window().text(ids::STATUS) == done; }))
            << session.window().text(ids::STATUS);
        EXPECT_EQ(unit.flash_copy(image.size()), image);
    }
}

}  // namespace
}  // namespace vrk::sim
