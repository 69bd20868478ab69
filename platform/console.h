// The terminal a command-line front-end runs in: whether its output goes to a terminal (a
// progress bar and escape sequences only there), how wide that is, and the interrupt key.
// platform/posix/ implements it with the terminal calls and signals; platform/win32/ with the
// console calls and a control handler.
//
// Threads: one Console serves the whole process. is_terminal, columns and interrupted may be
// called from any thread (the first two ask the system each time; the interrupt is one atomic
// flag). watch_interrupt installs a process-wide handler: call it once, before the sessions
// start.
#pragma once

#include <optional>

namespace vrk::platform {

enum class StandardStream { output, error };

class Console {
  public:
    virtual ~Console() = default;
    // True when the stream is a terminal a person watches (not a file or a pipe).
    [[nodiscard]] virtual bool is_terminal(StandardStream stream) = 0;
    // The terminal's width in characters, or nullopt when it cannot tell.
    [[nodiscard]] virtual std::optional<int> columns(StandardStream stream) = 0;
    // From now on the interrupt key (Ctrl+C) and a polite request to stop only set the flag
    // that interrupted() reads, so the program can end cleanly. A second one ends the program
    // at once, as without this: a person whose program hangs must still be able to stop it.
    virtual void watch_interrupt() = 0;
    // Whether an interrupt came since watch_interrupt(). Callable from any thread.
    [[nodiscard]] virtual bool interrupted() = 0;
    // From now on (after watch_interrupt()) the second interrupt too only counts, and the
    // third ends the program: a run with work left after its units (the hooks still queued)
    // lets the person give up on that work with the second, and still have what was done
    // recorded. A console without it keeps ending the program at the second.
    virtual void count_second_interrupt() {}
    // How many interrupts came since watch_interrupt(). Callable from any thread.
    [[nodiscard]] virtual int interrupts() { return interrupted() ? 1 : 0; }
};

}  // namespace vrk::platform
