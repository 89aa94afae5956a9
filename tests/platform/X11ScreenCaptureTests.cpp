#include "KestroCore/FrameCapturer.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/ManualQueue.h"
#include "platform/linux/X11ScreenCapture.h"
#include "platform/linux/XConnection.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/TempDataDir.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <array>
#include <chrono>
#include <thread>

using namespace kestro;
using kestro::testing::DesktopSession;
using platform::ScreenshotConfiguration;
using platform::ShareableContent;
using platform::ShareableDisplay;
using platform::ShareableWindow;
namespace x11 = platform::linux_x11;

namespace {

using Rgb = std::array<int, 3>;

constexpr Rgb rootColor{0x20, 0x40, 0x60};
constexpr Rgb blue{0, 0, 255};
constexpr Rgb red{255, 0, 0};
constexpr Rgb green{0, 200, 0};

Rgb at(const Image& image, int x, int y) {
    const std::uint8_t* p = image.pixel(x, y);
    return {p[0], p[1], p[2]};
}

// Solid windows of this process, drawn by the server from their background pixel.
class Windows {
public:
    explicit Windows(const x11::XConnection& x) : x_(x) {}
    ~Windows() {
        for (xcb_window_t w : windows_) {
            xcb_destroy_window(x_.xcb(), w);
        }
        xcb_flush(x_.xcb());
    }

    xcb_window_t add(int x, int y, int w, int h, Rgb color, bool overrideRedirect = true) {
        xcb_window_t id = xcb_generate_id(x_.xcb());
        const std::uint32_t values[] = {
            static_cast<std::uint32_t>(color[0] << 16 | color[1] << 8 | color[2]),
            overrideRedirect ? 1u : 0u};
        xcb_create_window(x_.xcb(), XCB_COPY_FROM_PARENT, id, x_.root(),
                          static_cast<std::int16_t>(x), static_cast<std::int16_t>(y),
                          static_cast<std::uint16_t>(w), static_cast<std::uint16_t>(h), 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                          XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        windows_.push_back(id);
        return id;
    }
    void map(xcb_window_t w) {
        xcb_map_window(x_.xcb(), w);
        sync();
    }
    // A wallpaper pixmap published the way desktops publish theirs.
    void setWallpaper(Rgb color) {
        xcb_connection_t* c = x_.xcb();
        xcb_pixmap_t pixmap = xcb_generate_id(c);
        xcb_create_pixmap(c, x_.screen()->root_depth, pixmap, x_.root(), 1920, 1080);
        xcb_gcontext_t gc = xcb_generate_id(c);
        const std::uint32_t pixel =
            static_cast<std::uint32_t>(color[0] << 16 | color[1] << 8 | color[2]);
        xcb_create_gc(c, gc, pixmap, XCB_GC_FOREGROUND, &pixel);
        const xcb_rectangle_t all{0, 0, 1920, 1080};
        xcb_poly_fill_rectangle(c, pixmap, gc, 1, &all);
        xcb_free_gc(c, gc);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, x_.root(), x_.atoms().xrootpmapId,
                            XCB_ATOM_PIXMAP, 32, 1, &pixmap);
        sync();
    }
    void sync() {
        free(xcb_get_input_focus_reply(x_.xcb(), xcb_get_input_focus(x_.xcb()), nullptr));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

private:
    const x11::XConnection& x_;
    std::vector<xcb_window_t> windows_;
};

class X11ScreenCaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(session_.ok()) << session_.error();
        ASSERT_EQ(DesktopSession::run({"xsetroot", "-solid", "#204060"}), 0);
        ASSERT_TRUE(x_.ok());
    }

    std::optional<ShareableDisplay> mainDisplay() {
        auto content = capture_.shareableContent();
        if (!content || content->displays.empty()) {
            return std::nullopt;
        }
        return content->displays.front();
    }

    std::vector<ShareableWindow> ownWindows() {
        std::vector<ShareableWindow> own;
        const auto content = capture_.shareableContent();
        if (!content) {
            return own;
        }
        for (const auto& w : content->windows) {
            if (w.owningProcessID == static_cast<int>(::getpid())) {
                own.push_back(w);
            }
        }
        return own;
    }

    std::optional<Image> shot(const std::vector<ShareableWindow>& excluding, bool cursor = false) {
        auto display = mainDisplay();
        if (!display) {
            return std::nullopt;
        }
        return capture_.screenshot(
            *display, excluding, ScreenshotConfiguration{display->width, display->height, cursor});
    }

    DesktopSession session_;
    x11::XConnection x_;
    x11::X11ScreenCapture capture_;
    Windows windows_{x_};
};

} // namespace

TEST_F(X11ScreenCaptureTest, LeavesOutExcludedWindowsAndShowsWhatLiesBeneath) {
    ASSERT_TRUE(capture_.canExcludeWindows());
    const xcb_window_t a = windows_.add(100, 100, 200, 200, blue);
    const xcb_window_t b = windows_.add(150, 150, 100, 100, red);
    windows_.map(a);
    windows_.map(b);

    auto content = capture_.shareableContent();
    ASSERT_TRUE(content);
    ASSERT_EQ(content->displays.size(), 1u);
    EXPECT_EQ(content->displays[0].width, 1920);
    EXPECT_EQ(content->displays[0].height, 1080);
    auto own = ownWindows();
    ASSERT_EQ(own.size(), 2u); // known as ours from the server, not from a window property

    auto all = shot({});
    ASSERT_TRUE(all);
    EXPECT_EQ(all->width, 1920);
    EXPECT_EQ(all->height, 1080);
    EXPECT_EQ(at(*all, 175, 175), red);
    EXPECT_EQ(at(*all, 110, 110), blue);
    EXPECT_EQ(at(*all, 50, 50), rootColor);

    auto withoutB = shot({ShareableWindow{b, std::nullopt}});
    ASSERT_TRUE(withoutB);
    EXPECT_EQ(at(*withoutB, 175, 175), blue);

    // X keeps no copy of the root's pixels beneath a window: black, unless the desktop
    // publishes a wallpaper.
    auto withoutBoth = shot(own);
    ASSERT_TRUE(withoutBoth);
    EXPECT_EQ(at(*withoutBoth, 175, 175), (Rgb{0, 0, 0}));
    EXPECT_EQ(at(*withoutBoth, 110, 110), (Rgb{0, 0, 0}));
    EXPECT_EQ(at(*withoutBoth, 50, 50), rootColor);
    windows_.setWallpaper(green);
    withoutBoth = shot(own);
    ASSERT_TRUE(withoutBoth);
    EXPECT_EQ(at(*withoutBoth, 175, 175), green);
    EXPECT_EQ(at(*withoutBoth, 50, 50), rootColor); // the screen as it is stays as it is
}

TEST_F(X11ScreenCaptureTest, ShapedWindowsAreClippedToTheirShape) {
    const xcb_window_t under = windows_.add(400, 400, 300, 300, blue);
    const xcb_window_t shaped = windows_.add(400, 400, 300, 300, green);
    // An L: the top band and the left band; the bottom-right square is a hole.
    const xcb_rectangle_t parts[] = {{0, 0, 300, 100}, {0, 0, 100, 300}};
    xcb_shape_rectangles(x_.xcb(), XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING,
                         XCB_CLIP_ORDERING_UNSORTED, shaped, 0, 0, 2, parts);
    // Lying over both and left out, so that both are composed afresh beneath it.
    const xcb_window_t cover = windows_.add(350, 350, 400, 400, red);
    // The shaped window first: a new window's pixmap starts as a copy of what lay beneath, so
    // the hole must not already hold the blue of the window below.
    windows_.map(shaped);
    windows_.map(under);
    windows_.map(cover);
    const std::vector<ShareableWindow> excluding{{cover, std::nullopt}};
    auto image = shot(excluding);
    ASSERT_TRUE(image);
    EXPECT_EQ(at(*image, 450, 450), green);
    EXPECT_EQ(at(*image, 650, 450), green);
    EXPECT_EQ(at(*image, 450, 650), green);
    EXPECT_EQ(at(*image, 600, 600), blue); // through the hole
    EXPECT_EQ(at(*image, 360, 360), (Rgb{0, 0, 0}));
}

TEST_F(X11ScreenCaptureTest, DrawsThePointerWhereItIs) {
    xcb_warp_pointer(x_.xcb(), XCB_NONE, x_.root(), 0, 0, 0, 0, 600, 500);
    windows_.sync();
    auto with = shot({}, true);
    auto without = shot({}, false);
    ASSERT_TRUE(with && without);
    int changed = 0, changedFar = 0;
    for (int y = 0; y < with->height; ++y) {
        for (int x = 0; x < with->width; ++x) {
            if (at(*with, x, y) != at(*without, x, y)) {
                const bool near = std::abs(x - 600) < 40 && std::abs(y - 500) < 40;
                (near ? changed : changedFar)++;
            }
        }
    }
    EXPECT_GT(changed, 10);
    EXPECT_EQ(changedFar, 0);
}

TEST_F(X11ScreenCaptureTest, CapturesOneMonitorOfSeveral) {
    ASSERT_EQ(
        DesktopSession::run({"xrandr", "--setmonitor", "left", "960/254x1080/286+0+0", "none"}), 0);
    ASSERT_EQ(
        DesktopSession::run({"xrandr", "--setmonitor", "right", "960/254x1080/286+960+0", "none"}),
        0);
    const xcb_window_t w = windows_.add(1000, 100, 50, 50, red);
    windows_.map(w);
    std::vector<x11::X11Monitor> monitors = x_.monitors();
    std::optional<std::uint32_t> rightID;
    for (const auto& m : monitors) {
        if (m.x == 960 && m.width == 960) {
            rightID = m.id;
        }
    }
    ASSERT_TRUE(rightID);
    auto image = capture_.screenshot(ShareableDisplay{*rightID, 960, 1080}, {},
                                     ScreenshotConfiguration{960, 1080, false});
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 960);
    EXPECT_EQ(at(*image, 60, 120), red);
    EXPECT_EQ(at(*image, 10, 10), rootColor);

    EXPECT_FALSE(capture_.screenshot(ShareableDisplay{0xdead, 960, 1080}, {},
                                     ScreenshotConfiguration{960, 1080, false}));
}

TEST_F(X11ScreenCaptureTest, WorksUnderCompositingManagers) {
    const xcb_window_t a = windows_.add(100, 100, 200, 200, blue);
    const xcb_window_t b = windows_.add(150, 150, 100, 100, red);
    windows_.map(a);
    windows_.map(b);
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(x_.xcb(), xcb_intern_atom(x_.xcb(), 0, 13, "_NET_WM_CM_S0"), nullptr);
    ASSERT_TRUE(atom);
    const xcb_atom_t selection = atom->atom;
    free(atom);
    auto owner = [&] {
        xcb_get_selection_owner_reply_t* reply = xcb_get_selection_owner_reply(
            x_.xcb(), xcb_get_selection_owner(x_.xcb(), selection), nullptr);
        const xcb_window_t w = reply ? reply->owner : XCB_NONE;
        free(reply);
        return w;
    };
    // One that draws on the root window, one that draws on the overlay window.
    const std::vector<std::vector<std::string>> managers = {
        {"xcompmgr"}, {"picom", "--backend", "xrender", "--config", "/dev/null"}};
    for (const auto& argv : managers) {
        SCOPED_TRACE(argv[0]);
        const pid_t manager = session_.spawn(argv);
        ASSERT_GT(manager, 0);
        // The manager owns the _NET_WM_CM_S0 selection once it composites.
        for (int i = 0; i < 250 && owner() == XCB_NONE; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_NE(owner(), XCB_NONE) << "the compositing manager did not start";
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        auto all = shot({});
        ASSERT_TRUE(all);
        EXPECT_EQ(at(*all, 175, 175), red);
        EXPECT_EQ(at(*all, 110, 110), blue);
        auto withoutB = shot({ShareableWindow{b, std::nullopt}});
        ASSERT_TRUE(withoutB);
        EXPECT_EQ(at(*withoutB, 175, 175), blue);
        EXPECT_EQ(at(*withoutB, 110, 110), blue);
        session_.stop(manager);
        for (int i = 0; i < 250 && owner() != XCB_NONE; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
}

TEST_F(X11ScreenCaptureTest, FrameCapturerWritesTheRedactedPNGWithoutOwnWindows) {
    kestro::testing::TempDataDir dir;
    windows_.setWallpaper(rootColor);
    const xcb_window_t mine = windows_.add(300, 300, 400, 200, red);
    windows_.map(mine);
    xcb_warp_pointer(x_.xcb(), XCB_NONE, x_.root(), 0, 0, 0, 0, 900, 700);
    windows_.sync();

    platform::fake::ManualClock clock;
    platform::fake::ManualQueue queue(clock);
    FrameCapturer capturer(capture_, queue);
    auto display = mainDisplay();
    ASSERT_TRUE(display);
    const auto file = dir.root() / "000001.png";
    std::optional<std::optional<Size>> answer;
    capturer.captureAndSave(display->displayID, 1920, 1080, {Rect::make(10.5, 20.5, 100, 50)}, file,
                            [&](std::optional<Size> size) { answer = size; });
    for (int i = 0; i < 5000 && !answer; ++i) {
        queue.drain();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(answer);
    ASSERT_TRUE(*answer);
    EXPECT_EQ(**answer, (Size{1920, 1080}));
    auto image = ImageCodec::readPNG(file);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 1920);
    EXPECT_EQ(image->height, 1080);
    EXPECT_EQ(at(*image, 500, 400), rootColor); // our own window is not in it
    EXPECT_EQ(at(*image, 10, 20), (Rgb{0, 0, 0}));
    EXPECT_EQ(at(*image, 110, 70), (Rgb{0, 0, 0}));
    EXPECT_EQ(at(*image, 111, 71), rootColor);
    EXPECT_EQ(at(*image, 9, 19), rootColor);
    bool pointer = false;
    for (int y = 690; y < 730 && !pointer; ++y) {
        for (int x = 890; x < 930 && !pointer; ++x) {
            pointer = at(*image, x, y) != rootColor;
        }
    }
    EXPECT_TRUE(pointer);
}
