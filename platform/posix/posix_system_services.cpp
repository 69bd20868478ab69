#include "platform/posix/posix_platform.h"
#include "platform/system_services.h"

namespace vrk::platform {

SystemServices make_system_services() {
    return {std::make_unique<PosixPortProvider>(), std::make_unique<PosixTickClock>(),
            std::make_unique<PosixFileSystem>(), std::make_unique<PosixConsole>()};
}

}  // namespace vrk::platform
