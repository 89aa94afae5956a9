// The frames on a display server whose monitors come and go as on real hardware: an Xorg server
// with the dummy video driver, whose RandR outputs xrandr switches on and off.
#include "Kestro/surfaces/CastingSurfaces.h"
#include "platform/linux/GLibMainQueue.h"
#include "platform/linux/X11SurfaceWindows.h"
#include "tests/appdesk/QtWait.h"
#include "tests/support/DesktopSession.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QSignalSpy>
#include <QThread>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <unistd.h>

using namespace kestro;
using platform::linux_x11::GLibMainQueue;
using platform::linux_x11::X11SurfaceWindows;

namespace {

bool waitFor(const std::function<bool()>& done, double seconds = 15) {
    return kestro::testing::qtWaitFor(done, seconds);
}

int xrandr(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{"xrandr"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return kestro::testing::DesktopSession::run(argv);
}

std::vector<QRect> screens() {
    std::vector<QRect> out;
    for (const QScreen* s : QGuiApplication::screens()) {
        out.push_back(s->geometry());
    }
    return out;
}

std::vector<QRect> frames(CastingSurfaces& surfaces) {
    std::vector<QRect> out;
    for (const auto& w : surfaces.overlay().windows()) {
        out.push_back(w->geometry());
    }
    return out;
}

// The whole root window as the server shows it.
QImage rootImage(QSize size) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    QImage out;
    auto* reply = xcb_get_image_reply(c,
                                      xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, 0,
                                                    0, static_cast<std::uint16_t>(size.width()),
                                                    static_cast<std::uint16_t>(size.height()), ~0u),
                                      nullptr);
    if (reply && xcb_get_image_data_length(reply) >= size.width() * size.height() * 4) {
        out = QImage(xcb_get_image_data(reply), size.width(), size.height(), size.width() * 4,
                     QImage::Format_RGB32)
                  .copy();
    }
    std::free(reply);
    xcb_disconnect(c);
    return out;
}

TEST(MonitorsDesk, TwoMonitorsGiveTwoFramesAndAChangeOfMonitorsRebuildsThem) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "an Xorg server with the dummy driver needs root";
    }
    kestro::testing::DesktopSession::Options options;
    options.monitors = true;
    options.width = 1024;
    options.height = 768;
    kestro::testing::DesktopSession session(options);
    ASSERT_TRUE(session.ok()) << session.error();
    // A second monitor to the right of the first, before the toolkit starts.
    ASSERT_EQ(xrandr({"--addmode", "DUMMY1", "1024x768"}), 0);
    ASSERT_EQ(xrandr({"--output", "DUMMY1", "--mode", "1024x768", "--right-of", "DUMMY0"}), 0);
    // A light desktop, so that dark on screen can only be a frame.
    ASSERT_EQ(kestro::testing::DesktopSession::run({"xsetroot", "-solid", "#d0e0f0"}), 0);

    setenv("QT_QPA_PLATFORM", "xcb", 1);
    int argc = 1;
    char arg0[] = "kestro-monitors-tests";
    char* argv[] = {arg0, nullptr};
    QApplication app(argc, argv);
    GLibMainQueue queue;
    auto* native = app.nativeInterface<QNativeInterface::QX11Application>();
    ASSERT_NE(native, nullptr);
    X11SurfaceWindows windows(queue, static_cast<void*>(native->connection()));
    ASSERT_TRUE(windows.ok());

    const std::vector<QRect> two{QRect(0, 0, 1024, 768), QRect(1024, 0, 1024, 768)};
    ASSERT_EQ(screens(), two) << "the toolkit sees both monitors";

    {
        CastingSurfaces surfaces(&windows);
        surfaces.overlay().show(false);
        EXPECT_EQ(frames(surfaces), two) << "one frame covering each monitor";
        ASSERT_TRUE(waitFor([&] {
            for (const auto& w : surfaces.overlay().windows()) {
                if (!w->isVisible() || !w->frameView()->isAnimating()) {
                    return false;
                }
            }
            return true;
        }));
        // Both frames drawn: the line runs near the left and the right edge of each monitor,
        // and the desktop shows inside.
        QImage shot;
        auto lineOnBoth = [&] {
            shot = rootImage(QSize(2048, 768));
            auto dark = [&](int left) {
                for (int x = left; x < left + 30; ++x) {
                    if (qGray(shot.pixel(x, 384)) < 60) {
                        return true;
                    }
                }
                return false;
            };
            return !shot.isNull() && dark(0) && dark(994) && dark(1024) && dark(2018) &&
                   qGray(shot.pixel(512, 384)) > 180 && qGray(shot.pixel(1536, 384)) > 180;
        };
        EXPECT_TRUE(waitFor(lineOnBoth, 10));
        QDir().mkpath(QStringLiteral(KESTRO_ARTIFACT_DIR));
        shot.save(QStringLiteral(KESTRO_ARTIFACT_DIR "/frame-two-monitors.png"));

        // The second monitor goes away: one frame, on the first.
        QSignalSpy rebuilt(&surfaces.overlay(), &OverlayController::rebuilt);
        ASSERT_EQ(xrandr({"--output", "DUMMY1", "--off"}), 0);
        EXPECT_TRUE(waitFor([&] {
            return screens().size() == 1 && frames(surfaces) == std::vector<QRect>{two[0]};
        })) << "frames "
            << frames(surfaces).size();
        EXPECT_GE(rebuilt.count(), 1);

        // It comes back below the first one: two frames again, where the monitors now are.
        const int before = static_cast<int>(rebuilt.count());
        ASSERT_EQ(xrandr({"--output", "DUMMY1", "--mode", "1024x768", "--below", "DUMMY0"}), 0);
        const std::vector<QRect> stacked{QRect(0, 0, 1024, 768), QRect(0, 768, 1024, 768)};
        EXPECT_TRUE(waitFor([&] { return frames(surfaces) == stacked; }))
            << "frames " << frames(surfaces).size();
        EXPECT_GT(rebuilt.count(), before);

        // Hidden, a change of monitors makes no frame.
        surfaces.overlay().hide();
        ASSERT_EQ(xrandr({"--output", "DUMMY1", "--off"}), 0);
        EXPECT_TRUE(waitFor([&] { return screens().size() == 1; }));
        QCoreApplication::processEvents();
        EXPECT_TRUE(surfaces.overlay().windows().empty());
    }
}

} // namespace
