#include "KestroBase/Text.h"
#include "platform/linux/GLibMainQueue.h"
#include "platform/linux/X11AppActivator.h"
#include "platform/linux/X11Applications.h"
#include "platform/linux/X11SyntheticInput.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/FixtureApp.h"
#include "tests/support/TempDataDir.h"
#include "tests/support/linux/WindowManager.h"

#include <gtest/gtest.h>

// Xlib defines macros such as None and Bool; it comes after gtest.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <bit>
#include <chrono>
#include <cmath>
#include <sstream>
#include <thread>

using namespace kestro;
using kestro::platform::InputEvent;
using kestro::platform::linux_x11::GLibMainQueue;
using kestro::platform::linux_x11::X11AppActivator;
using kestro::platform::linux_x11::X11Applications;
using kestro::platform::linux_x11::X11SyntheticInput;
using kestro::testing::DesktopSession;
using LogWindow = kestro::testing::InputLogWindow;
namespace type = kestro::platform::event_type;
namespace flag = kestro::platform::event_flag;

namespace {

struct Desk : ::testing::Test {
    kestro::testing::TempDataDir temp;
    std::unique_ptr<DesktopSession> session;
    std::unique_ptr<GLibMainQueue> queue;
    std::unique_ptr<X11SyntheticInput> input;
    Display* display = nullptr;

    void start() {
        // Qt looks for a session bus when it starts; a private one answers at once.
        session = std::make_unique<DesktopSession>(DesktopSession::Options{.dbus = true});
        ASSERT_TRUE(session->ok()) << session->error();
        display = XOpenDisplay(session->display().c_str());
        ASSERT_NE(display, nullptr);
        queue = std::make_unique<GLibMainQueue>();
        input = std::make_unique<X11SyntheticInput>(*queue);
        ASSERT_TRUE(input->ok());
    }
    void TearDown() override {
        input.reset();
        queue.reset();
        if (display) {
            XCloseDisplay(display);
        }
        session.reset();
    }

    LogWindow openWindow(const std::string& name, const std::string& rect = "200,200,400,300",
                         const std::string& appId = "org.kestro.InputLog") {
        LogWindow w{temp.root() / (name + ".log")};
        w.pid = session->spawn({kestro::testing::inputLogAppPath(), "--log", w.path.string(),
                                "--window-title", name, "--window-rect", rect, "--app-id", appId});
        EXPECT_GT(w.pid, 0);
        EXPECT_TRUE(waitFor([&] { return !w.lines("ready").empty(); }, 60))
            << "the window " << name << " did not come up";
        return w;
    }
    // Runs the loop until `done` holds; it is asked often, as what it reads (another process's
    // log, the server's state) wakes no loop.
    bool waitFor(const std::function<bool()>& done, double seconds = 20) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            queue->runFor(0.02);
        }
        return true;
    }
    // Runs the loop a little so that nothing more is on its way.
    void settle(double seconds = 0.3) { queue->runFor(seconds); }

    void post(std::uint32_t eventType, Point at = {0, 0}, std::int64_t clickState = 0) {
        InputEvent e;
        e.type = eventType;
        e.location = at;
        e.clickState = clickState;
        input->post(e);
        settle(0.01);
    }
    void key(std::uint16_t code, std::uint64_t flags) {
        for (std::uint32_t t : {type::keyDown, type::keyUp}) {
            InputEvent e;
            e.type = t;
            e.keyCode = code;
            e.flags = flags;
            input->post(e);
        }
    }
    // One down and up per character, carrying it as text, as the runner posts them.
    void typeText(const std::u32string& chars) {
        for (char32_t c : chars) {
            std::string utf8;
            text::appendUtf8(utf8, c);
            for (std::uint32_t t : {type::keyDown, type::keyUp}) {
                InputEvent e;
                e.type = t;
                e.unicodeString = utf8;
                input->post(e);
            }
        }
    }

    // The core keyboard mapping and the modifier mapping, as one comparable text.
    std::string keyboardMapping() {
        int min = 0, max = 0, perCode = 0;
        XDisplayKeycodes(display, &min, &max);
        KeySym* map =
            XGetKeyboardMapping(display, static_cast<KeyCode>(min), max - min + 1, &perCode);
        std::ostringstream out;
        for (int i = 0; i < (max - min + 1) * perCode; ++i) {
            out << map[i] << ',';
        }
        XFree(map);
        XModifierKeymap* mods = XGetModifierMapping(display);
        for (int i = 0; i < 8 * mods->max_keypermod; ++i) {
            out << int(mods->modifiermap[i]) << ';';
        }
        XFreeModifiermap(mods);
        return out.str();
    }
};

} // namespace

TEST_F(Desk, ClicksArriveAtTheirPointsAndADoubleClickIsOne) {
    start();
    LogWindow w = openWindow("Clicks");
    const auto [ox, oy] = w.origin();
    const Point left{ox + 40.7, oy + 30.2};
    const Point right{ox + 120.0, oy + 80.0};

    post(type::mouseMoved, left);
    post(type::leftMouseDown, left, 1);
    post(type::leftMouseUp, left, 1);
    // A right click without a move first: the pointer goes there anyway.
    post(type::rightMouseDown, right, 1);
    post(type::rightMouseUp, right, 1);
    ASSERT_TRUE(waitFor([&] { return w.lines("release").size() >= 2; }));
    settle();
    const std::string l = std::to_string(ox + 40) + " " + std::to_string(oy + 30);
    const std::string r = std::to_string(ox + 120) + " " + std::to_string(oy + 80);
    EXPECT_EQ(w.lines("press"), (std::vector<std::string>{"press 1 " + l, "press 2 " + r}));
    EXPECT_EQ(w.lines("release"), (std::vector<std::string>{"release 1 " + l, "release 2 " + r}));
    EXPECT_TRUE(w.lines("double").empty());

    // The double click as the runner posts it, well away from the earlier clicks in time.
    settle(1.0);
    const Point at{ox + 200.0, oy + 150.0};
    post(type::mouseMoved, at);
    post(type::leftMouseDown, at, 1);
    post(type::leftMouseUp, at, 1);
    post(type::leftMouseDown, at, 2);
    post(type::leftMouseUp, at, 2);
    ASSERT_TRUE(waitFor([&] { return w.lines("release").size() >= 4; }));
    settle();
    EXPECT_EQ(w.lines("double"), (std::vector<std::string>{"double 1 " + std::to_string(ox + 200) +
                                                           " " + std::to_string(oy + 150)}));
}

TEST_F(Desk, PointsOutsideWhatXCanAddressPostNothing) {
    start();
    LogWindow w = openWindow("Far");
    const auto [ox, oy] = w.origin();
    const Point inside{ox + 10.0, oy + 10.0};
    post(type::mouseMoved, inside);
    for (Point far : {Point{std::nan(""), 10}, Point{1e9, 10}, Point{10, -1e9},
                      Point{std::numeric_limits<double>::infinity(), 0}}) {
        post(type::leftMouseDown, far, 1);
        post(type::leftMouseUp, far, 1);
    }
    settle(0.5);
    EXPECT_TRUE(w.lines("press").empty());
}

TEST_F(Desk, TypedTextArrivesAsWrittenAndTheKeyboardIsGivenBack) {
    start();
    LogWindow w = openWindow("Typing");
    const std::string before = keyboardMapping();
    struct Case {
        const char* name;
        std::u32string text;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"on the layout, Shift level included", U"Hi! 2026-06-06", "Hi! 2026-06-06"},
        {"accented and currency", U"é€ü", "é€ü"},
        {"a non-Latin word", U"Привет", "Привет"},
        {"outside the Basic Multilingual Plane", U"a𝄞b", "a𝄞b"},
        {"the same special letter twice and a tab", U"éé\tü", "éé\\x09ü"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t already = w.typed().size();
        typeText(c.text);
        EXPECT_TRUE(waitFor([&] { return w.typed().size() >= already + c.expected.size(); }));
        settle();
        EXPECT_EQ(w.typed().substr(already), c.expected);
    }
    // Borrowed key codes come back once typing pauses.
    EXPECT_TRUE(waitFor([&] { return input->remappedKeyCount() == 0; }, 5));
    settle(0.2);
    EXPECT_EQ(keyboardMapping(), before);

    // Destroyed right after typing, it still gives everything back.
    typeText(U"ŽŠ");
    EXPECT_GT(input->remappedKeyCount(), 0u);
    input.reset();
    EXPECT_EQ(keyboardMapping(), before);
}

// A window reads a borrowed key's symbol only when it gets to the press, so a key code lent again
// to another character too soon would type that one instead. The private server has 19 spare key
// codes; this sentence has 34 distinct characters off the layout, some of them more than once.
TEST_F(Desk, MoreCharactersThanSpareKeyCodesArriveAsTypedAndInOrder) {
    start();
    LogWindow w = openWindow("Many");
    const std::string before = keyboardMapping();
    const std::u32string sentence = U"Съешь же ещё этих мягких французских булок, да выпей чаю";
    const std::string expected = "Съешь же ещё этих мягких французских булок, да выпей чаю\\x09";
    typeText(sentence);
    key(48, 0); // Tab, after the text however long the text waits
    bool posted = false;
    input->whenPosted([&] { posted = true; });
    EXPECT_FALSE(posted) << "the rest of the text waits for key codes on the main queue";
    ASSERT_TRUE(waitFor([&] { return posted; }, 30));
    EXPECT_TRUE(waitFor([&] { return w.typed().size() >= expected.size(); }));
    settle();
    EXPECT_EQ(w.typed(), expected);
    // Nothing held back now: told at once.
    bool again = false;
    input->whenPosted([&] { again = true; });
    EXPECT_TRUE(again);
    EXPECT_TRUE(waitFor([&] { return input->remappedKeyCount() == 0; }, 5));
    settle(0.2);
    EXPECT_EQ(keyboardMapping(), before);
}

// Held-back text must not go on being typed after a cancel, nor leave a key down: "é" is pressed
// with no release given yet, Caps Lock is on (and off for that press), and the sentence then
// needs more spare key codes than are left, so most of it and the releases after it wait.
TEST_F(Desk, ACancelDropsWhatWaitsAndLeavesNothingHeld) {
    start();
    LogWindow w = openWindow("Cancel");
    const std::string before = keyboardMapping();
    const unsigned capsLock = XKeysymToKeycode(display, 0xffe5);
    auto toggleCaps = [&] {
        XTestFakeKeyEvent(display, capsLock, True, CurrentTime);
        XTestFakeKeyEvent(display, capsLock, False, CurrentTime);
        XSync(display, False);
    };
    auto capsLocked = [&] {
        XkbStateRec state{};
        XkbGetState(display, XkbUseCoreKbd, &state);
        return (state.locked_mods & LockMask) != 0;
    };
    auto keysDown = [&] {
        char keys[32] = {};
        XQueryKeymap(display, keys);
        int down = 0;
        for (char byte : keys) {
            down += std::popcount(static_cast<unsigned char>(byte));
        }
        return down;
    };
    toggleCaps();
    ASSERT_TRUE(waitFor(capsLocked));

    const std::string sentence = "Съешь же ещё этих мягких французских булок, да выпей чаю";
    InputEvent held;
    held.type = type::keyDown;
    held.unicodeString = "é";
    input->post(held);
    typeText(text::decodeUtf8(sentence));
    held.type = type::keyUp;
    input->post(held);
    key(48, flag::shift);
    int waited = 0;
    input->whenPosted([&] { ++waited; });
    ASSERT_EQ(waited, 0) << "part of the text waits for key codes";

    input->cancelPending();
    EXPECT_EQ(waited, 1) << "whoever waited is told at once";
    EXPECT_TRUE(waitFor([&] { return keysDown() == 0; }, 5)) << keysDown() << " keys still down";
    EXPECT_TRUE(waitFor(capsLocked, 5));

    // Long enough for the whole text to have gone out had it not been dropped.
    settle(2.5);
    const std::string typed = w.typed();
    const std::string all = "é" + sentence;
    EXPECT_TRUE(all.starts_with(typed)) << typed;
    EXPECT_GT(typed.size(), std::string("é").size());
    EXPECT_LT(typed.size(), all.size());
    settle(1.0);
    EXPECT_EQ(w.typed(), typed);
    EXPECT_EQ(keysDown(), 0);

    // The lent key codes come back, and typing goes on normally afterwards.
    EXPECT_TRUE(waitFor([&] { return input->remappedKeyCount() == 0; }, 5));
    settle(0.2);
    EXPECT_EQ(keyboardMapping(), before);
    typeText(U"ok");
    EXPECT_TRUE(waitFor([&] { return w.typed().size() >= typed.size() + 2; }));
    settle();
    EXPECT_EQ(w.typed(), typed + "ok");
    EXPECT_TRUE(waitFor([&] { return keysDown() == 0; }, 5));
    toggleCaps();
}

TEST_F(Desk, CapsLockDoesNotChangeTypedLetters) {
    start();
    LogWindow w = openWindow("Caps");
    const unsigned capsLock = XKeysymToKeycode(display, 0xffe5);
    XTestFakeKeyEvent(display, capsLock, True, CurrentTime);
    XTestFakeKeyEvent(display, capsLock, False, CurrentTime);
    XSync(display, False);
    settle();
    typeText(U"aB");
    EXPECT_TRUE(waitFor([&] { return w.typed().size() >= 2; }));
    settle();
    EXPECT_EQ(w.typed(), "aB");
    // And Caps Lock is on again afterwards.
    XkbStateRec state{};
    XkbGetState(display, XkbUseCoreKbd, &state);
    EXPECT_TRUE(state.locked_mods & LockMask);
    XTestFakeKeyEvent(display, capsLock, True, CurrentTime);
    XTestFakeKeyEvent(display, capsLock, False, CurrentTime);
    XSync(display, False);
}

TEST_F(Desk, KeysWithModifiersAndNothingLeftHeld) {
    start();
    LogWindow w = openWindow("Chords");
    key(0, flag::control);    // Ctrl+A by key position
    key(48, flag::shift);     // Shift+Tab
    key(0, flag::alphaShift); // a lock flag presses no lock key
    key(0, 0);                // nothing is still held
    key(36, flag::command | flag::option);
    key(0x7F, 0); // no key has this code: nothing
    // Qt reports the modifier keys as keys of their own; what matters is the keys they modify.
    auto keys = [&] {
        std::vector<std::string> out;
        for (const auto& l : w.lines("key")) {
            if (!l.starts_with("key 100002")) {
                out.push_back(l);
            }
        }
        return out;
    };
    ASSERT_TRUE(waitFor([&] { return keys().size() >= 5; }));
    settle();
    EXPECT_EQ(keys(), (std::vector<std::string>{
                          "key 41 C \\x01",
                          "key 1000002 S ",
                          "key 41 - a",
                          "key 41 - a",
                          "key 1000004 AM \\x0d",
                      }));
}

TEST_F(Desk, ActivatesTheApplicationWithThatIdentity) {
    start();
    ASSERT_GT(kestro::testing::startWindowManager(*session), 0);
    LogWindow a = openWindow("App A", "100,100,300,200", "org.kestro.LogA");
    LogWindow b = openWindow("App B", "500,100,300,200", "org.kestro.LogB");

    X11Applications applications;
    X11AppActivator activator(applications);
    ASSERT_EQ(applications.runningApplication(a.pid)->bundleIdentifier, "org.kestro.LogA");
    ASSERT_EQ(applications.runningApplication(b.pid)->bundleIdentifier, "org.kestro.LogB");

    auto active = [&](const LogWindow& w) {
        const auto lines = w.lines("active");
        return !lines.empty() && lines.back() == "active 1";
    };
    auto frontPid = [&] { return applications.frontmostApplication()->processIdentifier; };
    for (const LogWindow* w : {&a, &b, &a}) {
        const std::string id = w == &a ? "org.kestro.LogA" : "org.kestro.LogB";
        SCOPED_TRACE(id);
        EXPECT_TRUE(activator.activate(id));
        EXPECT_TRUE(waitFor([&] { return active(*w) && frontPid() == w->pid; }));
    }
    EXPECT_FALSE(activator.activate("org.kestro.NotRunning"));
    settle();
    EXPECT_EQ(frontPid(), a.pid);

    // Keys then go to the window brought to the front.
    EXPECT_TRUE(activator.activate("org.kestro.LogB"));
    ASSERT_TRUE(waitFor([&] { return active(b); }));
    typeText(U"ok");
    EXPECT_TRUE(waitFor([&] { return b.typed() == "ok"; }));
    EXPECT_EQ(a.typed(), "");
}

TEST_F(Desk, WithoutAWindowManagerTheWindowIsRaisedAndFocused) {
    start();
    LogWindow a = openWindow("Bare A", "100,100,300,200", "org.kestro.LogA");
    LogWindow b = openWindow("Bare B", "150,150,300,200", "org.kestro.LogB");
    X11Applications applications;
    X11AppActivator activator(applications);
    for (const LogWindow* w : {&a, &b}) {
        const std::string id = w == &a ? "org.kestro.LogA" : "org.kestro.LogB";
        SCOPED_TRACE(id);
        EXPECT_TRUE(activator.activate(id));
        EXPECT_TRUE(waitFor([&] {
            const auto front = applications.frontmostApplication();
            return front && front->processIdentifier == w->pid;
        }));
        // It is on top where the two overlap: a click there reaches it.
        const Point overlap{200, 200};
        const std::size_t presses = w->lines("press").size();
        post(type::leftMouseDown, overlap, 1);
        post(type::leftMouseUp, overlap, 1);
        EXPECT_TRUE(waitFor([&] { return w->lines("press").size() > presses; }));
    }
}
