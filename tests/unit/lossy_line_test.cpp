// A whole download and compare over a line that cuts one frame short at every possible byte
// offset, in each direction. Whatever is lost, the program must either finish with the unit's
// flash equal to the image, or say that the unit is not responding: never report success for
// bytes that did not arrive.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "app/session.h"
#include "link/link.h"
#include "platform/control_ids.h"
#include "tests/support/rig.h"
#include "tests/support/transfer_rig.h"

namespace vrk::test {
namespace {

constexpr std::size_t IMAGE_SIZE = 3 * 256 + 40;  // a short last page; ERASE and 8-bit pages
constexpr std::size_t FLASH_SIZE = 4 * 256;

// Takes the program's writes; from byte `cut_at` of everything ever written, the rest of that
// one write is lost, as when a line drops out in the middle of a frame.
class CuttingPort : public FakePort {
  public:
    std::size_t cut_at = SIZE_MAX;
    std::size_t total = 0;
    platform::IoStatus write(std::span<const std::uint8_t> bytes) override {
        const std::size_t start = total;
        total += bytes.size();
        if (cut_at >= start && cut_at < total) bytes = bytes.first(cut_at - start);
        return FakePort::write(bytes);
    }
};

// A small, strict loader on the far end of the line.
struct SmallLoader {
    Bytes flash = Bytes(FLASH_SIZE, 0x00);  // an old application until erased
    Bytes answer(const Bytes& r) {
        if (r.size() == 2 && r[0] == 0x28) {
            std::fill(flash.begin(), flash.end(), std::uint8_t{0xFF});
            return {0x29, 0x00};
        }
        if (r.size() == 258 && r[0] == 0x2A && r[1] < FLASH_SIZE / 256) {
            std::copy(r.begin() + 2, r.end(), flash.begin() + r[1] * 256);
            return {0x2B, r[1]};
        }
        if (r.size() == 260 && r[0] == 0x2F && r[1] == 0 && r[3] == 0 && r[2] < FLASH_SIZE / 256) {
            const bool same = std::equal(r.begin() + 4, r.end(), flash.begin() + r[2] * 256);
            return {0x30, static_cast<std::uint8_t>(same), r[2], 0x00};
        }
        return {};
    }
};

struct Outcome {
    std::string status;
    Bytes flash;
};

// Runs one operation to its end on the fake clock. `cut_at` cuts the program's bytes,
// `reply_cut_at` the loader's.
Outcome run(bool download, std::size_t cut_at, std::size_t reply_cut_at, SmallLoader& loader,
            const Bytes& image) {
    FakeClock clock;
    MemoryFileSystem files;
    FakeHost host;
    CuttingPort port;
    files.files["APP.vr4"] = image;
    app::Session session(port, "lossy", {clock, files, host});
    // Linked, and the cut counted from the first byte of the operation on.
    session.context().link.link_state = link::LINK_SETTINGS_LOADED;
    port.clear_writes();
    port.cut_at = cut_at;
    auto& window = session.window();
    window.user_select(ids::APPLICATION, 0);
    window.set_checked(ids::VERIFY, false);  // the download alone: its bytes are swept
    window.user_click(download ? ids::DOWNLOAD : ids::COMPARE);

    const std::set<std::string> ends = {
        "APP.vr4 has been downloaded successfully", "APP.vr4 matched successfully",
        "APP.vr4 doesn't match!!!!!", "Error: The VRK700 is not responding"};
    link::FrameDecoder far_end;
    std::size_t replied = 0;
    for (int tick = 0; tick < 5000 && ends.count(window.text(ids::STATUS)) == 0; ++tick) {
        for (std::uint8_t b : port.written()) {
            const auto message = link::frame_decoder(far_end, b);
            if (message.empty()) continue;
            const Bytes request(message.begin(), message.end());
            Bytes reply = frame(loader.answer(request));
            if (reply.size() <= 2) continue;  // not answered
            const std::size_t start = replied;
            replied += reply.size();  // counted whole, so one cut hits one reply only
            if (reply_cut_at >= start && reply_cut_at < replied) reply.resize(reply_cut_at - start);
            port.feed(reply);
        }
        port.clear_writes();
        clock.advance(10);
        session.tick();
    }
    return {window.text(ids::STATUS), loader.flash};
}

Bytes expected_flash(const Bytes& image) {
    Bytes f(FLASH_SIZE, 0xFF);
    std::copy(image.begin(), image.end(), f.begin());
    return f;
}

TEST(LossyLine, ADownloadCutAtAnyByteEitherWayFinishesCorrectlyOrSaysSo) {
    const Bytes image = test_image(IMAGE_SIZE);
    // The clean run gives the number of bytes each way to sweep over.
    SmallLoader clean;
    ASSERT_EQ(run(true, SIZE_MAX, SIZE_MAX, clean, image).status,
              "APP.vr4 has been downloaded successfully");
    ASSERT_EQ(clean.flash, expected_flash(image));

    const std::size_t program_bytes = 4 + 4 * 300;  // erase + pages, an upper bound on the wire
    const std::size_t reply_bytes = 4 * 6;
    int recovered = 0;
    for (std::size_t cut = 0; cut < program_bytes + reply_bytes; ++cut) {
        const bool towards_unit = cut < program_bytes;
        SmallLoader loader;
        const Outcome o = towards_unit ? run(true, cut, SIZE_MAX, loader, image)
                                       : run(true, SIZE_MAX, cut - program_bytes, loader, image);
        SCOPED_TRACE(testing::Message() << (towards_unit ? "request" : "reply") << " byte " << cut
                                        << ": " << o.status);
        if (o.status == "APP.vr4 has been downloaded successfully") {
            ASSERT_EQ(o.flash, expected_flash(image));
            ++recovered;
        } else {
            // Only the erase is never repeated: its loss, or its answer's, is the one
            // thing that ends a download unfinished, and it is said so.
            ASSERT_EQ(o.status, "Error: The VRK700 is not responding");
        }
    }
    // Only cuts inside the erase request or its answer (4 bytes each) may end unfinished.
    EXPECT_EQ(recovered, static_cast<int>(program_bytes + reply_bytes) - 8)
        << "lost pages are retried, not given up";
}

TEST(LossyLine, ACompareCutAtAnyByteNeverMatchesAFlashThatDiffers) {
    const Bytes image = test_image(IMAGE_SIZE);
    Bytes differing = expected_flash(image);
    differing[300] ^= 0x01;
    for (std::size_t cut = 0; cut < 4 * 300; cut += 3) {
        SCOPED_TRACE(cut);
        SmallLoader loader;
        loader.flash = differing;
        const Outcome o = run(false, cut, SIZE_MAX, loader, image);
        EXPECT_TRUE(o.status == "APP.vr4 doesn't match!!!!!" ||
                    o.status == "Error: The VRK700 is not responding")
            << o.status;
    }
}

}  // namespace
}  // namespace vrk::test
