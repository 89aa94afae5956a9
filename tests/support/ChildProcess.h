#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace kestro::testing {

// Where a child's standard streams go: one of our descriptors (the child gets a copy), or one of
// the two special values; and what of our environment it goes without.
struct ChildOptions {
    static constexpr int nullDevice = -1;
    static constexpr int inherit = -2;
    int in = nullDevice;
    int out = nullDevice;
    // /dev/null unless KESTRO_TEST_CHILD_STDERR is set, which lets children speak for debugging.
    int err = nullDevice;
    // One more descriptor the child keeps at the same number; every other one is closed.
    int keep = -1;
    std::vector<std::string> unsetEnvironment;
};

// Starts argv (argv[0] looked up in PATH) as a process that cannot outlive the test: it gets
// SIGTERM as soon as the thread that started it ends, which includes this process being killed
// outright, and it leads a process group of its own that stopChild() takes down whole. Start
// children from a thread that lives as long as they should (the main thread of a test does).
// Returns the pid, or -1.
pid_t spawnChild(const std::vector<std::string>& argv, ChildOptions options = {});

// SIGTERM to the child's process group, SIGKILL after `graceSeconds`, and the child reaped.
void stopChild(pid_t pid, double graceSeconds = 2);

// The children of a process, as /proc lists them now.
std::vector<pid_t> childrenOf(pid_t parent);

// Whether the main thread of the process waits in its event loop now: blocked in poll on more
// than one descriptor (a wait for a single reply polls one). Nothing when that cannot be read.
std::optional<bool> waitsInItsLoop(pid_t pid);

// Echo on the terminal device of the shell a terminal started (its standard input), read the way
// `stty` reads it; nothing when it cannot be read.
std::optional<bool> shellEcho(pid_t terminal);

// Every processor kept busy while this lives: one shell loop per online processor, each a child
// as spawnChild() makes them.
class BusyCores {
public:
    BusyCores();
    ~BusyCores();
    BusyCores(const BusyCores&) = delete;
    BusyCores& operator=(const BusyCores&) = delete;

    std::size_t count() const { return loops_.size(); }

private:
    std::vector<pid_t> loops_;
};

} // namespace kestro::testing
