#include "platform/linux/SessionLockWatch.h"
#include "platform/linux/XConnection.h"

#include "platform/linux/DBusSession.h"
#include "platform/linux/X11Atoms.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gio/gio.h>

#include <array>
#include <string>

namespace kestro::platform::linux_x11 {

namespace {

struct Service {
    const char* name;
    const char* path;
    const char* interface;
};

constexpr std::array<Service, 5> services = {{
    {"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver"},
    {"org.gnome.ScreenSaver", "/org/gnome/ScreenSaver", "org.gnome.ScreenSaver"},
    {"org.mate.ScreenSaver", "/org/mate/ScreenSaver", "org.mate.ScreenSaver"},
    {"org.cinnamon.ScreenSaver", "/org/cinnamon/ScreenSaver", "org.cinnamon.ScreenSaver"},
    {"org.xfce.ScreenSaver", "/org/xfce/ScreenSaver", "org.xfce.ScreenSaver"},
}};

} // namespace

struct SessionLockWatch::State {
    GDBusConnection* bus = nullptr;
    GCancellable* cancellable = nullptr;
    std::array<bool, services.size()> serviceActive{};
    std::array<guint, services.size()> subscriptions{};
    std::array<guint, services.size()> nameWatches{};

    Display* display = nullptr;
    Atom statusAtom = None;
    Atom lockAtom = None;
    Atom blankAtom = None;
    bool xscreensaverActive = false;
    std::unique_ptr<MainQueue::Token> displayWatch;

    void readXScreensaverStatus();
};

namespace {

// What a D-Bus callback gets: the watch (weakly) and which service it is about.
struct Context {
    std::weak_ptr<SessionLockWatch::State> state;
    std::size_t index;
};

void deleteContext(gpointer data) {
    delete static_cast<Context*>(data);
}

void onGetActive(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<Context> context(static_cast<Context*>(data));
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (error) {
        g_error_free(error);
        return; // cancelled, or a service that does not answer: no opinion
    }
    auto state = context->state.lock();
    if (state && g_variant_is_of_type(reply, G_VARIANT_TYPE("(b)"))) {
        gboolean active = FALSE;
        g_variant_get(reply, "(b)", &active);
        state->serviceActive[context->index] = active != FALSE;
    }
    g_variant_unref(reply);
}

void onActiveChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                     GVariant* parameters, gpointer data) {
    auto* context = static_cast<Context*>(data);
    auto state = context->state.lock();
    if (state && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(b)"))) {
        gboolean active = FALSE;
        g_variant_get(parameters, "(b)", &active);
        state->serviceActive[context->index] = active != FALSE;
    }
}

void onNameAppeared(GDBusConnection* bus, const gchar*, const gchar*, gpointer data) {
    auto* context = static_cast<Context*>(data);
    auto state = context->state.lock();
    if (!state) {
        return;
    }
    const Service& s = services[context->index];
    g_dbus_connection_call(bus, s.name, s.path, s.interface, "GetActive", nullptr,
                           G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, 2000,
                           state->cancellable, onGetActive,
                           new Context{context->state, context->index});
}

void onNameVanished(GDBusConnection*, const gchar*, gpointer data) {
    auto* context = static_cast<Context*>(data);
    if (auto state = context->state.lock()) {
        state->serviceActive[context->index] = false;
    }
}

} // namespace

void SessionLockWatch::State::readXScreensaverStatus() {
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    xscreensaverActive = false;
    if (XGetWindowProperty(display, DefaultRootWindow(display), statusAtom, 0, 1, False, XA_INTEGER,
                           &type, &format, &items, &after, &data) == Success &&
        data) {
        if (type == XA_INTEGER && format == 32 && items >= 1) {
            // Format-32 items come as longs; the first names the state: BLANK, LOCK or 0.
            const auto first = static_cast<Atom>(reinterpret_cast<unsigned long*>(data)[0]);
            xscreensaverActive = first == lockAtom || first == blankAtom;
        }
        XFree(data);
    }
}

SessionLockWatch::SessionLockWatch(MainQueue& queue) : state_(std::make_shared<State>()) {
    state_->bus = openSessionBus();
    if (state_->bus) {
        state_->cancellable = g_cancellable_new();
        for (std::size_t i = 0; i < services.size(); ++i) {
            const Service& s = services[i];
            state_->subscriptions[i] = g_dbus_connection_signal_subscribe(
                state_->bus, s.name, s.interface, "ActiveChanged", nullptr, nullptr,
                G_DBUS_SIGNAL_FLAGS_NONE, onActiveChanged, new Context{state_, i}, deleteContext);
            state_->nameWatches[i] = g_bus_watch_name_on_connection(
                state_->bus, s.name, G_BUS_NAME_WATCHER_FLAGS_NONE, onNameAppeared, onNameVanished,
                new Context{state_, i}, deleteContext);
        }
    }
    state_->display = openDisplay();
    if (state_->display) {
        Display* d = state_->display;
        state_->statusAtom = internAtom(d, "_SCREENSAVER_STATUS");
        state_->lockAtom = internAtom(d, "LOCK");
        state_->blankAtom = internAtom(d, "BLANK");
        XSelectInput(d, DefaultRootWindow(d), PropertyChangeMask);
        state_->readXScreensaverStatus();
        State* s = state_.get();
        state_->displayWatch = queue.watch(ConnectionNumber(d), MainQueue::FdEvents::readable, [s] {
            bool changed = false;
            while (XPending(s->display)) {
                XEvent event;
                XNextEvent(s->display, &event);
                changed = changed ||
                          (event.type == PropertyNotify && event.xproperty.atom == s->statusAtom);
            }
            if (changed) {
                s->readXScreensaverStatus();
            }
            if (connectionLost(s->display)) {
                s->displayWatch.reset(); // a lost connection stays readable for ever
            }
        });
    }
}

SessionLockWatch::~SessionLockWatch() {
    state_->displayWatch.reset();
    if (state_->display) {
        closeDisplay(state_->display);
    }
    if (state_->bus) {
        g_cancellable_cancel(state_->cancellable);
        for (std::size_t i = 0; i < services.size(); ++i) {
            g_dbus_connection_signal_unsubscribe(state_->bus, state_->subscriptions[i]);
            g_bus_unwatch_name(state_->nameWatches[i]);
        }
        g_object_unref(state_->cancellable);
        g_object_unref(state_->bus);
    }
}

bool SessionLockWatch::active() const {
    if (state_->xscreensaverActive) {
        return true;
    }
    for (bool a : state_->serviceActive) {
        if (a) {
            return true;
        }
    }
    return false;
}

} // namespace kestro::platform::linux_x11
