#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>
#include <thread>

extern char** environ;

namespace kestro::testing {

namespace {

// Puts `from` at `to` for the program to come; a descriptor already in place may still be marked
// close-on-exec, which dup2 would not undo.
void place(int from, int to) {
    if (from == to) {
        ::fcntl(to, F_SETFD, 0);
    } else {
        ::dup2(from, to);
    }
}

void closeAllFrom(unsigned first, unsigned last) {
    if (first > last) {
        return;
    }
    if (::close_range(first, last, 0) != 0) {
        for (unsigned fd = first; fd <= last && fd < 4096; ++fd) {
            ::close(static_cast<int>(fd));
        }
    }
}

} // namespace

pid_t spawnChild(const std::vector<std::string>& argv, ChildOptions options) {
    if (argv.empty()) {
        return -1;
    }
    // Everything the child needs is ready before fork: between fork and exec only
    // async-signal-safe calls are allowed, as other threads may hold the allocator's locks.
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    std::vector<char*> environment;
    for (char** e = environ; *e; ++e) {
        const std::string_view entry(*e);
        const bool dropped =
            std::any_of(options.unsetEnvironment.begin(), options.unsetEnvironment.end(),
                        [&](const std::string& name) {
                            return entry.size() > name.size() && entry.starts_with(name) &&
                                   entry[name.size()] == '=';
                        });
        if (!dropped) {
            environment.push_back(*e);
        }
    }
    environment.push_back(nullptr);
    if (options.err == ChildOptions::nullDevice && std::getenv("KESTRO_TEST_CHILD_STDERR")) {
        options.err = ChildOptions::inherit;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid != 0) {
        return pid;
    }
    // The kernel sends the signal when the forking thread ends, however it ends; if the parent
    // is already gone there is nobody left to send it.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) {
        ::_exit(127);
    }
    ::setpgid(0, 0);
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    const int targets[3] = {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO};
    const int sources[3] = {options.in, options.out, options.err};
    for (int i = 0; i < 3; ++i) {
        if (sources[i] != ChildOptions::inherit) {
            place(sources[i] == ChildOptions::nullDevice ? null : sources[i], targets[i]);
        }
    }
    if (options.keep > STDERR_FILENO) {
        ::fcntl(options.keep, F_SETFD, 0);
        closeAllFrom(3, static_cast<unsigned>(options.keep) - 1);
        closeAllFrom(static_cast<unsigned>(options.keep) + 1, UINT_MAX);
    } else {
        closeAllFrom(3, UINT_MAX);
    }
    ::execvpe(args[0], args.data(), environment.data());
    ::_exit(127);
}

void stopChild(pid_t pid, double graceSeconds) {
    if (pid <= 0) {
        return;
    }
    ::kill(-pid, SIGTERM);
    ::kill(pid, SIGTERM);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(graceSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
        int status;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
    int status;
    ::waitpid(pid, &status, 0);
}

BusyCores::BusyCores() {
    const long processors = sysconf(_SC_NPROCESSORS_ONLN);
    for (long i = 0; i < std::max(1L, processors); ++i) {
        const pid_t loop = spawnChild({"sh", "-c", "while :; do :; done"});
        if (loop > 0) {
            loops_.push_back(loop);
        }
    }
}

BusyCores::~BusyCores() {
    for (pid_t loop : loops_) {
        stopChild(loop, 0.5);
    }
}

std::vector<pid_t> childrenOf(pid_t parent) {
    std::vector<pid_t> out;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        const std::size_t close = line.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        std::istringstream rest(line.substr(close + 2));
        char state = 0;
        long ppid = 0;
        rest >> state >> ppid;
        if (ppid == parent) {
            out.push_back(static_cast<pid_t>(std::stol(name)));
        }
    }
    return out;
}

std::optional<bool> waitsInItsLoop(pid_t pid) {
#if !defined(__x86_64__)
    (void)pid;
    return std::nullopt; // the system call numbers below are this architecture's
#else
    const std::string task = std::to_string(pid);
    std::ifstream in("/proc/" + task + "/task/" + task + "/syscall");
    std::string first;
    if (!(in >> first)) {
        return std::nullopt;
    }
    if (first == "running") {
        return false;
    }
    // The number, then the arguments in hexadecimal: poll and ppoll take the count second.
    constexpr long poll = 7, ppoll = 271;
    std::string descriptors, count;
    if (!(in >> descriptors >> count)) {
        return std::nullopt;
    }
    const long number = std::strtol(first.c_str(), nullptr, 10);
    return (number == poll || number == ppoll) && std::strtoul(count.c_str(), nullptr, 16) > 1;
#endif
}

std::optional<bool> shellEcho(pid_t terminal) {
    for (pid_t child : childrenOf(terminal)) {
        std::error_code error;
        const std::filesystem::path device =
            std::filesystem::read_symlink("/proc/" + std::to_string(child) + "/fd/0", error);
        if (error || device.string().rfind("/dev/pts/", 0) != 0) {
            continue;
        }
        const int fd = ::open(device.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        termios modes{};
        const bool read = tcgetattr(fd, &modes) == 0;
        ::close(fd);
        if (read) {
            return (modes.c_lflag & ECHO) != 0;
        }
    }
    return std::nullopt;
}

} // namespace kestro::testing
