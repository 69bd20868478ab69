#include "platform/win32/unique_handle.h"

#include <windows.h>

namespace vrk::platform::win32 {

UniqueHandle::UniqueHandle(void* handle)
    : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}

bool UniqueHandle::reset() {
    if (handle_ == nullptr) return true;
    const BOOL closed = ::CloseHandle(std::exchange(handle_, nullptr));
    return closed != 0;
}

}  // namespace vrk::platform::win32
