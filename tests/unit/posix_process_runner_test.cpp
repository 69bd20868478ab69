// Programs started by the POSIX runner: real processes, with time limits of a few hundred
// milliseconds where a program is made to hang.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/process_runner.h"

namespace vrk::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

ProcessRequest sh(const std::string& script, std::uint32_t limit_ms = 10'000) {
    ProcessRequest request;
    request.words = {"sh", "-c", script};
    request.time_limit_ms = limit_ms;
    return request;
}

// Whether the process is gone: no longer there, or a zombie left for init to reap.
bool process_gone(const std::string& pid) {
    std::ifstream stat("/proc/" + pid + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return true;
    const auto close = line.rfind(')');
    return close != std::string::npos && line.compare(close, 4, ") Z ") == 0;
}

TEST(PosixProcessRunner, HowAProgramEnds) {
    ::setenv("VRK_TEST_INHERITED", "kept", 1);
    ::setenv("VRK_TEST_REPLACED", "old", 1);
    const std::string not_executable =
        (fs::temp_directory_path() / ("vrk_not_executable_" + std::to_string(::getpid()))).string();
    std::ofstream(not_executable) << "#!/bin/sh\n";
    fs::permissions(not_executable, fs::perms::owner_read | fs::perms::owner_write);

    struct Case {
        const char* name;
        ProcessRequest request;
        ProcessEnd end;
        int status_or_signal;
        std::string error_line;
        std::string reason;
    };
    ProcessRequest with_input = sh("cat >&2");
    with_input.input = R"({"serial":1234,"result":"passed"})";
    ProcessRequest with_environment =
        sh(R"(printf '%s %s %s' "$VRK_RESULT" "$VRK_TEST_INHERITED" "$VRK_TEST_REPLACED" >&2)");
    with_environment.environment = {{"VRK_RESULT", "failed"}, {"VRK_TEST_REPLACED", "new"}};
    ProcessRequest large_input = sh("wc -c >&2");
    large_input.input.assign(300'000, 'x');  // several times what a pipe holds
    ProcessRequest unread_input = sh("exit 0");
    unread_input.input.assign(300'000, 'x');  // a program that never reads: no SIGPIPE for us
    ProcessRequest missing;
    missing.words = {"vrk-no-such-program-anywhere"};
    ProcessRequest missing_path;
    missing_path.words = {"/nonexistent/label-printer"};
    ProcessRequest denied;
    denied.words = {not_executable};
    const Case cases[] = {
        {"exit 0", sh("true"), ProcessEnd::exited, 0, "", ""},
        {"exit 3", sh("echo 'printer offline' >&2; exit 3"), ProcessEnd::exited, 3,
         "printer offline", ""},
        {"first line only", sh(R"(printf 'first\r\nsecond\n' >&2; exit 1)"), ProcessEnd::exited, 1,
         "first", ""},
        {"control characters", sh(R"(printf 'a\033[2Jb\tc' >&2)"), ProcessEnd::exited, 0,
         "a [2Jb c", ""},
        {"stdin", with_input, ProcessEnd::exited, 0, R"({"serial":1234,"result":"passed"})", ""},
        {"environment", with_environment, ProcessEnd::exited, 0, "failed kept new", ""},
        {"large input", large_input, ProcessEnd::exited, 0, "300000", ""},
        {"unread input", unread_input, ProcessEnd::exited, 0, "", ""},
        {"signal", sh("echo dying >&2; kill -TERM $$"), ProcessEnd::signalled, SIGTERM, "dying",
         ""},
        {"timed out", sh("echo waiting >&2; sleep 30", 300), ProcessEnd::timed_out, 0, "waiting",
         ""},
        {"output ignored", sh("echo to-stdout; yes | head -c 200000"), ProcessEnd::exited, 0, "",
         ""},
        {"not on PATH", missing, ProcessEnd::not_started, 0, "", "no such program"},
        {"no such file", missing_path, ProcessEnd::not_started, 0, "", "no such program"},
        {"not executable", denied, ProcessEnd::not_started, 0, "", "permission denied"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto runner = make_process_runner();
        const ProcessOutcome outcome = runner->run(c.request);
        EXPECT_EQ(outcome.end, c.end);
        EXPECT_EQ(outcome.end == ProcessEnd::signalled ? outcome.signal : outcome.exit_status,
                  c.status_or_signal);
        EXPECT_EQ(outcome.error_line, c.error_line);
        EXPECT_EQ(outcome.reason, c.reason);
    }
    fs::remove(not_executable);
}

// The time limit ends what the program started too; a program that ends by itself is not held
// up by a child it left running with its error output.
TEST(PosixProcessRunner, TheWholeGroupEndsAtTheTimeLimit) {
    struct Case {
        const char* script;
        ProcessEnd end;
        bool child_survives;
    };
    const Case cases[] = {
        {"sleep 30 & echo $! >&2; wait", ProcessEnd::timed_out, false},
        {"sh -c 'sleep 30' & echo $! >&2; sleep 30", ProcessEnd::timed_out, false},
        {"sleep 30 & echo $! >&2; exit 0", ProcessEnd::exited, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        const ProcessOutcome outcome = make_process_runner()->run(sh(c.script, 1'000));
        EXPECT_EQ(outcome.end, c.end);
        const std::string child = outcome.error_line;
        ASSERT_FALSE(child.empty());
        if (c.child_survives) {
            EXPECT_FALSE(process_gone(child));
            ::kill(std::stoi(child), SIGKILL);
            continue;
        }
        // SIGKILL is delivered at once but acted on by the scheduler: a generous deadline.
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!process_gone(child) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(10ms);
        EXPECT_TRUE(process_gone(child));
    }
}

TEST(PosixProcessRunner, AbandonEndsTheRunningProgramAndEveryLaterOne) {
    const auto runner = make_process_runner();
    std::thread person([&] {
        std::this_thread::sleep_for(200ms);
        runner->abandon();
    });
    // Whether abandon() comes before the program starts or while it runs, it ends abandoned.
    const ProcessOutcome running = runner->run(sh("sleep 30", 60'000));
    person.join();
    EXPECT_EQ(running.end, ProcessEnd::abandoned);
    const std::string marker =
        (fs::temp_directory_path() / ("vrk_abandoned_" + std::to_string(::getpid()))).string();
    EXPECT_EQ(runner->run(sh("touch " + marker)).end, ProcessEnd::abandoned);
    EXPECT_FALSE(fs::exists(marker));
}

}  // namespace
}  // namespace vrk::platform
