#include "platform/linux/LinuxURLOpener.h"

#include "KestroBase/Permission.h"

#include <glib.h>

#include <string_view>

namespace kestro::platform::linux_x11 {

namespace {

using Command = std::vector<std::string>;

const std::vector<Command>& accessibilitySettings() {
    static const std::vector<Command> commands = {
        {"gnome-control-center", "universal-access"},
        {"cinnamon-settings", "universal-access"},
        {"xfce4-accessibility-settings"},
        {"mate-at-properties"},
        {"systemsettings", "kcm_access"},
        {"systemsettings5", "kcm_access"},
    };
    return commands;
}

const std::vector<Command>& mainSettings() {
    static const std::vector<Command> commands = {
        {"gnome-control-center"}, {"cinnamon-settings"}, {"xfce4-settings-manager"},
        {"mate-control-center"},  {"systemsettings"},    {"systemsettings5"},
    };
    return commands;
}

bool onPath(const std::string& program) {
    gchar* path = g_find_program_in_path(program.c_str());
    const bool found = path != nullptr;
    g_free(path);
    return found;
}

} // namespace

std::vector<std::string> LinuxURLOpener::commandFor(const std::string& url) {
    const std::string_view text(url);
    if (text.starts_with(settingsURLPrefix)) {
        const std::string_view pane = text.substr(settingsURLPrefix.size());
        const std::vector<Command>* candidates = nullptr;
        if (pane == settingsPane(Permission::accessibility)) {
            candidates = &accessibilitySettings();
        } else if (pane == settingsPane(Permission::screenRecording) ||
                   pane == settingsPane(Permission::inputMonitoring)) {
            candidates = &mainSettings();
        }
        if (candidates) {
            for (const auto& command : *candidates) {
                if (onPath(command.front())) {
                    return command;
                }
            }
        }
        return {};
    }
    // A leading dash would read as an option.
    if (url.empty() || url.front() == '-' || !onPath("xdg-open")) {
        return {};
    }
    return {"xdg-open", url};
}

bool LinuxURLOpener::open(const std::string& url) {
    const auto command = commandFor(url);
    if (command.empty()) {
        return false;
    }
    std::vector<gchar*> argv;
    for (const auto& arg : command) {
        argv.push_back(const_cast<gchar*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    GError* error = nullptr;
    // Without DO_NOT_REAP_CHILD GLib reaps the program itself.
    const gboolean started =
        g_spawn_async(nullptr, argv.data(), nullptr,
                      static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDOUT_TO_DEV_NULL |
                                               G_SPAWN_STDERR_TO_DEV_NULL),
                      nullptr, nullptr, nullptr, &error);
    if (error) {
        g_error_free(error);
    }
    return started != FALSE;
}

} // namespace kestro::platform::linux_x11
