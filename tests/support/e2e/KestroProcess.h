#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kestro::testing::e2e {

// Kestro as a process of the test: the real program's wiring (Kestro/Application) started by the
// test launcher with the model service's address pointed at the test's stand-in. It inherits the
// test's environment (display, session bus, data folders). Its system-log lines are written to
// <folder>/kestro.log, its standard error to <folder>/kestro.err. Killed when destroyed, unless it
// has ended.
class KestroProcess {
public:
    // `arguments` go to the launcher after the model service's address.
    KestroProcess(const std::filesystem::path& folder, const std::string& modelEndpoint,
                  const std::vector<std::string>& arguments = {});
    ~KestroProcess();
    KestroProcess(const KestroProcess&) = delete;
    KestroProcess& operator=(const KestroProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool running();
    // The exit status once it has ended within the time (128 + signal when killed).
    std::optional<int> wait(double seconds);

    // The system-log lines so far, in order.
    std::vector<std::string> log() const;
    // The first line from index `from` on that starts with `prefix`, once written.
    std::optional<std::string> waitForLog(const std::string& prefix, double seconds,
                                          std::size_t from = 0) const;
    std::string errors() const;
    // One line per thread while it runs: id, name, scheduler state and the kernel function it
    // sleeps in, to tell where a start that never came is stuck.
    std::string threads() const;
    // Waits until Kestro has handled the input it was given, as a person who waits for what
    // they typed to show: its main thread seen waiting in its event loop at every look over a
    // tenth of a second. True at once where that cannot be read.
    bool caughtUp(double seconds) const;
    const std::filesystem::path& logFile() const { return logFile_; }

    // The test launcher, and the shipped program itself.
    static std::string launcherPath();
    static std::string programPath();

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
    std::filesystem::path logFile_;
    std::filesystem::path errFile_;
};

// A program run to its end: exit status (or -1 when it did not end in time) and standard output.
struct Finished {
    int status = -1;
    std::string out;
};
Finished runToEnd(const std::vector<std::string>& argv, double seconds = 60);

} // namespace kestro::testing::e2e
