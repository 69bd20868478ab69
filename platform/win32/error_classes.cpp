#include "platform/win32/error_classes.h"

#include <windows.h>

namespace vrk::platform::win32 {

PortError classify_port_error(unsigned long error) {
    switch (error) {
        case ERROR_SUCCESS:
            return PortError::none;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_BAD_UNIT:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEVICE_REMOVED:
            return PortError::not_found;
        // Serial drivers allow one open at a time and refuse the next with "access denied";
        // a sharing violation says the same of a device opened with sharing rules.
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return PortError::busy;
        case ERROR_INVALID_FUNCTION:  // a device that takes no serial requests
        case ERROR_NOT_SUPPORTED:
            return PortError::not_a_serial;
        default:
            return PortError::io_failure;
    }
}

IoStatus classify_port_io_error(unsigned long error) {
    switch (error) {
        // What USB serial drivers answer once their device has been unplugged, and what a
        // request still queued when it went is completed with.
        case ERROR_BAD_COMMAND:
        case ERROR_OPERATION_ABORTED:
        case ERROR_DEVICE_REMOVED:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_NOT_READY:
        case ERROR_GEN_FAILURE:
        case ERROR_FILE_NOT_FOUND:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_BAD_UNIT:
        case ERROR_INVALID_HANDLE:
            return IoStatus::lost;
        default:
            return IoStatus::failed;
    }
}

FileError classify_file_error(unsigned long error) {
    switch (error) {
        case ERROR_SUCCESS:
            return FileError::none;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
            return FileError::not_found;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT:
            return FileError::access_denied;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
        case ERROR_FILE_TOO_LARGE:
            return FileError::no_space;
        default:
            return FileError::io_failure;
    }
}

}  // namespace vrk::platform::win32
