// The echo of the pseudo-terminals a terminal application holds, read as the recorder reads it.

#include "platform/linux/TerminalEcho.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

using namespace kestro::platform::linux_x11;

namespace {

// One pseudo-terminal of this process: its master as a terminal application holds it, and its
// device as the job in it has it.
struct Pty {
    int master = -1;
    int device = -1;
    int index = -1;

    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
            return;
        }
        device = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
        struct stat st {};
        if (device >= 0 && fstat(device, &st) == 0) {
            index = static_cast<int>((major(st.st_rdev) - 136) * 256 + minor(st.st_rdev));
        }
    }
    ~Pty() {
        close(device);
        close(master);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    // As a password prompt does, on the job's side.
    void setEcho(bool on) const {
        termios modes{};
        ASSERT_EQ(tcgetattr(device, &modes), 0);
        modes.c_lflag = on ? (modes.c_lflag | ECHO) : (modes.c_lflag & ~tcflag_t(ECHO));
        ASSERT_EQ(tcsetattr(device, TCSANOW, &modes), 0);
    }
};

bool holds(const std::vector<int>& terminals, int index) {
    return std::find(terminals.begin(), terminals.end(), index) != terminals.end();
}

} // namespace

TEST(TerminalEcho, EveryPseudoTerminalTheProcessHoldsMustEcho) {
    const auto before = masteredTerminals(getpid());
    ASSERT_TRUE(before);
    Pty first, second;
    ASSERT_GE(first.index, 0);
    ASSERT_GE(second.index, 0);
    const auto held = masteredTerminals(getpid());
    ASSERT_TRUE(held);
    EXPECT_EQ(held->size(), before->size() + 2);
    EXPECT_TRUE(holds(*held, first.index));
    EXPECT_TRUE(holds(*held, second.index));

    struct Case {
        bool firstEchoes, secondEchoes, expected;
    } cases[] = {{true, true, true}, {false, true, false}, {true, false, false}};
    for (const Case& c : cases) {
        first.setEcho(c.firstEchoes);
        second.setEcho(c.secondEchoes);
        EXPECT_EQ(allEcho({first.index, second.index}), c.expected)
            << c.firstEchoes << " " << c.secondEchoes;
    }
    first.setEcho(true);
    EXPECT_TRUE(allEcho({first.index}));
}

// Read on the main thread for every key typed into a terminal: with as many descriptors as a big
// application holds, it stays far below a frame.
TEST(TerminalEcho, AReadingIsCheapWithManyDescriptors) {
    std::vector<int> extra;
    for (int i = 0; i < 500; ++i) {
        extra.push_back(open("/dev/null", O_RDONLY | O_CLOEXEC));
    }
    Pty pty;
    const auto start = std::chrono::steady_clock::now();
    constexpr int reads = 20;
    for (int i = 0; i < reads; ++i) {
        const auto held = masteredTerminals(getpid());
        ASSERT_TRUE(held);
        EXPECT_TRUE(allEcho(*held));
    }
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count() /
        reads;
    std::printf("[ figure ] echo of a process's terminals, 500 descriptors: %.3f ms\n", ms);
    EXPECT_LT(ms, 16);
    for (int fd : extra) {
        close(fd);
    }
}

TEST(TerminalEcho, WhatCannotBeReadIsNoEcho) {
    // A device number no pseudo-terminal has.
    EXPECT_FALSE(allEcho({(1 << 20) - 1}));
    // A process that is not there, or no process.
    EXPECT_FALSE(masteredTerminals(0));
    EXPECT_FALSE(masteredTerminals(1 << 30));
}
