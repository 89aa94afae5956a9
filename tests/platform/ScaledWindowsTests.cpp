// Demonstrations recorded in windows whose applications report accessible positions in another
// space than root pixels: GTK 4 (relative to its window) and scaled Qt and GTK 3 applications
// (logical pixels), under a window manager. The password field must be black in every key frame,
// no key frame may fail, and every click must name the field clicked. Where a window moves before
// its frame is taken, or is one its tree does not show, its boxes are never placed by a guess.
#include "KestroBase/FileIO.h"
#include "KestroBase/Image.h"
#include "KestroCore/AXResolver.h"
#include "KestroCore/FrameCapturer.h"
#include "KestroCore/RecordingStore.h"
#include "platform/linux/X11Windows.h"
#include "platform/linux/XConnection.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/FixtureApp.h"
#include "tests/support/TempDataDir.h"
#include "tests/support/linux/DeskDriver.h"
#include "tests/support/linux/LinuxDesk.h"
#include "tests/support/linux/Screenshot.h"
#include "tests/support/linux/WindowManager.h"

#include <atspi/atspi.h>

#include <gtest/gtest.h>

// Xlib comes after gtest.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <sstream>

using namespace kestro;
using kestro::testing::DeskDriver;
using kestro::testing::DesktopSession;
using kestro::testing::LinuxDesk;
namespace x11 = platform::linux_x11;
namespace fs = std::filesystem;

namespace {

Point center(const Rect& r) {
    return {r.origin.x + r.size.width / 2, r.origin.y + r.size.height / 2};
}

struct Case {
    const char* name;
    std::vector<std::string> argv; // {report} stands for the geometry report's path
    std::vector<std::pair<const char*, const char*>> environment;
    const char* title;
    // Where the fields' places come from: the application's own report, else (GTK 3) its
    // window-relative accessible extents at this scale.
    bool reports;
    double scale;
};

// libatspi stays on the first accessibility bus it finds: one desktop for the suite.
void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

class ScaledWindows : public ::testing::TestWithParam<Case> {
protected:
    static void SetUpTestSuite() {
        session_ = new DesktopSession(DesktopSession::Options{.accessibility = true});
        if (session_->ok()) {
            windowManager_ = kestro::testing::startWindowManager(*session_);
        }
    }
    static void TearDownTestSuite() {
        delete session_;
        session_ = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(session_->ok()) << session_->error();
        ASSERT_GT(windowManager_, 0);
        driver_ = std::make_unique<DeskDriver>(session_->display());
        ASSERT_EQ(driver_->error(), "");
        x_ = driver_->x.get();
        xtest_ = driver_->xtest;
        desk_ = driver_->desk.get();
    }
    void TearDown() override { driver_.reset(); }

    std::optional<x11::TopLevel> window(const std::string& title) { return driver_->window(title); }
    // The application's own window in root pixels, inside the window manager's frame.
    Point clientOrigin(const x11::TopLevel& t) {
        x11::Reply<xcb_translate_coordinates_reply_t> at(xcb_translate_coordinates_reply(
            x_->xcb(), xcb_translate_coordinates(x_->xcb(), t.client, x_->root(), 0, 0), nullptr));
        return at ? Point{double(at->dst_x), double(at->dst_y)} : Point{0, 0};
    }

    void settle(double seconds) { desk_->queue.runFor(seconds); }
    void click(Point p) {
        XTestFakeMotionEvent(xtest_, 0, static_cast<int>(p.x), static_cast<int>(p.y), CurrentTime);
        XFlush(xtest_);
        settle(0.02);
        XTestFakeButtonEvent(xtest_, 1, True, CurrentTime);
        XTestFakeButtonEvent(xtest_, 1, False, CurrentTime);
        XFlush(xtest_);
        settle(0.4);
    }
    void typeText(const std::string& letters) {
        for (char c : letters) {
            const KeyCode code =
                XKeysymToKeycode(xtest_, XStringToKeysym(std::string(1, c).c_str()));
            XTestFakeKeyEvent(xtest_, code, True, CurrentTime);
            XTestFakeKeyEvent(xtest_, code, False, CurrentTime);
            XFlush(xtest_);
            settle(0.01);
        }
        settle(0.4);
    }

    // The plain field and the password field in root pixels.
    std::map<std::string, Rect> fromReport(const fs::path& report, Point origin) {
        std::map<std::string, Rect> fields;
        std::istringstream in(readFile(report));
        std::string name;
        double x, y, w, h;
        while (in >> name >> x >> y >> w >> h) {
            fields[name == "email" || name == "name" ? "plain" : name] =
                Rect::make(origin.x + x, origin.y + y, w, h);
        }
        return fields;
    }
    // GTK 3 reports window coordinates relative to its own window, in its logical pixels.
    std::map<std::string, Rect> fromWindowExtents(int pid, Point origin, double scale) {
        std::map<std::string, Rect> fields;
        AtspiAccessible* desktop = atspi_get_desktop(0);
        const int apps = atspi_accessible_get_child_count(desktop, nullptr);
        for (int i = 0; i < apps && fields.size() < 2; ++i) {
            AtspiAccessible* app = atspi_accessible_get_child_at_index(desktop, i, nullptr);
            if (!app || int(atspi_accessible_get_process_id(app, nullptr)) != pid) {
                if (app) {
                    g_object_unref(app);
                }
                continue;
            }
            std::vector<AtspiAccessible*> pending{app};
            while (!pending.empty()) {
                AtspiAccessible* a = pending.back();
                pending.pop_back();
                const AtspiRole role = atspi_accessible_get_role(a, nullptr);
                const char* kind = role == ATSPI_ROLE_PASSWORD_TEXT ? "password"
                                   : role == ATSPI_ROLE_TEXT        ? "plain"
                                                                    : nullptr;
                if (kind && !fields.contains(kind)) {
                    AtspiComponent* c = atspi_accessible_get_component_iface(a);
                    if (AtspiRect* r =
                            c ? atspi_component_get_extents(c, ATSPI_COORD_TYPE_WINDOW, nullptr)
                              : nullptr) {
                        fields[kind] = Rect::make(origin.x + r->x * scale, origin.y + r->y * scale,
                                                  r->width * scale, r->height * scale);
                        g_free(r);
                    }
                    if (c) {
                        g_object_unref(c);
                    }
                }
                const int n = atspi_accessible_get_child_count(a, nullptr);
                for (int k = n - 1; k >= 0; --k) {
                    if (AtspiAccessible* child =
                            atspi_accessible_get_child_at_index(a, k, nullptr)) {
                        pending.push_back(child);
                    }
                }
                g_object_unref(a);
            }
        }
        g_object_unref(desktop);
        return fields;
    }

    static DesktopSession* session_;
    static pid_t windowManager_;
    std::unique_ptr<DeskDriver> driver_;
    x11::XConnection* x_ = nullptr;
    Display* xtest_ = nullptr;
    LinuxDesk* desk_ = nullptr;
};

DesktopSession* ScaledWindows::session_ = nullptr;
pid_t ScaledWindows::windowManager_ = -1;

// An application a test starts for itself, stopped however the test ends.
struct StopsWithTheTest {
    DesktopSession& session;
    pid_t pid;
    ~StopsWithTheTest() { session.stop(pid); }
};

// How many pixels of `r` in the image are not black.
int shownPixels(const Image& image, const Rect& r) {
    int shown = 0;
    for (int y = int(r.origin.y); y < int(r.origin.y + r.size.height); ++y) {
        for (int x = int(r.origin.x); x < int(r.origin.x + r.size.width); ++x) {
            const std::uint8_t* p = image.pixel(x, y);
            shown += p[0] + p[1] + p[2] == 0 ? 0 : 1;
        }
    }
    return shown;
}

// The screen, taken only once the test lets it: what the test does in between has happened before
// the frame's fields are read and its screenshot taken.
class HeldCapture final : public platform::ScreenCapture {
public:
    explicit HeldCapture(platform::ScreenCapture& screen) : screen_(screen) {}
    ~HeldCapture() override { release(); }

    void release() {
        {
            std::lock_guard lock(mutex_);
            held_ = false;
        }
        released_.notify_all();
    }

    std::optional<platform::ShareableContent> shareableContent() override {
        std::unique_lock lock(mutex_);
        released_.wait(lock, [this] { return !held_; });
        return screen_.shareableContent();
    }
    std::optional<Image>
    screenshot(const platform::ShareableDisplay& display,
               const std::vector<platform::ShareableWindow>& excluding,
               const platform::ScreenshotConfiguration& configuration) override {
        return screen_.screenshot(display, excluding, configuration);
    }

private:
    platform::ScreenCapture& screen_;
    std::mutex mutex_;
    std::condition_variable released_;
    bool held_ = true;
};

} // namespace

TEST_P(ScaledWindows, PasswordFieldIsBlackInEveryKeyFrameAndClicksNameTheirField) {
    const Case& c = GetParam();
    kestro::testing::TempDataDir scratch;
    const fs::path report = scratch.root() / "geometry.txt";
    std::vector<std::string> argv;
    for (const std::string& arg : c.argv) {
        argv.push_back(arg == "{report}" ? report.string() : arg);
    }
    for (const auto& [name, value] : c.environment) {
        ::setenv(name, value, 1);
    }
    const pid_t app = session_->spawn(argv);
    for (const auto& [name, value] : c.environment) {
        ::unsetenv(name);
    }
    ASSERT_GT(app, 0);
    const StopsWithTheTest stop{*session_, app};
    ASSERT_TRUE(desk_->awaitApplication(app, 30)) << "no accessibility tree";
    std::optional<x11::TopLevel> w;
    // Neither the window nor the report wakes the main loop: looked for now and then.
    for (int tries = 0;
         tries < 300 && !((w = window(c.title)) && (!c.reports || fs::exists(report))); ++tries) {
        settle(0.1);
    }
    ASSERT_TRUE(w && (!c.reports || fs::exists(report)));
    settle(0.5); // placed by the window manager
    w = window(c.title);
    ASSERT_TRUE(w);
    const Point origin = clientOrigin(*w);
    EXPECT_TRUE(origin.x > 0 && origin.y > 0) << "the window must not lie at the origin";
    std::map<std::string, Rect> fields =
        c.reports ? fromReport(report, origin) : fromWindowExtents(app, origin, c.scale);
    ASSERT_TRUE(fields.contains("plain") && fields.contains("password"));
    const Rect plain = fields["plain"], password = fields["password"];

    ASSERT_TRUE(desk_->recorder.start());
    settle(0.4);
    for (int round = 0; round < 5; ++round) {
        click(center(plain));
        click(center(password));
        if (round == 0) {
            typeText("zq");
        }
    }
    const std::optional<Recording> recording = desk_->stopRecording();
    ASSERT_TRUE(recording);
    const Recording& r = *recording;

    int clicks = 0;
    for (const ActionEvent& e : r.events) {
        if (e.type != ActionType::click) {
            continue;
        }
        SCOPED_TRACE("click " + std::to_string(clicks));
        const bool onPassword = clicks++ % 2 == 1;
        EXPECT_TRUE(e.frameIndex) << "a failed key frame";
        ASSERT_TRUE(e.target) << "no element named";
        EXPECT_EQ(e.target->isSecure, onPassword);
        EXPECT_EQ(e.target->axRole, "AXTextField");
        EXPECT_EQ(e.target->windowTitle, c.title);
        ASSERT_TRUE(e.target->frameInWindow);
        const Rect& field = onPassword ? password : plain;
        EXPECT_NEAR(e.target->frameInWindow->size.width, field.size.width, 2 * c.scale);
        EXPECT_NEAR(e.target->frameInWindow->size.height, field.size.height, 2 * c.scale);
    }
    EXPECT_EQ(clicks, 10);
    // The keys typed into the password field: its element, focused, and no text kept.
    int typed = 0;
    for (const ActionEvent& e : r.events) {
        if (e.type == ActionType::keystroke) {
            ++typed;
            EXPECT_FALSE(e.typedText);
            ASSERT_TRUE(e.target && e.target->frameInWindow);
            EXPECT_TRUE(e.target->isSecure);
            EXPECT_NEAR(e.target->frameInWindow->size.width, password.size.width, 2 * c.scale);
        }
    }
    EXPECT_GE(typed, 1);

    ASSERT_GE(r.frames.size(), 10u);
    const RecordingStore store;
    int black = 0;
    for (std::size_t i = 0; i < r.frames.size(); ++i) {
        const FrameRef& f = r.frames[i];
        SCOPED_TRACE(f.relativePath);
        const auto image = ImageCodec::readPNG(store.frameURL(r.id, f.relativePath));
        ASSERT_TRUE(image);
        auto dark = [&](int x, int y) {
            const std::uint8_t* p = image->pixel(x, y);
            return p[0] + p[1] + p[2] == 0;
        };
        bool covered = true;
        for (int y = int(password.origin.y); y < int(password.origin.y + password.size.height);
             ++y) {
            for (int x = int(password.origin.x); x < int(password.origin.x + password.size.width);
                 ++x) {
                covered = covered && dark(x, y);
            }
        }
        black += covered;
        // The plain field is left to be seen.
        int lit = 0;
        const int row = int(center(plain).y);
        for (int x = int(plain.origin.x); x < int(plain.origin.x + plain.size.width); ++x) {
            lit += dark(x, row) ? 0 : 1;
        }
        EXPECT_GT(lit, plain.size.width / 2);
        if (i == r.frames.size() - 1) {
            const fs::path saved = fs::path(KESTRO_ARTIFACT_DIR) / "screenshots" /
                                   (std::string("redacted-") + c.name + ".png");
            fs::create_directories(saved.parent_path());
            fs::copy_file(store.frameURL(r.id, f.relativePath), saved,
                          fs::copy_options::overwrite_existing);
        }
    }
    EXPECT_EQ(black, static_cast<int>(r.frames.size())) << "frames with the password field bare";
    RecordProperty("frames", static_cast<int>(r.frames.size()));
    RecordProperty("black", black);
}

// Two GTK 4 windows alike in size and title report the same positions, relative to each: a click
// in either cannot be told to be in the one rather than the other, and names no element rather
// than perhaps one of the other window. The window X has in front is told by the application's
// word on which is active, and its password field is found where it lies.
TEST_F(ScaledWindows, WindowsThatCannotBeToldApartGiveNoTarget) {
    kestro::testing::TempDataDir scratch;
    const fs::path report = scratch.root() / "geometry.txt";
    const std::string title = "Kestro GTK4 Twins";
    const pid_t app = session_->spawn(
        {"/usr/bin/python3", kestro::testing::gtk4SignInPath(), title, report.string(), "twin"});
    ASSERT_GT(app, 0);
    const StopsWithTheTest stop{*session_, app};
    ASSERT_TRUE(desk_->awaitApplication(app, 30)) << "no accessibility tree";
    std::vector<x11::TopLevel> twins;
    for (int tries = 0; tries < 300 && (twins.size() < 2 || !fs::exists(report)); ++tries) {
        settle(0.1);
        twins.clear();
        for (const x11::TopLevel& t : x11::listTopLevels(*x_)) {
            if (t.viewable && x11::windowIdentity(*x_, t.client).title == title) {
                twins.push_back(t);
            }
        }
    }
    ASSERT_EQ(twins.size(), 2u);
    settle(0.5);
    const auto active = x11::activeTopLevel(*x_, x11::listTopLevels(*x_));
    ASSERT_TRUE(active);
    AXResolver resolver(desk_->accessibility, desk_->services.applications);
    for (const x11::TopLevel& twin : twins) {
        SCOPED_TRACE(twin.window == active->window ? "active" : "behind");
        const std::map<std::string, Rect> fields = fromReport(report, clientOrigin(twin));
        ASSERT_TRUE(fields.contains("plain"));
        EXPECT_FALSE(resolver.target(center(fields.at("plain"))));
    }
    const std::optional<std::vector<Rect>> secure = resolver.readSecureFieldRects();
    ASSERT_TRUE(secure);
    ASSERT_EQ(secure->size(), 1u);
    const Rect expected = fromReport(report, clientOrigin(*active)).at("password");
    EXPECT_EQ(secure->front(), expected);
}

// A frame asked for while the GTK 4 window lies in one place and taken once it has moved (to the
// middle of the screen, or to its top-left corner): its password field is black where it is now,
// or the frame fails; never is the box left where the window was.
TEST_F(ScaledWindows, AWindowMovedBeforeItsFrameIsTakenHasItsFieldCoveredWhereItIsNow) {
    kestro::testing::TempDataDir scratch;
    const fs::path report = scratch.root() / "geometry.txt";
    const std::string title = "Kestro GTK4 Moving";
    const pid_t app =
        session_->spawn({"/usr/bin/python3", kestro::testing::gtk4SignInPath(), title, report});
    ASSERT_GT(app, 0);
    const StopsWithTheTest stop{*session_, app};
    ASSERT_TRUE(desk_->awaitApplication(app, 30)) << "no accessibility tree";
    std::optional<x11::TopLevel> w;
    for (int tries = 0; tries < 300 && !((w = window(title)) && fs::exists(report)); ++tries) {
        settle(0.1);
    }
    ASSERT_TRUE(w && fs::exists(report));
    AXResolver resolver(desk_->accessibility, desk_->services.applications);
    auto content = desk_->capture.shareableContent();
    ASSERT_TRUE(content && content->displays.size() == 1);
    // The pointer, drawn into the frame, kept off the fields.
    XTestFakeMotionEvent(xtest_, 0, 1900, 1060, CurrentTime);
    XFlush(xtest_);

    struct Case {
        const char* name;
        int left, top; // where the window manager's frame goes
    };
    int kept = 0;
    for (const Case& c : {Case{"middle", 900, 500}, Case{"top-left", 0, 0}}) {
        SCOPED_TRACE(c.name);
        w = window(title);
        ASSERT_TRUE(w);
        const Point before = clientOrigin(*w);
        // Asked for now, in front and found where it is.
        ASSERT_TRUE([&] {
            for (int tries = 0; tries < 100; ++tries) {
                const auto rects = resolver.readSecureFieldRects();
                if (rects && rects->size() == 1 &&
                    rects->front() == fromReport(report, before).at("password")) {
                    return true;
                }
                settle(0.1);
            }
            return false;
        }());
        HeldCapture held(desk_->capture);
        FrameCapturer capturer(held, desk_->queue);
        const fs::path file = scratch.root() / (std::string(c.name) + ".png");
        std::optional<std::optional<FrameCapturer::Saved>> saved;
        capturer.captureAndSave(
            content->displays[0].displayID, 1920, 1080,
            [reader = resolver.secureFieldReader()] { return reader(); }, file,
            [&](std::optional<FrameCapturer::Saved> s) { saved = std::move(s); });

        // The window manager moves it as the application asks.
        const std::uint32_t to[] = {std::uint32_t(c.left), std::uint32_t(c.top)};
        xcb_configure_window(x_->xcb(), w->client, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, to);
        xcb_flush(x_->xcb());
        Point now = before;
        for (int tries = 0; tries < 100 && now == before; ++tries) {
            settle(0.05);
            w = window(title);
            ASSERT_TRUE(w);
            now = clientOrigin(*w);
        }
        ASSERT_NE(now, before) << "the window did not move";
        EXPECT_LT(std::abs(w->x - c.left) + std::abs(w->y - c.top), 4);
        held.release();
        for (int tries = 0; tries < 200 && !saved; ++tries) {
            settle(0.05);
        }
        ASSERT_TRUE(saved) << "the capture never answered";
        if (!*saved) {
            kestro::testing::saveScreenshot(xtest_, std::string("moved-before-capture-") + c.name);
            continue; // failed: safe
        }
        ++kept;
        const Rect password = fromReport(report, now).at("password");
        const auto image = ImageCodec::readPNG(file);
        ASSERT_TRUE(image);
        EXPECT_EQ(shownPixels(*image, password), 0)
            << "pixels of the password field shown, the window at " << now.x << "," << now.y
            << " and moved from " << before.x << "," << before.y;
        const fs::path copy = fs::path(KESTRO_ARTIFACT_DIR) / "screenshots" /
                              (std::string("moved-before-capture-") + c.name + ".png");
        fs::create_directories(copy.parent_path());
        fs::copy_file(file, copy, fs::copy_options::overwrite_existing);
    }
    RecordProperty("kept", kept);
}

// A window of the application in front that its accessibility tree does not show, near the
// top-left corner, where the GTK 4 window's positions (relative to itself) would lie were they
// root pixels: neither the frame's boxes nor a click's element are taken from that window as
// though it reported them. The frame fails, and the click names the X window alone.
TEST_F(ScaledWindows, AWindowItsTreeDoesNotShowIsNotTakenForOneItShows) {
    kestro::testing::TempDataDir scratch;
    const fs::path report = scratch.root() / "geometry.txt";
    const std::string title = "Kestro GTK4 Beside";
    const pid_t app = session_->spawn(
        {"/usr/bin/python3", kestro::testing::gtk4SignInPath(), title, report, "bare"});
    ASSERT_GT(app, 0);
    const StopsWithTheTest stop{*session_, app};
    ASSERT_TRUE(desk_->awaitApplication(app, 30)) << "no accessibility tree";
    std::optional<x11::TopLevel> w, bare;
    for (int tries = 0; tries < 300 && !((w = window(title)) && (bare = window(title + " Bare")) &&
                                         fs::exists(report));
         ++tries) {
        settle(0.1);
    }
    ASSERT_TRUE(w && bare && fs::exists(report));
    ASSERT_EQ(bare->processID, w->processID);
    settle(0.5);
    // The GTK 4 window away from the corner, the bare one in front at it.
    const std::uint32_t away[] = {700, 400};
    xcb_configure_window(x_->xcb(), w->client, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, away);
    const std::uint32_t corner[] = {0, 0};
    xcb_configure_window(x_->xcb(), bare->client, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y,
                         corner);
    xcb_flush(x_->xcb());
    XTestFakeMotionEvent(xtest_, 0, 1900, 1060, CurrentTime);
    XFlush(xtest_);
    auto frontTitle = [&] {
        const auto active = x11::activeTopLevel(*x_, x11::listTopLevels(*x_));
        return active ? x11::windowIdentity(*x_, active->client).title.value_or("") : "";
    };
    for (int tries = 0; tries < 100; ++tries) {
        settle(0.1);
        w = window(title);
        bare = window(title + " Bare");
        if (w && bare && w->x >= 600 && bare->x < 10 && frontTitle() == title + " Bare") {
            break;
        }
        if (tries % 10 == 9 && bare) {
            click(Point{bare->x + 100.0, bare->y + 60.0 + 20}); // given the keyboard
        }
    }
    ASSERT_TRUE(w && bare && w->x >= 600 && bare->x < 10);
    ASSERT_EQ(frontTitle(), title + " Bare");
    const Point origin = clientOrigin(*w);
    const Rect password = fromReport(report, origin).at("password");
    const Point bareOrigin = clientOrigin(*bare);
    // The field as reported lies in the bare window, taken for root pixels.
    const Rect asReported = fromReport(report, Point{0, 0}).at("password");
    ASSERT_LT(bareOrigin.x, asReported.origin.x);
    ASSERT_LT(bareOrigin.y + 2, asReported.origin.y + asReported.size.height);

    AXResolver resolver(desk_->accessibility, desk_->services.applications);
    auto content = desk_->capture.shareableContent();
    ASSERT_TRUE(content && content->displays.size() == 1);
    FrameCapturer capturer(desk_->capture, desk_->queue);
    const fs::path file = scratch.root() / "frame.png";
    std::optional<std::optional<FrameCapturer::Saved>> saved;
    capturer.captureAndSave(
        content->displays[0].displayID, 1920, 1080,
        [reader = resolver.secureFieldReader()] { return reader(); }, file,
        [&](std::optional<FrameCapturer::Saved> s) { saved = std::move(s); });
    for (int tries = 0; tries < 200 && !saved; ++tries) {
        settle(0.05);
    }
    ASSERT_TRUE(saved) << "the capture never answered";
    kestro::testing::saveScreenshot(xtest_, "bare-window-in-front");
    if (*saved) {
        // Kept: only with the field black where it lies.
        const auto image = ImageCodec::readPNG(file);
        ASSERT_TRUE(image);
        EXPECT_EQ(shownPixels(*image, password), 0) << "the password field shown in a kept frame";
        const fs::path copy =
            fs::path(KESTRO_ARTIFACT_DIR) / "screenshots" / "bare-window-in-front-frame.png";
        fs::create_directories(copy.parent_path());
        fs::copy_file(file, copy, fs::copy_options::overwrite_existing);
    }
    RecordProperty("kept", *saved ? 1 : 0);

    // A click in the bare window, where the GTK 4 window reports its password field.
    const Point at{std::max(bareOrigin.x + 2, asReported.origin.x + asReported.size.width / 4),
                   asReported.origin.y + asReported.size.height / 2};
    const std::optional<AXTarget> target = resolver.target(at);
    if (target) {
        EXPECT_EQ(target->axRole, "AXWindow");
        EXPECT_FALSE(target->isSecure);
        EXPECT_EQ(target->windowTitle, title + " Bare");
    }
}

INSTANTIATE_TEST_SUITE_P(Spaces, ScaledWindows,
                         ::testing::Values(Case{"gtk4",
                                                {"/usr/bin/python3",
                                                 kestro::testing::gtk4SignInPath(),
                                                 "Kestro GTK4 Sign In", "{report}"},
                                                {},
                                                "Kestro GTK4 Sign In",
                                                true,
                                                1},
                                           Case{"qt-scale2",
                                                {kestro::testing::fixtureAppPath(), "--window-rect",
                                                 "151,97,400,300", "--report-geometry", "{report}"},
                                                {{"QT_SCALE_FACTOR", "2"}},
                                                "Kestro Fixture",
                                                true,
                                                2},
                                           Case{"gtk3-scale2",
                                                {"zenity", "--password", "--username", "--title",
                                                 "Kestro Zenity Scaled"},
                                                {{"GDK_SCALE", "2"}},
                                                "Kestro Zenity Scaled",
                                                false,
                                                2}),
                         [](const ::testing::TestParamInfo<Case>& param) {
                             std::string name = param.param.name;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });
