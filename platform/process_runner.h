// Starting another program and waiting for it, with a time limit: what the station needs to
// call out to a label printer or the factory's systems once a unit is done. platform/posix/
// and platform/win32/ implement it; make_process_runner() gives this system's.
//
// The program runs with its own process group (POSIX) or job object (Windows), so that what
// it starts in turn ends with it when its time is up: a shell script's `curl` must not outlive
// the script it was started from. Its standard input is a pipe carrying `input`, then closed;
// its standard output goes nowhere (it would mix with our own output and the board); its error
// output is read as it comes and only the first line is kept.
//
// Threads: one runner runs one program at a time, on the thread that calls run(). abandon()
// may be called from any other thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vrk::platform {

struct ProcessRequest {
    std::vector<std::string> words;  // the program (looked up on PATH when it has no '/') first
    std::string input;               // its standard input, whole
    // Set in its environment, on top of (and replacing) ours.
    std::vector<std::pair<std::string, std::string>> environment;
    std::uint32_t time_limit_ms = 30'000;
};

enum class ProcessEnd {
    exited,       // it ended by itself: `exit_status` holds its code
    signalled,    // a signal ended it (a crash, or someone else's kill): `signal` holds which
    timed_out,    // still running when the time limit passed: its whole group was ended
    not_started,  // it could not be started: `reason` says why
    abandoned,    // abandon() ended it, or came before it started
};

struct ProcessOutcome {
    ProcessEnd end = ProcessEnd::not_started;
    int exit_status = 0;
    int signal = 0;
    std::string reason;      // for not_started: "no such program", "permission denied", ...
    std::string error_line;  // the first line of its error output, without the line break
};

// The first line of error output kept is cut at this many bytes: it is a record's field and a
// board's note, not a log.
inline constexpr std::size_t PROCESS_ERROR_LINE_MAX = 200;

class ProcessRunner {
  public:
    virtual ~ProcessRunner() = default;
    // Starts the program and waits for its end, or for the time limit (the program and what it
    // started are then ended), or for abandon(). Never throws.
    [[nodiscard]] virtual ProcessOutcome run(const ProcessRequest& request) = 0;
    // Ends the program running now, at once, with everything it started; every later run()
    // returns `abandoned` without starting anything. For a person who will not wait.
    virtual void abandon() = 0;
};

[[nodiscard]] std::unique_ptr<ProcessRunner> make_process_runner();

// Keeps the first line of a program's error output as it arrives in pieces, for both systems'
// runners: up to the first line break (a "\r" before it dropped) or PROCESS_ERROR_LINE_MAX
// bytes, cut back to a whole UTF-8 character; control characters become blanks, since the
// line is drawn on a terminal's board and stored in a record. What follows is ignored.
class ErrorLineCollector {
  public:
    void take(std::string_view bytes);
    [[nodiscard]] std::string line() const;

  private:
    std::string line_;
    bool complete_ = false;
};

}  // namespace vrk::platform
