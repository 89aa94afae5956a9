#include "platform/linux/DesktopEntries.h"

#include "KestroBase/FileIO.h"
#include "KestroBase/Text.h"

#include <cstdlib>
#include <system_error>

namespace kestro::platform::linux_x11 {

namespace fs = std::filesystem;

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string unescape(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            const char next = value[++i];
            switch (next) {
            case 's':
                out += ' ';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            default:
                out += next;
                break;
            }
        } else {
            out += value[i];
        }
    }
    return out;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

fs::file_time_type stamp(const fs::path& folder) {
    std::error_code error;
    const fs::file_time_type time = fs::last_write_time(folder, error);
    return error ? fs::file_time_type::min() : time;
}

} // namespace

std::vector<fs::path> applicationFolders() {
    std::vector<fs::path> folders;
    std::string dataHome = environment("XDG_DATA_HOME");
    if (dataHome.empty() && !environment("HOME").empty()) {
        dataHome = environment("HOME") + "/.local/share";
    }
    if (!dataHome.empty()) {
        folders.push_back(fs::path(dataHome) / "applications");
    }
    std::string dataDirs = environment("XDG_DATA_DIRS");
    if (dataDirs.empty()) {
        dataDirs = "/usr/local/share:/usr/share";
    }
    std::size_t start = 0;
    while (start <= dataDirs.size()) {
        const std::size_t end = std::min(dataDirs.find(':', start), dataDirs.size());
        if (end > start) {
            folders.push_back(fs::path(dataDirs.substr(start, end - start)) / "applications");
        }
        start = end + 1;
    }
    return folders;
}

std::optional<DesktopEntry> parseDesktopEntry(std::string_view text, std::string id) {
    DesktopEntry entry;
    entry.id = std::move(id);
    bool inGroup = false, sawGroup = false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::string_view line = trim(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            inGroup = line == "[Desktop Entry]";
            sawGroup = sawGroup || inGroup;
            continue;
        }
        if (!inGroup) {
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        const std::string_view key = trim(line.substr(0, equals));
        const std::string value = text::sanitizeUtf8(unescape(trim(line.substr(equals + 1))));
        if (key == "Name") {
            entry.names[""] = value;
        } else if (key.starts_with("Name[") && key.ends_with("]")) {
            entry.names[std::string(key.substr(5, key.size() - 6))] = value;
        } else if (key == "StartupWMClass") {
            entry.startupWMClass = value;
        }
    }
    if (!sawGroup) {
        return std::nullopt;
    }
    return entry;
}

std::string messagesLocale() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        std::string value = environment(name);
        if (!value.empty()) {
            return value;
        }
    }
    return "";
}

std::optional<std::string> localizedName(const DesktopEntry& entry, std::string_view locale) {
    // lang_COUNTRY.ENCODING@MODIFIER: the encoding never takes part.
    std::string_view modifier;
    if (const std::size_t at = locale.find('@'); at != std::string_view::npos) {
        modifier = locale.substr(at + 1);
        locale = locale.substr(0, at);
    }
    if (const std::size_t dot = locale.find('.'); dot != std::string_view::npos) {
        locale = locale.substr(0, dot);
    }
    std::string_view lang = locale, country;
    if (const std::size_t underscore = locale.find('_'); underscore != std::string_view::npos) {
        lang = locale.substr(0, underscore);
        country = locale.substr(underscore + 1);
    }
    std::vector<std::string> keys;
    if (!lang.empty() && lang != "C" && lang != "POSIX") {
        const std::string l(lang), c(country), m(modifier);
        if (!c.empty() && !m.empty()) {
            keys.push_back(l + "_" + c + "@" + m);
        }
        if (!c.empty()) {
            keys.push_back(l + "_" + c);
        }
        if (!m.empty()) {
            keys.push_back(l + "@" + m);
        }
        keys.push_back(l);
    }
    keys.push_back("");
    for (const std::string& key : keys) {
        auto it = entry.names.find(key);
        if (it != entry.names.end() && !it->second.empty()) {
            return it->second;
        }
    }
    return std::nullopt;
}

DesktopEntryIndex::DesktopEntryIndex(std::vector<fs::path> folders)
    : folders_(std::move(folders)) {}

void DesktopEntryIndex::refresh() {
    std::vector<fs::file_time_type> stamps;
    for (const fs::path& folder : folders_) {
        stamps.push_back(stamp(folder));
    }
    if (loaded_ && stamps == stamps_) {
        return;
    }
    stamps_ = std::move(stamps);
    loaded_ = true;
    entries_.clear();
    for (const fs::path& folder : folders_) {
        std::error_code error;
        fs::recursive_directory_iterator it(folder, error), end;
        for (; !error && it != end; it.increment(error)) {
            if (it.depth() > 3) {
                it.disable_recursion_pending();
            }
            const fs::path& path = it->path();
            if (path.extension() != ".desktop" || !it->is_regular_file(error)) {
                continue;
            }
            std::string id = path.lexically_relative(folder).replace_extension().string();
            for (char& c : id) {
                if (c == '/') {
                    c = '-';
                }
            }
            if (entries_.count(id)) {
                continue; // an earlier folder wins
            }
            if (auto text = readFileIfPresent(path)) {
                if (auto entry = parseDesktopEntry(*text, id)) {
                    entries_.emplace(id, std::move(*entry));
                }
            }
        }
    }
}

const DesktopEntry* DesktopEntryIndex::byID(std::string_view id) {
    refresh();
    auto it = entries_.find(id);
    return it == entries_.end() ? nullptr : &it->second;
}

const DesktopEntry* DesktopEntryIndex::byWMClass(std::string_view wmClass) {
    refresh();
    for (const auto& [id, entry] : entries_) {
        if (entry.startupWMClass && *entry.startupWMClass == wmClass) {
            return &entry;
        }
    }
    for (const auto& [id, entry] : entries_) {
        if (equalsIgnoringAsciiCase(id, wmClass)) {
            return &entry;
        }
    }
    return nullptr;
}

} // namespace kestro::platform::linux_x11
