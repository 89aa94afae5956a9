// The kestro program on a private Xvfb: start-up, the tray icon where a tray host runs, the main
// window, one instance per session, Ctrl+Q, and the run command without a display.

#include "KestroBase/FileIO.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/TempDataDir.h"
#include "tests/support/linux/Screenshot.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// Xlib defines macros such as None and Bool; it comes after gtest.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

using kestro::testing::ChildOptions;
using kestro::testing::DesktopSession;
using kestro::testing::spawnChild;
using kestro::testing::TempDataDir;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

bool waitFor(const std::function<bool()>& done, double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < deadline) {
        if (done()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}

// A child process of the test, with standard error kept in a file.
class Program {
public:
    explicit Program(const std::vector<std::string>& argv, const fs::path& errFile) {
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (err >= 0) {
            pid_ = spawnChild(
                argv, {.in = ChildOptions::inherit, .out = ChildOptions::inherit, .err = err});
            ::close(err);
        }
    }
    ~Program() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    pid_t pid() const { return pid_; }
    // The exit status once it has ended within the time.
    std::optional<int> wait(double seconds) {
        waitFor(
            [&] {
                int status = 0;
                if (!status_ && ::waitpid(pid_, &status, WNOHANG) == pid_) {
                    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                }
                return status_.has_value();
            },
            seconds);
        return status_;
    }

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

class KestroProgramTest : public ::testing::Test {
public:
    virtual DesktopSession::Options options() const { return {.dbus = true}; }

    void SetUp() override {
        session_ = std::make_unique<DesktopSession>(options());
        ASSERT_TRUE(session_->ok()) << session_->error();
        runtime_ = data_.root() / "runtime";
        fs::create_directories(runtime_);
        fs::permissions(runtime_, fs::perms::owner_all);
        ::setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (data_.root() / "config").c_str(), 1);
        ::unsetenv("QT_QPA_PLATFORM");
        ::unsetenv("ANTHROPIC_API_KEY");
        display_ = XOpenDisplay(session_->display().c_str());
        ASSERT_NE(display_, nullptr);
    }
    void TearDown() override {
        if (display_) {
            XCloseDisplay(display_);
        }
    }

    void tapKey(const char* keysym) {
        const KeyCode code = XKeysymToKeycode(display_, XStringToKeysym(keysym));
        XTestFakeKeyEvent(display_, code, True, CurrentTime);
        XTestFakeKeyEvent(display_, code, False, CurrentTime);
        XSync(display_, False);
    }
    void doubleTapControl() {
        tapKey("Control_L");
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        tapKey("Control_L");
    }
    void clickAt(int x, int y) {
        XTestFakeMotionEvent(display_, 0, x, y, CurrentTime);
        XSync(display_, False);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        XTestFakeButtonEvent(display_, 1, True, CurrentTime);
        XTestFakeButtonEvent(display_, 1, False, CurrentTime);
        XSync(display_, False);
    }
    // The recording folders made so far.
    std::vector<fs::path> recordings() const {
        std::vector<fs::path> out;
        std::error_code ec;
        for (auto it = fs::directory_iterator(data_.dataHome() / "Kestro" / "recordings", ec);
             !ec && it != fs::directory_iterator(); ++it) {
            out.push_back(it->path());
        }
        return out;
    }

    std::unique_ptr<Program> start(const std::string& name = "kestro") {
        return std::make_unique<Program>(std::vector<std::string>{KESTRO_PROGRAM_PATH},
                                         data_.root() / (name + ".err"));
    }
    std::string errors(const std::string& name = "kestro") const {
        return kestro::readFileIfPresent(data_.root() / (name + ".err")).value_or("");
    }

    Atom atom(const char* name) { return XInternAtom(display_, name, False); }

    // A viewable top-level window of `pid` titled "Kestro".
    Window mainWindow(pid_t pid) {
        Window found = 0;
        Window root = DefaultRootWindow(display_), parent = 0, *children = nullptr;
        unsigned int n = 0;
        XSync(display_, False);
        if (!XQueryTree(display_, root, &root, &parent, &children, &n)) {
            return 0;
        }
        for (unsigned int i = 0; i < n && !found; ++i) {
            XWindowAttributes attributes;
            if (!XGetWindowAttributes(display_, children[i], &attributes) ||
                attributes.map_state != IsViewable) {
                continue;
            }
            char* title = nullptr;
            if (XFetchName(display_, children[i], &title) && title) {
                if (std::string(title) == "Kestro" && windowPid(children[i]) == pid) {
                    found = children[i];
                }
                XFree(title);
            }
        }
        if (children) {
            XFree(children);
        }
        return found;
    }
    long windowPid(Window w) {
        Atom type;
        int format;
        unsigned long count, after;
        unsigned char* data = nullptr;
        long pid = -1;
        if (XGetWindowProperty(display_, w, atom("_NET_WM_PID"), 0, 1, False, XA_CARDINAL, &type,
                               &format, &count, &after, &data) == Success &&
            data && count == 1) {
            pid = *reinterpret_cast<long*>(data);
        }
        if (data) {
            XFree(data);
        }
        return pid;
    }

    // The whole screen as a PNG under the build folder, for a look at what the test saw.
    void screenshot(const std::string& name) { kestro::testing::saveScreenshot(display_, name); }

    // Closes a window as a window manager's close button does.
    void closeWindow(Window w) {
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = w;
        e.xclient.message_type = atom("WM_PROTOCOLS");
        e.xclient.format = 32;
        e.xclient.data.l[0] = static_cast<long>(atom("WM_DELETE_WINDOW"));
        e.xclient.data.l[1] = CurrentTime;
        XSendEvent(display_, w, False, NoEventMask, &e);
        XFlush(display_);
    }

    TempDataDir data_;
    std::unique_ptr<DesktopSession> session_;
    fs::path runtime_;
    Display* display_ = nullptr;
};

TEST_F(KestroProgramTest, WithoutATrayHostItShowsItsMainWindowAndCtrlQQuits) {
    auto kestro = start();
    Window window = 0;
    ASSERT_TRUE(waitFor([&] { return (window = mainWindow(kestro->pid())) != 0; }, 30)) << errors();
    screenshot("kestro-main-window");

    // Ctrl+Q with the pointer (and so the keyboard focus, without a window manager) on it.
    XWindowAttributes attributes;
    XGetWindowAttributes(display_, window, &attributes);
    XTestFakeMotionEvent(display_, 0, attributes.x + 40, attributes.y + 40, CurrentTime);
    XSync(display_, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    XSetInputFocus(display_, window, RevertToPointerRoot, CurrentTime);
    const KeyCode control = XKeysymToKeycode(display_, XStringToKeysym("Control_L"));
    const KeyCode q = XKeysymToKeycode(display_, XStringToKeysym("q"));
    XTestFakeKeyEvent(display_, control, True, CurrentTime);
    XTestFakeKeyEvent(display_, q, True, CurrentTime);
    XTestFakeKeyEvent(display_, q, False, CurrentTime);
    XTestFakeKeyEvent(display_, control, False, CurrentTime);
    XSync(display_, False);
    EXPECT_EQ(kestro->wait(10), 0) << errors();
}

TEST_F(KestroProgramTest, ASecondStartBringsTheMainWindowBackAndLeaves) {
    auto first = start();
    Window window = 0;
    ASSERT_TRUE(waitFor([&] { return (window = mainWindow(first->pid())) != 0; }, 30)) << errors();
    closeWindow(window);
    ASSERT_TRUE(waitFor([&] { return mainWindow(first->pid()) == 0; }, 10));

    auto second = start("second");
    EXPECT_EQ(second->wait(20), 0) << errors("second");
    EXPECT_TRUE(waitFor([&] { return mainWindow(first->pid()) != 0; }, 10));
    EXPECT_FALSE(first->wait(0.5)) << "the first instance must keep running";
}

// A tray host in the test's own hands: it owns the tray selection and waits for the dock request.
TEST_F(KestroProgramTest, WithATrayHostTheIconDocks) {
    const Window host =
        XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 1, 1, 0, 0, 0);
    const Atom selection = atom("_NET_SYSTEM_TRAY_S0");
    const Atom opcode = atom("_NET_SYSTEM_TRAY_OPCODE");
    XSetSelectionOwner(display_, selection, host, CurrentTime);
    ASSERT_EQ(XGetSelectionOwner(display_, selection), host);
    XEvent manager{};
    manager.xclient.type = ClientMessage;
    manager.xclient.window = DefaultRootWindow(display_);
    manager.xclient.message_type = atom("MANAGER");
    manager.xclient.format = 32;
    manager.xclient.data.l[0] = CurrentTime;
    manager.xclient.data.l[1] = static_cast<long>(selection);
    manager.xclient.data.l[2] = static_cast<long>(host);
    XSendEvent(display_, DefaultRootWindow(display_), False, StructureNotifyMask, &manager);
    XFlush(display_);

    auto kestro = start();
    std::optional<Window> docked;
    waitFor(
        [&] {
            while (XPending(display_)) {
                XEvent e;
                XNextEvent(display_, &e);
                if (e.type == ClientMessage && e.xclient.message_type == opcode &&
                    e.xclient.data.l[1] == 0 /* request dock */) {
                    docked = static_cast<Window>(e.xclient.data.l[2]);
                }
            }
            return docked.has_value();
        },
        30);
    ASSERT_TRUE(docked) << errors();
    EXPECT_NE(*docked, 0u);
    // The main window shows as well.
    EXPECT_TRUE(waitFor([&] { return mainWindow(kestro->pid()) != 0; }, 30));
    XDestroyWindow(display_, host);
}

// The whole program on a desktop with accessibility: every permission holds, the queued
// activation starts the hotkeys on the main loop, and a double tap of Control records.
class KestroRecordingTest : public KestroProgramTest {
public:
    DesktopSession::Options options() const override { return {.accessibility = true}; }
};

TEST_F(KestroRecordingTest, DoubleTapOfControlRecordsAndASecondOneStops) {
    auto kestro = start();
    Window window = 0;
    ASSERT_TRUE(waitFor([&] { return (window = mainWindow(kestro->pid())) != 0; }, 30)) << errors();
    // The hotkeys start in a step queued behind the first windows, and a loaded machine may
    // take long to get there: tap again only while nothing has started.
    bool started = false;
    for (int attempt = 0; attempt < 6 && !started; ++attempt) {
        doubleTapControl();
        started = waitFor([&] { return recordings().size() == 1; }, 8);
    }
    ASSERT_TRUE(started) << "no recording started\n" << errors();
    screenshot("kestro-recording");
    XWindowAttributes attributes;
    XGetWindowAttributes(display_, window, &attributes);
    clickAt(attributes.x + 60, attributes.y + 120);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    // Without a key the recording is stored and no skill is made.
    bool stopped = false;
    for (int attempt = 0; attempt < 4 && !stopped; ++attempt) {
        doubleTapControl();
        stopped = waitFor([&] { return fs::exists(recordings().front() / "recording.json"); }, 10);
    }
    EXPECT_TRUE(stopped) << errors();
    EXPECT_EQ(recordings().size(), 1u);

    // Control-/ opens the palette; Escape closes it.
    const KeyCode control = XKeysymToKeycode(display_, XStringToKeysym("Control_L"));
    XTestFakeKeyEvent(display_, control, True, CurrentTime);
    tapKey("slash");
    XTestFakeKeyEvent(display_, control, False, CurrentTime);
    XSync(display_, False);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    screenshot("kestro-palette");
    tapKey("Escape");
    EXPECT_FALSE(kestro->wait(0.2)) << errors();
}

TEST_F(KestroProgramTest, WithoutADisplayTheRunCommandSaysWhatItNeeds) {
    for (const std::string& program :
         {std::string(KESTRO_RUN_SCRIPT), std::string(KESTRO_PROGRAM_PATH)}) {
        SCOPED_TRACE(program);
        const std::string saved = session_->display();
        ::unsetenv("DISPLAY");
        auto run = std::make_unique<Program>(
            std::vector<std::string>{"/bin/bash", "-c", "exec \"$0\"", program},
            data_.root() / "nodisplay.err");
        const auto status = run->wait(20);
        ::setenv("DISPLAY", saved.c_str(), 1);
        ASSERT_TRUE(status);
        EXPECT_NE(*status, 0);
        const std::string text =
            kestro::readFileIfPresent(data_.root() / "nodisplay.err").value_or("");
        EXPECT_NE(text.find("Kestro needs an X11 session"), std::string::npos) << text;
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    }
}

} // namespace
