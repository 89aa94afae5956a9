#include "KestroCore/HotkeyEngine.h"
#include "KestroCore/InputMonitor.h"
#include "platform/linux/GLibMainQueue.h"
#include "platform/linux/X11EventTaps.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/linux/Screenshot.h"

#include <gtest/gtest.h>

// Xlib defines macros such as None and Bool; it comes after gtest.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <gio/gio.h>

#include <poll.h>

#include <chrono>
#include <future>
#include <optional>
#include <sstream>
#include <thread>

using namespace kestro;
using kestro::platform::linux_x11::GLibMainQueue;
using kestro::platform::linux_x11::X11EventTaps;
using kestro::testing::DesktopSession;

namespace {

// X key codes of the test server's keyboard (evdev).
constexpr unsigned xEscape = 9, xA = 38, xC = 54, xV = 55, xSlash = 61, xControl = 37, xShift = 50,
                   xSuper = 133;

std::string describe(const InputMonitor::Signal& signal) {
    std::ostringstream out;
    auto button = [](InputMonitor::MouseButton b) {
        return b == InputMonitor::MouseButton::left ? "left" : "right";
    };
    std::visit(
        [&](const auto& s) {
            using S = std::decay_t<decltype(s)>;
            if constexpr (std::is_same_v<S, InputMonitor::MouseDown>) {
                out << "down " << s.point.x << "," << s.point.y << " " << button(s.button) << " "
                    << s.clickCount;
            } else if constexpr (std::is_same_v<S, InputMonitor::MouseUp>) {
                out << "up " << s.point.x << "," << s.point.y << " " << button(s.button);
            } else if constexpr (std::is_same_v<S, InputMonitor::MouseDragged>) {
                out << "drag " << s.point.x << "," << s.point.y;
            } else if constexpr (std::is_same_v<S, InputMonitor::Scroll>) {
                out << "scroll " << s.point.x << "," << s.point.y << " " << s.deltaX << " "
                    << s.deltaY;
            } else {
                out << "key " << s.keyCode << " " << std::hex << s.flags << std::dec << " "
                    << (s.characters ? "\"" + *s.characters + "\"" : "-");
            }
        },
        signal);
    return out.str();
}

struct X11Input : ::testing::Test {
    std::unique_ptr<DesktopSession> session;
    Display* xtest = nullptr;
    std::unique_ptr<GLibMainQueue> queue;
    std::unique_ptr<X11EventTaps> taps;
    std::vector<std::string> signals;

    void SetUp() override {
        session = std::make_unique<DesktopSession>(DesktopSession::Options{.dbus = true});
        ASSERT_TRUE(session->ok()) << session->error();
        xtest = XOpenDisplay(session->display().c_str());
        ASSERT_NE(xtest, nullptr);
        queue = std::make_unique<GLibMainQueue>();
        taps = std::make_unique<X11EventTaps>(*queue);
    }
    void TearDown() override {
        taps.reset();
        queue.reset();
        if (xtest) {
            XCloseDisplay(xtest);
        }
        session.reset();
    }

    void settle(double seconds = 0.015) { queue->runFor(seconds); }
    void key(unsigned keycode, bool down, double pause = 0.015) {
        XTestFakeKeyEvent(xtest, keycode, down ? True : False, CurrentTime);
        XFlush(xtest);
        settle(pause);
    }
    void tap(unsigned keycode) {
        key(keycode, true);
        key(keycode, false);
    }
    void chord(std::initializer_list<unsigned> keys) {
        for (unsigned k : keys) {
            key(k, true);
        }
        for (auto it = std::rbegin(keys); it != std::rend(keys); ++it) {
            key(*it, false);
        }
    }
    void move(int x, int y) {
        XTestFakeMotionEvent(xtest, 0, x, y, CurrentTime);
        XFlush(xtest);
        settle();
    }
    void button(unsigned b, bool down) {
        XTestFakeButtonEvent(xtest, b, down ? True : False, CurrentTime);
        XFlush(xtest);
        settle();
    }
    void click(unsigned b) {
        button(b, true);
        button(b, false);
    }

    std::unique_ptr<InputMonitor> startMonitor() {
        auto monitor = std::make_unique<InputMonitor>(*taps, *queue);
        monitor->onSignal = [this](const InputMonitor::Signal& s) {
            signals.push_back(describe(s));
        };
        EXPECT_TRUE(monitor->start());
        return monitor;
    }
    // Waits for `count` signals, then a little longer for any unexpected extra one.
    std::vector<std::string> awaitSignals(std::size_t count) {
        queue->runUntil([&] { return signals.size() >= count; }, 5);
        settle(0.05);
        return std::exchange(signals, {});
    }
    // Whatever arrives within a short while, for steps that should give nothing.
    std::vector<std::string> signalsSoon() {
        settle(0.2);
        return std::exchange(signals, {});
    }

    // Gives a key code without symbols the two symbols; returns the key code.
    unsigned remapSpareKey(KeySym lower, KeySym upper) {
        int min = 0, max = 0, perCode = 0;
        XDisplayKeycodes(xtest, &min, &max);
        KeySym* map =
            XGetKeyboardMapping(xtest, static_cast<KeyCode>(min), max - min + 1, &perCode);
        unsigned spare = 0;
        for (int kc = max; kc >= min && !spare; --kc) {
            bool empty = true;
            for (int i = 0; i < perCode; ++i) {
                empty = empty && map[(kc - min) * perCode + i] == NoSymbol;
            }
            if (empty) {
                spare = static_cast<unsigned>(kc);
            }
        }
        XFree(map);
        KeySym syms[2] = {lower, upper};
        XChangeKeyboardMapping(xtest, static_cast<int>(spare), 2, syms, 1);
        XSync(xtest, False);
        settle(0.03); // clients must see the new mapping before the key comes
        return spare;
    }
};

} // namespace

TEST_F(X11Input, PointerInputBecomesSignalsWithEventTimePositions) {
    auto monitor = startMonitor();
    move(300, 200);
    click(1);
    click(1);
    EXPECT_EQ(awaitSignals(4),
              (std::vector<std::string>{"down 300,200 left 1", "up 300,200 left",
                                        "down 300,200 left 2", "up 300,200 left"}));

    settle(0.5); // past the double-click time
    move(500, 100);
    click(3);
    EXPECT_EQ(awaitSignals(2),
              (std::vector<std::string>{"down 500,100 right 1", "up 500,100 right"}));

    // Positions are those of each event, however fast the events come.
    button(1, true);
    for (int i = 1; i <= 3; ++i) {
        XTestFakeMotionEvent(xtest, 0, 500 + 40 * i, 100 + 10 * i, CurrentTime);
    }
    XTestFakeButtonEvent(xtest, 1, False, CurrentTime);
    XFlush(xtest);
    EXPECT_EQ(awaitSignals(5),
              (std::vector<std::string>{"down 500,100 left 1", "drag 540,110", "drag 580,120",
                                        "drag 620,130", "up 620,130 left"}));

    // A right drag yields only its press and release.
    button(3, true);
    move(700, 300);
    button(3, false);
    EXPECT_EQ(awaitSignals(2),
              (std::vector<std::string>{"down 620,130 right 1", "up 700,300 right"}));

    for (unsigned b : {4u, 5u, 6u, 7u}) {
        click(b);
    }
    EXPECT_EQ(awaitSignals(4),
              (std::vector<std::string>{"scroll 700,300 0 1", "scroll 700,300 0 -1",
                                        "scroll 700,300 1 0", "scroll 700,300 -1 0"}));
}

TEST_F(X11Input, KeyPressesCarryKeyCodesFlagsAndText) {
    auto monitor = startMonitor();
    chord({xShift, xA});
    chord({xControl, xC});
    chord({xSuper, xV});
    tap(xShift); // a modifier alone: nothing
    const unsigned eacute = remapSpareKey(XK_eacute, XK_Eacute);
    tap(eacute);
    const unsigned euro = remapSpareKey(XK_EuroSign, XK_EuroSign);
    tap(euro);
    const auto code = [](unsigned x) { return std::to_string(0x100 + x); };
    EXPECT_EQ(awaitSignals(5),
              (std::vector<std::string>{"key 0 20000 \"A\"", "key 8 40000 \"\x03\"",
                                        "key 9 100000 \"v\"", "key " + code(eacute) + " 0 \"é\"",
                                        "key " + code(euro) + " 0 \"€\""}));

    // Holding a key repeats its key signal; its release gives none.
    key(xA, true, 0.9);
    key(xA, false);
    const auto repeats = awaitSignals(3);
    EXPECT_GE(repeats.size(), 3u);
    for (const auto& s : repeats) {
        EXPECT_EQ(s, "key 0 0 \"a\"");
    }
}

namespace {

// A focused window of another client, noting which key presses reach it.
struct FixtureWindow {
    Display* display;
    Window window;
    explicit FixtureWindow(const std::string& name) : display(XOpenDisplay(name.c_str())) {
        window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 200, 100, 0, 0, 0);
        XSelectInput(display, window, KeyPressMask | KeyReleaseMask);
        XMapWindow(display, window);
        XSync(display, False);
        XSetInputFocus(display, window, RevertToParent, CurrentTime);
        XSync(display, False);
    }
    ~FixtureWindow() { XCloseDisplay(display); }
    // The key codes pressed since the last call.
    std::vector<unsigned> presses() {
        std::vector<unsigned> out;
        XSync(display, False);
        while (XPending(display)) {
            XEvent e;
            XNextEvent(display, &e);
            if (e.type == KeyPress) {
                out.push_back(e.xkey.keycode);
            }
        }
        return out;
    }
};

} // namespace

TEST_F(X11Input, HotkeysAreConsumedOnlyWhereTheyShouldBe) {
    FixtureWindow fixture(session->display());
    platform::SystemClock clock;
    HotkeyEngine engine(*taps, *queue, clock);
    std::vector<HotkeyEngine::Event> events;
    engine.onEvent = [&](HotkeyEngine::Event e) { events.push_back(e); };
    ASSERT_TRUE(engine.start());
    auto monitor = startMonitor();
    using E = HotkeyEngine::Event;
    struct Step {
        const char* name;
        std::function<void()> act;
        std::vector<E> events;
        std::vector<unsigned> reaching; // key presses the focused window gets
        std::vector<std::string> signals;
    };
    const std::vector<Step> steps = {
        {"control-slash",
         [&] {
             chord({xControl, xSlash});
         },
         {E::openPalette},
         {xControl},
         {}},
        {"control-shift-slash",
         [&] {
             chord({xControl, xShift, xSlash});
         },
         {E::openPalette},
         {xControl, xShift},
         {}},
        {"command-control-slash",
         [&] {
             chord({xSuper, xControl, xSlash});
         },
         {},
         {xSuper, xControl, xSlash},
         {"key 44 140000 \"\x1F\""}},
        {"escape, not casting", [&] { tap(xEscape); }, {}, {xEscape}, {"key 53 0 \"\x1b\""}},
        {"escape, casting",
         [&] {
             engine.setCasting(true);
             tap(xEscape);
             chord({xControl, xEscape});
         },
         {E::panic, E::panic},
         {xControl},
         {}},
        {"escape after the cast",
         [&] {
             engine.setCasting(false);
             tap(xEscape);
         },
         {},
         {xEscape},
         {"key 53 0 \"\x1b\""}},
        {"double control",
         [&] {
             tap(xControl);
             tap(xControl);
         },
         {E::toggleRecording},
         {xControl, xControl},
         {}},
        {"a letter passes", [&] { tap(xA); }, {}, {xA}, {"key 0 0 \"a\""}},
    };
    for (const auto& s : steps) {
        settle(0.4); // apart from the previous step's Control presses
        events.clear();
        fixture.presses();
        s.act();
        queue->runUntil([&] { return events.size() >= s.events.size(); }, 3);
        settle(0.05);
        EXPECT_EQ(events, s.events) << s.name;
        EXPECT_EQ(fixture.presses(), s.reaching) << s.name;
        EXPECT_EQ(std::exchange(signals, {}), s.signals) << s.name;
    }
}

TEST_F(X11Input, EscapeTypedTheMomentTheCastEndsReachesTheWindow) {
    FixtureWindow fixture(session->display());
    platform::SystemClock clock;
    HotkeyEngine engine(*taps, *queue, clock);
    std::vector<HotkeyEngine::Event> events;
    engine.onEvent = [&](HotkeyEngine::Event e) { events.push_back(e); };
    ASSERT_TRUE(engine.start());
    engine.setCasting(true);
    settle(0.4);
    fixture.presses();

    // Another client holds the server while the cast ends and types Escape the moment that
    // returns, so the server sees the key before anything sent meanwhile by other clients.
    Display* typing = XOpenDisplay(session->display().c_str());
    XGrabServer(typing);
    XSync(typing, False);
    std::promise<void> ended;
    std::thread typist([&, returned = ended.get_future()] {
        if (returned.wait_for(std::chrono::milliseconds(300)) == std::future_status::timeout) {
            // The end waits for the server, as it should: let it.
            XUngrabServer(typing);
            XSync(typing, False);
            returned.wait();
        }
        XTestFakeKeyEvent(typing, xEscape, True, CurrentTime);
        XTestFakeKeyEvent(typing, xEscape, False, CurrentTime);
        XUngrabServer(typing);
        XSync(typing, False);
    });
    engine.setCasting(false);
    ended.set_value();
    typist.join();
    XCloseDisplay(typing);

    std::vector<unsigned> reaching;
    queue->runUntil(
        [&] {
            const auto presses = fixture.presses();
            reaching.insert(reaching.end(), presses.begin(), presses.end());
            return !reaching.empty();
        },
        3);
    EXPECT_EQ(reaching, std::vector<unsigned>{xEscape});
    EXPECT_TRUE(events.empty());
}

TEST_F(X11Input, AMainThreadStuckRightAfterControlSlashNeverKeepsTheKeyboardFrozen) {
    FixtureWindow fixture(session->display());
    platform::SystemClock clock;
    HotkeyEngine engine(*taps, *queue, clock);
    // The palette's event blocks the main thread until a letter typed by another thread reaches
    // the window beneath, or for 2 s at most.
    std::vector<unsigned> reaching;
    std::optional<double> letterAfter;
    std::vector<HotkeyEngine::Event> events;
    engine.onEvent = [&](HotkeyEngine::Event e) {
        events.push_back(e);
        if (e != HotkeyEngine::Event::openPalette || events.size() > 1) {
            return;
        }
        std::thread typist([&] {
            Display* typing = XOpenDisplay(session->display().c_str());
            const auto typed = std::chrono::steady_clock::now();
            XTestFakeKeyEvent(typing, xA, True, CurrentTime);
            XTestFakeKeyEvent(typing, xA, False, CurrentTime);
            XFlush(typing);
            const auto deadline = typed + std::chrono::seconds(2);
            for (auto now = typed; !letterAfter && now < deadline;
                 now = std::chrono::steady_clock::now()) {
                pollfd fd{ConnectionNumber(fixture.display), POLLIN, 0};
                ::poll(&fd, 1,
                       static_cast<int>(
                           std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count()));
                for (unsigned k : fixture.presses()) {
                    reaching.push_back(k);
                    if (k == xA) {
                        letterAfter =
                            std::chrono::duration<double>(std::chrono::steady_clock::now() - typed)
                                .count();
                    }
                }
            }
            XCloseDisplay(typing);
        });
        typist.join();
    };
    ASSERT_TRUE(engine.start());
    settle(0.4);
    fixture.presses();
    chord({xControl, xSlash});
    queue->runUntil([&] { return !events.empty(); }, 3);
    kestro::testing::saveScreenshot(xtest, "x11input-stuck-main-thread");
    EXPECT_EQ(events, std::vector<HotkeyEngine::Event>{HotkeyEngine::Event::openPalette});
    ASSERT_TRUE(letterAfter.has_value()) << "the keyboard stayed frozen while the main thread was";
    // The keys wait for the palette 300 ms at most, then go where the focus is.
    EXPECT_LT(*letterAfter, 0.5);
    EXPECT_EQ(reaching, (std::vector<unsigned>{xControl, xA})) << "Control-/ itself is taken";
}

TEST_F(X11Input, ControlSlashHeldByAnotherClientLeavesTheOtherHotkeysWorking) {
    FixtureWindow fixture(session->display());
    Display* other = XOpenDisplay(session->display().c_str());
    XGrabKey(other, xSlash, ControlMask, DefaultRootWindow(other), False, GrabModeAsync,
             GrabModeAsync);
    XSync(other, False);
    platform::SystemClock clock;
    HotkeyEngine engine(*taps, *queue, clock);
    std::vector<HotkeyEngine::Event> events;
    engine.onEvent = [&](HotkeyEngine::Event e) { events.push_back(e); };
    ASSERT_TRUE(engine.start());
    EXPECT_TRUE(engine.isPaletteHotkeyTaken());
    using E = HotkeyEngine::Event;

    // Control-/ goes to the client that holds it; the palette does not open. Not even with
    // Num Lock on: no variant of the chord was kept.
    settle(0.4);
    chord({xControl, xSlash});
    settle(0.4);
    EXPECT_TRUE(events.empty());
    int othersPresses = 0;
    XSync(other, False);
    while (XPending(other)) {
        XEvent e;
        XNextEvent(other, &e);
        othersPresses += e.type == KeyPress && e.xkey.keycode == xSlash;
    }
    EXPECT_EQ(othersPresses, 1);
    // The double tap still toggles recording, and Escape still aborts a cast.
    tap(xControl);
    tap(xControl);
    queue->runUntil([&] { return !events.empty(); }, 3);
    engine.setCasting(true);
    settle(0.4);
    fixture.presses();
    tap(xEscape);
    queue->runUntil([&] { return events.size() >= 2; }, 3);
    EXPECT_EQ(events, (std::vector<E>{E::toggleRecording, E::panic}));
    EXPECT_TRUE(fixture.presses().empty()) << "Escape was not taken from the window";
    engine.setCasting(false);

    // Once the other client lets go, starting again takes the hotkey.
    XCloseDisplay(other);
    XSync(xtest, False);
    EXPECT_TRUE(engine.start());
    EXPECT_FALSE(engine.isPaletteHotkeyTaken());
    settle(0.4);
    events.clear();
    chord({xControl, xSlash});
    queue->runUntil([&] { return !events.empty(); }, 3);
    EXPECT_EQ(events, (std::vector<E>{E::openPalette}));
}

namespace {

// The screen-saver service of a desktop, on the session's private bus.
class FakeScreenSaver {
public:
    explicit FakeScreenSaver(bool active) : active_(active) {
        gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        bus_ = g_dbus_connection_new_for_address_sync(
            address,
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        g_free(address);
        g_dbus_connection_set_exit_on_close(bus_, FALSE);
        node_ = g_dbus_node_info_new_for_xml(
            "<node><interface name='org.freedesktop.ScreenSaver'>"
            "<method name='GetActive'><arg type='b' direction='out'/></method>"
            "<signal name='ActiveChanged'><arg type='b'/></signal>"
            "</interface></node>",
            nullptr);
        static const GDBusInterfaceVTable vtable = {
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
               GDBusMethodInvocation* invocation, gpointer data) {
                auto* self = static_cast<FakeScreenSaver*>(data);
                g_dbus_method_invocation_return_value(invocation,
                                                      g_variant_new("(b)", self->active_));
            },
            nullptr,
            nullptr,
            {}};
        object_ = g_dbus_connection_register_object(bus_, "/org/freedesktop/ScreenSaver",
                                                    node_->interfaces[0], &vtable, this, nullptr,
                                                    nullptr);
        GVariant* reply = g_dbus_connection_call_sync(
            bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "RequestName", g_variant_new("(su)", "org.freedesktop.ScreenSaver", 4u), nullptr,
            G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
        if (reply) {
            g_variant_unref(reply);
        }
    }
    ~FakeScreenSaver() {
        g_dbus_connection_unregister_object(bus_, object_);
        g_dbus_node_info_unref(node_);
        g_dbus_connection_close_sync(bus_, nullptr, nullptr);
        g_object_unref(bus_);
    }
    void setActive(bool active) {
        active_ = active;
        g_dbus_connection_emit_signal(bus_, nullptr, "/org/freedesktop/ScreenSaver",
                                      "org.freedesktop.ScreenSaver", "ActiveChanged",
                                      g_variant_new("(b)", active), nullptr);
        g_dbus_connection_flush_sync(bus_, nullptr, nullptr);
    }

private:
    bool active_;
    GDBusConnection* bus_ = nullptr;
    GDBusNodeInfo* node_ = nullptr;
    guint object_ = 0;
};

} // namespace

TEST_F(X11Input, NoKeySignalsWhileTheScreenLockerIsActive) {
    auto saver = std::make_unique<FakeScreenSaver>(true);
    auto monitor = startMonitor();
    ASSERT_TRUE(queue->runUntil([&] { return taps->keyInputWithheld(); }, 3))
        << "the locker's state is asked for when the tap starts";
    move(10, 10);
    tap(xA);
    click(1);
    EXPECT_EQ(awaitSignals(2), (std::vector<std::string>{"down 10,10 left 1", "up 10,10 left"}));

    saver->setActive(false);
    ASSERT_TRUE(queue->runUntil([&] { return !taps->keyInputWithheld(); }, 3));
    tap(xA);
    EXPECT_EQ(awaitSignals(1), std::vector<std::string>{"key 0 0 \"a\""});

    saver->setActive(true);
    ASSERT_TRUE(queue->runUntil([&] { return taps->keyInputWithheld(); }, 3));
    tap(xA);
    EXPECT_TRUE(signalsSoon().empty());

    // The service going away ends the lock it reported.
    saver.reset();
    ASSERT_TRUE(queue->runUntil([&] { return !taps->keyInputWithheld(); }, 3));

    // xscreensaver announces itself with a property on the root window.
    const Atom status = XInternAtom(xtest, "_SCREENSAVER_STATUS", False);
    long value[3] = {static_cast<long>(XInternAtom(xtest, "LOCK", False)), 0, 0};
    XChangeProperty(xtest, DefaultRootWindow(xtest), status, XA_INTEGER, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(value), 3);
    XSync(xtest, False);
    ASSERT_TRUE(queue->runUntil([&] { return taps->keyInputWithheld(); }, 3));
    tap(xA);
    EXPECT_TRUE(signalsSoon().empty());
    value[0] = 0;
    XChangeProperty(xtest, DefaultRootWindow(xtest), status, XA_INTEGER, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(value), 3);
    XSync(xtest, False);
    ASSERT_TRUE(queue->runUntil([&] { return !taps->keyInputWithheld(); }, 3));
    tap(xA);
    EXPECT_EQ(awaitSignals(1), std::vector<std::string>{"key 0 0 \"a\""});
}

// The recorder checks a reading against the input typed since its key: what the server has
// handled, and so any application may have had, is handed over on request, without the main loop.
TEST_F(X11Input, InputTheServerHasHandledIsReadOnRequest) {
    auto monitor = startMonitor();
    settle(0.1);
    constexpr unsigned xTab = 23;
    for (int round = 0; round < 20; ++round) {
        for (unsigned keycode : {xA, xTab, xA}) {
            XTestFakeKeyEvent(xtest, keycode, True, CurrentTime);
            XTestFakeKeyEvent(xtest, keycode, False, CurrentTime);
        }
        XTestFakeButtonEvent(xtest, 1, True, CurrentTime);
        XTestFakeButtonEvent(xtest, 1, False, CurrentTime);
        XSync(xtest, False); // handled by the server, not read by the tap yet
        ASSERT_TRUE(monitor->readWaitingInput()) << round;
        EXPECT_EQ(monitor->focusMovesWaiting(), 2u) << round << ": the Tab and the press";
        EXPECT_EQ(awaitSignals(5),
                  (std::vector<std::string>{"key 0 0 \"a\"", "key 48 0 \"\t\"", "key 0 0 \"a\"",
                                            "down 960,540 left 1", "up 960,540 left"}))
            << round;
        EXPECT_EQ(monitor->focusMovesWaiting(), 0u);
        settle(0.5); // past the double-click time
    }
    monitor->stop();
    EXPECT_FALSE(monitor->readWaitingInput());
}
