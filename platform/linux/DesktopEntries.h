#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestro::platform::linux_x11 {

// What an installed application's .desktop file says about it.
struct DesktopEntry {
    std::string id; // the file name without ".desktop"; a sub-folder adds "folder-" in front
    std::map<std::string, std::string> names; // "Name" under "", "Name[de]" under "de", ...
    std::optional<std::string> startupWMClass;
};

// The folders that hold .desktop files, most important first: $XDG_DATA_HOME/applications,
// then each of $XDG_DATA_DIRS.
std::vector<std::filesystem::path> applicationFolders();

// The [Desktop Entry] group of one file; nothing when it has none.
std::optional<DesktopEntry> parseDesktopEntry(std::string_view text, std::string id);

// The name for the given locale ("de_AT.UTF-8@euro" style, as in LC_MESSAGES): the most
// specific Name[...] that matches, else Name.
std::optional<std::string> localizedName(const DesktopEntry& entry, std::string_view locale);
// The locale names are asked for in: LC_ALL, else LC_MESSAGES, else LANG.
std::string messagesLocale();

// Every installed entry, read again only when one of the folders changed.
class DesktopEntryIndex {
public:
    explicit DesktopEntryIndex(std::vector<std::filesystem::path> folders = applicationFolders());

    const DesktopEntry* byID(std::string_view id);
    // The entry that names this window class as its StartupWMClass, else the one whose id is
    // the class (compared without regard to ASCII case).
    const DesktopEntry* byWMClass(std::string_view wmClass);

private:
    void refresh();

    std::vector<std::filesystem::path> folders_;
    std::vector<std::filesystem::file_time_type> stamps_;
    bool loaded_ = false;
    std::map<std::string, DesktopEntry, std::less<>> entries_;
};

} // namespace kestro::platform::linux_x11
