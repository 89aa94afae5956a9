#include "platform/linux/X11Applications.h"

#include "KestroBase/FileIO.h"
#include "KestroBase/Text.h"
#include "platform/linux/X11Windows.h"

#include <filesystem>
#include <system_error>

namespace kestro::platform::linux_x11 {

namespace fs = std::filesystem;

namespace {

// A desktop-file id from a path or a file name: the file name without ".desktop".
std::string desktopID(std::string_view value) {
    std::string name = fs::path(std::string(value)).filename().string();
    if (name.ends_with(".desktop")) {
        name.resize(name.size() - 8);
    }
    return name;
}

std::optional<std::string> environmentOf(int pid, std::string_view variable) {
    auto environ = readFileIfPresent("/proc/" + std::to_string(pid) + "/environ");
    if (!environ) {
        return std::nullopt;
    }
    std::size_t start = 0;
    while (start < environ->size()) {
        std::size_t end = environ->find('\0', start);
        if (end == std::string::npos) {
            end = environ->size();
        }
        std::string_view entry(environ->data() + start, end - start);
        if (entry.size() > variable.size() && entry.starts_with(variable) &&
            entry[variable.size()] == '=') {
            std::string value(entry.substr(variable.size() + 1));
            if (!value.empty()) {
                return value;
            }
        }
        start = end + 1;
    }
    return std::nullopt;
}

// When the process started, in clock ticks since boot: with the pid it names one process for
// good, even after the pid is reused.
std::optional<unsigned long long> startTime(int pid) {
    auto stat = readFileIfPresent("/proc/" + std::to_string(pid) + "/stat");
    if (!stat) {
        return std::nullopt;
    }
    // The command name in parentheses may hold anything; the fields after it are plain.
    const std::size_t close = stat->rfind(')');
    if (close == std::string::npos) {
        return std::nullopt;
    }
    std::size_t field = 2, pos = close + 1;
    while (pos < stat->size() && field < 22) {
        pos = stat->find(' ', pos + 1);
        if (pos == std::string::npos) {
            return std::nullopt;
        }
        ++field;
    }
    return std::strtoull(stat->c_str() + pos + 1, nullptr, 10);
}

std::optional<std::string> executableName(int pid) {
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", error);
    if (!error && !exe.filename().empty()) {
        return exe.filename().string();
    }
    // Another user's process: the kernel still tells its command name.
    if (auto comm = readFileIfPresent("/proc/" + std::to_string(pid) + "/comm")) {
        while (!comm->empty() && comm->back() == '\n') {
            comm->pop_back();
        }
        if (!comm->empty()) {
            return *comm;
        }
    }
    return std::nullopt;
}

} // namespace

X11Applications::X11Applications(const char* displayName) : x_(displayName) {}

std::optional<RunningApplication> X11Applications::frontmostApplication() {
    return readFrontmostApplication().application;
}

FrontmostRead X11Applications::readFrontmostApplication() {
    if (!x_.ok()) {
        return {std::nullopt, true};
    }
    x_.discardEvents();
    const std::vector<TopLevel> stack = listTopLevels(x_);
    const std::optional<TopLevel> active = activeTopLevel(x_, stack);
    if (!active) {
        return {};
    }
    if (!active->processID) {
        return {std::nullopt, true};
    }
    std::optional<RunningApplication> app = runningApplication(*active->processID);
    const bool unknown = !app; // a remote client's process id names no process here
    return {std::move(app), unknown};
}

std::optional<RunningApplication> X11Applications::runningApplication(int processID) {
    if (processID <= 0) {
        return std::nullopt;
    }
    const std::optional<unsigned long long> started = startTime(processID);
    if (!started) {
        return std::nullopt; // no such process
    }
    if (auto it = known_.find(processID); it != known_.end()) {
        if (it->second.started == *started) {
            return it->second.app;
        }
        known_.erase(it);
    }
    std::optional<std::string> fileID;
    std::optional<std::string> wmClass;
    if (x_.ok()) {
        x_.discardEvents();
        for (const TopLevel& t : listTopLevels(x_)) {
            if (t.processID != processID || !t.viewable) {
                continue;
            }
            const WindowIdentity identity = windowIdentity(x_, t.client);
            if (!fileID && identity.desktopFileID) {
                fileID = desktopID(*identity.desktopFileID);
            }
            if (!wmClass && identity.wmClass) {
                wmClass = identity.wmClass;
            }
        }
    }
    for (const char* variable : {"GIO_LAUNCHED_DESKTOP_FILE", "BAMF_DESKTOP_FILE_HINT"}) {
        if (!fileID) {
            if (auto value = environmentOf(processID, variable)) {
                fileID = desktopID(*value);
            }
        }
    }
    if (!fileID) {
        fileID = environmentOf(processID, "FLATPAK_ID");
    }

    const DesktopEntry* entry = fileID ? entries_.byID(*fileID) : nullptr;
    if (!entry && !fileID && wmClass) {
        entry = entries_.byWMClass(*wmClass);
    }
    const std::optional<std::string> executable = executableName(processID);

    RunningApplication app;
    app.processIdentifier = processID;
    if (fileID) {
        app.bundleIdentifier = fileID;
    } else if (entry) {
        app.bundleIdentifier = entry->id;
    } else if (wmClass) {
        app.bundleIdentifier = wmClass;
    } else {
        app.bundleIdentifier = executable;
    }
    if (entry) {
        app.localizedName = localizedName(*entry, messagesLocale());
    }
    if (!app.localizedName && toolkitNames_) {
        app.localizedName = toolkitNames_(processID);
    }
    if (!app.localizedName) {
        app.localizedName = wmClass ? wmClass : executable;
    }
    if (app.bundleIdentifier) {
        app.bundleIdentifier = text::sanitizeUtf8(*app.bundleIdentifier);
    }
    if (app.localizedName) {
        app.localizedName = text::sanitizeUtf8(*app.localizedName);
    }
    // What a window or a desktop file says of a process does not change while it runs; a
    // process without either yet may still show a window.
    if (fileID || wmClass) {
        known_[processID] = Known{*started, app};
    }
    return app;
}

} // namespace kestro::platform::linux_x11
