#include "tests/support/subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace vrk::test {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

Subprocess::Subprocess(const std::string& program, const std::vector<std::string>& arguments) {
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
    std::vector<std::string> args = {program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
}

Subprocess::~Subprocess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
    if (err_ >= 0) ::close(err_);
}

bool Subprocess::pump(std::chrono::milliseconds limit) {
    std::array<pollfd, 2> fds = {pollfd{out_, POLLIN, 0}, pollfd{err_, POLLIN, 0}};
    if (out_ < 0 && err_ < 0) return false;
    if (::poll(fds.data(), fds.size(), static_cast<int>(limit.count())) < 0) return errno == EINTR;
    std::array<char, 4096> buffer{};
    for (auto& fd : fds) {
        if (fd.fd < 0 || fd.revents == 0) continue;
        const ssize_t n = ::read(fd.fd, buffer.data(), buffer.size());
        if (n <= 0) {
            ::close(fd.fd);
            (fd.fd == out_ ? out_ : err_) = -1;
            continue;
        }
        if (fd.fd == err_) {
            errors_.append(buffer.data(), static_cast<std::size_t>(n));
            continue;
        }
        partial_.append(buffer.data(), static_cast<std::size_t>(n));
        for (auto end = partial_.find('\n'); end != std::string::npos; end = partial_.find('\n')) {
            lines_.push_back(partial_.substr(0, end));
            partial_.erase(0, end + 1);
        }
    }
    return out_ >= 0 || err_ >= 0;
}

bool Subprocess::wait_for_line(const std::function<bool(const std::string&)>& wanted,
                               std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        for (; checked_ < lines_.size(); ++checked_)
            if (wanted(lines_[checked_])) {
                ++checked_;
                return true;
            }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        if (!pump(std::min(left, std::chrono::milliseconds(100))) && checked_ == lines_.size())
            return false;
    }
}

void Subprocess::interrupt() {
    if (pid_ > 0) ::kill(pid_, SIGINT);
}

void Subprocess::kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::optional<int> Subprocess::finish(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline && pump(std::chrono::milliseconds(100))) {
    }
    if (pid_ <= 0) return std::nullopt;
    int status = 0;
    while (Clock::now() < deadline) {
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            pid_ = -1;
            if (!WIFEXITED(status)) return std::nullopt;
            return WEXITSTATUS(status);
        }
        ::usleep(10'000);
    }
    return std::nullopt;  // the destructor kills it
}

}  // namespace vrk::test
