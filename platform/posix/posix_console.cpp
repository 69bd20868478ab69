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
std::atomic<int> interrupts_seen{0};
// How many interrupts only count; the handler gives the next one back to the system.
std::atomic<int> interrupts_counted{1};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void on_interrupt(int signal_number) {
    if (interrupts_seen.fetch_add(1) + 1 < interrupts_counted.load()) return;
    // The next one ends the program, as it would without us (sigaction is async-signal-safe).
    struct sigaction system_default {};
    system_default.sa_handler = SIG_DFL;
    sigemptyset(&system_default.sa_mask);
    ::sigaction(signal_number, &system_default, nullptr);
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
    // The handler gives itself back after the last interrupt that only counts (the first, or
    // with count_second_interrupt() the second): the next ends the program.
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

bool PosixConsole::interrupted() {
    return interrupts_seen.load() > 0;
}

void PosixConsole::count_second_interrupt() {
    interrupts_counted.store(2);
}

int PosixConsole::interrupts() {
    return interrupts_seen.load();
}

}  // namespace vrk::platform
