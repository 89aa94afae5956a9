#include "KestroCore/Paths.h"

#include "KestroBase/FileIO.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <system_error>
#include <vector>

namespace kestro::Paths {

namespace fs = std::filesystem;

namespace {

fs::path homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) {
        return home;
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* result = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result &&
        result->pw_dir) {
        return result->pw_dir;
    }
    return "/";
}

fs::path dataHome() {
    // XDG says relative values are invalid and must be ignored.
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') {
        return xdg;
    }
    return homeDirectory() / ".local" / "share";
}

} // namespace

fs::path support() {
    return dataHome() / std::string(appName);
}
fs::path recordings() {
    return support() / "recordings";
}
fs::path skills() {
    return support() / "skills";
}
fs::path logs() {
    return support() / "logs";
}
fs::path recording(const Uuid& id) {
    return recordings() / id.uuidString();
}
fs::path skill(const Uuid& id) {
    return skills() / id.uuidString();
}

void ensureDirectories() {
    for (const fs::path& folder : {support(), recordings(), skills(), logs()}) {
        createPrivateDirectories(folder);
    }
}

fs::path existingFolder(const fs::path& parent, const Uuid& id) {
    fs::path upper = parent / id.uuidString();
    std::error_code ec;
    if (fs::is_directory(upper, ec)) {
        return upper;
    }
    std::optional<fs::path> match;
    for (fs::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec)) {
        auto parsed = Uuid::parse(it->path().filename().string());
        if (!parsed || *parsed != id) {
            continue;
        }
        std::error_code typeError;
        if (!it->is_directory(typeError)) {
            continue;
        }
        // Of several spellings, the one the skill store loads.
        if (!match || it->path().filename().native() < match->filename().native()) {
            match = it->path();
        }
    }
    return match ? *match : upper;
}

} // namespace kestro::Paths
