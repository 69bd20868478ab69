// The terminal on a POSIX system. The interrupt arrives as a signal, and a signal handler can
// reach nothing but a static flag: the one piece of process-wide state in the program, written
// only by the handler.
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

#include "platform/posix/posix_platform.h"

namespace vrk::platform {
namespace {

// Read by the session threads too: a lock-free atomic is both signal-safe and thread-safe.
std::atomic<bool> interrupt_seen{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void on_interrupt(int) {
    interrupt_seen.store(true);
}

int descriptor(StandardStream stream) {
    return stream == StandardStream::output ? STDOUT_FILENO : STDERR_FILENO;
}

}  // namespace

bool PosixConsole::is_terminal(StandardStream stream) {
    return ::isatty(descriptor(stream)) == 1;
}

std::optional<int> PosixConsole::columns(StandardStream stream) {
    winsize size{};
    if (::ioctl(descriptor(stream), TIOCGWINSZ, &size) != 0 || size.ws_col == 0)
        return std::nullopt;
    return static_cast<int>(size.ws_col);
}

void PosixConsole::watch_interrupt() {
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    // The handler is taken back after the first signal: the second ends the program.
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

bool PosixConsole::interrupted() {
    return interrupt_seen.load();
}

}  // namespace vrk::platform
