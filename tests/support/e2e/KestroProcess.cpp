#include "tests/support/e2e/KestroProcess.h"

#include "KestroBase/FileIO.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/e2e/Wait.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace kestro::testing::e2e {

namespace fs = std::filesystem;

namespace {

pid_t spawnWith(const std::vector<std::string>& argv, const fs::path& out, const fs::path& err) {
    const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    pid_t pid = -1;
    if (outFd >= 0 && errFd >= 0) {
        pid = spawnChild(argv, {.out = outFd, .err = errFd});
    }
    for (int fd : {outFd, errFd}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    return pid;
}

std::optional<int> reap(pid_t pid, bool block) {
    int status = 0;
    if (::waitpid(pid, &status, block ? 0 : WNOHANG) != pid) {
        return std::nullopt;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

KestroProcess::KestroProcess(const fs::path& folder, const std::string& modelEndpoint,
                             const std::vector<std::string>& arguments)
    : logFile_(folder / "kestro.log"), errFile_(folder / "kestro.err") {
    fs::create_directories(folder);
    std::ofstream(logFile_).flush();
    std::vector<std::string> argv{launcherPath(), "--model-endpoint", modelEndpoint, "--log-file",
                                  logFile_.string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    pid_ = spawnWith(argv, "/dev/null", errFile_);
}

KestroProcess::~KestroProcess() {
    if (pid_ <= 0 || status_) {
        return;
    }
    ::kill(pid_, SIGTERM);
    if (!wait(3)) {
        ::kill(pid_, SIGKILL);
        reap(pid_, true);
    }
}

bool KestroProcess::running() {
    if (pid_ > 0 && !status_) {
        status_ = reap(pid_, false);
    }
    return pid_ > 0 && !status_;
}

std::optional<int> KestroProcess::wait(double seconds) {
    waitFor([&] { return !running(); }, seconds);
    return status_;
}

std::vector<std::string> KestroProcess::log() const {
    std::vector<std::string> lines;
    std::istringstream in(kestro::readFileIfPresent(logFile_).value_or(""));
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

std::optional<std::string> KestroProcess::waitForLog(const std::string& prefix, double seconds,
                                                     std::size_t from) const {
    std::optional<std::string> found;
    waitFor(
        [&] {
            const auto lines = log();
            for (std::size_t i = from; i < lines.size(); ++i) {
                if (lines[i].rfind(prefix, 0) == 0) {
                    found = lines[i];
                    return true;
                }
            }
            return false;
        },
        seconds);
    return found;
}

std::string KestroProcess::errors() const {
    return kestro::readFileIfPresent(errFile_).value_or("");
}

std::string KestroProcess::threads() const {
    if (pid_ <= 0 || status_) {
        return {};
    }
    const auto field = [](const fs::path& file) {
        std::string text = kestro::readFileIfPresent(file).value_or("?");
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
            text.pop_back();
        }
        return text;
    };
    std::vector<fs::path> tasks;
    std::error_code ec;
    for (auto it = fs::directory_iterator(fs::path("/proc") / std::to_string(pid_) / "task", ec);
         !ec && it != fs::directory_iterator(); it.increment(ec)) {
        tasks.push_back(it->path());
    }
    std::sort(tasks.begin(), tasks.end(), [](const fs::path& a, const fs::path& b) {
        return std::stol(a.filename().string()) < std::stol(b.filename().string());
    });
    std::string out;
    for (const fs::path& task : tasks) {
        // The state follows the name's closing parenthesis in stat (the name may hold spaces).
        const std::string stat = field(task / "stat");
        const auto close = stat.rfind(')');
        const std::string state =
            close != std::string::npos && close + 2 < stat.size() ? stat.substr(close + 2, 1) : "?";
        out += "  " + task.filename().string() + " " + field(task / "comm") + " " + state + " " +
               field(task / "wchan") + "\n";
    }
    return out;
}

bool KestroProcess::caughtUp(double seconds) const {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int idle = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        const std::optional<bool> waiting = kestro::testing::waitsInItsLoop(pid_);
        if (!waiting) {
            return true;
        }
        idle = *waiting ? idle + 1 : 0;
        if (idle == 5) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
}

std::string KestroProcess::launcherPath() {
#ifdef KESTRO_E2E_LAUNCHER_PATH
    return KESTRO_E2E_LAUNCHER_PATH;
#else
    return {};
#endif
}

std::string KestroProcess::programPath() {
#ifdef KESTRO_E2E_PROGRAM_PATH
    return KESTRO_E2E_PROGRAM_PATH;
#else
    return {};
#endif
}

Finished runToEnd(const std::vector<std::string>& argv, double seconds) {
    char pattern[] = "/tmp/kestro-run-XXXXXX";
    const int fd = ::mkstemp(pattern);
    if (fd < 0) {
        return {};
    }
    ::close(fd);
    const pid_t pid = spawnWith(argv, pattern, "/dev/null");
    Finished result;
    if (pid > 0) {
        std::optional<int> status;
        waitFor([&] { return (status = reap(pid, false)).has_value(); }, seconds);
        if (!status) {
            ::kill(pid, SIGKILL);
            reap(pid, true);
        }
        result.status = status.value_or(-1);
    }
    result.out = kestro::readFileIfPresent(pattern).value_or("");
    ::unlink(pattern);
    return result;
}

} // namespace kestro::testing::e2e
