// The one place where a Windows error code (GetLastError) becomes one of our error categories,
// for ports and for files, so that the front-ends can tell "not found", "in use", "can't read"
// and "disk full" apart exactly as on Linux. The codes are passed as unsigned long (DWORD) to
// keep windows.h out of this header. Internal to platform/win32 and its tests.
#pragma once

#include "platform/files.h"
#include "platform/serial_port.h"

namespace vrk::platform::win32 {

// Why a port did not open. A COM port that another program holds refuses with
// ERROR_ACCESS_DENIED: that is "busy" (Windows has no device permissions for users to fix).
[[nodiscard]] PortError classify_port_error(unsigned long error);
// What a failed ReadFile or WriteFile on an open port means: lost when the device has gone (an
// adapter unplugged: its driver answers every request with one of a handful of codes), failed
// for a call that went wrong on a port that is still there.
[[nodiscard]] IoStatus classify_port_io_error(unsigned long error);
// The category of a failed file operation.
[[nodiscard]] FileError classify_file_error(unsigned long error);

}  // namespace vrk::platform::win32
