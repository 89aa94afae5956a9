#include "platform/linux/TerminalEcho.h"

#include "KestroBase/FileIO.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace kestro::platform::linux_x11 {

namespace {

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

constexpr std::size_t fdinfoBytes = 64 * 1024;

// A "name:\tvalue" line of an fdinfo file.
std::optional<long> fdinfoField(std::string_view info, std::string_view name) {
    std::size_t at = 0;
    while (at < info.size()) {
        std::size_t end = info.find('\n', at);
        if (end == std::string_view::npos) {
            end = info.size();
        }
        std::string_view line = info.substr(at, end - at);
        if (line.size() > name.size() && line.substr(0, name.size()) == name &&
            line[name.size()] == ':') {
            line.remove_prefix(name.size() + 1);
            while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
                line.remove_prefix(1);
            }
            long value = 0;
            const auto [ptr, ec] = std::from_chars(line.data(), line.data() + line.size(), value);
            if (ec != std::errc() || ptr == line.data()) {
                return std::nullopt;
            }
            return value;
        }
        at = end + 1;
    }
    return std::nullopt;
}

// The mounts our own /dev/ptmx and /dev/pts/ptmx lie on; opened as paths only, so no
// pseudo-terminal is made.
std::vector<long> ourPtmxMounts() {
    std::vector<long> mounts;
    for (const char* path : {"/dev/ptmx", "/dev/pts/ptmx"}) {
        Fd fd(::open(path, O_PATH | O_CLOEXEC));
        if (fd.get() < 0) {
            continue;
        }
        const std::optional<std::string> info =
            readFileIfPresent("/proc/self/fdinfo/" + std::to_string(fd.get()), fdinfoBytes);
        if (info) {
            if (const std::optional<long> mount = fdinfoField(*info, "mnt_id")) {
                mounts.push_back(*mount);
            }
        }
    }
    return mounts;
}

// ECHO of /dev/pts/<index>; nothing when it cannot be read or is not that device.
std::optional<bool> echoOf(int index) {
    const std::string path = "/dev/pts/" + std::to_string(index);
    Fd fd(::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        return std::nullopt;
    }
    struct stat st {};
    // Unix 98 slaves: majors 136 to 143, the number spread over major and minor.
    if (::fstat(fd.get(), &st) != 0 || !S_ISCHR(st.st_mode) ||
        static_cast<long>(major(st.st_rdev) - 136) * 256 + static_cast<long>(minor(st.st_rdev)) !=
            index) {
        return std::nullopt;
    }
    struct termios modes {};
    if (::tcgetattr(fd.get(), &modes) != 0) {
        return std::nullopt;
    }
    // A line (in raw mode, a byte) the program has not read yet: it has not handled what was
    // typed before, and may turn echo off once it does. The poll hands the terminal the bytes
    // still on their way to it first.
    pollfd unread{fd.get(), POLLIN, 0};
    if (::poll(&unread, 1, 0) != 0) {
        return std::nullopt;
    }
    return (modes.c_lflag & ECHO) != 0;
}

enum class Held { read, gone, unreadable };

// The number a /proc entry is named by (a process, a thread, a descriptor); nothing for the
// others.
std::optional<int> numberNamed(const dirent* entry) {
    int number = 0;
    const char* name = entry->d_name;
    const auto [ptr, ec] = std::from_chars(name, name + std::strlen(name), number);
    if (ec != std::errc() || *ptr != '\0') {
        return std::nullopt;
    }
    return number;
}

// The masters the process holds, appended to `terminals`. A process that has ended holds none.
Held readMasters(int processID, std::vector<int>& terminals) {
    if (processID <= 0) {
        return Held::unreadable;
    }
    const std::string base = "/proc/" + std::to_string(processID);
    // Links read relative to the folder: a tree's worth of processes, each with hundreds of
    // descriptors, is read for every key.
    DIR* dir = nullptr;
    if (const int fd = ::open((base + "/fd").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        fd >= 0) {
        dir = ::fdopendir(fd);
        if (!dir) {
            ::close(fd);
        }
    } else if (errno == ENOENT) {
        return Held::gone;
    }
    if (!dir) {
        return Held::unreadable;
    }
    std::vector<int> masters;
    std::array<char, 64> target{};
    while (const dirent* entry = ::readdir(dir)) {
        const std::optional<int> fd = numberNamed(entry);
        if (!fd) {
            continue;
        }
        const ssize_t n = ::readlinkat(::dirfd(dir), entry->d_name, target.data(), target.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) {
            continue; // closed meanwhile, or a long path: no pseudo-terminal master
        }
        const std::string_view path(target.data(), static_cast<std::size_t>(n));
        if (path == "/dev/ptmx" || path == "/dev/pts/ptmx") {
            masters.push_back(*fd);
        }
    }
    ::closedir(dir);

    for (int fd : masters) {
        const std::optional<std::string> info =
            readFileIfPresent(base + "/fdinfo/" + std::to_string(fd), fdinfoBytes);
        if (!info) {
            return Held::unreadable;
        }
        const std::optional<long> index = fdinfoField(*info, "tty-index");
        const std::optional<long> mount = fdinfoField(*info, "mnt_id");
        if (!index || !mount || *index < 0 || *index > (1 << 20)) {
            return Held::unreadable;
        }
        // Ours do not change while the process runs; read once, on the first master seen.
        static const std::vector<long> mounts = ourPtmxMounts();
        if (std::find(mounts.begin(), mounts.end(), *mount) == mounts.end()) {
            return Held::unreadable;
        }
        terminals.push_back(static_cast<int>(*index));
    }
    return Held::read;
}

// A small /proc file, relative to the folder `at`, read into `buffer` (as much as it holds); its
// length, or nothing when it cannot be read (errno says why).
std::optional<std::size_t> readSmall(int at, const char* path, std::span<char> buffer) {
    Fd fd(::openat(at, path, O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        return std::nullopt;
    }
    std::size_t total = 0;
    while (total < buffer.size()) {
        const ssize_t n = ::read(fd.get(), buffer.data() + total, buffer.size() - total);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        total += static_cast<std::size_t>(n);
    }
    return total;
}

// Process ids in a list of decimal numbers split by blanks, as a children file has them.
void appendNumbers(std::string_view text, std::vector<int>& into) {
    while (!text.empty()) {
        while (!text.empty() && (text.front() == ' ' || text.front() == '\n')) {
            text.remove_prefix(1);
        }
        int value = 0;
        const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (ec != std::errc() || ptr == text.data()) {
            return;
        }
        into.push_back(value);
        text.remove_prefix(static_cast<std::size_t>(ptr - text.data()));
    }
}

// Children files exist only where the kernel keeps them.
bool haveChildrenFiles() {
    static const bool have = ::access("/proc/thread-self/children", R_OK) == 0;
    return have;
}

// A thread's children file that fills this holds more than 500 process ids (of seven digits at
// the most, each with its blank): more than a tree that is read may have.
constexpr std::size_t childrenBytes = 4096;
static_assert(maxTreeProcesses < childrenBytes / 8);

// The children of `processID`, from the children file of each of its threads (a child's parent
// is the thread that started it). False when its threads cannot be listed, or one of them has
// more children than a tree may have.
bool childrenFromTasks(int processID, std::vector<int>& into) {
    const std::string tasks = "/proc/" + std::to_string(processID) + "/task";
    DIR* dir = ::opendir(tasks.c_str());
    if (!dir) {
        return errno == ENOENT; // ended: no children of its own any more
    }
    std::array<char, childrenBytes> buffer{};
    std::array<char, 32> path{};
    bool ok = true;
    while (const dirent* entry = ::readdir(dir)) {
        const std::optional<int> thread = numberNamed(entry);
        if (!thread) {
            continue;
        }
        std::snprintf(path.data(), path.size(), "%d/children", *thread);
        const std::optional<std::size_t> n = readSmall(::dirfd(dir), path.data(), buffer);
        if (!n) {
            ok = ok && errno == ENOENT; // a thread that ended has no children
            continue;
        }
        if (*n == buffer.size()) {
            ok = false;
            break;
        }
        appendNumbers(std::string_view(buffer.data(), *n), into);
    }
    ::closedir(dir);
    return ok;
}

// Every process with its parent, from one pass over /proc.
std::optional<std::vector<std::pair<int, int>>> parents() {
    std::vector<std::pair<int, int>> out;
    DIR* dir = ::opendir("/proc");
    if (!dir) {
        return std::nullopt;
    }
    std::array<char, 512> buffer{};
    std::array<char, 32> path{};
    while (const dirent* entry = ::readdir(dir)) {
        const std::optional<int> pid = numberNamed(entry);
        if (!pid) {
            continue;
        }
        std::snprintf(path.data(), path.size(), "%d/stat", *pid);
        const std::optional<std::size_t> n = readSmall(::dirfd(dir), path.data(), buffer);
        if (!n) {
            continue; // ended meanwhile
        }
        // "pid (name) state ppid ...": the name may hold anything, ")" too.
        const std::string_view stat(buffer.data(), *n);
        const std::size_t close = stat.rfind(')');
        if (close == std::string_view::npos || close + 4 >= stat.size()) {
            continue;
        }
        const std::string_view rest = stat.substr(close + 4);
        int ppid = 0;
        const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), ppid);
        if (error == std::errc() && end != rest.data()) {
            out.emplace_back(*pid, ppid);
        }
    }
    ::closedir(dir);
    return out;
}

// The process and its descendants, the process first; nothing when there are more than
// `maxProcesses` of them or its children could not be listed.
std::optional<std::vector<int>> processTree(int processID, std::size_t maxProcesses,
                                            DescendantSearch search) {
    std::vector<int> tree{processID};
    if (search == DescendantSearch::childLists && haveChildrenFiles()) {
        for (std::size_t at = 0; at < tree.size(); ++at) {
            if (!childrenFromTasks(tree[at], tree)) {
                return std::nullopt;
            }
            if (tree.size() > maxProcesses) {
                return std::nullopt;
            }
        }
        return tree;
    }
    std::optional<std::vector<std::pair<int, int>>> listed = parents();
    if (!listed) {
        return std::nullopt;
    }
    std::vector<std::pair<int, int>>& all = *listed;
    // By parent, so that each process's children are found in one search.
    std::sort(all.begin(), all.end(),
              [](const auto& a, const auto& b) { return a.second < b.second; });
    for (std::size_t at = 0; at < tree.size(); ++at) {
        auto first =
            std::lower_bound(all.begin(), all.end(), tree[at],
                             [](const auto& entry, int ppid) { return entry.second < ppid; });
        for (; first != all.end() && first->second == tree[at]; ++first) {
            // Ids reused while /proc was read could make a loop; the bound ends it.
            tree.push_back(first->first);
            if (tree.size() > maxProcesses) {
                return std::nullopt;
            }
        }
    }
    return tree;
}

} // namespace

std::optional<std::vector<int>> masteredTerminals(int processID) {
    std::vector<int> terminals;
    if (readMasters(processID, terminals) != Held::read) {
        return std::nullopt;
    }
    return terminals;
}

std::optional<std::vector<int>> treeTerminals(int processID, std::size_t maxProcesses,
                                              DescendantSearch search) {
    if (processID <= 0) {
        return std::nullopt;
    }
    const std::optional<std::vector<int>> tree = processTree(processID, maxProcesses, search);
    if (!tree) {
        return std::nullopt;
    }
    std::vector<int> terminals;
    for (std::size_t at = 0; at < tree->size(); ++at) {
        const Held held = readMasters((*tree)[at], terminals);
        // The process itself ended: there is no application to read. A descendant that ended
        // meanwhile holds nothing.
        if (held == Held::unreadable || (held == Held::gone && at == 0)) {
            return std::nullopt;
        }
    }
    return terminals;
}

bool allEcho(const std::vector<int>& terminals) {
    return std::all_of(terminals.begin(), terminals.end(),
                       [](int index) { return echoOf(index) == true; });
}

} // namespace kestro::platform::linux_x11
