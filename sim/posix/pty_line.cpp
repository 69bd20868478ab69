// The simulator's pseudo-terminal on POSIX systems (Linux is the one we run on).
#include "sim/pty_line.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

namespace vrk::sim {

namespace {

struct SpeedEntry {
    speed_t code;
    std::uint32_t baud;
};

// termios keeps the speed as a code, not a number.
constexpr SpeedEntry SPEEDS[] = {
    {B50, 50},         {B75, 75},           {B110, 110},       {B134, 134},       {B150, 150},
    {B200, 200},       {B300, 300},         {B600, 600},       {B1200, 1200},     {B1800, 1800},
    {B2400, 2400},     {B4800, 4800},       {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
    {B57600, 57600},   {B115200, 115200},   {B230400, 230400}, {B460800, 460800}, {B500000, 500000},
    {B921600, 921600}, {B1000000, 1000000},
};

std::string system_error(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

void close_fd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Milliseconds until the deadline for poll(), rounded up so that we never wake early and spin.
int poll_timeout(PtyLine::Clock::time_point deadline) {
    const auto left = deadline - PtyLine::Clock::now();
    if (left <= PtyLine::Clock::duration::zero()) return 0;
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(left).count();
    return static_cast<int>(std::min<long long>((us + 999) / 1000, 60'000));
}

}  // namespace

PtyLine::PtyLine() = default;

PtyLine::~PtyLine() {
    close();
}

bool PtyLine::open(std::string* error) {
    const auto fail = [&](const char* what) {
        if (error) *error = system_error(what);
        close();
        return false;
    };
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) return fail("cannot open a pseudo-terminal");
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        return fail("cannot unlock the pseudo-terminal");
    const int flags = ::fcntl(master_, F_GETFL);
    if (flags < 0 || ::fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0 ||
        ::fcntl(master_, F_SETFD, FD_CLOEXEC) != 0)
        return fail("cannot set up the pseudo-terminal");
    const char* name = ::ptsname(master_);
    if (name == nullptr) return fail("cannot name the pseudo-terminal");
    slave_path_ = name;
    // Settings made on the master apply to the slave's terminal: start raw, so that the slave's
    // default echo does not send the unit's words straight back to it.
    termios t{};
    if (::tcgetattr(master_, &t) != 0) return fail("cannot read the terminal settings");
    ::cfmakeraw(&t);
    if (::tcsetattr(master_, TCSANOW, &t) != 0) return fail("cannot set the terminal raw");
    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0) return fail("cannot create the wake-up pipe");
    wake_read_ = pipe_fds[0];
    wake_write_ = pipe_fds[1];
    for (int fd : {wake_read_, wake_write_}) {
        (void)::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        (void)::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    return true;
}

PtyLine::Event PtyLine::wait_input(Clock::time_point deadline) {
    for (;;) {
        pollfd fds[2] = {{wake_read_, POLLIN, 0}, {master_, POLLIN, 0}};
        const int timeout = poll_timeout(deadline);
        const int r = ::poll(fds, 2, timeout);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return Event::woken;  // a broken poll cannot be waited on: give up the line
        if (fds[0].revents != 0) return Event::woken;
        if ((fds[1].revents & POLLIN) != 0) return Event::readable;
        if ((fds[1].revents & (POLLHUP | POLLERR)) != 0) {
            // Nobody has the slave open, so nothing can arrive; the master reports the hang-up
            // at once and would spin us. Sleep out the time-out instead.
            if (!sleep_until(deadline)) return Event::woken;
            return Event::idle;
        }
        if (r == 0 && Clock::now() >= deadline) return Event::idle;
    }
}

bool PtyLine::sleep_until(Clock::time_point deadline) {
    for (;;) {
        const auto left = deadline - Clock::now();
        pollfd fd{wake_read_, POLLIN, 0};
        timespec ts{};
        if (left > Clock::duration::zero()) {
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            ts.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
            ts.tv_nsec = static_cast<long>(ns % 1'000'000'000);
        }
        // ppoll for sub-millisecond sleeps: line time at 115200 baud is 87 us a byte.
        const int r = ::ppoll(&fd, 1, &ts, nullptr);
        if (r < 0 && errno == EINTR) continue;
        if (r != 0) return false;
        if (Clock::now() >= deadline) return true;
    }
}

std::optional<std::size_t> PtyLine::read(std::span<std::uint8_t> buffer) {
    for (;;) {
        const ssize_t n = ::read(master_, buffer.data(), buffer.size());
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno == EINTR) continue;
        // EIO: the program has closed its end. Nothing is waiting; that is not a failure.
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EIO) return std::size_t{0};
        return std::nullopt;
    }
}

void PtyLine::write(std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    int stalls = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            stalls = 0;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && ++stalls < 200) {
            // The program is not reading and the terminal's queue is full: give it a moment,
            // but never hang the unit on a program that has stopped listening.
            pollfd fd{master_, POLLOUT, 0};
            (void)::poll(&fd, 1, 5);
            continue;
        }
        return;  // closed or stuck: the rest is lost on the line
    }
}

std::uint32_t PtyLine::line_speed() const {
    termios t{};
    if (master_ < 0 || ::tcgetattr(master_, &t) != 0) return 0;
    const speed_t code = ::cfgetospeed(&t);
    for (const auto& entry : SPEEDS) {
        if (entry.code == code) return entry.baud;
    }
    return 0;
}

void PtyLine::wake() {
    if (wake_write_ >= 0) {
        const std::uint8_t b = 1;
        (void)!::write(wake_write_, &b, 1);
    }
}

void PtyLine::close() {
    close_fd(master_);
    close_fd(wake_read_);
    close_fd(wake_write_);
}

}  // namespace vrk::sim
