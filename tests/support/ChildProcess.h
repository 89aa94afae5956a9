#pragma once

#include <sys/types.h>

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

} // namespace kestro::testing
