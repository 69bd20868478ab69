// The interrupt key on POSIX, in a child process of the test's own: the handler and its count
// belong to the whole process, and the last interrupt ends it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/posix/posix_platform.h"

namespace vrk::platform {
namespace {

TEST(PosixConsole, InterruptsCountUntilTheOneThatEndsTheProgram) {
    struct Case {
        bool second_counted;
        int interrupts;
        bool survives;
    };
    const Case cases[] = {
        {false, 1, true},
        {false, 2, false},  // a person whose program hangs can still end it
        {true, 2, true},    // the second gives up on the hooks instead
        {true, 3, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.interrupts) + (c.second_counted ? " counted" : ""));
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            PosixConsole console;
            console.watch_interrupt();
            if (c.second_counted) console.count_second_interrupt();
            for (int i = 0; i < c.interrupts; ++i) ::raise(SIGINT);
            ::_exit(console.interrupts() == c.interrupts && console.interrupted() ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        if (c.survives) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        } else {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
        }
    }
}

}  // namespace
}  // namespace vrk::platform
