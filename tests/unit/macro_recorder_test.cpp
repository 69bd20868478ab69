// The macro recorder: what lands in the file for each message sent, the Record button's
// dialog and proposals, and what happens when the file cannot take a record.
#include "device/macro_recorder.h"

#include <gtest/gtest.h>

#include <numeric>

#include "app/context.h"
#include "link/link.h"
#include "platform/control_ids.h"
#include "tests/support/macro_reader.h"
#include "tests/support/transfer_rig.h"

namespace vrk::test {
namespace {

const std::string MACRO = "/work/images/APP.vbm";

Bytes data_256(std::uint8_t seed) {
    Bytes d(256);
    for (std::size_t i = 0; i < d.size(); ++i) d[i] = static_cast<std::uint8_t>(i * 3 + seed);
    return d;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct RecorderRig : TransferRig {
    // Presses Record and answers the save dialog with `path` (nullopt: cancel).
    void press_record(std::optional<std::string> path) {
        host.save_answers.push_back(std::move(path));
        window.user_click(ids::RECORD);
    }
    void start_recording(const std::string& path = MACRO) { press_record(path); }
    void send(const Bytes& message) { link::send_message(ctx.link, message); }
    [[nodiscard]] bool recording() const { return engine.recorder.macro_file != nullptr; }
    [[nodiscard]] std::string caption() const { return window.text(ids::RECORD); }
    Bytes& file(const std::string& path = MACRO) { return files.files[path]; }
};

// --- Records ----------------------------------------------------------------------------------

TEST(MacroRecords, EachRecordedTypeAppendsItsExactBytes) {
    struct Case {
        const char* what;
        Bytes message;
        Bytes record;
    };
    const Bytes d = data_256(7);
    const Case cases[] = {
        {"internal device 5", hex("15 05"), hex("02 00 02 00 15 05 15 05")},
        {"external device 0x30", hex("19 30"), hex("02 00 02 00 19 30 19 30")},
        {"erase", hex("28 00"), hex("02 00 02 80 28 00 29 00")},
        {"erase 2 blocks", hex("2C 02"), hex("02 00 02 80 2C 02 29 00")},
        {"program page 3", cat({hex("2A 03"), d}),
         cat({hex("02 01 02 00 2A 03"), d, hex("2B 03")})},
        {"program page 0x0123 wide", cat({hex("2D 00 23 01"), d}),
         cat({hex("04 01 04 80 2D 00 23 01"), d, hex("2E 00 23 01")})},
        {"compare page 5", cat({hex("2F 00 05 00"), d}),
         cat({hex("04 01 04 00 2F 00 05 00"), d, hex("30 01 05 00")})},
        // A malformed request never makes the recorder read past the message.
        {"wide request cut to its type", hex("2D"), hex("01 00 04 80 2D 2E 00 00 00")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RecorderRig rig;
        rig.start_recording();
        rig.send(c.message);
        EXPECT_EQ(rig.file(), c.record);
        // The wire carries the same message, unchanged by recording.
        const auto sent = rig.take_sent();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0], c.message);
    }
}

TEST(MacroRecords, OtherMessagesAppendNothing) {
    RecorderRig rig;
    rig.start_recording();
    for (const char* m : {"17 03", "0B 00", "0B 41 42 43 00 00 00 00 00 00", "01 00", "14 00",
                          "16 00", "18 00", "1E 00", "20 00", "29 00", "2B 01", "30 01 00 00"})
        rig.send(hex(m));
    // As the program sends them: the baud hunt's probe while recording, a GPS type change.
    device::reset_link_display(rig.engine);
    for (int i = 0; i < 10; ++i) {
        rig.clock.advance(300);
        rig.tick();
    }
    rig.window.user_select(ids::GPS_TYPE, 1);
    EXPECT_FALSE(rig.take_sent().empty());
    EXPECT_TRUE(rig.file().empty());
    EXPECT_TRUE(rig.recording());
}

TEST(MacroRecords, InternalDeviceChosenInTheListIsRecorded) {
    RecorderRig rig;
    rig.start_recording();
    int index = -1;
    for (int i = 0; i < rig.window.item_count(ids::INTERNAL_DEVICE); ++i)
        if (rig.window.item_data(ids::INTERNAL_DEVICE, i) == 5) index = i;
    ASSERT_GE(index, 0);
    rig.window.user_select(ids::INTERNAL_DEVICE, index);
    EXPECT_EQ(rig.file(), hex("02 00 02 00 15 05 15 05"));
}

TEST(MacroRecords, AWholeDownloadIsRecordedRequestByRequest) {
    RecorderRig rig;
    LoaderModel unit;
    const Bytes image = test_image(257 * 256 + 10);  // wide and 8-bit pages, a short last page
    rig.pick("APP.vr4", image);
    rig.start_recording();
    rig.press_download();
    std::vector<Bytes> requests = rig.take_sent();  // the erase
    rig.reply(unit.answer(requests.back()));
    requests.push_back(rig.take_sent().at(0));  // page 257
    rig.reply(unit.answer(requests.back()));
    requests.push_back(rig.take_sent().at(0));  // page 256, which goes unanswered
    // ... and is therefore sent again, 2 s after it has left, and recorded again.
    rig.clock.now = rig.ctx.link.line_free + 2001;
    rig.tick();
    const auto rest = rig.run_against(unit);
    requests.insert(requests.end(), rest.begin(), rest.end());
    ASSERT_EQ(rig.status(), "APP.vr4 has been downloaded successfully");
    EXPECT_TRUE(rig.recording());  // the end of a download does not end the recording

    const MacroParse parse = read_macro(rig.file());
    ASSERT_TRUE(parse.ok()) << parse.error;
    ASSERT_EQ(parse.records.size(), requests.size());
    ASSERT_EQ(parse.records.size(), 1 + 258 + 1);
    EXPECT_EQ(parse.records[2].message, parse.records[3].message);  // the retried page 256
    std::size_t total = 0;
    LoaderModel oracle;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const MacroRecord& r = parse.records[i];
        EXPECT_EQ(r.message, requests[i]) << i;
        // The expected reply is what a healthy loader answers.
        EXPECT_EQ(r.reply, oracle.answer(requests[i])) << i;
        total += r.size();
    }
    EXPECT_EQ(rig.file().size(), total);
    EXPECT_EQ(parse.records[0].reply_word, 0x8002);
    EXPECT_EQ(parse.records[1].reply_word, 0x8004);      // wide page
    EXPECT_EQ(parse.records.back().reply_word, 0x0002);  // 8-bit page
}

TEST(MacroRecords, RecordingSurvivesALinkReset) {
    RecorderRig rig;
    rig.start_recording();
    device::reset_link_display(rig.engine);
    rig.send(hex("28 00"));
    EXPECT_EQ(rig.file().size(), 8u);
}

TEST(MacroReader, RejectsACutOffRecord) {
    const Bytes whole = hex("02 00 02 80 28 00 29 00 02 00 02 00 15 05 15 05");
    ASSERT_TRUE(read_macro(whole).ok());
    for (std::size_t cut = 9; cut < whole.size(); ++cut) {
        const MacroParse p =
            read_macro(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut)));
        EXPECT_FALSE(p.ok()) << cut;
        EXPECT_EQ(p.records.size(), 1u) << cut;
    }
}

// --- The Record button -------------------------------------------------------------------------

TEST(RecordButton, StartAndStopWithNothingSentLeaveAnEmptyFile) {
    RecorderRig rig;
    EXPECT_EQ(rig.caption(), "Re&cord...");
    rig.start_recording();
    EXPECT_EQ(rig.caption(), "&Stop Recording");
    ASSERT_EQ(rig.host.save_requests.size(), 1u);
    const auto& request = rig.host.save_requests[0];
    EXPECT_EQ(request.filter_description, "VRK BIOS Macro Files (*.vbm)");
    EXPECT_EQ(request.filter_pattern, "*.vbm");
    EXPECT_EQ(request.default_extension, "vbm");
    EXPECT_TRUE(request.overwrite_prompt);
    rig.window.user_click(ids::RECORD);
    EXPECT_EQ(rig.caption(), "Re&cord...");
    EXPECT_FALSE(rig.recording());
    EXPECT_EQ(rig.host.save_requests.size(), 1u);  // stopping asks nothing
    ASSERT_EQ(rig.files.files.count(MACRO), 1u);
    EXPECT_TRUE(rig.file().empty());
    EXPECT_TRUE(rig.host.boxes.empty());
    // Nothing reaches a closed file.
    rig.send(hex("28 00"));
    EXPECT_TRUE(rig.file().empty());
}

TEST(RecordButton, StartingAgainWithTheSameNameStartsAnEmptyFile) {
    RecorderRig rig;
    rig.start_recording();
    rig.send(hex("28 00"));
    rig.window.user_click(ids::RECORD);
    rig.start_recording();
    EXPECT_TRUE(rig.file().empty());
    rig.send(hex("15 01"));
    EXPECT_EQ(rig.file(), hex("02 00 02 00 15 01 15 01"));
}

TEST(RecordButton, CancelChangesNothing) {
    RecorderRig rig;
    const auto before = rig.files.files;
    rig.press_record(std::nullopt);
    EXPECT_FALSE(rig.recording());
    EXPECT_EQ(rig.caption(), "Re&cord...");
    EXPECT_EQ(rig.files.files, before);
    EXPECT_TRUE(rig.host.boxes.empty());
    rig.send(hex("28 00"));
    EXPECT_EQ(rig.files.files, before);
}

TEST(RecordButton, ProposedName) {
    const std::string long_dir = "/" + std::string(240, 'd');
    const std::size_t fit = 255 - (long_dir.size() + 1) - 4;  // name length that fills 255 exactly
    struct Case {
        const char* what;
        std::string cwd;
        std::string selected;  // "" = nothing selected
        std::string proposal;
    };
    const Case cases[] = {
        {"image name", "/work/images", "APP.vr4", "/work/images/APP.vbm"},
        {"only the last extension", "/work/images", "a.b.vr4", "/work/images/a.b.vbm"},
        {"nothing selected", "/work/images", "", "/work/images/*.vbm"},
        {"no period", "/work/images", "NOPERIOD", "/work/images/NOPERIOD.vbm"},
        {"at the root", "/", "APP.vr4", "/APP.vbm"},
        {"fits exactly", long_dir, std::string(fit, 'n') + ".vr4",
         long_dir + "/" + std::string(fit, 'n') + ".vbm"},
        {"too long is not cut", long_dir, std::string(fit + 1, 'n') + ".vr4", long_dir + "/*.vbm"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RecorderRig rig;
        rig.files.cwd = c.cwd;
        device::init_macro_path(rig.engine);
        if (!c.selected.empty()) rig.pick(c.selected, test_image(1));
        rig.press_record(std::nullopt);
        ASSERT_EQ(rig.host.save_requests.size(), 1u);
        EXPECT_EQ(rig.host.save_requests[0].initial_path, c.proposal);
        EXPECT_LE(rig.engine.recorder.macro_path.size(), 255u);
    }
}

TEST(RecordButton, LaterProposalsUseTheDirectoryLastChosen) {
    RecorderRig rig;
    rig.start_recording("/elsewhere/mine.vbm");
    rig.window.user_click(ids::RECORD);
    rig.press_record(std::nullopt);  // nothing selected: the last file chosen
    rig.pick("APP.vr4", test_image(1));
    rig.press_record(std::nullopt);
    ASSERT_EQ(rig.host.save_requests.size(), 3u);
    EXPECT_EQ(rig.host.save_requests[1].initial_path, "/elsewhere/mine.vbm");
    EXPECT_EQ(rig.host.save_requests[2].initial_path, "/elsewhere/APP.vbm");
}

TEST(RecordButton, InitialPathFromTheCurrentDirectory) {
    struct Case {
        std::string cwd;
        std::string path;
    };
    const std::string d249 = "/" + std::string(248, 'd');
    const std::string d250 = "/" + std::string(249, 'd');
    const Case cases[] = {
        {"/work/images", "/work/images/*.vbm"},
        {"/", "/*.vbm"},
        {d249, d249 + "/*.vbm"},  // 255 characters
        {d250, "*.vbm"},          // 256 would not fit
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cwd);
        RecorderRig rig;
        rig.files.cwd = c.cwd;
        device::init_macro_path(rig.engine);
        EXPECT_EQ(rig.engine.recorder.macro_path, c.path);
    }
}

TEST(RecordButton, AFileThatCannotBeCreatedIsReported) {
    RecorderRig rig;
    rig.files.fail_create = true;
    rig.start_recording();
    EXPECT_FALSE(rig.recording());
    EXPECT_EQ(rig.caption(), "Re&cord...");
    ASSERT_EQ(rig.host.boxes.size(), 1u);
    EXPECT_EQ(rig.host.boxes[0].text, "Error creating '/work/images/APP.vbm'");
    EXPECT_EQ(rig.host.boxes[0].caption, "");
    EXPECT_EQ(rig.host.boxes[0].buttons, platform::MessageButtons::ok);
    EXPECT_EQ(rig.host.boxes[0].icon, platform::MessageIcon::error);
}

// --- Write failures ---------------------------------------------------------------------------

TEST(MacroWriteFailure, ARecordTheFileCannotTakeEndsTheRecording) {
    // Room for the erase record and part of the first page's.
    for (const std::size_t room : {std::size_t{8}, std::size_t{100}}) {
        SCOPED_TRACE(room);
        RecorderRig rig;
        rig.pick("APP.vr4", test_image(3 * 256));
        rig.files.fail_writes_after = room;
        rig.start_recording();
        rig.press_download();
        rig.take_sent();
        rig.reply(hex("29 00"));
        EXPECT_FALSE(rig.recording());
        EXPECT_EQ(rig.caption(), "Re&cord...");
        ASSERT_EQ(rig.host.boxes.size(), 1u);
        EXPECT_EQ(rig.host.boxes[0].text, "Error writing '/work/images/APP.vbm'");
        EXPECT_EQ(rig.host.boxes[0].icon, platform::MessageIcon::error);
        EXPECT_EQ(rig.host.boxes[0].buttons, platform::MessageButtons::ok);
        // The download itself goes on; later requests do not reach the file.
        EXPECT_EQ(rig.take_sent().size(), 1u);
        const std::size_t written = rig.files.bytes_written;
        rig.reply(hex("2B 02"));
        EXPECT_EQ(rig.take_sent().size(), 1u);
        EXPECT_EQ(rig.files.bytes_written, written);
        EXPECT_EQ(rig.host.boxes.size(), 1u);
    }
}

TEST(MacroWriteFailure, TheErrorIsShownOnlyOnceTheRequestHasGoneOut) {
    // The box runs an event loop in which ticks and replies go on; the page being sent must be
    // on the wire, whole, before it opens.
    RecorderRig rig;
    rig.files.fail_writes_after = 0;
    rig.start_recording();
    std::size_t written_when_box_opened = 0;
    rig.host.while_box_open = [&] { written_when_box_opened = rig.port.written().size(); };
    rig.send(hex("28 00"));
    ASSERT_EQ(rig.host.boxes.size(), 1u);
    EXPECT_EQ(written_when_box_opened, 4u);
    EXPECT_TRUE(rig.engine.recorder.pending_error.empty());
}

// What a hook after the recorder's is told of each frame: the trace's view of the wire.
struct WireSeen : link::SendHook {
    std::vector<Bytes> frames;
    void after_send(std::span<const std::uint8_t>, std::span<const std::uint8_t> wire) override {
        frames.emplace_back(wire.begin(), wire.end());
    }
};

TEST(MacroWriteFailure, NothingIsSentWhileTheBoxOfAFailedWriteIsUp) {
    // The box opens from inside the press's send; its event loop keeps ticking while the
    // person reads it, with a reply waiting or a retry due meanwhile.
    struct Case {
        const char* what;
        bool compare;
        const char* waiting;  // a reply in the port while the box is up
        Bytes first;          // the request of the press
    };
    const Bytes image = test_image(256);
    const Case cases[] = {
        {"Download, ERASE_DONE waiting", false, "29 00", hex("28 00")},
        {"Compare, its retry due", true, nullptr, [&] {
             Bytes m = hex("2F 00 00 00");
             m.insert(m.end(), image.begin(), image.end());
             return m;
         }()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WireSeen seen;  // outlives the rig's link
        RecorderRig rig;
        ASSERT_TRUE(link::add_send_hook(rig.ctx.link, seen));
        rig.pick("APP.vr4", image);
        rig.files.fail_writes_after = 0;
        rig.start_recording();
        std::size_t writes_in_box = 0;
        rig.host.while_box_open = [&] {
            const std::size_t before = rig.port.writes.size();
            if (c.waiting != nullptr) rig.feed_message(hex(c.waiting));
            for (int i = 0; i < 300; ++i) {
                rig.clock.advance(10);
                rig.tick();
            }
            writes_in_box = rig.port.writes.size() - before;
        };
        if (c.compare)
            rig.press_compare();
        else
            rig.press_download();
        ASSERT_EQ(rig.host.boxes.size(), 1u);
        EXPECT_EQ(writes_in_box, 0u);
        ASSERT_EQ(seen.frames.size(), 1u);
        EXPECT_EQ(seen.frames[0], frame(c.first));
        // Once the box is closed the window goes on: the reply taken, or the retry sent.
        rig.take_sent();
        rig.tick();
        EXPECT_EQ(rig.take_sent().size(), 1u);
        link::remove_send_hook(rig.ctx.link, seen);
    }
}

TEST(MacroWriteFailure, AMessageTooLongForARecordEndsTheRecording) {
    RecorderRig rig;
    rig.start_recording();
    rig.send(Bytes(261, 0x2D));
    EXPECT_FALSE(rig.recording());
    EXPECT_TRUE(rig.file().empty());
    ASSERT_EQ(rig.host.boxes.size(), 1u);
    EXPECT_EQ(rig.host.boxes[0].text, "Error writing '/work/images/APP.vbm'");
}

TEST(MacroWriteFailure, ShutdownClosesTheFile) {
    RecorderRig rig;
    rig.start_recording();
    device::close_macro_file(rig.engine);
    EXPECT_FALSE(rig.recording());
    rig.send(hex("28 00"));
    EXPECT_TRUE(rig.file().empty());
    EXPECT_TRUE(rig.host.boxes.empty());
}

}  // namespace
}  // namespace vrk::test
