// A session that has been through something and is restarted must behave, byte for byte, like a
// session made fresh: on the wire, in the window, towards the person and towards its observers.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/session.h"
#include "device/engine.h"
#include "platform/control_ids.h"
#include "tests/support/fakes.h"
#include "tests/support/transfer_rig.h"
#include "tests/support/wire.h"

namespace vrk::test {
namespace {

// Everything an observer and a send hook are told, as text.
struct Watcher final : device::EngineObserver, link::SendHook {
    std::vector<std::string> log;
    void link_up(std::uint32_t baud) override { log.push_back("up " + std::to_string(baud)); }
    void link_lost(link::LinkLoss why) override {
        log.push_back("lost " + std::string(device::loss_name(why)));
    }
    void setting_reported(const device::SettingReport& r) override {
        log.push_back("setting " + std::string(device::setting_name(r.setting)) + " " +
                      std::string(r.text) + (r.confirmation ? " confirmed" : ""));
    }
    void operation_started(const device::OperationStart& s) override {
        log.push_back("start " + std::string(device::phase_name(s.phase)));
    }
    void progress(const device::Progress& p) override {
        log.push_back("progress " + std::to_string(p.pages_done) + "/" + std::to_string(p.pages));
    }
    void operation_finished(const device::OperationEnd& e) override {
        log.push_back("end " + std::string(device::result_name(e.result)));
    }
    void status_changed(std::string_view text) override {
        log.push_back("status " + std::string(text));
    }
    void before_send(std::span<const std::uint8_t> message) override {
        log.push_back("send " + to_hex(Bytes(message.begin(), message.end())));
    }
};

// A session on fakes, with two images in its folder and a watcher attached.
struct Bench {
    FakePort port;
    FakeClock clock;
    MemoryFileSystem files;
    FakeHost host;
    std::unique_ptr<app::Session> session;
    Watcher watcher;

    Bench() {
        files.files["APP.vr4"] = test_image(70'000);
        files.files["SMALL.vr4"] = test_image(700, 3);
        session = std::make_unique<app::Session>(port, "/dev/ttyFAKE0",
                                                 app::SessionServices{clock, files, host});
        session->engine().events.add(watcher);
        (void)link::add_send_hook(session->context().link, watcher);
    }

    platform::ControlsModel& window() { return session->window(); }
    void tick() { session->tick(); }
    void reply(const std::string& message) {
        port.feed(frame(hex(message)));
        tick();
    }
    void raw(const std::string& bytes) {
        port.feed(hex(bytes));
        tick();
    }
    void wait(std::uint32_t ms) {
        for (std::uint32_t i = 0; i < ms / 100; ++i) {
            clock.advance(100);
            tick();
        }
    }
    void pick(const std::string& name) {
        for (int i = 0; i < window().item_count(ids::APPLICATION); ++i)
            if (window().item_text(ids::APPLICATION, i) == name)
                window().user_select(ids::APPLICATION, i);
    }
    // The unit answers the probe and reports its settings.
    void link_up() {
        reply("0B 55 4E 49 54 30 31 00 00 00");
        reply("02 28 D7 00 39 30 00 00 00 24 F4 00");
        reply("17 01");
        reply("15 04");
        reply("19 02");
    }
    // Forgets what the fakes saw so far: what follows is compared.
    void forget() {
        port.writes.clear();
        port.events.clear();
        host.boxes.clear();
        host.beeps = 0;
        host.answers.clear();
        host.save_answers.clear();
        watcher.log.clear();
    }
};

// What can be seen of a session from outside.
std::string seen(Bench& b) {
    std::ostringstream out;
    out << "wire: " << to_hex(b.port.written()) << "\nport:";
    for (const auto& e : b.port.events) out << ' ' << e;
    out << "\nbeeps: " << b.host.beeps << "\nboxes:";
    for (const auto& box : b.host.boxes) out << " [" << box.text << ']';
    out << "\nwindow: focus " << b.window().focus() << (b.window().ended() ? " ended" : "");
    for (const platform::Control& c : b.window().controls()) {
        out << "\n  " << c.id << " '" << c.text << "' " << (c.enabled ? "on" : "off")
            << (c.visible ? "" : " hidden") << " sel " << c.selection << " items " << c.items.size()
            << " bar " << c.position << '/' << c.range;
    }
    out << "\nwatcher:";
    for (const auto& line : b.watcher.log) out << "\n  " << line;
    return out.str();
}

using Step = std::function<void(Bench&)>;

struct Story {
    const char* name;
    Step run;
};

// What a session may have been through before its restart.
const std::vector<Story>& histories() {
    static const std::vector<Story> stories = {
        {"a download cut short mid-frame",
         [](Bench& b) {
             b.link_up();
             b.pick("APP.vr4");
             b.window().user_click(ids::DOWNLOAD);
             b.reply("29 00");
             b.reply("2E 00 11 01");
             // A frame left open, an escape pending and a count expected.
             b.raw("FF 2E 00 FD FC");
         }},
        {"recording while a compare runs",
         [](Bench& b) {
             b.link_up();
             b.host.save_answers.push_back("/work/images/run.vbm");
             b.window().user_click(ids::RECORD);
             b.pick("SMALL.vr4");
             b.window().user_click(ids::COMPARE);
             b.reply("30 01 02 00");
             b.raw("FF 30 01");
         }},
        {"settings changed at another rate, then the cable pulled",
         [](Bench& b) {
             b.wait(1000);  // the hunt moves on from 115200
             b.link_up();
             b.window().user_select(ids::INTERNAL_DEVICE, 3);
             b.window().user_type_text(ids::UNIT_ID, "ab12");
             b.window().user_click(ids::SEND_ID);
             b.port.lines = platform::ModemLines{false, false};
             b.tick();
             b.port.lines = platform::ModemLines{true, true};
         }},
        {"the application runs and the person chose to exit",
         [](Bench& b) {
             b.link_up();
             b.host.answers.push_back(platform::MessageAnswer::yes);
             b.reply("21 00");
         }},
        {"an ID half received and another frame waiting in the receive block",
         [](Bench& b) {
             b.raw("FF 29 00 FE FF 0B 55 4E 49 54 00 00 00 00 00 FE FF 0B 55 4E 49 54 00 00 00");
         }},
    };
    return stories;
}

// What may come after: the same for the restarted session and the fresh one.
const std::vector<Story>& inputs() {
    static const std::vector<Story> stories = {
        {"the unit answers and reports its settings", [](Bench& b) { b.link_up(); }},
        {"a quiet line for two seconds", [](Bench& b) { b.wait(2000); }},
        {"late acknowledgements, then the retry time",
         [](Bench& b) {
             b.reply("2E 00 10 01");
             b.reply("2B 02");
             b.reply("30 01 01 00");
             b.wait(2500);
         }},
        {"the rest of a frame, then an erase report",
         [](Bench& b) {
             b.raw("00 FE");
             b.raw("31 FE");
             b.reply("29 00");
         }},
        {"a whole download of the small image",
         [](Bench& b) {
             b.link_up();
             b.pick("SMALL.vr4");
             b.window().user_click(ids::DOWNLOAD);
             LoaderModel unit;
             for (int round = 0; round < 10; ++round) {
                 const auto sent = unframe(b.port.written());
                 b.port.clear_writes();
                 for (const Bytes& request : sent) {
                     const Bytes answer = unit.answer(request);
                     if (!answer.empty()) b.reply(to_hex(answer));
                 }
             }
         }},
        {"the person sets an ID and a GPS type",
         [](Bench& b) {
             b.link_up();
             b.window().user_type_text(ids::UNIT_ID, "X7");
             b.window().user_click(ids::SEND_ID);
             b.window().user_select(ids::GPS_TYPE, 2);
             b.reply("17 02");
         }},
    };
    return stories;
}

// Runs every input on a fresh session and, after each history, on a used one; both are put
// through `reset` first (the fresh one too: a reset on a session that has been through nothing
// is the reference). `seen` says what is compared.
void expect_like_fresh(const Step& reset, const std::function<std::string(Bench&)>& look) {
    for (const Story& input : inputs()) {
        Bench fresh;
        fresh.forget();
        reset(fresh);
        fresh.host.boxes.clear();
        fresh.watcher.log.clear();
        input.run(fresh);
        const std::string expected = look(fresh);
        for (const Story& history : histories()) {
            SCOPED_TRACE(std::string(history.name) + ", then " + input.name);
            Bench used;
            history.run(used);
            used.forget();
            reset(used);
            used.host.boxes.clear();  // the reset may tell of what it ended
            used.host.beeps = 0;
            used.watcher.log.clear();
            input.run(used);
            EXPECT_EQ(look(used), expected);
        }
    }
}

TEST(SessionRestart, BehavesLikeAFreshSessionWhateverCameBefore) {
    // The reference is a session just made, and a restart of one just made: the same.
    expect_like_fresh([](Bench& b) { b.session->restart(); }, seen);
}

TEST(SessionRestart, EndsWhatRanAndKeepsTheMacroWritten) {
    Bench b;
    b.link_up();
    b.host.save_answers.push_back("/work/images/run.vbm");
    b.window().user_click(ids::RECORD);
    b.pick("SMALL.vr4");
    b.window().user_click(ids::DOWNLOAD);
    b.reply("29 00");
    const Bytes recorded = b.files.files["/work/images/run.vbm"];
    b.watcher.log.clear();
    b.session->restart();
    EXPECT_EQ(b.files.files["/work/images/run.vbm"], recorded);
    EXPECT_FALSE(device::recording(b.session->engine().recorder));
    EXPECT_FALSE(device::image_loaded(b.session->engine().transfer));
    EXPECT_EQ(b.host.beeps, 1);
    EXPECT_NE(std::find(b.watcher.log.begin(), b.watcher.log.end(), "end interrupted"),
              b.watcher.log.end());
}

TEST(SessionRestart, OnAPortFoundGoneTheHuntWaitsForThePort) {
    Bench b;
    b.link_up();
    b.port.lost = true;
    b.tick();  // the loss is found and the port closed
    b.forget();
    b.session->restart();
    b.wait(500);
    EXPECT_TRUE(b.port.writes.empty());
    EXPECT_EQ(b.port.events, std::vector<std::string>{});
    EXPECT_FALSE(b.session->port_open());
}

}  // namespace
}  // namespace vrk::test
