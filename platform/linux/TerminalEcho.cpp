#include "platform/linux/TerminalEcho.h"

#include "KestroBase/FileIO.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

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
    return (modes.c_lflag & ECHO) != 0;
}

} // namespace

std::optional<std::vector<int>> masteredTerminals(int processID) {
    if (processID <= 0) {
        return std::nullopt;
    }
    const std::string base = "/proc/" + std::to_string(processID);
    DIR* dir = ::opendir((base + "/fd").c_str());
    if (!dir) {
        return std::nullopt;
    }
    std::vector<int> descriptors;
    while (const dirent* entry = ::readdir(dir)) {
        int fd = 0;
        const char* name = entry->d_name;
        const auto [ptr, ec] = std::from_chars(name, name + std::strlen(name), fd);
        if (ec == std::errc() && *ptr == '\0') {
            descriptors.push_back(fd);
        }
    }
    ::closedir(dir);

    std::vector<int> terminals;
    std::array<char, 64> target{};
    for (int fd : descriptors) {
        const std::string link = base + "/fd/" + std::to_string(fd);
        const ssize_t n = ::readlink(link.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) {
            continue; // closed meanwhile, or a long path: no pseudo-terminal master
        }
        const std::string_view path(target.data(), static_cast<std::size_t>(n));
        if (path != "/dev/ptmx" && path != "/dev/pts/ptmx") {
            continue;
        }
        const std::optional<std::string> info =
            readFileIfPresent(base + "/fdinfo/" + std::to_string(fd), fdinfoBytes);
        if (!info) {
            return std::nullopt;
        }
        const std::optional<long> index = fdinfoField(*info, "tty-index");
        const std::optional<long> mount = fdinfoField(*info, "mnt_id");
        if (!index || !mount || *index < 0 || *index > (1 << 20)) {
            return std::nullopt;
        }
        // Ours do not change while the process runs; read once, on the first master seen.
        static const std::vector<long> mounts = ourPtmxMounts();
        if (std::find(mounts.begin(), mounts.end(), *mount) == mounts.end()) {
            return std::nullopt;
        }
        terminals.push_back(static_cast<int>(*index));
    }
    return terminals;
}

bool allEcho(const std::vector<int>& terminals) {
    return std::all_of(terminals.begin(), terminals.end(),
                       [](int index) { return echoOf(index) == true; });
}

} // namespace kestro::platform::linux_x11
