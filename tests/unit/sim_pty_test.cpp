// The simulator behind a real pseudo-terminal, driven through the program's own POSIX port:
// speeds, announce, flash operations, line time and the fault switches as the program would
// meet them. Every wait is for a condition, with a generous deadline.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/frame_codec.h"
#include "platform/posix/posix_platform.h"
#include "sim/simulator.h"
#include "sim/unit_model.h"
#include "tests/support/fakes.h"
#include "tests/support/rig.h"

namespace vrk::sim {
namespace {

using namespace std::chrono_literals;
using test::hex;
using test::to_hex;
using Clock = std::chrono::steady_clock;

constexpr auto DEADLINE = 20s;

// The program's end of the line, reduced to framing: the real port, the real codec.
class ProgramEnd {
  public:
    explicit ProgramEnd(const std::string& device) {
        platform::PortError error{};
        port = platform::PosixSerialPort::open(device, error);
    }
    void send(const Bytes& message) { (void)port->write(test::frame(message)); }
    // The next message from the unit, or nothing by the deadline.
    std::optional<Bytes> receive() {
        const auto deadline = Clock::now() + DEADLINE;
        while (Clock::now() < deadline) {
            const int b = link::port_read_byte(reader, *port);
            if (b < 0) continue;
            const auto message = link::frame_decoder(decoder, static_cast<std::uint8_t>(b));
            if (!message.empty()) return Bytes(message.begin(), message.end());
        }
        return std::nullopt;
    }
    std::string ask(const std::string& request) {
        send(hex(request));
        const auto reply = receive();
        return reply ? to_hex(*reply) : "(nothing)";
    }

    std::unique_ptr<platform::PosixSerialPort> port;
    link::PortReader reader;
    link::FrameDecoder decoder;
};

struct Started {
    explicit Started(UnitConfig config) : sim(std::move(config)) {
        std::string error;
        started = sim.start(&error);
        EXPECT_TRUE(started) << error;
    }
    Simulator sim;
    bool started = false;
};

template <typename Predicate>
bool eventually(Predicate p) {
    const auto deadline = Clock::now() + DEADLINE;
    while (Clock::now() < deadline) {
        if (p()) return true;
        std::this_thread::sleep_for(2ms);
    }
    return p();
}

Bytes program_wide(std::size_t page, std::uint8_t fill) {
    Bytes m{0x2D, 0x00, static_cast<std::uint8_t>(page), static_cast<std::uint8_t>(page >> 8)};
    m.insert(m.end(), 256, fill);
    return m;
}

class TempDir {
  public:
    TempDir() {
        path =
            std::filesystem::temp_directory_path() /
            ("vrk-sim-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + std::to_string(Clock::now().time_since_epoch().count()));
        std::filesystem::create_directories(path);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::filesystem::path path;
};

Bytes read_file(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

TEST(SimPty, AnswersQueriesAndSetsAtItsSpeed) {
    Started s{UnitConfig{}};
    ASSERT_TRUE(s.started);
    ASSERT_FALSE(s.sim.device_path().empty());
    ProgramEnd end(s.sim.device_path());
    ASSERT_TRUE(end.port);
    ASSERT_TRUE(end.port->configure(115200));
    EXPECT_EQ(end.ask("0B 00"), "0B 56 52 4B 30 30 30 34 32 00");
    EXPECT_EQ(end.ask("01 00"), "02 28 D7 00 7C 11 01 00 00 00 E1 00");
    EXPECT_EQ(end.ask("15 06"), "15 06");
    EXPECT_EQ(s.sim.internal_device(), 6);
    EXPECT_EQ(end.ask("0B 41 42 00 00 00 00 00 00 00"), "0B 41 42 00 00 00 00 00 00 00");
    EXPECT_EQ(s.sim.unit_id(), "AB");
    const auto got = s.sim.received_messages();
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(to_hex(got[0]), "0B 00");
}

TEST(SimPty, AtAnotherSpeedTheUnitHearsOnlyNoise) {
    UnitConfig c;
    c.baud = 9600;
    Started s{c};
    ASSERT_TRUE(s.started);
    ProgramEnd end(s.sim.device_path());
    ASSERT_TRUE(end.port);
    ASSERT_TRUE(end.port->configure(115200));
    // A probe and, in the same write, the start of a frame that the next bytes at the unit's
    // speed would complete into a setting, had the unit kept the noise in its decoder.
    Bytes noise = test::frame(hex("0B 00"));
    noise.insert(noise.end(), {0xFF, 0x19});
    ASSERT_EQ(end.port->write(noise), platform::IoStatus::ok);
    ASSERT_TRUE(eventually([&] { return !s.sim.line_log().empty(); }));
    ASSERT_TRUE(end.port->set_baud_rate(9600));
    ASSERT_EQ(end.port->write(hex("05 FE")), platform::IoStatus::ok);
    // The first answer is the one to the query sent at the unit's speed: the probe at 115200
    // went unanswered and the broken frame set nothing.
    EXPECT_EQ(end.ask("16 00"), "17 00");
    EXPECT_EQ(s.sim.external_device(), 1);
    const auto log = s.sim.line_log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].baud, 115200u);
    EXPECT_FALSE(log[0].accepted);
    EXPECT_EQ(to_hex(log[0].message), "0B 00");
    EXPECT_EQ(log[1].baud, 9600u);
    EXPECT_TRUE(log[1].accepted);
    ASSERT_EQ(s.sim.received_messages().size(), 1u);
    EXPECT_EQ(to_hex(s.sim.received_messages()[0]), "16 00");
}

TEST(SimPty, AnnouncesOnceWhenTheProgramFirstSetsTheUnitsSpeed) {
    UnitConfig c;
    c.baud = 4800;
    c.announce = true;
    Started s{c};
    ASSERT_TRUE(s.started);
    ProgramEnd end(s.sim.device_path());
    ASSERT_TRUE(end.port);
    ASSERT_TRUE(end.port->configure(1200));
    ASSERT_TRUE(end.port->set_baud_rate(4800));
    const auto announce = end.receive();
    ASSERT_TRUE(announce);
    EXPECT_EQ(to_hex(*announce), "00 00");
    ASSERT_TRUE(end.port->set_baud_rate(1200));
    ASSERT_TRUE(end.port->set_baud_rate(4800));
    EXPECT_EQ(end.ask("0B 00"), "0B 56 52 4B 30 30 30 34 32 00") << "no second announce";
}

TEST(SimPty, FlashOperationsOverTheLineAndTheFilesWrittenAtStop) {
    TempDir dir;
    UnitConfig c;
    c.log_path = (dir.path / "sim.log").string();
    c.flash_out = (dir.path / "flash.bin").string();
    Started s{c};
    ASSERT_TRUE(s.started);
    ProgramEnd end(s.sim.device_path());
    ASSERT_TRUE(end.port);
    ASSERT_TRUE(end.port->configure(115200));
    EXPECT_EQ(end.ask("2C 02"), "29 00");
    end.send(program_wide(300, 0x3C));
    EXPECT_EQ(to_hex(*end.receive()), "2E 00 2C 01");
    Bytes compare = program_wide(300, 0x3C);
    compare[0] = 0x2F;
    end.send(compare);
    EXPECT_EQ(to_hex(*end.receive()), "30 01 2C 01");
    s.sim.poke_flash(300 * 256 + 17, 0x00);
    end.send(compare);
    EXPECT_EQ(to_hex(*end.receive()), "30 00 2C 01");

    const auto flash = s.sim.flash_copy(301 * 256 + 1);
    EXPECT_EQ(flash[300 * 256 - 1], 0xFF);
    EXPECT_EQ(flash[300 * 256], 0x3C);
    EXPECT_EQ(flash[301 * 256], 0xFF);

    // A PROGRAM_PAGE of the wrong length (the page data one byte short) is not a request.
    Bytes short_page = program_wide(5, 0x00);
    short_page.pop_back();
    end.send(short_page);
    EXPECT_EQ(end.ask("0B 00"), "0B 56 52 4B 30 30 30 34 32 00");
    EXPECT_EQ(s.sim.flash_copy(6 * 256)[5 * 256], 0xFF);

    ASSERT_TRUE(s.sim.stop());
    EXPECT_TRUE(s.sim.stop()) << "stop is idempotent";
    const Bytes out = read_file(c.flash_out);
    ASSERT_EQ(out.size(), 301u * 256) << "up to the last programmed byte";
    EXPECT_EQ(out[300 * 256 + 17], 0x00);
    EXPECT_EQ(out[300 * 256 + 18], 0x3C);
    std::ifstream log(c.log_path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "2C 02");
    EXPECT_EQ(lines[1].substr(0, 14), "2D 00 2C 01 3C");
    EXPECT_EQ(lines[5], "0B 00");
}

TEST(SimPty, LineTimeHoldsEachByteForTenBitTimes) {
    UnitConfig c;
    c.baud = 1200;
    c.line_time = true;
    Started s{c};
    ASSERT_TRUE(s.started);
    ProgramEnd end(s.sim.device_path());
    ASSERT_TRUE(end.port);
    ASSERT_TRUE(end.port->configure(1200));
    const auto t0 = Clock::now();
    EXPECT_EQ(end.ask("0B 00"), "0B 56 52 4B 30 30 30 34 32 00");
    const auto elapsed = Clock::now() - t0;
    // A lower bound only: the query's bytes must cross the line before the unit can answer,
    // and the answer's bytes after that. A busy machine can only make it longer.
    const auto st = s.sim.stats();
    EXPECT_EQ(st.wire_bytes_received, 4u);
    EXPECT_EQ(st.wire_bytes_sent, 12u);
    const auto wire_time = std::chrono::microseconds((st.wire_bytes_received + st.wire_bytes_sent) *
                                                     10 * 1'000'000 / 1200);
    EXPECT_GE(elapsed, wire_time);
}

TEST(SimPty, TheProgramMayCloseAndReopenItsEnd) {
    Started s{UnitConfig{}};
    ASSERT_TRUE(s.started);
    {
        ProgramEnd first(s.sim.device_path());
        ASSERT_TRUE(first.port);
        ASSERT_TRUE(first.port->configure(115200));
        EXPECT_EQ(first.ask("18 00"), "19 01");
    }
    ProgramEnd second(s.sim.device_path());
    ASSERT_TRUE(second.port);
    ASSERT_TRUE(second.port->configure(115200));
    EXPECT_EQ(second.ask("16 00"), "17 00");
}

TEST(SimPty, LostRepliesAndCorruptedBytes) {
    {
        UnitConfig c;
        c.drop_tx = 1.0;
        Started s{c};
        ASSERT_TRUE(s.started);
        ProgramEnd end(s.sim.device_path());
        ASSERT_TRUE(end.port);
        ASSERT_TRUE(end.port->configure(115200));
        end.send(hex("19 0B"));
        // The set reached the unit and took effect; only its answer was lost.
        ASSERT_TRUE(eventually([&] { return s.sim.stats().replies_dropped_tx == 1; }));
        EXPECT_EQ(s.sim.external_device(), 0x0B);
    }
    {
        UnitConfig c;
        c.corrupt = 1.0;
        Started s{c};
        ASSERT_TRUE(s.started);
        ProgramEnd end(s.sim.device_path());
        ASSERT_TRUE(end.port);
        ASSERT_TRUE(end.port->configure(115200));
        end.send(hex("16 00"));
        const Bytes clean = test::frame(hex("17 00"));
        Bytes got;
        std::uint8_t block[64];
        const auto deadline = Clock::now() + DEADLINE;
        while (got.size() < clean.size() && Clock::now() < deadline) {
            const auto n = end.port->read(block);
            got.insert(got.end(), block, block + n.count);
        }
        ASSERT_EQ(got.size(), clean.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            const unsigned diff = got[i] ^ clean[i];
            EXPECT_TRUE(diff != 0 && (diff & (diff - 1)) == 0)
                << "byte " << i << ": exactly one bit flipped";
        }
        EXPECT_EQ(s.sim.stats().bytes_corrupted, clean.size());
    }
    {
        // On the way in: every byte the unit hears at its speed has a bit flipped before it is
        // decoded, so the setting never arrives as sent.
        UnitConfig c;
        c.corrupt_rx = 1.0;
        Started s{c};
        ASSERT_TRUE(s.started);
        ProgramEnd end(s.sim.device_path());
        ASSERT_TRUE(end.port);
        ASSERT_TRUE(end.port->configure(115200));
        const Bytes sent = test::frame(hex("15 05"));
        end.send(hex("15 05"));
        ASSERT_TRUE(eventually([&] { return s.sim.stats().bytes_corrupted_rx == sent.size(); }));
        EXPECT_NE(s.sim.internal_device(), 0x05);
        for (const auto& m : s.sim.received_messages()) EXPECT_NE(m, hex("15 05"));
    }
}

TEST(SimPty, StartRefusesBadConfigurationsAndASecondStart) {
    UnitConfig bad;
    bad.baud = 12345;
    Simulator a{bad};
    std::string error;
    EXPECT_FALSE(a.start(&error));
    EXPECT_NE(error.find("12345"), std::string::npos);

    UnitConfig unwritable;
    unwritable.log_path = "/nonexistent-dir/for/sure/sim.log";
    Simulator b{unwritable};
    EXPECT_FALSE(b.start(&error));
    EXPECT_NE(error.find("log"), std::string::npos);

    Simulator c{UnitConfig{}};
    ASSERT_TRUE(c.start(&error)) << error;
    EXPECT_FALSE(c.start(&error));
    c.stop();
}

}  // namespace
}  // namespace vrk::sim
