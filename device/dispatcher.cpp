#include "device/dispatcher.h"

#include "device/device_panel.h"
#include "device/engine.h"
#include "device/firmware_transfer.h"
#include "link/link.h"
#include "link/messages.h"

namespace vrk::device {

using namespace link::messages;

int dispatch_message(Engine& e, std::span<std::uint8_t> message) {
    if (message.empty()) return 0;
    const std::size_t length = message.size();
    switch (message[0]) {
        case ANNOUNCE:
            // A unit that restarts announces itself: load its data again. The external device is
            // not asked for, so the settings stay loaded and later reports confirm.
            if (length != 2) return 0;
            send_request(e, VERSION_QUERY);
            link::send_id_query(e.link);
            send_request(e, GPS_TYPE_QUERY);
            send_request(e, INTERNAL_DEVICE_QUERY);
            e.events.status_changed("");
            return 0;
        case VERSION_REPORT:
            if (length == VERSION_REPORT_SHORT_LENGTH || length == VERSION_REPORT_LONG_LENGTH)
                show_version_report(e, message);
            return 0;
        case ID_MESSAGE:
            if (length == ID_MESSAGE_LENGTH) show_unit_id(e, message);
            return 0;
        case INTERNAL_DEVICE:
            if (length == 2) show_internal_device(e, message);
            return 0;
        case GPS_TYPE:
            if (length == 2) show_gps_type(e, message);
            return 0;
        case EXTERNAL_DEVICE:
            if (length == 2) show_external_device(e, message);
            return 0;
        case QB7_MODE_REPORT:
            if (length != 2) return 0;
            e.events.mode_reported(UnitMode::qb7);
            if (e.prompts != nullptr) e.prompts->qb7_mode();
            reset_link_display(e, link::LinkLoss::mode_report);
            return 0;
        case APPLICATION_RUNNING:
            if (length != 2) return 0;
            e.events.mode_reported(UnitMode::application_running);
            if (e.prompts != nullptr && e.prompts->exit_when_application_runs()) return 1;
            reset_link_display(e, link::LinkLoss::mode_report);
            return 0;
        case ERASE_DONE:
        case PAGE_PROGRAMMED:
        case PAGE_PROGRAMMED_WIDE:
        case PAGE_COMPARED:
            on_transfer_reply(e, message);
            return 0;
        default:
            return 0;
    }
}

}  // namespace vrk::device
