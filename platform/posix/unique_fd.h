// A file descriptor that closes itself: every descriptor the POSIX layer opens is held by one,
// so no early return can leak it and no path can close it twice. No system header comes with
// it, so the platform's public header can hold one.
#pragma once

#include <utility>

namespace vrk::platform::posix {

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(std::exchange(other.fd_, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    [[nodiscard]] int get() const { return fd_; }
    [[nodiscard]] bool valid() const { return fd_ >= 0; }
    explicit operator bool() const { return valid(); }

    // Closes the descriptor held (if any) and holds fd instead; returns close()'s result for
    // the old one (0 when there was none). close() is not retried after EINTR: on Linux the
    // descriptor is gone either way, and a retry could close one opened meanwhile.
    int reset(int fd = -1);

  private:
    int fd_ = -1;
};

}  // namespace vrk::platform::posix
