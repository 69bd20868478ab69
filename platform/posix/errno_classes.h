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
// The category of a failed file operation.
[[nodiscard]] FileError classify_file_error(int error_number);

}  // namespace vrk::platform::posix
