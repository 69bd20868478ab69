// The simulated unit's answers, without a line: what the program's end-to-end tests rely on
// when they read the unit's flash and settings.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sim/unit_model.h"
#include "tests/support/fakes.h"

namespace vrk::sim {
namespace {

using test::hex;
using test::to_hex;

std::string answer_text(const Answer& a) {
    std::string out;
    for (const auto& r : a.replies) out += (out.empty() ? "" : " | ") + to_hex(r);
    return out;
}

Bytes page_message(std::uint8_t type, std::size_t page, std::uint8_t fill) {
    Bytes m;
    if (type == 0x2A) {
        m = {type, static_cast<std::uint8_t>(page)};
    } else {
        m = {type, 0x00, static_cast<std::uint8_t>(page & 0xFF),
             static_cast<std::uint8_t>(page >> 8)};
    }
    m.insert(m.end(), FLASH_PAGE_SIZE, fill);
    return m;
}

struct Exchange {
    const char* name;
    const char* request;
    const char* answer;  // replies separated by " | "; empty for none
};

TEST(SimUnitModel, AnswersEveryRequestOfTheCatalogue) {
    const Exchange cases[] = {
        {"version, long form", "01 00", "02 28 D7 00 7C 11 01 00 00 00 E1 00"},
        {"ID query", "0B 00", "0B 56 52 4B 30 30 30 34 32 00"},
        {"ID set of 4 characters", "0B 41 42 43 44 00 00 00 00 00",
         "0B 41 42 43 44 00 00 00 00 00"},
        {"ID set, bytes after the terminator are not part of it", "0B 41 42 00 58 58 58 58 58 00",
         "0B 41 42 00 00 00 00 00 00 00"},
        {"ID set of 8 characters, terminator missing", "0B 31 32 33 34 35 36 37 38 39",
         "0B 31 32 33 34 35 36 37 38 00"},
        {"internal device query", "14 00", "15 01"},
        {"internal device set", "15 05", "15 05"},
        {"internal device set to a code the unit does not know", "15 EE", "15 EE"},
        {"GPS query", "16 00", "17 00"},
        {"GPS set", "17 03", "17 03"},
        {"external device query", "18 00", "19 01"},
        {"external device set", "19 32", "19 32"},
        {"QB7 mode", "1E 00", "1F 00"},
        {"run application", "20 00", "21 00"},
        {"erase", "28 00", "29 00"},
        {"erase blocks", "2C 02", "29 00"},
        // Requests at a length the unit does not use, and types it does not know, go unanswered.
        {"version query of 3 bytes", "01 00 00", ""},
        {"ID message of 5 bytes", "0B 41 42 43 00", ""},
        {"internal device set of 1 byte", "15", ""},
        {"erase of 3 bytes", "28 00 00", ""},
        {"a report sent to the unit", "02 28", ""},
        {"unknown type", "77 00", ""},
        {"page acknowledgement sent to the unit", "2B 00", ""},
    };
    for (const auto& c : cases) {
        UnitModel unit{UnitConfig{}};
        EXPECT_EQ(answer_text(unit.handle(hex(c.request))), c.answer) << c.name;
    }
}

TEST(SimUnitModel, SetsChangeTheSettingsThatLaterQueriesReport) {
    UnitModel unit{UnitConfig{}};
    (void)unit.handle(hex("0B 4E 45 57 00 00 00 00 00 00"));
    (void)unit.handle(hex("15 09"));
    (void)unit.handle(hex("17 04"));
    (void)unit.handle(hex("19 3B"));
    EXPECT_EQ(answer_text(unit.handle(hex("0B 00"))), "0B 4E 45 57 00 00 00 00 00 00");
    EXPECT_EQ(answer_text(unit.handle(hex("14 00"))), "15 09");
    EXPECT_EQ(answer_text(unit.handle(hex("16 00"))), "17 04");
    EXPECT_EQ(answer_text(unit.handle(hex("18 00"))), "19 3B");
    EXPECT_EQ(unit.id(), "NEW");
}

TEST(SimUnitModel, WithoutIdReplyTakesTheIdButAnswersOnlyTheQueries) {
    const Exchange cases[] = {
        {"ID set: taken, not answered", "0B 4E 45 57 00 00 00 00 00 00", ""},
        {"ID query: answered with the ID set", "0B 00", "0B 4E 45 57 00 00 00 00 00 00"},
        {"another set: taken, not answered", "0B 4F 4C 44 00 00 00 00 00 00", ""},
        {"the other settings still answer", "15 09", "15 09"},
        {"the ID query again", "0B 00", "0B 4F 4C 44 00 00 00 00 00 00"},
    };
    UnitConfig config;
    config.no_id_reply = true;
    UnitModel unit{config};
    for (const auto& c : cases)
        EXPECT_EQ(answer_text(unit.handle(hex(c.request))), c.answer) << c.name;
    EXPECT_EQ(unit.id(), "OLD");
}

TEST(SimUnitModel, ShortVersionReportAndNegativeValuesAreLittleEndianTwosComplement) {
    UnitConfig c;
    c.short_version = true;
    c.version_hundredths = -1;
    c.serial_number = -2;
    c.flash_type = 0xDA;
    UnitModel unit{c};
    EXPECT_EQ(answer_text(unit.handle(hex("01 00"))), "02 DA FF FF FE FF FF FF");
}

TEST(SimUnitModel, EraseClearsWholeBlocksOnlyAndTakesItsTimePerBlock) {
    UnitConfig c;
    c.erase_ms = 7;
    c.flash_size = 4 * FLASH_BLOCK_SIZE;
    UnitModel unit{c};
    for (std::size_t at :
         {std::size_t{0}, FLASH_BLOCK_SIZE - 1, FLASH_BLOCK_SIZE, 3 * FLASH_BLOCK_SIZE})
        unit.poke_flash(at, 0x00);

    EXPECT_EQ(unit.handle(hex("28 00")).busy_ms, 7u);
    auto flash = unit.flash_copy(4 * FLASH_BLOCK_SIZE);
    EXPECT_EQ(flash[0], 0xFF);
    EXPECT_EQ(flash[FLASH_BLOCK_SIZE - 1], 0xFF);
    EXPECT_EQ(flash[FLASH_BLOCK_SIZE], 0x00) << "ERASE clears the first block only";

    EXPECT_EQ(unit.handle(hex("2C 02")).busy_ms, 14u);
    flash = unit.flash_copy(4 * FLASH_BLOCK_SIZE);
    EXPECT_EQ(flash[FLASH_BLOCK_SIZE], 0xFF);
    EXPECT_EQ(flash[3 * FLASH_BLOCK_SIZE], 0x00) << "2 blocks leave the fourth alone";

    // More blocks than the flash has: what there is gets erased, nothing beyond, and the unit
    // still reports the erase done.
    const Answer all = unit.handle(hex("2C 80"));
    EXPECT_EQ(answer_text(all), "29 00");
    EXPECT_EQ(all.busy_ms, 28u);
    EXPECT_EQ(unit.programmed_extent(), 0u);
}

TEST(SimUnitModel, ProgramsPagesInBothFormsAndAcknowledgesThem) {
    UnitModel unit{UnitConfig{}};
    EXPECT_EQ(answer_text(unit.handle(page_message(0x2A, 3, 0x11))), "2B 03");
    EXPECT_EQ(answer_text(unit.handle(page_message(0x2D, 0x0123, 0x22))), "2E 00 23 01");
    const auto flash = unit.flash_copy(0x124 * FLASH_PAGE_SIZE);
    EXPECT_EQ(flash[3 * 256 - 1], 0xFF);
    EXPECT_EQ(flash[3 * 256], 0x11);
    EXPECT_EQ(flash[4 * 256 - 1], 0x11);
    EXPECT_EQ(flash[4 * 256], 0xFF);
    EXPECT_EQ(flash[0x123 * 256], 0x22);
    EXPECT_EQ(flash[0x124 * 256 - 1], 0x22);
    EXPECT_EQ(unit.programmed_extent(), 0x124u * 256);
}

TEST(SimUnitModel, RequestsThatBreakTheLayoutAreRefused) {
    // A stand-in that took these would let a program pass that a real loader refuses.
    UnitModel unit{UnitConfig{}};
    Bytes wide_low = page_message(0x2D, 255, 0x11);
    Bytes wide_reserved = page_message(0x2D, 300, 0x11);
    wide_reserved[1] = 0x01;
    Bytes compare_reserved = page_message(0x2F, 0, 0xFF);
    compare_reserved[1] = 0x80;
    for (const Bytes& m : {wide_low, wide_reserved, compare_reserved})
        EXPECT_EQ(answer_text(unit.handle(m)), "");
    EXPECT_EQ(unit.malformed_requests(), 3u);
    EXPECT_EQ(unit.programmed_extent(), 0u);
}

TEST(SimUnitModel, APreviousApplicationStaysUntilErased) {
    UnitConfig c;
    c.previous_application = 1000;
    UnitModel unit{c};
    const auto before = unit.flash_copy(1001);
    EXPECT_NE(std::count(before.begin(), before.begin() + 1000, std::uint8_t{0xFF}), 1000);
    EXPECT_EQ(before[1000], 0xFF);
    (void)unit.handle(hex("28 00"));
    EXPECT_EQ(unit.programmed_extent(), 0u);
}

TEST(SimUnitModel, ProgrammingOverUnerasedFlashOnlyClearsBits) {
    // As NOR flash does: a program that skips the erase leaves the AND of old and new data.
    UnitModel unit{UnitConfig{}};
    (void)unit.handle(page_message(0x2A, 0, 0xF0));
    (void)unit.handle(page_message(0x2A, 0, 0x3C));
    EXPECT_EQ(unit.flash_copy(1)[0], 0x30);
    // The same data twice (a retried page) is harmless.
    (void)unit.handle(hex("28 00"));
    (void)unit.handle(page_message(0x2A, 0, 0x5A));
    (void)unit.handle(page_message(0x2A, 0, 0x5A));
    EXPECT_EQ(unit.flash_copy(1)[0], 0x5A);
}

TEST(SimUnitModel, PagesBeyondTheFlashAreNeverWrittenNorAcknowledged) {
    // A flash that ends inside a page: the partial page is as much "beyond" as any other.
    UnitConfig c;
    c.flash_size = 3 * FLASH_PAGE_SIZE + 100;
    UnitModel unit{c};
    const struct {
        Bytes request;
        const char* answer;
    } cases[] = {
        {page_message(0x2A, 2, 0x00), "2B 02"},
        {page_message(0x2A, 3, 0x00), ""},
        {page_message(0x2A, 255, 0x00), ""},
        {page_message(0x2D, 3, 0x00), ""},
        {page_message(0x2D, 0xFFFF, 0x00), ""},
        {page_message(0x2F, 3, 0xFF), "30 00 03 00"},
        {page_message(0x2F, 0xFFFF, 0xFF), "30 00 FF FF"},
    };
    for (const auto& x : cases)
        EXPECT_EQ(answer_text(unit.handle(x.request)), x.answer)
            << to_hex(Bytes(x.request.begin(), x.request.begin() + 4));
    const auto flash = unit.flash_copy(unit.flash_size());
    ASSERT_EQ(flash.size(), c.flash_size);
    EXPECT_TRUE(std::all_of(flash.begin() + 3 * 256, flash.end(),
                            [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(unit.flash_copy(SIZE_MAX).size(), c.flash_size);
    // poke outside the flash is ignored, not a write past the buffer.
    unit.poke_flash(c.flash_size, 0x00);
    unit.poke_flash(SIZE_MAX, 0x00);
    EXPECT_EQ(unit.programmed_extent(), 3u * 256);
}

TEST(SimUnitModel, CompareReportsEqualOnlyForTheWholePage) {
    UnitModel unit{UnitConfig{}};
    (void)unit.handle(page_message(0x2D, 300, 0x42));
    EXPECT_EQ(answer_text(unit.handle(page_message(0x2F, 300, 0x42))), "30 01 2C 01");
    EXPECT_EQ(answer_text(unit.handle(page_message(0x2F, 0, 0xFF))), "30 01 00 00")
        << "erased page";
    unit.poke_flash(300 * 256 + 255, 0x43);
    EXPECT_EQ(answer_text(unit.handle(page_message(0x2F, 300, 0x42))), "30 00 2C 01")
        << "last byte differs";
    unit.poke_flash(300 * 256 + 255, 0x42);
    unit.poke_flash(300 * 256, 0x41);
    EXPECT_EQ(answer_text(unit.handle(page_message(0x2F, 300, 0x42))), "30 00 2C 01")
        << "first byte differs";
}

TEST(SimUnitModel, StopsAnsweringAnythingAfterTheConfiguredNumberOfPageRequests) {
    UnitConfig c;
    c.stop_after_pages = 3;
    UnitModel unit{c};
    EXPECT_EQ(answer_text(unit.handle(hex("28 00"))), "29 00") << "an erase is not a page request";
    EXPECT_EQ(answer_text(unit.handle(page_message(0x2A, 5, 0x01))), "2B 05");
    EXPECT_EQ(answer_text(unit.handle(page_message(0x2D, 400, 0x01))), "2E 00 90 01");
    EXPECT_EQ(answer_text(unit.handle(page_message(0x2F, 5, 0x01))), "30 01 05 00");
    EXPECT_EQ(answer_text(unit.handle(page_message(0x2A, 4, 0x02))), "");
    EXPECT_EQ(unit.flash_copy(5 * 256)[4 * 256], 0xFF)
        << "the request that found the unit dead wrote nothing";
    EXPECT_EQ(answer_text(unit.handle(hex("0B 00"))), "") << "dead means dead";
    unit.set_silent(false);
    EXPECT_EQ(answer_text(unit.handle(hex("0B 00"))), "0B 56 52 4B 30 30 30 34 32 00");
}

TEST(SimUnitModel, WrongPageNamesThePageAboveOnEveryEighthWideAcknowledgement) {
    UnitConfig c;
    c.wrong_page = true;
    UnitModel unit{c};
    std::vector<std::size_t> named;
    for (std::size_t page = 1000; page > 1000 - 17; --page) {
        const Answer a = unit.handle(page_message(0x2D, page, 0x00));
        ASSERT_EQ(a.replies.size(), 1u);
        named.push_back(a.replies[0][2] | (a.replies[0][3] << 8));
        // The 8-bit acknowledgement is never falsified.
        EXPECT_EQ(answer_text(unit.handle(page_message(0x2A, 7, 0x00))), "2B 07");
    }
    for (std::size_t i = 0; i < named.size(); ++i) {
        const std::size_t page = 1000 - i;
        EXPECT_EQ(named[i], (i + 1) % WRONG_PAGE_EVERY == 0 ? page + 1 : page)
            << "request " << i + 1;
    }
}

TEST(SimFaultSource, SameSeedSameFaultsAndRatesNearTheProbability) {
    FaultSource a(42), b(42), c(43);
    int hits = 0;
    bool differs = false;
    for (int i = 0; i < 20000; ++i) {
        const bool x = a.chance(0.1);
        EXPECT_EQ(x, b.chance(0.1));
        differs = differs || x != c.chance(0.1);
        hits += x ? 1 : 0;
    }
    EXPECT_TRUE(differs);
    EXPECT_GT(hits, 1600);
    EXPECT_LT(hits, 2400);
    FaultSource d(7);
    const auto before = FaultSource(7).next();
    EXPECT_FALSE(d.chance(0.0)) << "no fault drawn";
    EXPECT_TRUE(d.chance(1.0));
    EXPECT_EQ(d.next(), before) << "certain outcomes draw no number";
}

TEST(SimUnitConfig, RejectsConfigurationsTheUnitCannotRun) {
    const struct {
        const char* name;
        void (*change)(UnitConfig&);
        bool ok;
    } cases[] = {
        {"defaults", [](UnitConfig&) {}, true},
        {"9600 baud", [](UnitConfig& c) { c.baud = 9600; }, true},
        {"no such speed", [](UnitConfig& c) { c.baud = 12345; }, false},
        {"zero speed", [](UnitConfig& c) { c.baud = 0; }, false},
        {"9 character ID", [](UnitConfig& c) { c.id = "123456789"; }, false},
        {"ID with NUL", [](UnitConfig& c) { c.id = std::string("A\0B", 3); }, false},
        {"negative probability", [](UnitConfig& c) { c.drop_rx = -0.1; }, false},
        {"probability above 1", [](UnitConfig& c) { c.corrupt = 1.5; }, false},
        {"NaN probability",
         [](UnitConfig& c) { c.drop_tx = std::numeric_limits<double>::quiet_NaN(); }, false},
        {"16 MiB flash", [](UnitConfig& c) { c.flash_size = MAX_FLASH_SIZE; }, true},
        {"flash above 16 MiB", [](UnitConfig& c) { c.flash_size = MAX_FLASH_SIZE + 1; }, false},
    };
    for (const auto& x : cases) {
        UnitConfig c;
        x.change(c);
        EXPECT_EQ(validate_config(c).empty(), x.ok) << x.name;
    }
}

}  // namespace
}  // namespace vrk::sim
