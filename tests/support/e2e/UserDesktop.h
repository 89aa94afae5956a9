#pragma once

#include "tests/support/DesktopSession.h"
#include "tests/support/e2e/XDesk.h"

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace kestro::testing::e2e {

// A desktop as a person has it, private to one test: an Xvfb whose screen is split into
// monitors side by side, a session bus with accessibility on, a window manager (openbox),
// optionally a compositing manager and a tray host, and a plain background colour so that
// screenshots can be read by pixel. DISPLAY and DBUS_SESSION_BUS_ADDRESS point at it while it
// lives; everything it started stops with it.
class UserDesktop {
public:
    struct Options {
        int monitors = 2;
        int monitorWidth = 1440;
        int monitorHeight = 900;
        bool windowManager = true;
        bool compositor = false; // xcompmgr
        bool trayHost = true;    // trayer, docked at the top of the first monitor
    };
    // The background, as red, green and blue.
    static constexpr int background[3] = {0x2b, 0x5b, 0x84};

    explicit UserDesktop(Options options);
    ~UserDesktop();
    UserDesktop(const UserDesktop&) = delete;
    UserDesktop& operator=(const UserDesktop&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    const Options& options() const { return options_; }
    XDesk& x() { return *x_; }
    DesktopSession& session() { return *session_; }

    struct Monitor {
        int x = 0, y = 0, width = 0, height = 0;
    };
    // As set up, the first being the primary one.
    std::vector<Monitor> monitors() const;
    unsigned long trayHostWindow() { return x_->selectionOwner("_NET_SYSTEM_TRAY_S0"); }

    // The fixture application (name field, password field, "Sign In" button, notes) at a place
    // on the first monitor; returns its pid once its window shows, or -1.
    pid_t startFixture(const std::string& title = "Kestro Fixture", int x = 80, int y = 120);
    // A GTK password dialog (zenity); returns its pid once its window shows, or -1.
    pid_t startPasswordDialog(const std::string& title = "Unlock keyring");
    void stop(pid_t pid) { session_->stop(pid); }

private:
    bool startHelper(const std::vector<std::string>& argv, const std::string& selection,
                     const std::string& what);
    pid_t startWindow(const std::vector<std::string>& argv, const std::string& title);

    Options options_;
    std::string error_;
    std::unique_ptr<DesktopSession> session_;
    std::unique_ptr<XDesk> x_;
};

// One element of an application's accessibility tree, read over AT-SPI.
struct AccessibleNode {
    std::string role;
    std::string name;
    int x = 0, y = 0, width = 0, height = 0;
    bool showing = false;
    bool enabled = false; // takes input (a disabled button or menu item does not)
    bool focused = false; // has the keyboard focus within its application
};

// The elements of the process's tree (its windows, labels, buttons, menus), depth first; empty
// when the process has no tree on the session bus.
std::vector<AccessibleNode> accessibleTree(long pid);
// Whether any element of the process's tree has exactly this name.
bool hasAccessibleName(long pid, const std::string& name);

// Popup menus are not in an application's tree; they are met through the focus events of their
// items. While this lives, the items of every menu of `pid` whose item took the focus are
// gathered (names in order, disabled items included).
class MenuWatch {
public:
    explicit MenuWatch(long pid);
    ~MenuWatch();
    MenuWatch(const MenuWatch&) = delete;
    MenuWatch& operator=(const MenuWatch&) = delete;
    // Handles the events so far; the entries of the last menu seen.
    std::vector<std::string> entries();
    // Of those, the ones that are disabled (separators included).
    std::vector<std::string> disabledEntries();

private:
    struct State;
    State* state_;
};

} // namespace kestro::testing::e2e
