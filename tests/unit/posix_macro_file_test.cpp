// The macro recorder on the real POSIX file system: a device that is always full.
#include <gtest/gtest.h>

#include "app/context.h"
#include "device/macro_recorder.h"
#include "link/link.h"
#include "platform/control_ids.h"
#include "platform/posix/posix_platform.h"
#include "tests/support/transfer_rig.h"

namespace vrk::test {
namespace {

TEST(MacroWriteFailure, AFullDeviceIsReportedByTheRealFileSystem) {
    platform::PosixFileSystem disk;
    TransferRig rig;
    app::Context ctx{rig.port, rig.clock, disk, rig.host, rig.window};
    rig.host.save_answers.emplace_back("/dev/full");
    device::toggle_recording(ctx.engine);
    ASSERT_NE(ctx.engine.recorder.macro_file, nullptr);
    link::send_message(ctx.link, hex("28 00"));
    // The system may refuse the bytes at the write or only when they are flushed at close:
    // either way the person is told, once.
    if (ctx.engine.recorder.macro_file) device::toggle_recording(ctx.engine);
    EXPECT_EQ(ctx.engine.recorder.macro_file, nullptr);
    EXPECT_EQ(rig.window.text(ids::RECORD), "Re&cord...");
    ASSERT_EQ(rig.host.boxes.size(), 1u);
    EXPECT_EQ(rig.host.boxes[0].text, "Error writing '/dev/full'");
}

}  // namespace
}  // namespace vrk::test
