// Firmware download and compare, driven as the user and the unit drive it: an image picked in
// the list, the buttons pressed, the unit's replies fed through the port and the poll cycle,
// time moved by the fake clock.
#include "device/firmware_transfer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <new>

#include "link/link.h"
#include "link/poll_cycle.h"
#include "platform/control_ids.h"
#include "tests/support/transfer_rig.h"

namespace vrk::test {
namespace {

constexpr const char* NAME = "APP.vr4";

// The 256 data bytes a request for `page` must carry: the image's bytes from page * 256, as
// many as there are, then 0xFF.
Bytes page_data(const Bytes& image, std::size_t page) {
    Bytes data(256, 0xFF);
    const std::size_t at = page * 256;
    if (at < image.size())
        std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(at),
                    std::min<std::size_t>(256, image.size() - at), data.begin());
    return data;
}

Bytes join(const Bytes& head, const Bytes& tail) {
    Bytes out = head;
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

// One message sent, and which.
Bytes only_message(TransferRig& rig) {
    const auto sent = rig.take_sent();
    EXPECT_EQ(sent.size(), 1u);
    return sent.empty() ? Bytes{} : sent.front();
}

// What the engine's observers are told at the end of an operation: the front-ends (the
// command-line tool's exit codes above all) go by this, not by the status text.
struct ResultLog : device::EngineObserver {
    std::vector<device::Result> finished;
    std::vector<device::Result> refused;
    void operation_finished(const device::OperationEnd& end) override {
        finished.push_back(end.result);
    }
    void operation_refused(const device::OperationEnd& end) override {
        refused.push_back(end.result);
    }
};

// --- Image sizes: erase, first page request, texts -------------------------------------------

struct SizeCase {
    std::size_t size;
    const char* erase;         // the erase request
    const char* program_head;  // header of the first programming request
    const char* compare_head;  // header of the first compare request
    std::size_t image_bytes;   // image bytes in the first page; the rest is 0xFF
    const char* first_number;  // the page number the status line shows first
};

const SizeCase SIZE_CASES[] = {
    {256, "28 00", "2A 00", "2F 00 00 00", 256, "1"},
    {257, "28 00", "2A 01", "2F 00 01 00", 1, "2"},
    {65'536, "28 00", "2A FF", "2F 00 FF 00", 256, "256"},
    {65'537, "2C 02", "2D 00 00 01", "2F 00 00 01", 1, "257"},
    {131'072, "2C 02", "2D 00 FF 01", "2F 00 FF 01", 256, "512"},
    {131'073, "2C 03", "2D 00 00 02", "2F 00 00 02", 1, "513"},
    {8'388'608, "2C 80", "2D 00 FF 7F", "2F 00 FF 7F", 256, "32768"},
};

TEST(TransferSizes, EraseAndFirstProgrammingRequest) {
    for (const auto& c : SIZE_CASES) {
        SCOPED_TRACE(c.size);
        TransferRig rig;
        const Bytes image = test_image(c.size);
        rig.pick(NAME, image);
        rig.press_download();
        EXPECT_EQ(only_message(rig), hex(c.erase));
        EXPECT_EQ(rig.status(), "Erasing previous application...Please wait");
        EXPECT_TRUE(rig.transfer_controls_disabled());
        EXPECT_EQ(rig.window.focus(), ids::RUN_APPLICATION);

        rig.reply(hex("29 00"));
        const Bytes request = only_message(rig);
        const Bytes head = hex(c.program_head);
        ASSERT_EQ(request.size(), head.size() + 256);
        EXPECT_TRUE(std::equal(head.begin(), head.end(), request.begin()));
        const std::size_t last_page = (c.size - 1) / 256;
        const Bytes data(request.begin() + static_cast<std::ptrdiff_t>(head.size()), request.end());
        EXPECT_EQ(data, page_data(image, last_page));
        EXPECT_EQ(
            std::count(data.begin() + static_cast<std::ptrdiff_t>(c.image_bytes), data.end(), 0xFF),
            static_cast<std::ptrdiff_t>(256 - c.image_bytes));
        EXPECT_EQ(rig.status(),
                  std::string("Programming page #") + c.first_number + "...Please wait");
    }
}

TEST(TransferSizes, FirstCompareRequestIsAlwaysSixteenBit) {
    for (const auto& c : SIZE_CASES) {
        SCOPED_TRACE(c.size);
        TransferRig rig;
        const Bytes image = test_image(c.size);
        rig.pick(NAME, image);
        rig.press_compare();
        const Bytes request = only_message(rig);
        EXPECT_EQ(request, join(hex(c.compare_head), page_data(image, (c.size - 1) / 256)));
        EXPECT_EQ(rig.status(),
                  std::string("Comparing page #") + c.first_number + "...Please wait");
        EXPECT_TRUE(rig.transfer_controls_disabled());
        EXPECT_EQ(rig.window.focus(), ids::RUN_APPLICATION);
    }
}

TEST(TransferSizes, WideRequestsGiveWayToEightBitOnesBelowPage256) {
    TransferRig rig;
    const Bytes image = test_image(65'537);
    rig.pick(NAME, image);
    rig.press_download();
    rig.take_sent();
    rig.reply(hex("29 00"));
    EXPECT_EQ(only_message(rig), join(hex("2D 00 00 01"), page_data(image, 256)));
    rig.reply(hex("2E 00 00 01"));
    EXPECT_EQ(only_message(rig), join(hex("2A FF"), page_data(image, 255)));
    EXPECT_EQ(rig.status(), "Programming page #256...Please wait");
    rig.reply(hex("2B FF"));
    EXPECT_EQ(only_message(rig), join(hex("2A FE"), page_data(image, 254)));
}

// --- Whole operations --------------------------------------------------------------------------

TEST(WholeTransfer, DownloadAndCompareAgainstTheLoader) {
    // A short image on 8-bit pages only, and one that crosses page 256 with a short last page.
    for (const std::size_t size : {std::size_t{5 * 256 + 100}, std::size_t{258 * 256 + 17}}) {
        SCOPED_TRACE(size);
        TransferRig rig;
        LoaderModel unit;
        const Bytes image = test_image(size, 0x5A);
        rig.pick(NAME, image);

        rig.press_download();
        const auto requests = rig.run_against(unit);
        const std::size_t pages = (size + 255) / 256;
        ASSERT_EQ(requests.size(), 1 + pages);
        // From the last page down to 0, each carrying its bytes and 0xFF after a short end.
        for (std::size_t i = 1; i < requests.size(); ++i) {
            const std::size_t page = pages - i;
            const Bytes& r = requests[i];
            const std::size_t head = page >= 256 ? 4 : 2;
            EXPECT_EQ(r[0], page >= 256 ? 0x2D : 0x2A) << page;
            EXPECT_EQ(Bytes(r.begin() + static_cast<std::ptrdiff_t>(head), r.end()),
                      page_data(image, page))
                << page;
        }
        Bytes padded = image;
        padded.resize(pages * 256, 0xFF);
        EXPECT_TRUE(std::equal(padded.begin(), padded.end(), unit.flash.begin()));
        EXPECT_EQ(rig.status(), "APP.vr4 has been downloaded successfully");
        EXPECT_EQ(rig.host.beeps, 1);
        EXPECT_TRUE(rig.transfer_controls_enabled());
        EXPECT_EQ(rig.engine.transfer.phase, device::Phase::idle);

        rig.press_compare();
        const auto compares = rig.run_against(unit);
        ASSERT_EQ(compares.size(), pages);
        for (std::size_t i = 0; i < pages; ++i) EXPECT_EQ(compares[i][0], 0x2F);
        EXPECT_EQ(rig.status(), "APP.vr4 matched successfully");
        EXPECT_EQ(rig.host.beeps, 2);
        EXPECT_TRUE(rig.transfer_controls_enabled());
        EXPECT_EQ(rig.engine.transfer.phase, device::Phase::idle);
    }
}

TEST(WholeTransfer, AcknowledgementOfPageZeroInEitherFormEndsTheDownload) {
    // Page 1, then page 0, each acknowledged: the wide form naming page 0 after page 0 was sent
    // ends without a mark.
    for (const char* reply : {"2B 00", "2E 00 00 00"}) {
        SCOPED_TRACE(reply);
        TransferRig rig;
        rig.pick(NAME, test_image(2 * 256));
        rig.press_download();
        rig.reply(hex("29 00"));
        rig.reply(hex("2B 01"));
        rig.take_sent();
        rig.reply(hex(reply));
        EXPECT_TRUE(rig.take_sent().empty());
        EXPECT_EQ(rig.status(), "APP.vr4 has been downloaded successfully");
        EXPECT_EQ(rig.host.beeps, 1);
        EXPECT_TRUE(rig.transfer_controls_enabled());
        EXPECT_EQ(rig.engine.transfer.phase, device::Phase::idle);
    }
}

// A unit whose answer names page 0 too early (its page byte garbled on the line): page 0 was
// not sent, so it is not done and it is no progress; with no page below it the page in flight
// is the one to go on with, and it waits for its retry. Success comes only once every page is
// done.
TEST(GarbledPageNumbers, AnEarlyPageZeroNeverEndsADownloadWithPagesLeft) {
    struct Case {
        const char* what;
        std::size_t size;
        const char* garbled;      // replaces the unit's first answer to a page request
        const char* first_again;  // the status once the first page is sent again
    };
    const Case cases[] = {
        {"8-bit acknowledgement", 3 * 256, "2B 00", "Retrying page #3...Please wait"},
        {"wide acknowledgement", 300 * 256, "2E 00 00 00", "Retrying page #300...Please wait"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TransferRig rig;
        const Bytes image = test_image(c.size);
        LoaderModel unit;
        rig.pick(NAME, image);
        rig.press_download();
        rig.reply(unit.answer(only_message(rig)));  // the erase
        (void)unit.answer(only_message(rig));       // the unit takes the first page...
        rig.reply(hex(c.garbled));                  // ...but its answer names page 0
        EXPECT_NE(rig.engine.transfer.phase, device::Phase::idle) << rig.status();
        EXPECT_EQ(rig.host.beeps, 0);
        EXPECT_TRUE(rig.take_sent().empty());
        rig.clock.now = *rig.engine.transfer.page_sent_time + 2001;
        rig.tick();
        EXPECT_EQ(rig.status(), c.first_again);
        rig.run_against(unit);
        EXPECT_EQ(rig.status(), "APP.vr4 has been downloaded successfully");
        EXPECT_TRUE(std::equal(image.begin(), image.end(), unit.flash.begin()));
        EXPECT_EQ(rig.engine.transfer.pages_done, (c.size + 255) / 256);
    }
}

// A reply of another operation than the running one (a slow unit's late answer to one that
// ended) is dropped: nothing is sent, nothing changes, and it is no progress.
TEST(OtherOperationsReplies, AreDroppedAndAreNoProgress) {
    struct Case {
        const char* what;
        bool download;
        bool erase_done;  // the download is programming (else still erasing)
        const char* reply;
    };
    const Case cases[] = {
        {"program acknowledgement during a compare", false, false, "2B 01"},
        {"wide acknowledgement during a compare", false, false, "2E 00 01 00"},
        {"erase done during a compare", false, false, "29 00"},
        {"match during programming", true, true, "30 01 02 00"},
        {"mismatch during programming", true, true, "30 00 02 00"},
        {"acknowledgement before the erase is done", true, false, "2B 02"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TransferRig rig;
        const Bytes image = test_image(3 * 256);
        rig.pick(NAME, image);
        c.download ? rig.press_download() : rig.press_compare();
        if (c.erase_done) rig.reply(hex("29 00"));
        rig.take_sent();
        const std::string status = rig.status();
        const auto phase = rig.engine.transfer.phase;
        const auto progress = rig.engine.transfer.operation_start_time;
        rig.clock.advance(500);
        rig.reply(hex(c.reply));
        EXPECT_TRUE(rig.take_sent().empty());
        EXPECT_EQ(rig.status(), status);
        EXPECT_EQ(rig.engine.transfer.phase, phase);
        EXPECT_EQ(rig.engine.transfer.operation_start_time, progress);
        EXPECT_EQ(rig.host.beeps, 0);
    }
    // And the compare that met a download's acknowledgement ends as a compare.
    TransferRig rig;
    const Bytes image = test_image(2 * 256);
    LoaderModel unit;
    std::copy(image.begin(), image.end(), unit.flash.begin());
    rig.pick(NAME, image);
    rig.press_compare();
    rig.reply(hex("2B 01"));
    rig.run_against(unit);
    EXPECT_EQ(rig.status(), "APP.vr4 matched successfully");
    for (const Bytes& request : unit.requests) EXPECT_EQ(request[0], 0x2F);
}

TEST(WholeTransfer, WideAcknowledgementOfAnotherPageIsMarkedAndFollowed) {
    struct Case {
        const char* reply;
        const char* next_head;
        const char* status;
    };
    // 302 pages: page 301 goes first.
    const Case cases[] = {
        {"2E 00 2C 01", "2D 00 2B 01", "Programming page #300...Please wait *****"},
        {"2E 00 2D 01", "2D 00 2C 01", "Programming page #301...Please wait"},
        {"2E 00 00 01", "2A FF", "Programming page #256...Please wait *****"},
        {"2B 05", "2A 04", "Programming page #5...Please wait"},  // the 8-bit form has no mark
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        TransferRig rig;
        const Bytes image = test_image(302 * 256);
        rig.pick(NAME, image);
        rig.press_download();
        rig.take_sent();
        rig.reply(hex("29 00"));
        ASSERT_EQ(only_message(rig), join(hex("2D 00 2D 01"), page_data(image, 301)));
        rig.reply(hex(c.reply));
        const Bytes next = only_message(rig);
        const Bytes head = hex(c.next_head);
        ASSERT_EQ(next.size(), head.size() + 256);
        EXPECT_TRUE(std::equal(head.begin(), head.end(), next.begin()));
        EXPECT_EQ(rig.status(), c.status);
    }
}

// --- Watchdog ---------------------------------------------------------------------------------

// A transfer whose last page (page 1 of a 257-byte image: one byte and 255 of 0xFF) has just
// been sent; `sent_at` is the tick its request has left.
struct WaitingForPage : TransferRig {
    Bytes image = test_image(257);
    Bytes first;
    std::uint32_t sent_at = 0;
    explicit WaitingForPage(bool compare) {
        pick(NAME, image);
        if (compare) {
            press_compare();
        } else {
            press_download();
            take_sent();
            reply(hex("29 00"));
        }
        sent_at = ctx.link.line_free;
        first = only_message(*this);
    }
    void tick_at(std::uint32_t since_sent) {
        clock.now = sent_at + since_sent;
        tick();
    }
};

TEST(Watchdog, PageIsSentAgainOnlyAfterMoreThanTwoSecondsWithTheSameBytes) {
    struct Case {
        bool compare;
        const char* text;
    };
    for (const Case c : {Case{false, "Retrying page #2...Please wait"},
                         Case{true, "Recomparing page #2...Please wait"}}) {
        SCOPED_TRACE(c.text);
        WaitingForPage rig(c.compare);
        const std::string first_status = rig.status();
        rig.tick_at(2000);
        EXPECT_TRUE(rig.take_sent().empty());
        EXPECT_EQ(rig.status(), first_status);
        rig.tick_at(2001);
        EXPECT_EQ(only_message(rig), rig.first);
        EXPECT_EQ(rig.status(), c.text);
        // The next retry counts from when this one has left.
        const std::uint32_t again = rig.ctx.link.line_free - rig.sent_at;
        rig.tick_at(again + 2000);
        EXPECT_TRUE(rig.take_sent().empty());
        rig.tick_at(again + 2001);
        EXPECT_EQ(only_message(rig), rig.first);
        EXPECT_EQ(rig.host.beeps, 0);
        EXPECT_FALSE(rig.transfer_controls_enabled());
    }
}

TEST(Watchdog, NoProgressForMoreThanThirtySecondsEndsTheOperation) {
    struct Case {
        const char* what;
        int stage;  // 0 erasing, 1 programming, 2 comparing
    };
    for (const Case c : {Case{"erase", 0}, Case{"program", 1}, Case{"compare", 2}}) {
        SCOPED_TRACE(c.what);
        TransferRig rig;
        rig.pick(NAME, test_image(1000));
        if (c.stage == 2)
            rig.press_compare();
        else
            rig.press_download();
        if (c.stage == 1) rig.reply(hex("29 00"));
        rig.take_sent();
        const std::uint32_t progress = *rig.engine.transfer.operation_start_time;
        // Ticks every 10 ms up to exactly 30 s after the request has left: retries perhaps, no
        // end.
        while (rig.clock.now != progress + 30'000) {
            rig.clock.now = std::min(rig.clock.now + 10, progress + 30'000);
            rig.tick();
        }
        EXPECT_NE(rig.engine.transfer.phase, device::Phase::idle);
        EXPECT_EQ(rig.host.beeps, 0);
        rig.take_sent();
        rig.clock.advance(1);
        rig.tick();
        EXPECT_EQ(rig.status(), "Error: The VRK700 is not responding");
        EXPECT_EQ(rig.host.beeps, 1);
        EXPECT_TRUE(rig.transfer_controls_enabled());
        EXPECT_EQ(rig.engine.transfer.phase, device::Phase::idle);
        EXPECT_TRUE(rig.take_sent().empty());  // no retry in the ending cycle
        // And nothing more afterwards.
        rig.clock.advance(60'000);
        rig.tick();
        EXPECT_TRUE(rig.take_sent().empty());
        EXPECT_EQ(rig.host.beeps, 1);
    }
}

TEST(Watchdog, APageIsRetriedAtMostFourteenTimesAndAlwaysTheSamePage) {
    WaitingForPage rig(false);
    int retries = 0;
    for (std::uint32_t ms = 1; ms <= 40'000; ++ms) {
        rig.tick_at(ms);
        for (const Bytes& m : rig.take_sent()) {
            EXPECT_EQ(m, rig.first);
            ++retries;
            EXPECT_EQ(rig.status(), "Retrying page #2...Please wait");
        }
    }
    EXPECT_EQ(retries, 14);
    EXPECT_EQ(rig.status(), "Error: The VRK700 is not responding");
}

TEST(Watchdog, ProgressRestartsTheThirtySecondsButRetriesDoNot) {
    TransferRig rig;
    rig.pick(NAME, test_image(3 * 256));
    rig.press_download();
    rig.reply(hex("29 00"));
    rig.clock.advance(20'000);
    rig.tick();  // a retry: not progress
    rig.reply(hex("2B 02"));
    const std::uint32_t progress = *rig.engine.transfer.operation_start_time;
    rig.clock.now = progress + 30'000;
    rig.tick();
    EXPECT_NE(rig.engine.transfer.phase, device::Phase::idle);
    rig.clock.now = progress + 30'001;
    rig.tick();
    EXPECT_EQ(rig.status(), "Error: The VRK700 is not responding");
}

TEST(Watchdog, LimitsHoldAcrossTheTickWrap) {
    TransferRig rig;
    rig.clock.now = 0xFFFF'FFFFu - 1000;
    const Bytes image = test_image(3 * 256);
    rig.pick(NAME, image);
    rig.press_download();
    rig.reply(hex("29 00"));
    const Bytes first = rig.take_sent().back();
    const std::uint32_t sent = rig.ctx.link.line_free;
    rig.clock.now = sent + 2000;  // past the wrap
    rig.tick();
    EXPECT_TRUE(rig.take_sent().empty());
    EXPECT_EQ(rig.engine.transfer.operation_start_time, sent);
    rig.clock.now = sent + 2001;
    rig.tick();
    EXPECT_EQ(only_message(rig), first);
    // A reply after the wrap moves the operation on as before.
    rig.reply(hex("2B 02"));
    EXPECT_EQ(only_message(rig), join(hex("2A 01"), page_data(image, 1)));
    rig.clock.now = rig.ctx.link.line_free + 30'000;
    rig.tick();
    EXPECT_NE(rig.engine.transfer.phase, device::Phase::idle);
    rig.clock.now += 1;
    rig.tick();
    EXPECT_EQ(rig.status(), "Error: The VRK700 is not responding");
}

TEST(Watchdog, AnOperationStampedAtTickZeroIsRunningAndTimedFromZero) {
    // Tick 0 is a tick like any other: whether an operation runs is its phase, not its time.
    // The compare request starts onto the line just early enough to have left at tick 0.
    TransferRig rig;
    const Bytes image = test_image(100);
    const Bytes request = join(hex("2F 00 00 00"), page_data(image, 0));
    rig.pick(NAME, image);
    rig.clock.now = 0u - link::wire_time_ms(frame(request).size(), link::START_BAUD);
    rig.ctx.link.line_free = rig.clock.now;  // the line quiet since long before
    rig.press_compare();
    EXPECT_EQ(only_message(rig), request);
    EXPECT_EQ(rig.engine.transfer.operation_start_time, 0u);
    rig.clock.now = 0;
    rig.tick();
    EXPECT_TRUE(rig.take_sent().empty());
    EXPECT_NE(rig.engine.transfer.phase, device::Phase::idle);
    rig.clock.now = 2000;
    rig.tick();
    EXPECT_TRUE(rig.take_sent().empty());
    rig.clock.now = 2001;
    rig.tick();
    EXPECT_EQ(only_message(rig), request);
}

// --- Link reset and late replies --------------------------------------------------------------

TEST(LateReplies, LinkResetEndsTheOperationSilently) {
    WaitingForPage rig(false);
    device::reset_link_display(rig.engine);
    EXPECT_EQ(rig.status(), "Establishing link to the VRK...");
    EXPECT_EQ(rig.host.beeps, 0);
    EXPECT_TRUE(rig.transfer_controls_enabled());
    EXPECT_EQ(rig.engine.transfer.phase, device::Phase::idle);
    // The watchdog is idle: the hunt probes, but no page goes out and no text of ours shows.
    for (std::uint32_t ms = 0; ms < 40'000; ms += 50) rig.tick_at(ms);
    for (const Bytes& m : rig.take_sent()) EXPECT_EQ(m, hex("0B 00"));
    EXPECT_EQ(rig.status(), "Establishing link to the VRK...");
    EXPECT_EQ(rig.host.beeps, 0);
}

TEST(LateReplies, EraseDoneAfterTheTimeOutStillStartsProgrammingWithTheControlsDisabled) {
    TransferRig rig;
    const Bytes image = test_image(600);
    rig.pick(NAME, image);
    rig.press_download();
    rig.take_sent();
    rig.clock.now = rig.ctx.link.line_free + 30'001;
    rig.tick();
    ASSERT_EQ(rig.status(), "Error: The VRK700 is not responding");
    rig.clock.advance(999);  // 31 s after the erase left
    rig.reply(hex("29 00"));
    EXPECT_EQ(only_message(rig), join(hex("2A 02"), page_data(image, 2)));
    EXPECT_EQ(rig.status(), "Programming page #3...Please wait");
    EXPECT_NE(rig.engine.transfer.phase, device::Phase::idle);
    // Running again, as after a start: Download (Alt+D) cannot send a second erase meanwhile.
    EXPECT_TRUE(rig.transfer_controls_disabled());
    rig.window.user_click(ids::DOWNLOAD);
    rig.window.user_click(ids::COMPARE);
    EXPECT_TRUE(rig.take_sent().empty());
    // The revived operation is watched again.
    rig.clock.now = rig.ctx.link.line_free + 2001;
    rig.tick();
    EXPECT_EQ(rig.status(), "Retrying page #3...Please wait");
    // Its end gives the controls back.
    LoaderModel unit;
    rig.run_against(unit);
    EXPECT_EQ(rig.status(), "APP.vr4 has been downloaded successfully");
    EXPECT_TRUE(rig.transfer_controls_enabled());
}

// --- Files ------------------------------------------------------------------------------------

// A compare of image A that the time limit ended with its page 1 in flight, so that a failing
// start has something to keep: a late answer to that page is still taken up.
struct AfterCompareOfA : TransferRig {
    Bytes a = test_image(2 * 256, 1);
    AfterCompareOfA() {
        pick("A.vr4", a);
        press_compare();
        clock.now = ctx.link.line_free + 30'001;
        tick();
        take_sent();
        host.beeps = 0;
    }
};

TEST(ImageFiles, AFailedStartSendsNothingAndKeepsThePreviousImage) {
    struct Case {
        const char* what;
        void (*arrange)(AfterCompareOfA&);
        const char* status;
        device::Result result;
    };
    const Case cases[] = {
        {"missing", [](AfterCompareOfA& r) { r.pick_name("B.vr4"); }, "Error: Can't find B.vr4",
         device::Result::file_not_found},
        {"short read",
         [](AfterCompareOfA& r) {
             r.files.short_read_limit = 300;
             r.pick("B.vr4", test_image(600, 2));
         },
         "Error: Can't read B.vr4", device::Result::file_unreadable},
        {"size larger than content",
         [](AfterCompareOfA& r) {
             r.files.fail_size = true;
             r.pick("B.vr4", test_image(600, 2));
         },
         "Error: Can't read B.vr4", device::Result::file_unreadable},
        {"too large", [](AfterCompareOfA& r) { r.pick("B.vr4", Bytes(8'388'609, 0x11)); },
         "Error: B.vr4 is too large", device::Result::file_too_large},
        // An empty image has no page: erasing for it would leave the unit with nothing, and a
        // compare would "match" without reading anything.
        {"empty", [](AfterCompareOfA& r) { r.pick("B.vr4", {}); }, "Error: B.vr4 is empty",
         device::Result::file_empty},
        // There, but not to be opened: not the same as missing.
        {"exists but cannot be opened",
         [](AfterCompareOfA& r) {
             r.files.unreadable.insert("B.vr4");
             r.pick("B.vr4", test_image(600, 2));
         },
         "Error: Can't read B.vr4", device::Result::file_unreadable},
        {"no memory",
         [](AfterCompareOfA& r) {
             r.engine.transfer.allocate_image = [](std::size_t) -> std::vector<std::uint8_t> {
                 throw std::bad_alloc();
             };
             r.pick("B.vr4", test_image(600, 2));
         },
         "Error: Not enough memory for B.vr4", device::Result::file_too_large},
    };
    for (const auto& c : cases) {
        for (const bool compare : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (compare ? " compare" : " download"));
            AfterCompareOfA rig;
            ResultLog log;
            rig.engine.events.add(log);
            c.arrange(rig);
            if (compare)
                rig.press_compare();
            else
                rig.press_download();
            EXPECT_EQ(rig.status(), c.status);
            EXPECT_EQ(log.refused, std::vector<device::Result>{c.result});
            EXPECT_TRUE(log.finished.empty());
            EXPECT_EQ(rig.host.beeps, 1);
            EXPECT_TRUE(rig.take_sent().empty());
            EXPECT_TRUE(rig.transfer_controls_enabled());
            EXPECT_EQ(rig.engine.transfer.phase, device::Phase::idle);
            EXPECT_EQ(rig.engine.transfer.image_size, 512u);
            EXPECT_EQ(rig.engine.transfer.image_name, "A.vr4");
            // A late match is still answered from A's bytes, under A's name.
            rig.reply(hex("30 01 01 00"));
            EXPECT_EQ(only_message(rig), join(hex("2F 00 00 00"), page_data(rig.a, 0)));
            rig.reply(hex("30 01 00 00"));
            EXPECT_EQ(rig.status(), "A.vr4 matched successfully");
        }
    }
}

TEST(ImageFiles, TheWholeNameIsUsedHoweverLong) {
    TransferRig rig;
    const std::string name = "a_firmware_image_with_a_rather_long_name_v42.vr4";  // 48 characters
    rig.pick(name, test_image(10));
    rig.press_download();
    EXPECT_EQ(only_message(rig), hex("28 00"));
    rig.reply(hex("29 00"));
    rig.reply(hex("2B 00"));
    EXPECT_EQ(rig.status(), name + " has been downloaded successfully");
}

// --- Replies the image cannot answer ----------------------------------------------------------

TEST(HostileReplies, PagesBeyondTheImageAreIgnoredAndAreNoProgress) {
    // Three pages; page 2 was sent. A reply naming a page the image does not have, the one
    // just past its end among them, answers nothing that was sent.
    const char* ignored[] = {"2B 03",       "2B 04",       "2B FF",       "2E 00 03 00",
                             "2E 00 04 00", "2E 00 FF FF", "2E 00 00 80", "30 01 03 00",
                             "30 01 04 00", "30 01 FF FF"};
    for (const char* reply : ignored) {
        SCOPED_TRACE(reply);
        TransferRig rig;
        rig.pick(NAME, test_image(3 * 256));
        rig.press_download();
        rig.reply(hex("29 00"));
        rig.take_sent();
        const std::string before = rig.status();
        const auto started = rig.engine.transfer.operation_start_time;
        rig.clock.now = *started + 29'000;
        rig.reply(hex(reply));
        EXPECT_TRUE(rig.take_sent().empty());
        EXPECT_EQ(rig.status(), before);
        EXPECT_EQ(rig.engine.transfer.operation_start_time, started);
        EXPECT_EQ(rig.engine.transfer.current_page, 2);
        EXPECT_EQ(rig.host.beeps, 0);
        rig.clock.now = *started + 30'001;
        rig.tick();
        EXPECT_EQ(rig.status(), "Error: The VRK700 is not responding");
    }
}

TEST(HostileReplies, RepliesBeforeAnyImageDoNothing) {
    for (const char* reply : {"29 00", "2B 00", "2B 01", "2E 00 00 00", "2E 00 01 00",
                              "30 01 00 00", "30 00 00 00", "30 01 05 00"}) {
        SCOPED_TRACE(reply);
        TransferRig rig;
        const std::string before = rig.status();
        rig.reply(hex(reply));
        rig.clock.advance(60'000);
        rig.tick();
        EXPECT_TRUE(rig.take_sent().empty());
        EXPECT_EQ(rig.status(), before);
        EXPECT_EQ(rig.host.beeps, 0);
        EXPECT_EQ(rig.engine.transfer.phase, device::Phase::idle);
    }
}

TEST(HostileReplies, AfterTheImageIsFreedRepliesDoNothing) {
    WaitingForPage rig(false);
    device::free_image(rig.engine);
    rig.reply(hex("2B 01"));
    rig.reply(hex("29 00"));
    EXPECT_TRUE(rig.take_sent().empty());
}

}  // namespace
}  // namespace vrk::test

namespace vrk::test {
namespace {

TEST(OperationResults, EachEndIsReportedOnceWithItsResult) {
    using device::OperationKind;
    using device::Result;
    struct Case {
        const char* what;
        OperationKind kind;
        void (*act)(TransferRig&, LoaderModel&);
        Result result;
        const char* status;
    };
    const auto run = [](TransferRig& r, LoaderModel& u) { r.run_against(u); };
    const Case cases[] = {
        {"download with verify", OperationKind::download_and_verify, run, Result::success,
         "APP.vr4 has been downloaded and verified successfully"},
        {"verify finds a byte the flash did not keep", OperationKind::download_and_verify,
         [](TransferRig& r, LoaderModel& u) {
             r.reply(u.answer(r.take_sent().at(0)));  // the erase
             for (int page = 2; page >= 0; --page) {
                 const Bytes ack = u.answer(r.take_sent().at(0));
                 if (page == 1) u.flash[300] ^= 0x04;  // flips after programming
                 r.reply(ack);
             }
             r.run_against(u);
         },
         Result::mismatch, "APP.vr4 doesn't match!!!!!"},
        {"cancelled while programming", OperationKind::download,
         [](TransferRig& r, LoaderModel& u) {
             r.reply(u.answer(r.take_sent().at(0)));
             device::cancel_operation(r.engine);
             r.clock.advance(60'000);  // no retry, no time-out: nothing more is sent
             r.tick();
             EXPECT_EQ(r.take_sent().size(), 1u) << "only the page sent before the cancel";
         },
         Result::interrupted, "APP.vr4: interrupted"},
        {"silent unit", OperationKind::compare,
         [](TransferRig& r, LoaderModel&) {
             for (int i = 0; i < 20; ++i) {
                 r.clock.advance(2'001);
                 r.tick();
             }
         },
         Result::not_responding, "Error: The VRK700 is not responding"},
        {"link lost", OperationKind::download,
         [](TransferRig& r, LoaderModel&) { device::reset_link_display(r.engine); },
         Result::link_lost, "Establishing link to the VRK..."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TransferRig rig;
        ResultLog log;
        rig.engine.events.add(log);
        LoaderModel unit;
        const Bytes image = test_image(3 * 256);
        if (c.kind == OperationKind::compare)
            std::copy(image.begin(), image.end(), unit.flash.begin());
        rig.files.files[NAME] = image;
        device::start_operation(rig.engine, c.kind, NAME, NAME);
        c.act(rig, unit);
        EXPECT_EQ(log.finished, std::vector<Result>{c.result});
        EXPECT_TRUE(log.refused.empty());
        EXPECT_EQ(rig.status(), c.status);
        EXPECT_EQ(rig.engine.transfer.phase, device::Phase::idle);
    }
}

}  // namespace
}  // namespace vrk::test
