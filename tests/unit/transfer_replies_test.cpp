// Which replies of the unit the transfer believes: an acknowledgement or a compare result moves
// the operation on only when it answers the request in flight. Driven through the port and the
// poll cycle as the unit drives it, time moved by the fake clock.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "device/firmware_transfer.h"
#include "tests/support/transfer_rig.h"

namespace vrk::test {
namespace {

constexpr const char* NAME = "APP.vr4";

// The page a page request names; -1 for anything else.
int page_of(const Bytes& request) {
    if (request.size() == 258 && request[0] == 0x2A) return request[1];
    if (request.size() == 260 && (request[0] == 0x2D || request[0] == 0x2F))
        return request[2] | (request[3] << 8);
    return -1;
}

// The pages of the requests sent since the last look.
std::vector<int> pages_sent(TransferRig& rig) {
    std::vector<int> pages;
    for (const Bytes& request : rig.take_sent()) pages.push_back(page_of(request));
    return pages;
}

// Moves the clock to just past the page retry of the request in flight and runs a tick.
void pass_retry(TransferRig& rig) {
    rig.clock.now = *rig.engine.transfer.page_sent_time + device::PAGE_RETRY_MS + 1;
    rig.tick();
}

// A download that has erased and sent its last page; `pages` pages.
void programming(TransferRig& rig, std::size_t pages) {
    rig.pick(NAME, test_image(pages * 256));
    rig.press_download();
    rig.reply(hex("29 00"));
    rig.take_sent();
}

// A step before the reply under test: a reply of the unit, or "retry" (the page retry passes).
void run_steps(TransferRig& rig, const std::vector<std::string>& steps) {
    for (const std::string& step : steps) {
        if (step == "retry")
            pass_retry(rig);
        else
            rig.reply(hex(step));
    }
    rig.take_sent();
}

TEST(Acknowledgements, OnlyThePageInFlightOrAPageBelowItNotDoneIsProgress) {
    struct Case {
        const char* what;
        std::size_t pages;               // the first page sent is pages - 1
        std::vector<std::string> steps;  // before the reply under test
        const char* reply;
        std::vector<int> sent;  // pages sent in answer
        const char* status;
        bool progress;  // the 30-second limit starts again
        std::uint32_t pages_done;
    };
    const std::vector<Case> cases = {
        {"the page in flight", 6, {}, "2B 05", {4}, "Programming page #5...Please wait", true, 1},
        {"a stale acknowledgement after a retry: the page was done by the first",
         6,
         {"retry", "2B 05"},
         "2B 05",
         {},
         "Programming page #5...Please wait",
         false,
         1},
        {"a page above the one in flight, not yet sent (skipped by a jump)",
         6,
         {"2B 03"},
         "2B 04",
         {},
         "Programming page #3...Please wait",
         false,
         0},
        {"a page above the one in flight, sent and not done (left by a jump)",
         6,
         {"2B 03"},
         "2B 05",
         {},
         "Programming page #3...Please wait",
         false,
         0},
        {"a page below the one in flight that is done",
         6,
         {"2B 01", "2B 00"},  // a jump to 0, page 0 done, then the pages skipped: 5 first
         "2B 00",
         {},
         "Programming page #6...Please wait",
         false,
         1},
        {"a page outside the image",
         6,
         {},
         "2B 06",
         {},
         "Programming page #6...Please wait",
         false,
         0},
        {"a wide page outside the image",
         6,
         {},
         "2E 00 06 00",
         {},
         "Programming page #6...Please wait",
         false,
         0},
        // A page named that was never sent chooses the next page, but is no progress: a unit
        // that keeps naming one must meet the time limit.
        {"a jump: the named page was not sent, so it is not done",
         6,
         {},
         "2B 03",
         {2},
         "Programming page #3...Please wait",
         false,
         0},
        {"a wide jump is marked",
         302,
         {},
         "2E 00 2C 01",
         {299},
         "Programming page #300...Please wait *****",
         false,
         0},
        {"an 8-bit jump is not",
         302,
         {},
         "2B 05",
         {4},
         "Programming page #5...Please wait",
         false,
         0},
        {"a jump to a page sent earlier in this phase counts it done",
         6,
         {"2B 04", "2B 01", "2B 00"},  // 3 and 0 sent, 0 done, then 5 again; 3 still open
         "2B 03",
         {2},
         "Programming page #3...Please wait",
         true,
         2},
        {"ERASE_DONE while programming starts nothing over",
         6,
         {"2B 05"},
         "29 00",
         {},
         "Programming page #5...Please wait",
         false,
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TransferRig rig;
        programming(rig, c.pages);
        run_steps(rig, c.steps);
        const auto progress_before = rig.engine.transfer.operation_start_time;
        rig.clock.advance(100);
        rig.reply(hex(c.reply));
        EXPECT_EQ(pages_sent(rig), c.sent);
        EXPECT_EQ(rig.status(), c.status);
        EXPECT_EQ(rig.engine.transfer.operation_start_time != progress_before, c.progress);
        EXPECT_EQ(rig.engine.transfer.pages_done, c.pages_done);
        EXPECT_EQ(rig.engine.transfer.phase, device::Phase::programming);
        EXPECT_EQ(rig.host.beeps, 0);
    }
}

// A reply that is no progress leaves the page in flight to its own retry, and the time limit
// counting.
TEST(Acknowledgements, AStaleOneLeavesThePageInFlightToItsRetry) {
    TransferRig rig;
    programming(rig, 6);
    run_steps(rig, {"retry", "2B 05"});  // page 4 in flight
    const std::uint32_t sent = *rig.engine.transfer.page_sent_time;
    rig.reply(hex("2B 05"));
    rig.clock.now = sent + device::PAGE_RETRY_MS;
    rig.tick();
    EXPECT_TRUE(pages_sent(rig).empty());
    rig.clock.now = sent + device::PAGE_RETRY_MS + 1;
    rig.tick();
    EXPECT_EQ(pages_sent(rig), std::vector<int>{4});
    EXPECT_EQ(rig.status(), "Retrying page #5...Please wait");
}

// The unit takes page 5, but its answer arrives naming page 3: the download goes on below 3,
// and once at the bottom sends the pages it skipped, highest first. No page done is sent again.
TEST(Acknowledgements, AJumpIsFilledInOnceTheBottomIsReached) {
    TransferRig rig;
    LoaderModel unit;
    const Bytes image = test_image(6 * 256);
    rig.pick(NAME, image);
    rig.press_download();
    rig.reply(unit.answer(rig.take_sent().at(0)));
    (void)unit.answer(rig.take_sent().at(0));  // page 5 taken...
    rig.reply(hex("2B 03"));                   // ...and answered as page 3
    std::vector<int> pages = {5};
    for (const Bytes& request : rig.run_against(unit)) pages.push_back(page_of(request));
    EXPECT_EQ(pages, (std::vector<int>{5, 2, 1, 0, 5, 4, 3}));
    EXPECT_EQ(rig.status(), "APP.vr4 has been downloaded successfully");
    EXPECT_TRUE(std::equal(image.begin(), image.end(), unit.flash.begin()));
    EXPECT_EQ(rig.engine.transfer.pages_done, 6u);
}

// A compare reply for the page asked: a first MATCH_FLAG is a match; any other flag has the page
// asked again at once, and the first flag two replies in a row carry decides. Replies naming
// other pages do not count.
TEST(CompareReplies, AFlagOtherThanAMatchIsAskedAgainUntilTwoAgree) {
    enum class Outcome { next_page, asked_again, different, nothing };
    struct Case {
        const char* what;
        bool verify;
        // Each reply: the flag, and the page it names when not the one asked (page 2).
        std::vector<std::pair<std::uint8_t, int>> replies;
        Outcome outcome;
        int requests;  // for page 2, the first one included
    };
    const std::vector<Case> cases = {
        {"01", false, {{0x01, 2}}, Outcome::next_page, 1},
        {"00", false, {{0x00, 2}}, Outcome::asked_again, 2},
        {"00 00", false, {{0x00, 2}, {0x00, 2}}, Outcome::different, 2},
        {"00 01", false, {{0x00, 2}, {0x01, 2}}, Outcome::asked_again, 3},
        {"00 01 01", false, {{0x00, 2}, {0x01, 2}, {0x01, 2}}, Outcome::next_page, 3},
        {"00 41 41", false, {{0x00, 2}, {0x41, 2}, {0x41, 2}}, Outcome::next_page, 3},
        {"41 41", false, {{0x41, 2}, {0x41, 2}}, Outcome::next_page, 2},
        {"00 01 00 00", false, {{0x00, 2}, {0x01, 2}, {0x00, 2}, {0x00, 2}}, Outcome::different, 4},
        {"four without two equal in a row: 00 01 00 01",
         false,
         {{0x00, 2}, {0x01, 2}, {0x00, 2}, {0x01, 2}},
         Outcome::different,
         4},
        {"another page's match between two differences: 00 (01 for page 1) 00",
         false,
         {{0x00, 2}, {0x01, 1}, {0x00, 2}},
         Outcome::different,
         2},
        {"a match naming another page", false, {{0x01, 1}}, Outcome::nothing, 1},
        {"a difference naming another page ends nothing", false, {{0x00, 0}}, Outcome::nothing, 1},
        {"verify: 00", true, {{0x00, 2}}, Outcome::asked_again, 2},
        {"verify: 00 00", true, {{0x00, 2}, {0x00, 2}}, Outcome::different, 2},
        {"verify: 00 01 01", true, {{0x00, 2}, {0x01, 2}, {0x01, 2}}, Outcome::next_page, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TransferRig rig;
        rig.files.files[NAME] = test_image(3 * 256);
        if (c.verify) {
            device::start_operation(rig.engine, device::OperationKind::download_and_verify, NAME,
                                    NAME);
            run_steps(rig, {"29 00", "2B 02", "2B 01", "2B 00"});
        } else {
            device::start_operation(rig.engine, device::OperationKind::compare, NAME, NAME);
            rig.take_sent();
        }
        const auto progress_before = rig.engine.transfer.operation_start_time;
        int requests = 1;
        std::vector<int> last_sent;
        for (const auto& [flag, page] : c.replies) {
            rig.clock.advance(100);
            rig.reply({0x30, flag, static_cast<std::uint8_t>(page), 0x00});
            last_sent = pages_sent(rig);
            for (int p : last_sent) requests += p == 2 ? 1 : 0;
        }
        EXPECT_EQ(requests, c.requests);
        const std::string verb = c.verify ? "erifying" : "omparing";
        switch (c.outcome) {
            case Outcome::next_page:
                EXPECT_EQ(last_sent, std::vector<int>{1});
                EXPECT_EQ(rig.status(),
                          std::string(c.verify ? "V" : "C") + verb + " page #2...Please wait");
                EXPECT_NE(rig.engine.transfer.operation_start_time, progress_before);
                break;
            case Outcome::asked_again:
                EXPECT_EQ(last_sent, std::vector<int>{2});
                EXPECT_EQ(rig.status(),
                          std::string(c.verify ? "Rev" : "Rec") + verb + " page #3...Please wait");
                // Asking again is no progress: the time limit counts from the page's first ask.
                EXPECT_EQ(rig.engine.transfer.operation_start_time, progress_before);
                break;
            case Outcome::different:
                EXPECT_TRUE(last_sent.empty());
                EXPECT_EQ(rig.status(), "APP.vr4 doesn't match!!!!!");
                EXPECT_EQ(rig.host.beeps, 1);
                EXPECT_EQ(rig.engine.transfer.phase, device::Phase::idle);
                break;
            case Outcome::nothing:
                EXPECT_TRUE(last_sent.empty());
                EXPECT_EQ(rig.status(),
                          std::string(c.verify ? "V" : "C") + verb + " page #3...Please wait");
                EXPECT_EQ(rig.engine.transfer.operation_start_time, progress_before);
                break;
        }
        if (c.outcome != Outcome::different) {
            EXPECT_EQ(rig.host.beeps, 0);
            EXPECT_NE(rig.engine.transfer.phase, device::Phase::idle);
        }
    }
}

struct StartLog : device::EngineObserver {
    std::vector<bool> resumed;
    void operation_started(const device::OperationStart& start) override {
        resumed.push_back(start.resumed);
    }
};

// Once an operation has ended, a late reply takes it up again only when the time limit or a
// lost link ended it and the reply answers the request in flight then.
TEST(LateReplies, OnlyAnAnswerToWhatWasInFlightTakesAnUndecidedOperationUp) {
    struct Case {
        const char* what;
        std::function<void(TransferRig&)> end;  // runs the operation and ends it
        const char* reply;
        std::vector<int> sent;  // pages sent in answer; none: the reply is dropped
    };
    const auto time_out = [](TransferRig& r) {
        r.clock.now = *r.engine.transfer.operation_start_time + device::NO_PROGRESS_LIMIT_MS + 1;
        r.tick();
        ASSERT_EQ(r.status(), "Error: The VRK700 is not responding");
    };
    const auto download = [](TransferRig& r, const std::vector<std::string>& steps) {
        r.pick(NAME, test_image(3 * 256));
        r.press_download();
        r.take_sent();
        run_steps(r, steps);
    };
    const auto compare = [](TransferRig& r, const std::vector<std::string>& steps) {
        r.pick(NAME, test_image(3 * 256));
        r.press_compare();
        r.take_sent();
        run_steps(r, steps);
    };
    const std::vector<Case> cases = {
        {"ERASE_DONE after the erase timed out",
         [&](TransferRig& r) {
             download(r, {});
             time_out(r);
         },
         "29 00",
         {2}},
        {"ERASE_DONE after programming timed out",
         [&](TransferRig& r) {
             download(r, {"29 00"});
             time_out(r);
         },
         "29 00",
         {}},
        {"the page in flight acknowledged after the time-out",
         [&](TransferRig& r) {
             download(r, {"29 00", "2B 02"});
             time_out(r);
         },
         "2B 01",
         {0}},
        {"another page acknowledged after the time-out",
         [&](TransferRig& r) {
             download(r, {"29 00", "2B 02"});
             time_out(r);
         },
         "2B 02",
         {}},
        {"the page in flight acknowledged after a cancel",
         [&](TransferRig& r) {
             download(r, {"29 00"});
             device::cancel_operation(r.engine);
         },
         "2B 02",
         {}},
        {"the page in flight acknowledged after the link was lost",
         [&](TransferRig& r) {
             download(r, {"29 00"});
             device::reset_link_display(r.engine);
         },
         "2B 02",
         {1}},
        {"the page in flight matched after the time-out",
         [&](TransferRig& r) {
             compare(r, {});
             time_out(r);
         },
         "30 01 02 00",
         {1}},
        {"the page in flight matched after it was asked again and timed out",
         [&](TransferRig& r) {
             compare(r, {"30 00 02 00"});
             time_out(r);
         },
         "30 01 02 00",
         {}},
        {"the page in flight matched after it was found different",
         [&](TransferRig& r) {
             compare(r, {"30 00 02 00", "30 00 02 00"});
         },
         "30 01 02 00",
         {}},
        {"page 0 acknowledged again after the download succeeded",
         [&](TransferRig& r) {
             download(r, {"29 00", "2B 02", "2B 01", "2B 00"});
         },
         "2B 00",
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TransferRig rig;
        StartLog log;
        rig.engine.events.add(log);
        c.end(rig);
        ASSERT_EQ(rig.engine.transfer.phase, device::Phase::idle);
        const std::string status = rig.status();
        log.resumed.clear();
        rig.reply(hex(c.reply));
        EXPECT_EQ(pages_sent(rig), c.sent);
        if (c.sent.empty()) {
            EXPECT_EQ(rig.status(), status);
            EXPECT_EQ(rig.engine.transfer.phase, device::Phase::idle);
            EXPECT_TRUE(log.resumed.empty());
        } else {
            EXPECT_NE(rig.engine.transfer.phase, device::Phase::idle);
            EXPECT_EQ(log.resumed, std::vector<bool>{true});
        }
    }
}

}  // namespace
}  // namespace vrk::test
