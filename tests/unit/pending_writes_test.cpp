// The bookkeeping of a port whose writes go on while the program does: blocks go to the system
// one at a time and in order, what comes meanwhile waits behind them, the total is bounded, and
// the block being written never moves.
#include "platform/pending_writes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fakes.h"

namespace vrk::platform {
namespace {

using test::hex;
using test::to_hex;

struct Step {
    enum Kind { add, start, finish, clear } kind;
    std::string bytes = {};  // add: what is written (hex); start: the block expected
    bool accepted = true;    // add: taken or refused
};

std::string repeated(std::size_t n) {
    std::string text;
    for (std::size_t i = 0; i < n; ++i) text += i == 0 ? "AA" : " AA";
    return text;
}

TEST(PendingWrites, BlocksGoOneAtATimeInOrderAndWhatComesMeanwhileWaits) {
    const struct {
        const char* name;
        std::vector<Step> steps;
    } cases[] = {
        {"one write",
         {{Step::add, "FF 0B 00 FE"},
          {Step::start, "FF 0B 00 FE"},
          {Step::start, ""},
          {Step::finish},
          {Step::start, ""}}},
        {"writes wait behind the block in flight, then go as one",
         {{Step::add, "01"},
          {Step::start, "01"},
          {Step::add, "02"},
          {Step::add, "03 04"},
          {Step::start, ""},
          {Step::finish},
          {Step::start, "02 03 04"}}},
        {"the bound counts the block in flight and the bytes waiting",
         {{Step::add, repeated(4000)},
          {Step::start, repeated(4000)},
          {Step::add, repeated(96)},
          {Step::add, "01", false},
          {Step::finish},
          {Step::add, "01"},
          {Step::start, repeated(96) + " 01"}}},
        {"a write larger than the bound is refused whole",
         {{Step::add, repeated(4097), false}, {Step::start, ""}}},
        {"clear gives up both",
         {{Step::add, "01"},
          {Step::start, "01"},
          {Step::add, "02"},
          {Step::clear},
          {Step::start, ""},
          {Step::add, repeated(4096)}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PendingWrites pending;
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            const Step& step = c.steps[i];
            switch (step.kind) {
                case Step::add: {
                    const test::Bytes bytes = hex(step.bytes);
                    EXPECT_EQ(pending.add(bytes), step.accepted) << "step " << i;
                    break;
                }
                case Step::start: {
                    const auto block = pending.start();
                    EXPECT_EQ(to_hex(test::Bytes(block.begin(), block.end())), step.bytes)
                        << "step " << i;
                    EXPECT_TRUE(block.empty() || pending.in_flight()) << "step " << i;
                    break;
                }
                case Step::finish:
                    pending.finish();
                    EXPECT_FALSE(pending.in_flight()) << "step " << i;
                    break;
                case Step::clear:
                    pending.clear();
                    EXPECT_FALSE(pending.in_flight());
                    EXPECT_EQ(pending.waiting(), 0u);
                    break;
            }
        }
    }
}

TEST(PendingWrites, TheBlockBeingWrittenStaysWhereItIsWhileMoreIsAdded) {
    PendingWrites pending;
    ASSERT_TRUE(pending.add(hex("FF 2A 05 FE")));
    const auto block = pending.start();
    const std::uint8_t* where = block.data();
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(pending.add(hex(repeated(30))));
    EXPECT_EQ(block.data(), where);
    EXPECT_EQ(to_hex(test::Bytes(block.begin(), block.end())), "FF 2A 05 FE");
    EXPECT_EQ(pending.waiting(), 3000u);
}

}  // namespace
}  // namespace vrk::platform
