// The echo of the pseudo-terminals a terminal application holds, or a helper process of it,
// read as the recorder reads it.

#include "platform/linux/TerminalEcho.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <optional>
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

// Echo on says nothing while the program has not read the line typed before: it may turn echo
// off once it has. What the terminal wrote into the device a moment ago counts at once.
TEST(TerminalEcho, ALineTheProgramHasNotReadYetIsNoEcho) {
    Pty pty;
    ASSERT_GE(pty.index, 0);
    ASSERT_TRUE(allEcho({pty.index}));
    ASSERT_EQ(write(pty.master, "ab", 2), 2);
    EXPECT_TRUE(allEcho({pty.index})) << "half a line is not yet anything to read";
    ASSERT_EQ(write(pty.master, "c\r", 2), 2);
    EXPECT_FALSE(allEcho({pty.index}));
    char line[16];
    ASSERT_EQ(read(pty.device, line, sizeof line), 4);
    EXPECT_TRUE(allEcho({pty.index}));
}

// Read on the main thread for every key typed into a terminal: with as many descriptors as a big
// application holds, it stays far below a frame.
TEST(TerminalEcho, AReadingIsCheapWithManyDescriptors) {
    std::vector<int> extra;
    for (int i = 0; i < 500; ++i) {
        extra.push_back(open("/dev/null", O_RDONLY | O_CLOEXEC));
    }
    Pty pty;
    // The best of several readings in this thread's own CPU time: what a reading costs, not how
    // long a busy machine kept the thread waiting for a core.
    const auto cpuMs = [] {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
    };
    double ms = 1e9;
    for (int i = 0; i < 20; ++i) {
        const double start = cpuMs();
        const auto held = masteredTerminals(getpid());
        ASSERT_TRUE(held);
        EXPECT_TRUE(allEcho(*held));
        ms = std::min(ms, cpuMs() - start);
    }
    std::printf("[ figure ] echo of a process's terminals, 500 descriptors: %.3f ms\n", ms);
    // Half a frame: four times what a reading costs even with sanitizers, so ten times fails.
    EXPECT_LT(ms, 8);
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

namespace {

// Both ways of finding a process's descendants, for every case: where the kernel keeps lists
// of children, and where it does not.
constexpr DescendantSearch searches[] = {DescendantSearch::childLists,
                                         DescendantSearch::everyParent};
const char* name(DescendantSearch search) {
    return search == DescendantSearch::childLists ? "children lists" : "every parent";
}

// What the recorder makes of a reading for an element that is no terminal by its role.
std::string echoOfTree(int processID, DescendantSearch search,
                       std::size_t bound = maxTreeProcesses) {
    const auto terminals = treeTerminals(processID, bound, search);
    if (!terminals) {
        return "silent: unread";
    }
    if (terminals->empty()) {
        return "no terminal";
    }
    return allEcho(*terminals) ? "echoes" : "silent";
}

// Processes of the test standing for an application and its helpers: a root with `children`
// children, each with `grandchildren` children; the last of the deepest holds a pseudo-terminal
// (when `pty`) with the echo given, and may refuse to be read (not dumpable, as sandboxed
// helpers and privileged ones are to us). They wait until the tree is destroyed.
class ProcessTree {
public:
    struct Shape {
        int children = 1;
        int grandchildren = 1;
        bool pty = true;
        bool echo = false;
        bool unreadable = false;
    };

    explicit ProcessTree(const Shape& shape) {
        if (pipe2(ready_, O_CLOEXEC) != 0 || pipe2(hold_, O_CLOEXEC) != 0) {
            return;
        }
        root_ = fork();
        if (root_ == 0) {
            close(ready_[0]);
            close(hold_[1]);
            for (int c = 0; c < shape.children; ++c) {
                if (fork() != 0) {
                    continue;
                }
                for (int g = 0; g < shape.grandchildren; ++g) {
                    if (fork() != 0) {
                        continue;
                    }
                    const bool last = c == shape.children - 1 && g == shape.grandchildren - 1;
                    if (last) {
                        holdPty(shape);
                    }
                    report(last ? index_ : -1);
                    wait();
                }
                const bool last = c == shape.children - 1 && shape.grandchildren == 0;
                if (last) {
                    holdPty(shape);
                }
                report(last ? index_ : -1);
                wait();
            }
            report(-1);
            wait();
        }
        close(ready_[1]);
        close(hold_[0]);
        ready_[1] = hold_[0] = -1;
        // One line each, once it is set up.
        const int processes = 1 + shape.children * (1 + shape.grandchildren);
        for (int i = 0; i < processes; ++i) {
            int index = -1;
            if (read(ready_[0], &index, sizeof index) != sizeof index) {
                return;
            }
            if (index >= 0) {
                index_ = index;
            }
        }
        ok_ = true;
    }
    ~ProcessTree() {
        close(hold_[1]);
        close(ready_[0]);
        if (root_ > 0) {
            waitpid(root_, nullptr, 0);
        }
    }
    ProcessTree(const ProcessTree&) = delete;
    ProcessTree& operator=(const ProcessTree&) = delete;

    bool ok() const { return ok_; }
    pid_t root() const { return root_; }
    // The /dev/pts number of the pseudo-terminal held, once set up.
    int index() const { return index_; }

private:
    void holdPty(const Shape& shape) {
        if (!shape.pty) {
            return;
        }
        const int master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
            _exit(1);
        }
        const int device = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios modes{};
        struct stat st {};
        if (device < 0 || tcgetattr(device, &modes) != 0 || fstat(device, &st) != 0) {
            _exit(1);
        }
        modes.c_lflag = shape.echo ? (modes.c_lflag | ECHO) : (modes.c_lflag & ~tcflag_t(ECHO));
        tcsetattr(device, TCSANOW, &modes);
        close(device);
        index_ = static_cast<int>((major(st.st_rdev) - 136) * 256 + minor(st.st_rdev));
        if (shape.unreadable) {
            prctl(PR_SET_DUMPABLE, 0);
        }
    }
    void report(int index) {
        if (write(ready_[1], &index, sizeof index) != sizeof index) {
            _exit(1);
        }
    }
    // Until the test lets go, then after its own children.
    [[noreturn]] void wait() {
        close(ready_[1]);
        char c = 0;
        while (read(hold_[0], &c, 1) != 0) {
        }
        while (::wait(nullptr) > 0) {
        }
        _exit(0);
    }

    int ready_[2] = {-1, -1};
    int hold_[2] = {-1, -1};
    pid_t root_ = -1;
    int index_ = -1;
    bool ok_ = false;
};

// `run`'s exit code in a child process without the privilege to read other processes (as root,
// it becomes nobody). 255 when it could not start.
template <typename Run> int unprivileged(Run run) {
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
                               setresuid(65534, 65534, 65534) != 0)) {
            _exit(255);
        }
        // A change of user leaves the process closed to itself and its children.
        prctl(PR_SET_DUMPABLE, 1);
        _exit(run());
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return 255;
    }
    return WEXITSTATUS(status);
}

} // namespace

// An editor's terminal pane is held by a helper it started, or one that helper started.
TEST(TerminalEcho, APseudoTerminalOfADescendantCountsForTheApplication) {
    struct Case {
        const char* what;
        ProcessTree::Shape shape;
        std::string expected;
    } cases[] = {
        {"a grandchild at a password prompt", {.echo = false}, "silent"},
        {"a grandchild at a prompt that echoes", {.echo = true}, "echoes"},
        {"a child at a password prompt", {.grandchildren = 0, .echo = false}, "silent"},
        {"helpers without a pseudo-terminal", {.children = 3, .pty = false}, "no terminal"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ProcessTree tree(c.shape);
        ASSERT_TRUE(tree.ok());
        for (DescendantSearch search : searches) {
            SCOPED_TRACE(name(search));
            EXPECT_EQ(echoOfTree(tree.root(), search), c.expected);
            if (c.shape.pty) {
                const auto held = treeTerminals(tree.root(), maxTreeProcesses, search);
                ASSERT_TRUE(held);
                EXPECT_EQ(*held, std::vector<int>{tree.index()});
            }
        }
    }
}

// Fail closed: what a process we cannot read holds, or one past the bound, is not known.
TEST(TerminalEcho, ADescendantThatCannotBeReadOrLiesPastTheBoundIsSilent) {
    {
        const ProcessTree tree({.children = 2, .grandchildren = 1, .echo = true});
        ASSERT_TRUE(tree.ok());
        for (DescendantSearch search : searches) {
            SCOPED_TRACE(name(search));
            // Five processes.
            EXPECT_EQ(echoOfTree(tree.root(), search, 5), "echoes");
            EXPECT_EQ(echoOfTree(tree.root(), search, 4), "silent: unread");
            EXPECT_EQ(echoOfTree(tree.root(), search, 1), "silent: unread");
        }
    }
    // The readings by each search, as the digits of a base-4 number.
    const std::string readings[] = {"no terminal", "echoes", "silent", "silent: unread"};
    struct Case {
        const char* what;
        bool unreadable;
        int expected;
    } cases[] = {{"every helper can be read", false, 1 + 4 * 1},
                 {"one helper cannot be read", true, 3 + 4 * 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const int code = unprivileged([&] {
            const ProcessTree tree({.echo = true, .unreadable = c.unreadable});
            if (!tree.ok()) {
                return 254;
            }
            int read = 0;
            for (std::size_t i = 0; i < std::size(searches); ++i) {
                const std::string reading = echoOfTree(tree.root(), searches[i]);
                const auto at = std::find(std::begin(readings), std::end(readings), reading);
                read += static_cast<int>(at - std::begin(readings)) << (2 * i);
            }
            return read;
        });
        EXPECT_EQ(code, c.expected);
    }
}

// Read on the main thread for every key: alone, and with the largest tree the bound lets
// through. Even on a machine busy with builds, a tenth of a second.
TEST(TerminalEcho, AReadingOfAProcessTreeIsCheap) {
    for (bool alone : {true, false}) {
        std::optional<ProcessTree> tree;
        if (!alone) {
            tree.emplace(ProcessTree::Shape{.children = 17, .grandchildren = 14, .echo = true});
            ASSERT_TRUE(tree->ok());
        }
        std::size_t running = 0;
        for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
            running += entry.path().filename().string().find_first_not_of("0123456789") ==
                       std::string::npos;
        }
        const pid_t root = alone ? getpid() : tree->root();
        for (DescendantSearch search : searches) {
            const auto start = std::chrono::steady_clock::now();
            constexpr int reads = 20;
            for (int i = 0; i < reads; ++i) {
                EXPECT_EQ(echoOfTree(root, search), alone ? "no terminal" : "echoes");
            }
            const double ms =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count() /
                reads;
            std::printf("[ figure ] echo of a tree of %d processes by %s, %zu running: %.3f ms\n",
                        alone ? 1 : 256, name(search), running, ms);
            EXPECT_LT(ms, 100);
        }
    }
}
