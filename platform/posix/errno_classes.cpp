#include "platform/posix/errno_classes.h"

#include <poll.h>

#include <cerrno>

namespace vrk::platform::posix {

PortError classify_port_error(int error_number) {
    // EAGAIN and EWOULDBLOCK are one value on Linux but need not be elsewhere, so no switch.
    if (error_number == EWOULDBLOCK || error_number == EAGAIN || error_number == EBUSY) {
        return PortError::busy;
    }
    switch (error_number) {
        case 0:
            return PortError::none;
        case ENOENT:
        case ENOTDIR:
        case ENODEV:  // the node exists but no driver or hardware answers for it
        case ENXIO:   // likewise: a ttyS node with no UART, an unplugged adapter's old node
            return PortError::not_found;
        case EACCES:
        case EPERM:
            return PortError::access_denied;
        case ENOTTY:  // a file or device that takes no terminal requests (/dev/null, a file)
        case EISDIR:
            return PortError::not_a_serial;
        default:
            return PortError::io_failure;
    }
}

IoStatus classify_io_error(int error_number) {
    switch (error_number) {
        case EIO:
        case ENXIO:
        case ENODEV:
            return IoStatus::lost;
        default:
            return IoStatus::failed;
    }
}

IoStatus classify_poll_events(int events) {
    return (events & (POLLHUP | POLLERR | POLLNVAL)) != 0 ? IoStatus::lost : IoStatus::ok;
}

FileError classify_file_error(int error_number) {
    switch (error_number) {
        case 0:
            return FileError::none;
        case ENOENT:
        case ENOTDIR:
            return FileError::not_found;
        case EACCES:
        case EPERM:
        case EROFS:
            return FileError::access_denied;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return FileError::no_space;
        default:
            return FileError::io_failure;
    }
}

}  // namespace vrk::platform::posix
