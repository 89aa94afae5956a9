#pragma once

#include "KestroCore/Skill.h"
#include "tests/support/TempDataDir.h"
#include "tests/support/e2e/KestroProcess.h"
#include "tests/support/e2e/ModelStandIn.h"
#include "tests/support/e2e/UserDesktop.h"
#include "tests/support/e2e/Wait.h"
#include "tests/support/e2e/XDesk.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestro::testing::e2e {

// The base of every end-to-end scenario: private data folders (HOME, XDG_DATA_HOME,
// XDG_CONFIG_HOME, XDG_RUNTIME_DIR, ~/Downloads), the model stand-in, a desktop of the test's
// own, and Kestro started on them. Each scenario's time is printed and recorded.
class EndToEndTest : public ::testing::Test {
protected:
    // A scenario may ask for another desktop (no tray host, a compositing manager, ...).
    virtual UserDesktop::Options desktopOptions() const { return {}; }

    void SetUp() override;
    void TearDown() override;

    // Kestro with the stand-in's address; waits for its main window. Fails the test when it does
    // not show.
    KestroProcess& startKestro(const std::vector<std::string>& arguments = {});
    KestroProcess& kestro() { return *kestro_; }
    UserDesktop& desk() { return *desk_; }
    XDesk& x() { return desk_->x(); }
    ModelStandIn& model() { return model_; }

    // Data folders.
    std::filesystem::path support() const; // $XDG_DATA_HOME/Kestro
    std::filesystem::path downloads() const { return data_.home() / "Downloads"; }
    // Every regular file under the test's folders (data, config, home), for leak checks.
    std::vector<std::filesystem::path> allFiles() const;
    // The files whose bytes contain `needle`.
    std::vector<std::filesystem::path> filesContaining(const std::string& needle) const;
    // Folder names in support()/<kind> ("skills", "recordings").
    std::vector<std::string> folders(const std::string& kind) const;

    void setApiKey(const std::string& key);
    // mcp_servers.json: the built-in "linear" server with a token (so casts can run).
    void connectLinear(const std::string& token);
    // A skill stored as the application stores one.
    void storeSkill(const Skill& skill);
    // "File the weekly report" for "com.linear" (so the "linear" server runs it): one "week"
    // parameter with example "2026-06-06", two steps.
    static Skill weeklyReportSkill();

    // Kestro's windows, found by title and process.
    std::optional<XWindow> mainWindow();
    std::optional<XWindow> pill();
    std::optional<XWindow> palette();
    std::vector<XWindow> frames();
    // The window of Kestro's docked tray icon, when a tray host runs.
    std::optional<XWindow> trayIcon();

    // Whether Kestro holds its global hotkeys (they start in a step queued after start-up).
    bool hotkeysArmed();
    bool waitForHotkeys(double seconds = 30);

    // How far into its screen the frame's line reaches at its left edge, in pixels (the
    // recording style stays within about 20, the casting style goes further); 0 when nothing of
    // it is drawn there.
    int frameReach(const XWindow& frame);
    // Whether every frame shows and is drawn.
    bool framesDrawn(std::size_t count);
    // A double tap of Control from idle: the seconds from the second press to `count` frames
    // drawn on screen, or nothing when they do not come within the time. `mapped`, when given,
    // receives the seconds until the frame windows were mapped.
    std::optional<double> doubleTapUntilFrames(std::size_t count, double seconds = 20,
                                               double* mapped = nullptr);
    // The frames each monitor should get: one per screen the toolkit knows.
    std::size_t expectedFrames() const;

    // Control-/ as a person presses it: the seconds from the press to the palette holding the
    // keyboard, or nothing when it does not within the time.
    std::optional<double> openPaletteWithFocus(double seconds = 20);

    // The screen now, saved as <build>/artifacts/e2e/<name>.png.
    Image screenshot(const std::string& name);
    // The pill's bounding shape, in root coordinates: without a compositing manager the pill is
    // shaped to what it draws (with one it is the whole panel).
    std::optional<XDesk::Extents> pillShape();
    // What the pill draws on screen: the extents, in root coordinates, of the pixels in its
    // window that differ from the desktop's background (with or without a compositing manager).
    std::optional<XDesk::Extents> pillDrawn();
    // The pixels in the pill's window of the pill's red (the recording dot).
    int pillRedPixels();

    TempDataDir data_;
    ModelStandIn model_;
    std::unique_ptr<UserDesktop> desk_;
    std::unique_ptr<KestroProcess> kestro_;
    Clock::time_point started_;
};

// A desktop a scenario runs on, for tables of scenarios.
struct DesktopKind {
    std::string name; // in the test's name and its screenshots' names
    UserDesktop::Options options;
};
// The usual one (openbox, a tray host, no compositing manager), the same with xcompmgr, and one
// without a tray host.
std::vector<DesktopKind> desktopKinds(bool compositor = true, bool withoutTray = true);

inline void PrintTo(const DesktopKind& kind, std::ostream* out) {
    *out << kind.name;
}

class EndToEndOnDesktops : public EndToEndTest, public ::testing::WithParamInterface<DesktopKind> {
public:
    static std::string testName(const ::testing::TestParamInfo<DesktopKind>& info) {
        return info.param.name;
    }

protected:
    UserDesktop::Options desktopOptions() const override { return GetParam().options; }
    // A screenshot name for this desktop.
    std::string shot(const std::string& base) const { return base + "-" + GetParam().name; }
};

} // namespace kestro::testing::e2e
