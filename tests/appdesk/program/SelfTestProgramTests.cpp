// The program's "--selftest" switch, decided before anything of the desktop is touched.

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDataDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the program with `argument` and no display at all, and collects what it writes.
Outcome runWithoutDisplay(const std::string& argument) {
    int out[2], err[2];
    EXPECT_EQ(::pipe(out), 0);
    EXPECT_EQ(::pipe(err), 0);
    const pid_t pid = kestro::testing::spawnChild(
        {KESTRO_PROGRAM_PATH, argument},
        {.in = kestro::testing::ChildOptions::inherit,
         .out = out[1],
         .err = err[1],
         .unsetEnvironment = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}});
    EXPECT_GT(pid, 0);
    ::close(out[1]);
    ::close(err[1]);
    Outcome outcome;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&outcome.out, &outcome.err};
    int open = 2;
    while (open > 0 && ::poll(fds, 2, 60000) > 0) {
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP))) {
                char buffer[4096];
                const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
                if (n <= 0) {
                    ::close(fds[i].fd);
                    fds[i].fd = -1;
                    --open;
                } else {
                    sinks[i]->append(buffer, static_cast<std::size_t>(n));
                }
            }
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

std::string golden() {
    std::ifstream in(std::string(KESTRO_TEST_DATA_DIR) + "/selftest-report.txt", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

TEST(SelfTestProgram, RunsWithoutADisplayAndOnlyForTheExactWord) {
    kestro::testing::TempDataDir data;
    const Outcome selfTest = runWithoutDisplay("--selftest");
    EXPECT_EQ(selfTest.status, 0) << selfTest.err;
    EXPECT_EQ(selfTest.out, golden());

    // Anything else starts the application, which needs a display and says so.
    for (const char* argument : {"--SELFTEST", "--selftest=1", "-selftest"}) {
        SCOPED_TRACE(argument);
        const Outcome app = runWithoutDisplay(argument);
        EXPECT_EQ(app.status, 1);
        EXPECT_EQ(app.out, "");
        EXPECT_NE(app.err.find("DISPLAY is not set"), std::string::npos) << app.err;
    }
}
