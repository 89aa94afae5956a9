#include "tests/support/e2e/UserDesktop.h"

#include "tests/support/FixtureApp.h"
#include "tests/support/linux/WindowManager.h"
#include "tests/support/e2e/Wait.h"

#include <atspi/atspi.h>

#include <cstdio>
#include <cstdlib>

namespace kestro::testing::e2e {

UserDesktop::UserDesktop(Options options) : options_(options) {
    session_ = std::make_unique<DesktopSession>(
        DesktopSession::Options{.width = options.monitorWidth * std::max(1, options.monitors),
                                .height = options.monitorHeight,
                                .accessibility = true});
    if (!session_->ok()) {
        error_ = session_->error();
        return;
    }
    x_ = std::make_unique<XDesk>(session_->display());
    if (!x_->ok()) {
        error_ = "cannot open the display";
        return;
    }
    x_->setBackground(background[0], background[1], background[2]);
    if (options.monitors > 1) {
        for (int i = 0; i < options.monitors; ++i) {
            const std::string geometry = std::to_string(options.monitorWidth) + "/" +
                                         std::to_string(options.monitorWidth * 254 / 960) + "x" +
                                         std::to_string(options.monitorHeight) + "/" +
                                         std::to_string(options.monitorHeight * 286 / 1080) + "+" +
                                         std::to_string(i * options.monitorWidth) + "+0";
            // The first monitor takes over Xvfb's one output ("screen"), so that the automatic
            // monitor of that output, the whole screen, goes; the toolkit would count it as a
            // third screen.
            const std::string name = (i == 0 ? "*" : "") + std::string("e2e-") + std::to_string(i);
            if (DesktopSession::run(
                    {"xrandr", "--setmonitor", name, geometry, i == 0 ? "screen" : "none"}) != 0) {
                error_ = "xrandr --setmonitor failed";
                return;
            }
        }
    }
    if (options.windowManager && startWindowManager(*session_) <= 0) {
        error_ = "the window manager did not start (openbox)";
        return;
    }
    if (options.compositor && !startHelper({"xcompmgr"}, "_NET_WM_CM_S0", "xcompmgr")) {
        return;
    }
    if (options.trayHost &&
        !startHelper({"trayer", "--edge", "top", "--align", "left", "--widthtype", "request",
                      "--height", "24", "--SetDockType", "true", "--SetPartialStrut", "false",
                      "--transparent", "false", "--tint", "0xdddddd", "--monitor", "0"},
                     "_NET_SYSTEM_TRAY_S0", "the tray host")) {
        return;
    }
}

UserDesktop::~UserDesktop() {
    x_.reset();
    session_.reset();
}

bool UserDesktop::startHelper(const std::vector<std::string>& argv, const std::string& selection,
                              const std::string& what) {
    if (session_->spawn(argv) <= 0 ||
        !waitFor([&] { return x_->selectionOwner(selection) != 0; }, 20)) {
        error_ = what + " did not start (" + argv.front() + ")";
        return false;
    }
    return true;
}

std::vector<UserDesktop::Monitor> UserDesktop::monitors() const {
    std::vector<Monitor> out;
    for (int i = 0; i < std::max(1, options_.monitors); ++i) {
        out.push_back(
            {i * options_.monitorWidth, 0, options_.monitorWidth, options_.monitorHeight});
    }
    return out;
}

pid_t UserDesktop::startWindow(const std::vector<std::string>& argv, const std::string& title) {
    const pid_t pid = session_->spawn(argv);
    if (pid <= 0 || !waitFor([&] { return x_->findOne(title, pid).has_value(); }, 30)) {
        return -1;
    }
    return pid;
}

pid_t UserDesktop::startFixture(const std::string& title, int x, int y) {
    return startWindow({fixtureAppPath(), "--window-title", title, "--window-rect",
                        std::to_string(x) + "," + std::to_string(y) + ",420,320"},
                       title);
}

pid_t UserDesktop::startPasswordDialog(const std::string& title) {
    return startWindow({"zenity", "--password", "--title", title}, title);
}

namespace {

void startAtspi() {
    static const bool started = [] {
        atspi_init();
        return true;
    }();
    (void)started;
}

std::string nameOf(AtspiAccessible* e) {
    std::string out;
    if (gchar* name = atspi_accessible_get_name(e, nullptr)) {
        out = name;
        g_free(name);
    }
    return out;
}

bool enabledItem(AtspiAccessible* e) {
    AtspiStateSet* states = atspi_accessible_get_state_set(e);
    if (!states) {
        return false;
    }
    const bool enabled = atspi_state_set_contains(states, ATSPI_STATE_ENABLED);
    g_object_unref(states);
    return enabled;
}

} // namespace

struct MenuWatch::State {
    long pid = -1;
    AtspiEventListener* listener = nullptr;
    std::vector<std::string> entries;
    std::vector<std::string> disabled;
};

MenuWatch::MenuWatch(long pid) : state_(new State{pid}) {
    startAtspi();
    state_->listener = atspi_event_listener_new(
        [](AtspiEvent* event, void* data) {
            auto* state = static_cast<State*>(data);
            AtspiAccessible* source = event->source;
            if (source &&
                static_cast<long>(atspi_accessible_get_process_id(source, nullptr)) == state->pid) {
                if (AtspiAccessible* menu = atspi_accessible_get_parent(source, nullptr)) {
                    std::vector<std::string> names;
                    std::vector<std::string> disabled;
                    const int n = atspi_accessible_get_child_count(menu, nullptr);
                    for (int i = 0; i < n; ++i) {
                        if (AtspiAccessible* item =
                                atspi_accessible_get_child_at_index(menu, i, nullptr)) {
                            names.push_back(nameOf(item));
                            if (!enabledItem(item)) {
                                disabled.push_back(names.back());
                            }
                            g_object_unref(item);
                        }
                    }
                    if (!names.empty()) {
                        state->entries = names;
                        state->disabled = disabled;
                    }
                    g_object_unref(menu);
                }
            }
            g_boxed_free(ATSPI_TYPE_EVENT, event);
        },
        state_, nullptr);
    atspi_event_listener_register(state_->listener, "object:state-changed:focused", nullptr);
    atspi_event_listener_register(state_->listener, "object:state-changed:selected", nullptr);
}

MenuWatch::~MenuWatch() {
    atspi_event_listener_deregister(state_->listener, "object:state-changed:focused", nullptr);
    atspi_event_listener_deregister(state_->listener, "object:state-changed:selected", nullptr);
    g_object_unref(state_->listener);
    delete state_;
}

std::vector<std::string> MenuWatch::disabledEntries() {
    entries();
    return state_->disabled;
}

std::vector<std::string> MenuWatch::entries() {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    return state_->entries;
}

std::vector<AccessibleNode> accessibleTree(long pid) {
    startAtspi();
    std::vector<AccessibleNode> out;
    AtspiAccessible* desktop = atspi_get_desktop(0);
    if (!desktop) {
        return out;
    }
    const int apps = atspi_accessible_get_child_count(desktop, nullptr);
    for (int i = 0; i < apps; ++i) {
        AtspiAccessible* app = atspi_accessible_get_child_at_index(desktop, i, nullptr);
        if (!app) {
            continue;
        }
        if (static_cast<long>(atspi_accessible_get_process_id(app, nullptr)) != pid) {
            g_object_unref(app);
            continue;
        }
        std::vector<AtspiAccessible*> pending{app};
        while (!pending.empty() && out.size() < 5000) {
            AtspiAccessible* e = pending.back();
            pending.pop_back();
            AccessibleNode node;
            if (gchar* role = atspi_accessible_get_role_name(e, nullptr)) {
                node.role = role;
                g_free(role);
            }
            node.name = nameOf(e);
            if (AtspiComponent* component = atspi_accessible_get_component_iface(e)) {
                if (AtspiRect* r =
                        atspi_component_get_extents(component, ATSPI_COORD_TYPE_SCREEN, nullptr)) {
                    node = {node.role, node.name, r->x, r->y, r->width, r->height};
                    g_free(r);
                }
                g_object_unref(component);
            }
            if (AtspiStateSet* states = atspi_accessible_get_state_set(e)) {
                node.showing = atspi_state_set_contains(states, ATSPI_STATE_SHOWING);
                node.enabled = atspi_state_set_contains(states, ATSPI_STATE_ENABLED);
                node.focused = atspi_state_set_contains(states, ATSPI_STATE_FOCUSED);
                g_object_unref(states);
            }
            out.push_back(node);
            const int children = atspi_accessible_get_child_count(e, nullptr);
            for (int c = children - 1; c >= 0; --c) {
                if (AtspiAccessible* child = atspi_accessible_get_child_at_index(e, c, nullptr)) {
                    pending.push_back(child);
                }
            }
            g_object_unref(e);
        }
        for (AtspiAccessible* left : pending) {
            g_object_unref(left);
        }
    }
    g_object_unref(desktop);
    return out;
}

bool hasAccessibleName(long pid, const std::string& name) {
    for (const AccessibleNode& node : accessibleTree(pid)) {
        if (node.name == name) {
            return true;
        }
    }
    return false;
}

} // namespace kestro::testing::e2e
