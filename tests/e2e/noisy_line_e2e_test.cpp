// Downloads with verify and compares of an 8-page image over a line that flips bits either
// way, against the simulated unit. The protocol has no checksum, so a garbled reply must never
// be believed into a success over a flash that differs, nor into a good flash rejected on a
// quiet line; and garbled replies must cost requests, not double them. (bench/noisy_line_soak
// runs the same cases at 64 KiB over ten seeds.)
#include <string>

#include "tests/e2e/e2e_support.h"
#include "tests/support/noisy_line.h"

namespace vrk::test {
namespace {

struct Column {
    const char* name;
    double corrupt;
    double corrupt_rx;
};

const Column COLUMNS[] = {
    {"unit sends 0.05 %", 0.0005, 0},
    {"unit sends 1 %", 0.01, 0},
    {"unit sends 3 %", 0.03, 0},
    {"unit receives 0.01 %", 0, 0.0001},
};

// Checks one operation's end: success only over the image, within twice a clean run's
// requests and 20.
void expect_sound(const OperationOutcome& o, device::OperationKind kind, std::size_t image_size,
                  const char* what) {
    SCOPED_TRACE(what);
    ASSERT_TRUE(o.ran);
    if (o.result == device::Result::success) {
        EXPECT_TRUE(o.flash_is_image);
    }
    EXPECT_LT(o.requests, 2 * clean_requests(kind, image_size) + 20);
}

TEST_F(EndToEnd, OnANoisyLineEveryOperationEndsCorrectOrTold) {
    constexpr std::size_t IMAGE_SIZE = 8 * 256;
    const std::string name = "NOISY.vr4";
    const Bytes image = write_image(name, IMAGE_SIZE, 9);
    for (const Column& column : COLUMNS) {
        for (std::uint64_t seed = 1; seed <= 3; ++seed) {
            SCOPED_TRACE(testing::Message() << column.name << ", seed " << seed);
            NoisyCase c;
            c.corrupt = column.corrupt;
            c.corrupt_rx = column.corrupt_rx;
            c.seed = seed;
            c.image_path = name;
            c.image = image;
            const NoisyOutcome o = run_noisy_case(c, files_, host_);
            ASSERT_TRUE(o.linked);
            using device::OperationKind;
            expect_sound(o.download, OperationKind::download_and_verify, IMAGE_SIZE, "download");
            expect_sound(o.compare, OperationKind::compare, IMAGE_SIZE, "compare");
            expect_sound(o.compare_differing, OperationKind::compare, IMAGE_SIZE,
                         "compare of a changed flash");
            EXPECT_FALSE(o.compare_differing.flash_is_image);
            // Nothing garbles what the unit takes: the flash comes out right.
            if (column.corrupt_rx == 0) {
                EXPECT_TRUE(o.download.flash_is_image);
            }
            if (column.corrupt == 0.0005) {
                // A garbled reply now and then never has a good flash called different.
                EXPECT_NE(o.download.result, device::Result::mismatch);
                EXPECT_NE(o.compare.result, device::Result::mismatch);
            }
        }
    }
}

}  // namespace
}  // namespace vrk::test
