// Owns one handle of the Windows kernel and closes it once. The handle is kept as void* so
// that this header, which the platform's own header includes, does not bring windows.h to the
// rest of the program. Internal to platform/win32 and its tests.
#pragma once

#include <utility>

namespace vrk::platform::win32 {

class UniqueHandle {
  public:
    UniqueHandle() = default;
    // Takes a handle as CreateFile returns it: INVALID_HANDLE_VALUE (and null) hold nothing.
    explicit UniqueHandle(void* handle);
    ~UniqueHandle() { (void)reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            (void)reset();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    [[nodiscard]] void* get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    // Closes the handle; false when CloseHandle failed (for a file: the data may be lost).
    bool reset();

  private:
    void* handle_ = nullptr;
};

}  // namespace vrk::platform::win32
