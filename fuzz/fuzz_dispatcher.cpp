// Any sequence of messages from a hostile or broken unit, dispatched into a program that has
// an image loaded and a transfer running: nothing may read or write outside a buffer.
#include <cstdint>
#include <span>
#include <vector>

#include "device/dispatcher.h"
#include "platform/control_ids.h"
#include "tests/support/rig.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vrk::test::Rig rig(
        [](vrk::test::Rig& r) { r.files.files["APP.vr4"] = vrk::test::Bytes(70000, 0x5A); },
        "APP.vr4");
    rig.window.user_select(vrk::ids::APPLICATION, 0);
    if (size > 0 && (data[0] & 1))
        rig.window.user_click(vrk::ids::DOWNLOAD);
    else
        rig.window.user_click(vrk::ids::COMPARE);
    // The input is a sequence of messages, each prefixed by its length (1 to 64 bytes).
    std::size_t i = 1;
    while (i < size) {
        const std::size_t length = 1 + (data[i] & 0x3F);
        ++i;
        if (i + length > size) break;
        std::vector<std::uint8_t> message(data + i, data + i + length);
        i += length;
        (void)vrk::device::dispatch_message(rig.engine, message);
        rig.port.clear_writes();
    }
    return 0;
}
