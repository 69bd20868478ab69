// A transfer believes what the line shows: a reply proves that its request has left, whatever
// the modelled line time said (a peer that answers at once, behind a converter that ignores
// the rate, must not push the time limits away); only a page newly done holds the time limit
// off; and one operation runs at a time.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <string>
#include <vector>

#include "device/firmware_transfer.h"
#include "link/link.h"
#include "platform/control_ids.h"
#include "tests/support/transfer_rig.h"
#include "tests/support/wire.h"

namespace vrk::test {
namespace {

constexpr const char* NAME = "APP.vr4";
constexpr std::uint32_t TICK_MS = 10;

// The modelled wire time of a request at `baud`.
std::uint32_t wire_ms(const Bytes& request, std::uint32_t baud) {
    return link::wire_time_ms(frame(request).size(), baud);
}

// Ticks every 10 ms until `done` says so or `limit` is reached; returns the tick it stopped at.
std::uint32_t tick_until(TransferRig& rig, std::uint32_t limit, const std::function<bool()>& done) {
    while (static_cast<std::int32_t>(rig.clock.now - limit) < 0) {
        rig.clock.advance(TICK_MS);
        rig.tick();
        if (done()) break;
    }
    return rig.clock.now;
}

TEST(LineEvidence, APeerThatAnswersAtOnceKeepsTheLimitsOnTheirModelledTime) {
    for (const std::uint32_t baud : {1200u, 9600u, 115200u}) {
        SCOPED_TRACE(baud);
        TransferRig rig;
        rig.ctx.link.current_baud = baud;
        rig.pick(NAME, test_image(102 * 256));
        rig.press_download();
        rig.take_sent();
        rig.clock.advance(TICK_MS);
        rig.reply(hex("29 00"));
        // 100 pages, each answered one tick after it was written.
        for (int page = 101; page > 1; --page) {
            ASSERT_EQ(rig.take_sent().size(), 1u);
            rig.clock.advance(TICK_MS);
            rig.reply(Bytes{0x2B, static_cast<std::uint8_t>(page)});
        }
        const auto sent = rig.take_sent();
        ASSERT_EQ(sent.size(), 1u);
        ASSERT_EQ(sent[0][1], 1u);
        const std::uint32_t departure = rig.clock.now + wire_ms(sent[0], baud);

        const std::uint32_t retried = tick_until(rig, departure + 40'000,
                                                 [&] { return !rig.take_sent().empty(); });
        EXPECT_GE(retried - departure, 2'001u);
        EXPECT_LE(retried - departure, 2'001u + TICK_MS);

        const std::uint32_t ended = tick_until(rig, departure + 60'000, [&] {
            rig.take_sent();
            return rig.engine.transfer.phase == device::Phase::idle;
        });
        EXPECT_EQ(rig.status(), "Error: The VRK700 is not responding");
        EXPECT_GE(ended - departure, 30'001u);
        EXPECT_LE(ended - departure, 30'001u + TICK_MS);
    }
}

TEST(LineEvidence, OnAPacedLineARequestQueuedBehindTheAnsweredOneKeepsItsTime) {
    TransferRig rig;
    const std::uint32_t baud = 1200;
    rig.ctx.link.current_baud = baud;
    rig.pick(NAME, test_image(3 * 256));
    rig.press_compare();
    const Bytes first = rig.take_sent().at(0);
    const std::uint32_t w = wire_ms(first, baud);
    const std::uint32_t first_left = rig.ctx.link.line_free;  // behind the start-up's probe
    // Unanswered for 2 s after it left: sent again, behind nothing.
    rig.clock.now = first_left + 2'001;
    rig.tick();
    ASSERT_EQ(rig.take_sent().size(), 1u);
    const std::uint32_t retry_leaves = rig.clock.now + w;
    // The answer to the first sending comes while the retry is still on the line.
    rig.clock.advance(5);
    rig.reply(hex("30 01 02 00"));
    ASSERT_EQ(rig.take_sent().size(), 1u);
    EXPECT_EQ(rig.ctx.link.line_free, retry_leaves + w);
    EXPECT_EQ(rig.engine.transfer.page_sent_time, retry_leaves + w);
}

// --- Progress is a page done ------------------------------------------------------------------

// A unit whose acknowledgements name the wrong page: it answers each request one tick later.
struct WrongAcknowledgements {
    const char* what;
    std::size_t pages;
    std::function<std::optional<Bytes>(int page)> answer;
};

TEST(LineEvidence, AUnitNamingPagesNeverSentMeetsTheTimeLimit) {
    const WrongAcknowledgements cases[] = {
        {"always page 0", 2, [](int) { return std::optional<Bytes>(hex("2B 00")); }},
        {"one below the page sent", 4,
         [](int page) {
             return page == 0 ? std::nullopt
                              : std::optional<Bytes>(Bytes{0x2B, static_cast<std::uint8_t>(page - 1)});
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TransferRig rig;
        rig.pick(NAME, test_image(c.pages * 256));
        rig.press_download();
        rig.take_sent();
        rig.reply(hex("29 00"));
        const std::uint32_t progress = *rig.engine.transfer.operation_start_time;
        std::size_t requests = 0;
        const std::uint32_t ended = tick_until(rig, progress + 60'000, [&] {
            for (const Bytes& request : rig.take_sent()) {
                ++requests;
                if (const auto reply = c.answer(request[1])) rig.feed_message(*reply);
            }
            return rig.engine.transfer.phase == device::Phase::idle;
        });
        EXPECT_EQ(rig.status(), "Error: The VRK700 is not responding");
        EXPECT_GE(ended - progress, 30'001u);
        EXPECT_LE(ended - progress, 30'001u + 2 * TICK_MS);
        // Every page at most once at once, then a retry every 2 s.
        EXPECT_LE(requests, c.pages + 15);
    }
}

// --- One operation at a time ------------------------------------------------------------------

struct EventCount : device::EngineObserver {
    int told = 0;
    void operation_started(const device::OperationStart&) override { ++told; }
    void operation_finished(const device::OperationEnd&) override { ++told; }
    void operation_refused(const device::OperationEnd&) override { ++told; }
    void progress(const device::Progress&) override { ++told; }
    void page_sent(const device::PageSent&) override { ++told; }
};

TEST(OneOperation, AStartWhileOneRunsChangesNothing) {
    const Bytes other = test_image(5 * 256, 9);
    const std::pair<const char*, std::function<void(TransferRig&)>> starts[] = {
        {"download of another file", [](TransferRig& r) {
             device::start_operation(r.engine, device::OperationKind::download, "B.vr4", "B.vr4");
         }},
        {"compare of bytes", [&](TransferRig& r) {
             device::start_operation(r.engine, device::OperationKind::compare, other, "B.vr4");
         }},
        {"the Download command past its disabled button",
         [](TransferRig& r) { device::start_download(r.engine); }},
        {"a missing file", [](TransferRig& r) {
             device::start_operation(r.engine, device::OperationKind::compare, "none.vr4", "none");
         }},
    };
    for (const auto& [what, start] : starts) {
        SCOPED_TRACE(what);
        EventCount events;  // outlives the rig's engine
        TransferRig rig;
        const Bytes image = test_image(3 * 256);
        rig.files.files["B.vr4"] = other;
        rig.pick(NAME, image);
        rig.press_download();
        rig.reply(hex("29 00"));
        rig.take_sent();
        const device::TransferState before = rig.engine.transfer;
        const std::string status = rig.status();
        rig.engine.events.add(events);
        start(rig);
        EXPECT_TRUE(rig.take_sent().empty());
        EXPECT_EQ(events.told, 0);
        EXPECT_EQ(rig.status(), status);
        EXPECT_EQ(rig.host.beeps, 0);
        const device::TransferState& now = rig.engine.transfer;
        EXPECT_EQ(now.phase, device::Phase::programming);
        EXPECT_EQ(now.image_buffer, image);
        EXPECT_EQ(now.image_name, NAME);
        EXPECT_EQ(now.current_page, before.current_page);
        EXPECT_EQ(now.operation_start_time, before.operation_start_time);
        EXPECT_EQ(now.page_sent_time, before.page_sent_time);
    }
}

}  // namespace
}  // namespace vrk::test
