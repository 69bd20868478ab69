// The serial port on a POSIX terminal device.
//
// The unit's program was written against a driver with queues and time-outs of its own: a read
// that returns empty after 50 ms when nothing comes; 1024-byte driver queues each way. A
// terminal has no per-read time-outs that fit (VTIME counts tenths of a second), so the
// descriptor stays non-blocking and poll() paces every read and write. Once bytes are waiting a
// read hands them over at once: the decoder takes a frame across reads, and every millisecond
// spent waiting for more is a millisecond of each exchange. The queue sizes have no termios
// counterpart at all: the kernel's buffers are larger than 1024 bytes and the program never has
// more than a 512-byte block in flight, so nothing is set for them.
//
// A USB adapter pulled out, or the far side of a pseudo-terminal closed, hangs the terminal up:
// poll() reports POLLHUP, reads return 0 and everything else fails with EIO. The port then
// reports itself lost and lets go of the descriptor at once, so nothing more goes to the dead
// device and the kernel can free its node for the adapter's return.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <memory>
#include <utility>

#include "platform/posix/errno_classes.h"
#include "platform/posix/posix_platform.h"
#include "platform/posix/serial_latency.h"
#include "platform/posix/termios_line.h"

namespace vrk::platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds FIRST_BYTE_TIMEOUT{50};

// Milliseconds from now until deadline for poll(): rounded up so that poll never returns before
// the deadline, 0 once it has passed.
int ms_until(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<int>(std::min<decltype(ms)>(ms, INT_MAX));
}

// Waits until fd reports one of events or the deadline passes; a signal does not cut the wait
// short. Returns the reported events, 0 at the deadline, -1 when poll itself failed.
int wait_for(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd entry{fd, events, 0};
        const int result = ::poll(&entry, 1, ms_until(deadline));
        if (result > 0) return entry.revents;
        if (result == 0) return 0;
        if (errno != EINTR) return -1;
    }
}

// tcsetattr reports success when any part of the request was applied, so the speed is read
// back: a driver that cannot do the rate must not pass for one that did.
bool apply_settings(int fd, const termios& settings) {
    if (::tcsetattr(fd, TCSANOW, &settings) != 0) return false;
    termios applied{};
    if (::tcgetattr(fd, &applied) != 0) return false;
    return ::cfgetospeed(&applied) == ::cfgetospeed(&settings);
}

bool set_speed(termios& settings, std::uint32_t baud) {
    const auto speed = posix::speed_for_baud(baud);
    if (!speed) return false;
    return ::cfsetispeed(&settings, *speed) == 0 && ::cfsetospeed(&settings, *speed) == 0;
}

}  // namespace

std::unique_ptr<PosixSerialPort> PosixSerialPort::open(const std::string& device,
                                                       PortError& error) {
    // Non-blocking from the start: without CLOCAL (not set until configure) an open would wait
    // for carrier, and reads and writes are paced by poll() anyway. No controlling terminal: a
    // hang-up on the line must not send the program SIGHUP.
    posix::UniqueFd fd(::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        error = posix::classify_port_error(errno);
        return nullptr;
    }
    const auto fail = [&](int error_number) {
        error = posix::classify_port_error(error_number);
        return nullptr;
    };
    termios settings{};
    if (::tcgetattr(fd.get(), &settings) != 0) return fail(errno);
    // The lock comes before TIOCEXCL: exclusive mode belongs to the terminal, not to our
    // descriptor, so setting it on a port another program holds and then backing out would
    // leave that program unable to open its own port again.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return fail(errno);
    // Refuses further opens by anyone without privilege; the lock above also stops programs
    // that honour locks, root included.
    if (::ioctl(fd.get(), TIOCEXCL) != 0) return fail(errno);
    error = PortError::none;
    return std::make_unique<PosixSerialPort>(Key{}, std::move(fd), device);
}

PosixSerialPort::~PosixSerialPort() {
    close();
}

bool PosixSerialPort::configure(std::uint32_t baud) {
    if (!fd_) return false;
    // Asked for once per open, and undone at close: the setting belongs to the driver and would
    // outlive us for the next program on the port. Not at open itself: the port list opens every
    // port to see whether it is free, and that need not touch their drivers.
    if (!latency_asked_) {
        latency_asked_ = true;
        serial_flags_ = posix::request_low_latency(fd_.get());
    }
    termios settings{};
    if (::tcgetattr(fd_.get(), &settings) != 0) return false;
    posix::make_unit_line(settings);
    if (!set_speed(settings, baud)) return false;
    const bool applied = apply_settings(fd_.get(), settings);
    // A pseudo-terminal has no modem lines and refuses this; the line is still usable.
    (void)set_dtr_rts(true);
    return applied;
}

bool PosixSerialPort::set_baud_rate(std::uint32_t baud) {
    if (!fd_) return false;
    termios settings{};
    if (::tcgetattr(fd_.get(), &settings) != 0) return false;
    if (!set_speed(settings, baud)) return false;
    // TCSANOW, not TCSADRAIN: waiting for output to drain can block without limit on a line
    // that is held (or on a pseudo-terminal nobody reads), and the hunt leaves 300 ms between a
    // probe and the next speed change.
    return apply_settings(fd_.get(), settings);
}

ReadResult PosixSerialPort::read(std::span<std::uint8_t> buffer) {
    if (lost_) return {IoStatus::lost, 0};
    if (!fd_) return {IoStatus::failed, 0};
    if (buffer.empty()) return {};
    const auto deadline = Clock::now() + FIRST_BYTE_TIMEOUT;
    for (;;) {
        const int events = wait_for(fd_.get(), POLLIN, deadline);
        if (events == 0) return {};  // nothing within 50 ms
        if (events < 0) return {IoStatus::failed, 0};
        // A hang-up with bytes still queued hands the bytes out first; the next read finds the
        // line empty and gone.
        if ((events & POLLIN) == 0 && posix::classify_poll_events(events) == IoStatus::lost)
            return lose();
        const ssize_t count = ::read(fd_.get(), buffer.data(), buffer.size());
        if (count > 0) return {IoStatus::ok, static_cast<std::size_t>(count)};
        // End of file: a terminal reads 0 only once it has hung up.
        if (count == 0) return lose();
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (posix::classify_poll_events(events) == IoStatus::lost) return lose();
            // Readable a moment ago, empty now (someone else read it). Keep waiting only while
            // the time-out allows, so a descriptor that keeps saying so cannot hold us here.
            if (Clock::now() >= deadline) return {};
            continue;
        }
        if (posix::classify_io_error(errno) == IoStatus::lost) return lose();
        return {IoStatus::failed, 0};
    }
}

IoStatus PosixSerialPort::write(std::span<const std::uint8_t> bytes) {
    if (lost_) return IoStatus::lost;
    if (!fd_) return IoStatus::failed;
    const auto deadline = Clock::now() + write_time_constant_ +
                          write_time_per_byte_ * static_cast<std::int64_t>(bytes.size());
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t count = ::write(fd_.get(), bytes.data() + sent, bytes.size() - sent);
        if (count > 0) {
            sent += static_cast<std::size_t>(count);
            continue;
        }
        if (count < 0 && errno == EINTR) continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The driver's buffer is full: wait for room, but not past the limit, or a line
            // whose output is held would freeze the program.
            if (Clock::now() >= deadline) return IoStatus::failed;
            const int events = wait_for(fd_.get(), POLLOUT, deadline);
            if (events < 0) return IoStatus::failed;
            if ((events & POLLOUT) == 0 && posix::classify_poll_events(events) == IoStatus::lost)
                return lose().status;
            continue;
        }
        if (count < 0 && posix::classify_io_error(errno) == IoStatus::lost) return lose().status;
        return IoStatus::failed;
    }
    return IoStatus::ok;
}

ReadResult PosixSerialPort::lose() {
    // The device is gone: no request reaches it any more, not even the ones close() makes, and
    // the descriptor goes at once.
    lost_ = true;
    serial_flags_.reset();
    fd_.reset();
    return {IoStatus::lost, 0};
}

std::optional<ModemLines> PosixSerialPort::modem_lines() {
    if (!fd_) return std::nullopt;
    int status = 0;
    // Fails with ENOTTY on a pseudo-terminal, which has no modem lines to report.
    if (::ioctl(fd_.get(), TIOCMGET, &status) != 0) return std::nullopt;
    return ModemLines{(status & TIOCM_CTS) != 0, (status & TIOCM_DSR) != 0};
}

bool PosixSerialPort::set_dtr_rts(bool on) {
    if (!fd_) return false;
    int lines = TIOCM_DTR | TIOCM_RTS;
    return ::ioctl(fd_.get(), on ? TIOCMBIS : TIOCMBIC, &lines) == 0;
}

void PosixSerialPort::close() {
    if (!fd_) return;
    // Exclusive mode is a flag of the terminal and can outlive our descriptor: a
    // pseudo-terminal's slave keeps it while the master stays open, and the next open by an
    // unprivileged user then fails with EBUSY. The port dialog opens and closes each port before
    // the chosen one is opened again, so the flag is cleared here. Both calls fail harmlessly on
    // a line that has hung up.
    if (serial_flags_) posix::restore_serial_flags(fd_.get(), *serial_flags_);
    serial_flags_.reset();
    (void)::ioctl(fd_.get(), TIOCNXCL);
    (void)::flock(fd_.get(), LOCK_UN);
    fd_.reset();
}

OpenResult PosixPortProvider::open(const std::string& device) {
    OpenResult result;
    result.port = PosixSerialPort::open(device, result.error);
    return result;
}

}  // namespace vrk::platform
