#include "platform/posix/unique_fd.h"

#include <unistd.h>

namespace vrk::platform::posix {

int UniqueFd::reset(int fd) {
    int result = 0;
    if (fd_ >= 0) result = ::close(fd_);
    fd_ = fd;
    return result;
}

}  // namespace vrk::platform::posix
