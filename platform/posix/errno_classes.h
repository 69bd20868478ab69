// The one place where errno becomes one of our error categories, for ports and for files. The
// front-ends choose the words from the category (a permission problem names the fix).
// Internal to platform/posix and its tests.
#pragma once

#include "platform/files.h"
#include "platform/serial_port.h"

namespace vrk::platform::posix {

// The category of a failed open or use of a serial device. EBUSY (exclusive mode held by someone
// else) and EWOULDBLOCK (their lock) both mean another program has the port.
[[nodiscard]] PortError classify_port_error(int error_number);
// Whether a read, write or request that failed on an open serial device means the device is
// gone (lost: an adapter unplugged, the far side of the line hung up) or only that this call
// failed. EIO is what a hung-up terminal answers to everything; ENXIO and ENODEV come from a
// driver whose hardware has vanished under it.
[[nodiscard]] IoStatus classify_io_error(int error_number);
// The same for the events poll() reported on the device: a hang-up or an error condition is the
// line gone (POLLNVAL too: nothing works on that descriptor any more); anything else is ok.
[[nodiscard]] IoStatus classify_poll_events(int events);

// The category of a failed file operation.
[[nodiscard]] FileError classify_file_error(int error_number);

}  // namespace vrk::platform::posix
