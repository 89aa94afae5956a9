// A demonstration recorded on a private desktop through the real backends: XTest input into
// the Qt fixture, zenity's password prompt and a GTK window standing for a terminal pane, then
// the saved recording folder checked.
#include "KestroBase/FileIO.h"
#include "KestroBase/Image.h"
#include "KestroCore/Paths.h"
#include "KestroCore/RecordingStore.h"
#include "platform/linux/X11Windows.h"
#include "platform/linux/XConnection.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/FixtureApp.h"
#include "tests/support/TempDataDir.h"
#include "tests/support/linux/DeskDriver.h"
#include "tests/support/linux/LinuxDesk.h"
#include "tests/support/linux/Screenshot.h"

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

// Xlib comes after gtest.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

using namespace kestro;
using kestro::testing::DeskDriver;
using kestro::testing::DesktopSession;
using kestro::testing::LinuxDesk;
namespace x11 = platform::linux_x11;
namespace fs = std::filesystem;

namespace {

constexpr const char* fixturePassword = "s3cretpw";
constexpr const char* zenityPassword = "zpass9wd";

Point center(const Rect& r) {
    return {r.origin.x + r.size.width / 2, r.origin.y + r.size.height / 2};
}

// How much of the secret the recording's typed text holds: its letters found in order.
std::size_t leakedCharacters(const Recording& r, const std::string& secret) {
    std::size_t at = 0;
    for (const ActionEvent& e : r.events) {
        for (char c : e.typedText.value_or("")) {
            if (at < secret.size() && c == secret[at]) {
                ++at;
            }
        }
    }
    return at;
}

std::string typedText(const Recording& r) {
    std::string typed;
    for (const ActionEvent& e : r.events) {
        if (e.typedText) {
            typed += "[" + *e.typedText + "]";
        }
    }
    return typed;
}

// Rounds on a quiet machine, then as many with every processor kept busy.
constexpr int burstRounds = 5;

class RecordingEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        session_ = std::make_unique<DesktopSession>(DesktopSession::Options{.accessibility = true});
        ASSERT_TRUE(session_->ok()) << session_->error();
        fixture_ = session_->spawn(
            {kestro::testing::fixtureAppPath(), "--window-rect", "100,100,400,300"});
        zenity_ = session_->spawn({"zenity", "--password", "--title", "Kestro Zenity"});
        driver_ = std::make_unique<DeskDriver>(session_->display());
        ASSERT_EQ(driver_->error(), "");
        x_ = driver_->x.get();
        xtest_ = driver_->xtest;
        desk_ = driver_->desk.get();
        ASSERT_TRUE(desk_->awaitApplication(fixture_)) << "the fixture has no accessibility tree";
        ASSERT_TRUE(desk_->awaitApplication(zenity_)) << "zenity has no accessibility tree";
        ASSERT_TRUE(desk_->queue.runUntil(
            [&] { return window("Kestro Fixture") && window("Kestro Zenity"); }, 10));
        // Zenity opens at the origin; put it beside the fixture.
        if (auto w = window("Kestro Zenity")) {
            const std::uint32_t place[] = {1200, 100};
            xcb_configure_window(x_->xcb(), w->window, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y,
                                 place);
            sync();
        }
    }

    void TearDown() override {
        driver_.reset();
        session_.reset();
    }

    std::optional<x11::TopLevel> window(const std::string& title) { return driver_->window(title); }
    // Without a window manager the test hands the keyboard to a window itself.
    void focusWindow(const std::string& title) {
        if (auto w = window(title)) {
            xcb_set_input_focus(x_->xcb(), XCB_INPUT_FOCUS_POINTER_ROOT, w->window,
                                XCB_CURRENT_TIME);
            sync();
        }
    }
    void sync() {
        free(xcb_get_input_focus_reply(x_->xcb(), xcb_get_input_focus(x_->xcb()), nullptr));
        settle(0.2);
    }
    void settle(double seconds = 0.02) { desk_->queue.runFor(seconds); }

    // Input through XTest, each step given time to arrive; steps are more than the key-frame
    // gap apart so that each action gets its frame.
    void move(Point p) {
        XTestFakeMotionEvent(xtest_, 0, static_cast<int>(p.x), static_cast<int>(p.y), CurrentTime);
        XFlush(xtest_);
        settle(0.02);
    }
    void button(unsigned b, bool down) {
        XTestFakeButtonEvent(xtest_, b, down ? True : False, CurrentTime);
        XFlush(xtest_);
        settle(0.02);
    }
    void click(Point p) {
        move(p);
        button(1, true);
        button(1, false);
        settle(0.4);
    }
    void key(KeySym sym, bool down) {
        XTestFakeKeyEvent(xtest_, XKeysymToKeycode(xtest_, sym), down ? True : False, CurrentTime);
        XFlush(xtest_);
        settle(0.01);
    }
    void typeText(const std::string& letters) {
        for (char c : letters) {
            const KeySym sym = XStringToKeysym(std::string(1, c).c_str());
            key(sym, true);
            key(sym, false);
        }
        settle(0.4);
    }

    // Input the way a fast script gives it: no pause between the steps, one flush at the end.
    void rawClick(Point p) {
        XTestFakeMotionEvent(xtest_, 0, static_cast<int>(p.x), static_cast<int>(p.y), CurrentTime);
        XTestFakeButtonEvent(xtest_, 1, True, CurrentTime);
        XTestFakeButtonEvent(xtest_, 1, False, CurrentTime);
    }
    void rawKey(KeySym sym) {
        XTestFakeKeyEvent(xtest_, XKeysymToKeycode(xtest_, sym), True, CurrentTime);
        XTestFakeKeyEvent(xtest_, XKeysymToKeycode(xtest_, sym), False, CurrentTime);
    }
    void rawType(const std::string& letters) {
        for (char c : letters) {
            rawKey(XStringToKeysym(std::string(1, c).c_str()));
        }
    }

    // Keys typed by another client while the recorder runs, the way a password manager types
    // them: the first one, and at once the rest, faster than the recorder handles the first.
    void typeFromAnotherClient(const std::string& letters, bool thenReturn) {
        std::atomic<bool> done = false;
        std::thread typist([&, display = session_->display()] {
            Display* d = x11::openDisplay(display.c_str());
            auto tap = [d](KeySym sym) {
                XTestFakeKeyEvent(d, XKeysymToKeycode(d, sym), True, CurrentTime);
                XTestFakeKeyEvent(d, XKeysymToKeycode(d, sym), False, CurrentTime);
                XFlush(d);
            };
            if (d) {
                for (std::size_t i = 0; i < letters.size(); ++i) {
                    tap(XStringToKeysym(letters.substr(i, 1).c_str()));
                    if (i == 0) {
                        XSync(d, False);
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    }
                }
                if (thenReturn) {
                    tap(XK_Return);
                }
                XSync(d, False);
                x11::closeDisplay(d);
            }
            done = true;
        });
        desk_->queue.runUntil([&] { return done.load(); }, 20);
        typist.join();
    }

    // No password byte in any file of the recording, nor the password spread over its typed
    // runs (its letters in order across the runs' text).
    void expectNoSecretStored(const Recording& r, const std::vector<std::string>& secrets) {
        std::string typed;
        for (const ActionEvent& e : r.events) {
            typed += e.typedText.value_or("");
        }
        for (const std::string& secret : secrets) {
            std::size_t at = 0;
            for (char c : typed) {
                if (at < secret.size() && c == secret[at]) {
                    ++at;
                }
            }
            EXPECT_LT(at, secret.size()) << secret << " spread over the typed text " << typed;
            for (const auto& entry : fs::recursive_directory_iterator(Paths::recording(r.id))) {
                if (entry.is_regular_file()) {
                    EXPECT_EQ(readFile(entry.path()).find(secret), std::string::npos)
                        << secret << " in " << entry.path();
                }
            }
        }
    }

    std::optional<Rect> frameTitled(int pid, const std::string& title) {
        return desk_->findFrame(
            pid, [&](const auto&, const auto&, const auto& t) { return t == title; });
    }
    std::optional<Rect> secureFrame(int pid) {
        return desk_->findFrame(pid, [](const auto&, const auto& subrole, const auto&) {
            return subrole == "AXSecureTextField";
        });
    }

    // A sign-in form filled as a password manager fills it: its name field clicked, then the
    // name, Tab, the password, Tab and Return typed at once, with no pause between the keys. The
    // application moves the focus as it takes the Tabs, well before the recorder handles the
    // keys when the machine is busy.
    void fillFormInBursts(const std::string& form, const std::string& title, Rect nameField) {
        const std::vector<std::string> secrets = {"qx7vnzkw", "wj4mrtyp", "hg2dfslc", "zt8kqvnm",
                                                  "pf3wxjhr"};
        std::size_t plain = 0;
        for (bool busy : {false, true}) {
            std::optional<kestro::testing::BusyCores> cores;
            if (busy) {
                cores.emplace();
            }
            for (int round = 0; round < burstRounds; ++round) {
                const std::string& secret = secrets[static_cast<std::size_t>(round)];
                focusWindow(title);
                ASSERT_TRUE(desk_->recorder.start());
                settle(0.4);
                click(center(nameField));
                rawType("bob");
                rawKey(XK_Tab);
                rawType(secret);
                rawKey(XK_Tab);
                rawKey(XK_Return);
                XFlush(xtest_);
                settle(busy ? 1.5 : 0.8);
                if (round == 0) {
                    kestro::testing::saveScreenshot(
                        xtest_, "burst-" + std::string(form == "Qt" ? "qt" : "gtk3") +
                                    (busy ? "-busy" : "-quiet"));
                }
                auto recording = desk_->stopRecording();
                ASSERT_TRUE(recording);
                const std::size_t leaked = leakedCharacters(*recording, secret);
                std::printf("[ figure ] %s, %s, round %d: %zu of %zu password characters "
                            "stored; typed text %s\n",
                            form.c_str(), busy ? "every core busy" : "quiet", round + 1, leaked,
                            secret.size(), typedText(*recording).c_str());
                EXPECT_EQ(leaked, 0u) << form << (busy ? " busy" : " quiet") << " round "
                                      << round + 1 << ": " << typedText(*recording);
                expectNoSecretStored(*recording, {secret});
                for (const ActionEvent& e : recording->events) {
                    plain += e.typedText == "bob";
                }
            }
        }
        // Typed at once, the name itself may be read after the Tab behind it: it need not be
        // kept, and mostly is not.
        std::printf("[ figure ] %s: the name kept in %zu of %d rounds\n", form.c_str(), plain,
                    2 * burstRounds);
    }

    std::unique_ptr<DesktopSession> session_;
    std::unique_ptr<DeskDriver> driver_;
    x11::XConnection* x_ = nullptr;
    Display* xtest_ = nullptr;
    LinuxDesk* desk_ = nullptr;
    pid_t fixture_ = -1, zenity_ = -1;
};

} // namespace

TEST_F(RecordingEndToEnd, ADemonstrationIsRecordedAndSavedWithoutItsPasswords) {
    const auto name = frameTitled(fixture_, "Name");
    const auto password = secureFrame(fixture_);
    const auto notes = frameTitled(fixture_, "Notes");
    const auto zenityField = secureFrame(zenity_);
    ASSERT_TRUE(name && password && notes && zenityField);

    focusWindow("Kestro Fixture");
    ASSERT_TRUE(desk_->recorder.start());
    settle(0.4);
    click(center(*name));
    typeText("world");
    click(center(*password));
    typeText(fixturePassword);
    key(XK_Return, true);
    key(XK_Return, false);
    settle(0.4);
    move(center(*notes));
    for (int i = 0; i < 3; ++i) {
        button(5, true); // scroll down
        button(5, false);
    }
    settle(0.4);
    // A drag across the notes.
    move(Point{notes->origin.x + 10, notes->origin.y + 10});
    button(1, true);
    for (int i = 1; i <= 5; ++i) {
        move(Point{notes->origin.x + 10 + 12.0 * i, notes->origin.y + 10 + 4.0 * i});
    }
    button(1, false);
    settle(0.4);
    key(XK_Control_L, true);
    key(XK_c, true);
    key(XK_c, false);
    key(XK_Control_L, false);
    settle(0.4);
    // Zenity's password prompt, another application.
    focusWindow("Kestro Zenity");
    click(center(*zenityField));
    typeText(zenityPassword);

    auto recording = desk_->stopRecording();
    ASSERT_TRUE(recording);
    const Recording& r = *recording;

    std::vector<std::string> kinds;
    for (const ActionEvent& e : r.events) {
        std::string kind(rawValue(e.type));
        if (e.typedText) {
            kind.append(":").append(*e.typedText);
        }
        if (e.keyCode) {
            kind.append("#").append(std::to_string(*e.keyCode));
        }
        kinds.push_back(std::move(kind));
    }
    const std::vector<std::string> expected = {
        "click", "keystroke:world", "click", "keystroke", "keystroke#36", "scroll",
        "drag",  "keystroke#8",     "click", "keystroke"};
    ASSERT_EQ(kinds, expected);

    const ActionEvent& nameClick = r.events[0];
    ASSERT_TRUE(nameClick.target);
    EXPECT_EQ(nameClick.target->axRole, "AXTextField");
    EXPECT_FALSE(nameClick.target->isSecure);
    EXPECT_EQ(r.events[1].target->axTitle, "Name");
    for (std::size_t secure : {3u, 9u}) {
        ASSERT_TRUE(r.events[secure].target) << secure;
        EXPECT_EQ(r.events[secure].target->axSubrole, "AXSecureTextField") << secure;
        EXPECT_TRUE(r.events[secure].target->isSecure) << secure;
        EXPECT_FALSE(r.events[secure].typedText) << secure;
    }
    EXPECT_EQ(r.events[2].target->axSubrole, "AXSecureTextField");
    EXPECT_TRUE(r.events[5].scrollDelta);
    EXPECT_LT(r.events[5].scrollDelta->height, 0);
    EXPECT_TRUE(r.events[6].endLocation);
    EXPECT_TRUE(*r.events[7].modifierFlags & 0x40000);
    EXPECT_EQ(r.events[8].target->appBundleID, r.events[9].target->appBundleID);

    // One application context per application, fixture first.
    ASSERT_EQ(r.appContexts.size(), 2u);
    EXPECT_EQ(r.appContexts[0].bundleID, nameClick.target->appBundleID);
    EXPECT_EQ(r.appContexts[1].bundleID, r.events[8].target->appBundleID);
    EXPECT_NE(r.appContexts[0].bundleID, r.appContexts[1].bundleID);

    // Key frames: PNGs of the display's size, redacted pixels black.
    ASSERT_GE(r.frames.size(), 5u);
    const RecordingStore store;
    bool sawRedaction = false;
    for (const FrameRef& f : r.frames) {
        SCOPED_TRACE(f.relativePath);
        EXPECT_EQ(f.pixelSize, (Size{1920, 1080}));
        auto image = ImageCodec::readPNG(store.frameURL(r.id, f.relativePath));
        ASSERT_TRUE(image);
        EXPECT_EQ(image->width, 1920);
        EXPECT_EQ(image->height, 1080);
        for (const Rect& region : f.redactedRegions) {
            sawRedaction = true;
            for (double fx : {0.02, 0.5, 0.98}) {
                for (double fy : {0.05, 0.5, 0.95}) {
                    const int px = static_cast<int>(region.origin.x + region.size.width * fx);
                    const int py = static_cast<int>(region.origin.y + region.size.height * fy);
                    const std::uint8_t* p = image->pixel(px, py);
                    EXPECT_EQ(p[0] + p[1] + p[2], 0) << px << "," << py;
                }
            }
        }
    }
    EXPECT_TRUE(sawRedaction);
    for (const ActionEvent& e : r.events) {
        if (e.frameIndex) {
            EXPECT_LT(*e.frameIndex, static_cast<std::int64_t>(r.frames.size()));
        }
    }

    // The saved folder matches and holds neither password anywhere.
    auto stored = store.load(r.id);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->events.size(), r.events.size());
    for (const auto& entry : fs::recursive_directory_iterator(Paths::recording(r.id))) {
        if (!entry.is_regular_file()) {
            continue;
        }
        const std::string bytes = readFile(entry.path());
        for (const char* secret : {fixturePassword, zenityPassword}) {
            EXPECT_EQ(bytes.find(secret), std::string::npos) << secret << " in " << entry.path();
        }
    }
}

TEST_F(RecordingEndToEnd, PasswordsTypedAtOnceAfterAClickOrTabAreNotStored) {
    const auto name = frameTitled(fixture_, "Name");
    const auto password = secureFrame(fixture_);
    ASSERT_TRUE(name && password);
    focusWindow("Kestro Fixture");
    ASSERT_TRUE(desk_->recorder.start());
    settle(0.4);
    const std::vector<std::string> secrets = {"qx7vbnzk", "wj4mrtyp", "hg2dfslc"};
    for (std::size_t i = 0; i < secrets.size(); ++i) {
        click(center(*name));
        typeText("ok");
        // The password field and its password at once, as fast as a script types.
        if (i % 2 == 0) {
            rawClick(center(*password));
        } else {
            rawKey(XK_Tab);
        }
        rawType(secrets[i]);
        XFlush(xtest_);
        settle(0.6);
    }
    auto recording = desk_->stopRecording();
    ASSERT_TRUE(recording);
    expectNoSecretStored(*recording, secrets);
    // The plain text still is, at least once: on a loaded machine a slow answer keeps a run out,
    // as it must.
    std::size_t plain = 0;
    for (const ActionEvent& e : recording->events) {
        plain += e.typedText == "ok";
    }
    EXPECT_GE(plain, 1u);
}

TEST_F(RecordingEndToEnd, PasswordsTypedIntoAPausedApplicationAreNotStored) {
    const auto name = frameTitled(fixture_, "Name");
    const auto password = secureFrame(fixture_);
    ASSERT_TRUE(name && password);
    focusWindow("Kestro Fixture");
    ASSERT_TRUE(desk_->recorder.start());
    settle(0.4);
    click(center(*name));
    typeText("ok");
    // Paused around the click on its password field ...
    ::kill(fixture_, SIGSTOP);
    click(center(*password));
    ::kill(fixture_, SIGCONT);
    typeText("pk8zrmqt");
    key(XK_Return, true);
    key(XK_Return, false);
    settle(0.4);
    // ... and while the password is typed.
    click(center(*password));
    typeText("zv");
    ::kill(fixture_, SIGSTOP);
    typeText("3nl");
    settle(0.5);
    ::kill(fixture_, SIGCONT);
    typeText("wq");
    settle(0.4);
    auto recording = desk_->stopRecording();
    ASSERT_TRUE(recording);
    expectNoSecretStored(*recording, {"pk8zrmqt", "zv3nlwq"});
}

// An editor's terminal pane: accessibility shows a plain entry, and the pseudo-terminal behind it
// is held by a helper process the editor started, at a password prompt. Typed slowly and at once,
// the password is kept nowhere.
TEST_F(RecordingEndToEnd, PasswordsTypedIntoATerminalPaneHeldByAHelperAreNotStored) {
    kestro::testing::TempDataDir scratch;
    const fs::path report = scratch.root() / "pane.txt";
    const std::string title = "Kestro Terminal Pane";
    const pid_t pane = session_->spawn(
        {"/usr/bin/python3", kestro::testing::gtk3TerminalPanePath(), title, report.string()});
    ASSERT_GT(pane, 0);
    ASSERT_TRUE(desk_->awaitApplication(pane, 30)) << "the pane has no accessibility tree";
    const auto told = [&] { return readFileIfPresent(report).value_or(""); };
    // What the pane tells comes in a file, which wakes no main loop: looked at between turns.
    const auto awaitTold = [&](const std::string& line, double seconds) {
        for (int turns = static_cast<int>(seconds / 0.05); turns > 0; --turns) {
            if (told() == line + "\n") {
                return true;
            }
            settle(0.05);
        }
        return false;
    };
    ASSERT_TRUE(awaitTold("ready", 30)) << "the pane's prompt did not turn echo off: " << told();
    ASSERT_TRUE(desk_->queue.runUntil([&] { return window(title).has_value(); }, 10));
    focusWindow(title);
    kestro::testing::saveScreenshot(xtest_, "terminal-pane");

    ASSERT_TRUE(desk_->recorder.start());
    settle(0.4);
    const std::vector<std::string> secrets = {"kv8wqzrt", "jm3xplfd"};
    typeText(secrets[0]);
    rawType(secrets[1]);
    XFlush(xtest_);
    const std::string all = "received " + std::to_string(secrets[0].size() + secrets[1].size());
    EXPECT_TRUE(awaitTold(all, 10)) << "the keys did not reach the pane: " << told();
    settle(0.4);
    auto recording = desk_->stopRecording();
    session_->stop(pane);
    ASSERT_TRUE(recording);
    expectNoSecretStored(*recording, secrets);
    std::size_t keystrokes = 0;
    for (const ActionEvent& e : recording->events) {
        keystrokes += e.type == ActionType::keystroke;
    }
    EXPECT_GE(keystrokes, 1u) << "the typing was not recorded";
}

TEST_F(RecordingEndToEnd, APasswordTypedAtOnceWithTheTabsAroundItInAQtFormIsNotStored) {
    const auto name = frameTitled(fixture_, "Name");
    ASSERT_TRUE(name);
    fillFormInBursts("Qt", "Kestro Fixture", *name);
}

TEST_F(RecordingEndToEnd, APasswordTypedAtOnceWithTheTabsAroundItInAGtk3FormIsNotStored) {
    const pid_t form = session_->spawn(
        {"/usr/bin/python3", kestro::testing::gtk3SignInPath(), "Kestro GTK 3 Form"});
    ASSERT_TRUE(desk_->awaitApplication(form)) << "the GTK 3 form has no accessibility tree";
    ASSERT_TRUE(desk_->queue.runUntil([&] { return window("Kestro GTK 3 Form").has_value(); }, 10));
    std::optional<Rect> name;
    ASSERT_TRUE(desk_->queue.runUntil(
        [&] {
            name = desk_->findFrame(form, [](const auto& role, const auto& subrole, const auto&) {
                return role == "AXTextField" && subrole != "AXSecureTextField";
            });
            return name.has_value();
        },
        10));
    fillFormInBursts("GTK 3", "Kestro GTK 3 Form", *name);
}

// A password prompt in a real terminal (the `read -s` of bash, Python's getpass), the password
// and its Return typed at once: the prompt may have its line and turn echo back on before the
// recorder handles the first key.
TEST_F(RecordingEndToEnd, APasswordTypedAtOnceAtATerminalPromptIsNotStored) {
    const fs::path rc =
        fs::temp_directory_path() / ("kestro-terminal-rc-" + std::to_string(getpid()));
    {
        std::ofstream out(rc);
        out << "PS1='$ '\n"
               "rs() { read -s answer; }\n"
               "gp() { /usr/bin/python3 -c 'import getpass; getpass.getpass(\"Password: \")'; }\n";
    }
    const char* title = "Kestro Burst Terminal";
    const pid_t terminal =
        session_->spawn({"lxterminal", "--no-remote", "-t", title, "--geometry=80x20", "-e",
                         "bash --noediting --rcfile " + rc.string() + " -i"});
    ASSERT_GT(terminal, 0);
    ASSERT_TRUE(desk_->awaitApplication(terminal)) << "the terminal has no accessibility tree";
    ASSERT_TRUE(desk_->queue.runUntil(
        [&] { return window(title).has_value() && kestro::testing::shellEcho(terminal) == true; },
        30))
        << "no shell with echo on in the terminal";
    if (auto w = window(title)) {
        const std::uint32_t place[] = {600, 450};
        xcb_configure_window(x_->xcb(), w->window, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y,
                             place);
        sync();
    }
    auto echoIs = [&](bool on) {
        return desk_->queue.runUntil([&] { return kestro::testing::shellEcho(terminal) == on; },
                                     20);
    };
    const std::vector<std::string> secrets = {"73019248", "58204613", "91837402", "26481590",
                                              "40592837"};
    std::size_t commandsKept = 0;
    struct Removed {
        fs::path path;
        ~Removed() { fs::remove(path); }
    } removed{rc};
    for (bool busy : {false, true}) {
        std::optional<kestro::testing::BusyCores> cores;
        if (busy) {
            cores.emplace();
        }
        for (int round = 0; round < burstRounds; ++round) {
            const std::string& secret = secrets[static_cast<std::size_t>(round)];
            const std::string prompt = round % 2 == 0 ? "rs" : "gp";
            focusWindow(title);
            ASSERT_TRUE(echoIs(true)) << "round " << round + 1 << ": no shell prompt";
            ASSERT_TRUE(desk_->recorder.start());
            settle(0.4);
            typeText(prompt);
            key(XK_Return, true);
            key(XK_Return, false);
            ASSERT_TRUE(echoIs(false)) << prompt << ": echo never went off";
            typeFromAnotherClient(secret, true);
            ASSERT_TRUE(echoIs(true)) << prompt << ": echo never came back";
            settle(busy ? 1.0 : 0.5);
            if (round == 0) {
                kestro::testing::saveScreenshot(xtest_, busy ? "burst-terminal-busy"
                                                             : "burst-terminal-quiet");
            }
            auto recording = desk_->stopRecording();
            ASSERT_TRUE(recording);
            const std::size_t leaked = leakedCharacters(*recording, secret);
            std::printf("[ figure ] terminal (%s), %s, round %d: %zu of %zu password characters "
                        "stored; typed text %s\n",
                        prompt == "rs" ? "read -s" : "getpass", busy ? "every core busy" : "quiet",
                        round + 1, leaked, secret.size(), typedText(*recording).c_str());
            EXPECT_EQ(leaked, 0u) << (busy ? "busy" : "quiet") << " round " << round + 1 << ": "
                                  << typedText(*recording);
            expectNoSecretStored(*recording, {secret});
            for (const ActionEvent& e : recording->events) {
                commandsKept += e.typedText == prompt;
            }
        }
    }
    // The command typed key by key with echo on is kept, at least on the quiet machine.
    std::printf("[ figure ] terminal: the command kept in %zu of %d rounds\n", commandsKept,
                2 * burstRounds);
    EXPECT_GE(commandsKept, 1u);
}

TEST(RecordingWithoutADisplay, AKilledDisplayServerLeavesTheRecordingSaved) {
    DesktopSession session(DesktopSession::Options{.accessibility = true});
    ASSERT_TRUE(session.ok()) << session.error();
    Display* xtest = x11::openDisplay(session.display().c_str());
    ASSERT_NE(xtest, nullptr);
    auto desk = std::make_unique<LinuxDesk>();
    ASSERT_TRUE(desk->ok());
    std::optional<Recording> interrupted;
    desk->recorder.onInterrupted = [&](const Recording& r) { interrupted = r; };
    ASSERT_TRUE(desk->recorder.start());
    desk->queue.runFor(0.3);
    XTestFakeMotionEvent(xtest, 0, 300, 300, CurrentTime);
    XTestFakeButtonEvent(xtest, 1, True, CurrentTime);
    XTestFakeButtonEvent(xtest, 1, False, CurrentTime);
    XTestFakeKeyEvent(xtest, XKeysymToKeycode(xtest, XK_Return), True, CurrentTime);
    XTestFakeKeyEvent(xtest, XKeysymToKeycode(xtest, XK_Return), False, CurrentTime);
    XFlush(xtest);
    desk->queue.runFor(0.5);

    session.killDisplay();
    ASSERT_TRUE(desk->queue.runUntil([&] { return interrupted.has_value(); }, 10))
        << "the recording did not end with its display";
    EXPECT_FALSE(desk->recorder.isRecording());
    ASSERT_EQ(interrupted->events.size(), 2u);
    EXPECT_EQ(interrupted->events[0].type, ActionType::click);
    EXPECT_EQ(interrupted->events[1].keyCode, 36);
    auto stored = RecordingStore().load(interrupted->id);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->events.size(), 2u);
    // Nothing keeps polling the dead connections, and everything lets go of them quietly.
    desk->queue.runFor(0.3);
    desk.reset();
    x11::closeDisplay(xtest);
}
