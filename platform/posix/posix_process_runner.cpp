// Starting a program on POSIX: posix_spawnp into a process group of its own, its standard input
// and error output on pipes, and one poll() over those, the program's end and a wake-up pipe
// for abandon(), so the wait sleeps until something happens. The program's end is a pidfd
// where the kernel has one (Linux 5.3 on); elsewhere the wait looks with waitpid() every
// 20 ms, still sleeping in poll() between looks.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>

#include "platform/posix/unique_fd.h"
#include "platform/process_runner.h"

extern char** environ;

namespace vrk::platform {

namespace {

using Clock = std::chrono::steady_clock;
using posix::UniqueFd;

constexpr int CHILD_LOOK_MS = 20;  // without a pidfd: how often waitpid() looks

struct Pipe {
    UniqueFd read, write;
};

// A descriptor above the three standard ones: a program started with one of them closed would
// otherwise get a pipe there, which the moves onto 0, 1 and 2 in the child would clobber.
UniqueFd above_standard(int fd) {
    if (fd > STDERR_FILENO) return UniqueFd(fd);
    UniqueFd low(fd);
    return UniqueFd(::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
}

std::optional<Pipe> make_pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
    Pipe pipe{above_standard(fds[0]), above_standard(fds[1])};
    if (!pipe.read || !pipe.write) return std::nullopt;
    return pipe;
}

void set_non_blocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

std::string spawn_error_text(int error_number) {
    switch (error_number) {
        case ENOENT:
            return "no such program";
        case EACCES:
        case EPERM:
            return "permission denied";
        case ENOEXEC:
            return "not a program this system can run";
        default:
            return std::strerror(error_number);
    }
}

int open_process_fd(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

// Our environment with the request's variables set over it.
std::vector<std::string> environment_of(const ProcessRequest& request) {
    std::vector<std::string> result;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const std::string_view name = text.substr(0, text.find('='));
        bool replaced = false;
        for (const auto& [set_name, value] : request.environment) replaced |= name == set_name;
        if (!replaced) result.emplace_back(text);
    }
    for (const auto& [name, value] : request.environment) result.push_back(name + "=" + value);
    return result;
}

std::vector<char*> pointers_to(std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (std::string& text : texts) result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

// A write to a pipe whose reader has gone raises SIGPIPE, which would end the whole program.
// The signal is sent to the writing thread: held back on this thread for the write, and taken
// off again if it came, the write then just fails with EPIPE.
ssize_t write_without_sigpipe(int fd, const char* data, std::size_t size) {
    sigset_t pipe_only, before;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipe_only, &before);
    const ssize_t written = ::write(fd, data, size);
    const int error_number = errno;
    if (written < 0 && error_number == EPIPE) {
        const timespec no_wait{0, 0};
        while (::sigtimedwait(&pipe_only, nullptr, &no_wait) == SIGPIPE) {
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    errno = error_number;
    return written;
}

class PosixProcessRunner final : public ProcessRunner {
  public:
    PosixProcessRunner() {
        if (auto wake = make_pipe()) {
            wake_read_ = std::move(wake->read);
            wake_write_ = std::move(wake->write);
            set_non_blocking(wake_write_.get());
        }
    }

    ProcessOutcome run(const ProcessRequest& request) override;

    void abandon() override {
        abandoned_.store(true);
        const char byte = 1;
        // One byte wakes a waiting run(); it stays in the pipe, so every later wait wakes too.
        if (wake_write_) (void)!::write(wake_write_.get(), &byte, 1);
    }

  private:
    std::atomic<bool> abandoned_{false};
    UniqueFd wake_read_, wake_write_;
};

ProcessOutcome not_started(std::string reason) {
    ProcessOutcome outcome;
    outcome.end = ProcessEnd::not_started;
    outcome.reason = std::move(reason);
    return outcome;
}

ProcessOutcome PosixProcessRunner::run(const ProcessRequest& request) {
    ProcessOutcome outcome;
    if (abandoned_.load()) {
        outcome.end = ProcessEnd::abandoned;
        return outcome;
    }
    if (request.words.empty()) return not_started("no program named");
    if (!wake_read_) return not_started("the system has no pipe left for it");
    auto input = make_pipe();
    auto errors = make_pipe();
    if (!input || !errors) return not_started("the system has no pipe left for it");

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_adddup2(&actions, input->read.get(), STDIN_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, errors->write.get(), STDERR_FILENO);
    // A group of its own: the time limit ends everything the program started, and the
    // terminal's Ctrl+C, meant for us, does not reach it.
    posix_spawnattr_setpgroup(&attributes, 0);
    // Signals we ignore or block would stay so in the program; it gets the system's defaults.
    sigset_t defaults, none;
    sigemptyset(&defaults);
    for (const int s : {SIGPIPE, SIGINT, SIGTERM, SIGQUIT, SIGHUP, SIGCHLD})
        sigaddset(&defaults, s);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<std::string> words = request.words;
    std::vector<std::string> environment = environment_of(request);
    std::vector<char*> argv = pointers_to(words);
    std::vector<char*> envp = pointers_to(environment);
    pid_t pid = -1;
    const int spawned =
        ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) return not_started(spawn_error_text(spawned));

    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(request.time_limit_ms);
    input->read.reset();
    errors->write.reset();
    UniqueFd to_program = std::move(input->write);
    UniqueFd from_program = std::move(errors->read);
    set_non_blocking(to_program.get());
    set_non_blocking(from_program.get());
    if (request.input.empty()) to_program.reset();
    const UniqueFd process(open_process_fd(pid));
    std::size_t sent = 0;
    ErrorLineCollector error_line;
    std::array<char, 4096> buffer{};
    const auto read_errors = [&] {
        for (;;) {
            const ssize_t got = ::read(from_program.get(), buffer.data(), buffer.size());
            if (got > 0) {
                error_line.take(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
                continue;
            }
            if (got == 0 || (errno != EINTR)) {
                // At the end (0) the pipe closes; EAGAIN leaves it for the next poll.
                if (got == 0) from_program.reset();
                return;
            }
        }
    };
    const auto ended_by_itself = [&](int status) {
        // What it wrote before it ended is in the pipe; a child it left running may hold the
        // pipe open, so this reads what is there and does not wait for the pipe's end.
        if (from_program) read_errors();
        if (WIFEXITED(status)) {
            outcome.end = ProcessEnd::exited;
            outcome.exit_status = WEXITSTATUS(status);
        } else {
            outcome.end = ProcessEnd::signalled;
            outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        }
    };
    const auto end_group = [&](ProcessEnd end) {
        ::kill(-pid, SIGKILL);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        outcome.end = end;
    };

    for (;;) {
        int status = 0;
        const pid_t ended = process ? 0 : ::waitpid(pid, &status, WNOHANG);
        if (ended == pid) {
            ended_by_itself(status);
            break;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            end_group(ProcessEnd::timed_out);
            break;
        }
        std::array<pollfd, 4> fds{};
        std::size_t count = 0;
        const auto watch = [&](const UniqueFd& fd, short events) -> pollfd* {
            if (!fd) return nullptr;
            fds[count] = {fd.get(), events, 0};
            return &fds[count++];
        };
        const pollfd* wake = watch(wake_read_, POLLIN);
        const pollfd* child = watch(process, POLLIN);
        const pollfd* err = watch(from_program, POLLIN);
        const pollfd* in = watch(to_program, POLLOUT);
        int timeout = static_cast<int>(std::min<long long>(left.count(), 60'000));
        if (!process) timeout = std::min(timeout, CHILD_LOOK_MS);
        if (::poll(fds.data(), count, timeout) < 0) {
            if (errno == EINTR) continue;
            end_group(ProcessEnd::abandoned);
            break;
        }
        if (wake->revents != 0) {
            end_group(ProcessEnd::abandoned);
            break;
        }
        if (err != nullptr && err->revents != 0) read_errors();
        if (in != nullptr && in->revents != 0) {
            const ssize_t written = write_without_sigpipe(
                to_program.get(), request.input.data() + sent, request.input.size() - sent);
            if (written > 0) sent += static_cast<std::size_t>(written);
            // All of it given, or the program will not read it (it closed its input): the pipe
            // closes, and the program sees the end of its input.
            if (sent == request.input.size() || (written < 0 && errno != EAGAIN && errno != EINTR))
                to_program.reset();
        }
        if (child != nullptr && child->revents != 0) {
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            ended_by_itself(status);
            break;
        }
    }
    outcome.error_line = error_line.line();
    return outcome;
}

}  // namespace

std::unique_ptr<ProcessRunner> make_process_runner() {
    return std::make_unique<PosixProcessRunner>();
}

}  // namespace vrk::platform
