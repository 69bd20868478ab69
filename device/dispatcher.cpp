#include "device/dispatcher.h"

#include <array>

#include "device/context.h"
#include "device/control_ids.h"
#include "device/device_panel.h"
#include "device/firmware_transfer.h"
#include "device/messages.h"
#include "link/frame_codec.h"
#include "link/poll_cycle.h"

namespace vrk::device {

int dispatch_message(Context& ctx, std::span<std::uint8_t> message) {
    if (message.empty()) return 0;
    const std::size_t length = message.size();
    switch (message[0]) {
        case ANNOUNCE:
            // A unit that restarts announces itself: load its data again. The external device is
            // not asked for, so the settings stay loaded and later reports confirm.
            if (length != 2) return 0;
            send_request(ctx, VERSION_QUERY);
            link::send_id_query(ctx);
            send_request(ctx, GPS_TYPE_QUERY);
            send_request(ctx, INTERNAL_DEVICE_QUERY);
            ctx.main_window.set_text(ids::STATUS, "");
            return 0;
        case VERSION_REPORT:
            if (length == VERSION_REPORT_SHORT_LENGTH || length == VERSION_REPORT_LONG_LENGTH)
                show_version_report(ctx, message);
            return 0;
        case ID_MESSAGE:
            if (length == ID_MESSAGE_LENGTH) show_unit_id(ctx, message);
            return 0;
        case INTERNAL_DEVICE:
            if (length == 2) show_internal_device(ctx, message);
            return 0;
        case GPS_TYPE:
            if (length == 2) show_gps_type(ctx, message);
            return 0;
        case EXTERNAL_DEVICE:
            if (length == 2) show_external_device(ctx, message);
            return 0;
        case QB7_MODE_REPORT:
            if (length != 2) return 0;
            (void)ctx.host.message_box(QB7_MODE_TEXT, CONFIRMATION_CAPTION,
                                       platform::MessageButtons::ok, platform::MessageIcon::none);
            link::reset_link_display(ctx);
            return 0;
        case APPLICATION_RUNNING:
            if (length != 2) return 0;
            if (ctx.host.message_box(APPLICATION_RUNNING_TEXT, CONFIRMATION_CAPTION,
                                     platform::MessageButtons::yes_no,
                                     platform::MessageIcon::question) ==
                platform::MessageAnswer::yes)
                return 1;
            link::reset_link_display(ctx);
            return 0;
        case ERASE_DONE:
            if (length == 2) on_erase_done(ctx);
            return 0;
        case PAGE_PROGRAMMED:
            if (length == PAGE_PROGRAMMED_LENGTH) on_page_programmed(ctx, message);
            return 0;
        case PAGE_PROGRAMMED_WIDE:
            if (length == PAGE_PROGRAMMED_WIDE_LENGTH) on_page_programmed_wide(ctx, message);
            return 0;
        case PAGE_COMPARED:
            if (length == PAGE_COMPARED_LENGTH) on_page_compared(ctx, message);
            return 0;
        default:
            return 0;
    }
}

}  // namespace vrk::device
