#pragma once

#include "platform/Applications.h"
#include "platform/linux/DesktopEntries.h"
#include "platform/linux/XConnection.h"

#include <functional>
#include <map>
#include <optional>
#include <string>

namespace kestro::platform::linux_x11 {

// Running applications as X11 and the installed .desktop files describe them.
//
// Identity ("bundle identifier"), first that is known: the desktop-file id the window or the
// process names (_GTK_APPLICATION_ID, _KDE_NET_WM_DESKTOP_FILE, GIO_LAUNCHED_DESKTOP_FILE,
// BAMF_DESKTOP_FILE_HINT, FLATPAK_ID); the id of the installed entry whose StartupWMClass or id
// matches the window's WM_CLASS class; that class itself; the executable's file name.
// Name: the entry's Name in the messages locale, else the toolkit's name for the application
// (the optional lookup below), else the WM_CLASS class, else the executable's file name.
//
// The front application is the window manager's active window, else the window with the
// input focus (or under the pointer when focus follows it). An identity once found is kept for
// the life of that process. Main thread only.
class X11Applications final : public Applications {
public:
    using NameLookup = std::function<std::optional<std::string>(int processID)>;

    explicit X11Applications(const char* displayName = nullptr);

    // Where the toolkit's own name for an application comes from (the accessibility bus).
    void setToolkitNames(NameLookup lookup) { toolkitNames_ = std::move(lookup); }

    std::optional<RunningApplication> frontmostApplication() override;
    FrontmostRead readFrontmostApplication() override;
    std::optional<RunningApplication> runningApplication(int processID) override;

private:
    struct Known {
        unsigned long long started = 0;
        RunningApplication app;
    };

    XConnection x_;
    DesktopEntryIndex entries_;
    NameLookup toolkitNames_;
    std::map<int, Known> known_; // identities by process, with the process's start time
};

} // namespace kestro::platform::linux_x11
