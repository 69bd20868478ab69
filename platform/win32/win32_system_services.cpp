#include "platform/system_services.h"
#include "platform/win32/win32_platform.h"

namespace vrk::platform {

SystemServices make_system_services() {
    return {std::make_unique<Win32PortProvider>(), std::make_unique<Win32TickClock>(),
            std::make_unique<Win32FileSystem>(), std::make_unique<Win32Console>()};
}

}  // namespace vrk::platform
