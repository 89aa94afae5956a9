// The replay engine on the Linux services, against real windows on a private desktop.

#include "Kestro/replay/SkillRunner.h"
#include "Kestro/replay/StepConfirmation.h"
#include "platform/linux/LinuxServices.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/FixtureApp.h"
#include "tests/support/TempDataDir.h"
#include "tests/support/linux/Screenshot.h"

#include <gtest/gtest.h>

// Xlib defines macros such as None and Bool; it comes after gtest.
#include <X11/Xlib.h>

#include <chrono>
#include <filesystem>

using namespace kestro;
using kestro::testing::DesktopSession;
using LogWindow = kestro::testing::InputLogWindow;

namespace {

class AnsweringConfirmer final : public StepConfirmer {
public:
    bool confirm(const std::string& intent) override {
        asked.push_back(intent);
        return true;
    }
    std::vector<std::string> asked;
};

} // namespace

TEST(SkillRunnerOnTheDesktop, ReplaysAPlanIntoTheRightWindows) {
    kestro::testing::TempDataDir temp;
    DesktopSession session(DesktopSession::Options{.dbus = true});
    ASSERT_TRUE(session.ok()) << session.error();
    Display* display = XOpenDisplay(session.display().c_str());
    ASSERT_NE(display, nullptr);
    platform::linux_x11::LinuxServices services;
    auto waitFor = [&](const std::function<bool()>& done, double seconds = 30) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            services.queue.runFor(0.02);
        }
        return true;
    };

    // No window manager: activation then sets the focus itself, at once, so the fixed pace of
    // the run cannot lose a race with a window manager slowed down by a busy machine. Activation
    // through a window manager has its own tests.
    auto open = [&](const std::string& name, const std::string& rect, const std::string& id) {
        LogWindow w{temp.root() / (name + ".log")};
        w.pid = session.spawn({kestro::testing::inputLogAppPath(), "--log", w.path.string(),
                               "--window-title", name, "--window-rect", rect, "--app-id", id});
        EXPECT_TRUE(waitFor([&] { return !w.lines("ready").empty(); }, 60)) << name;
        return w;
    };
    const LogWindow sheet = open("Sheet", "100,100,400,300", "org.kestro.Sheet");
    const LogWindow form = open("Form", "600,100,400,300", "org.kestro.Form");

    const auto [fx, fy] = form.origin();
    const auto [sx, sy] = sheet.origin();
    Skill skill;
    skill.name = "Report the week";
    const AXTarget inForm{.appBundleID = "org.kestro.Form", .axTitle = "Week"};
    const AXTarget inSheet{.appBundleID = "org.kestro.Sheet", .axTitle = "Cell"};
    skill.plan = {
        {.index = 0,
         .intent = "Click the week field",
         .action = ActionType::click,
         .target = inForm,
         .location = Point{fx + 20.0, fy + 20.0}},
        {.index = 1,
         .intent = "Type the week",
         .action = ActionType::keystroke,
         .target = inForm,
         .text = "{{week_ending}} é€ü Жук"},
        {.index = 2,
         .intent = "Select all",
         .action = ActionType::keystroke,
         .target = inForm,
         .keyCode = 0,
         .modifierFlags = 0x40000},
        {.index = 3,
         .intent = "Submit in the sheet",
         .action = ActionType::doubleClick,
         .target = inSheet,
         .location = Point{sx + 50.0, sy + 60.0},
         .isDestructive = true},
        {.index = 4,
         .intent = "Type done",
         .action = ActionType::keystroke,
         .target = inSheet,
         .text = "done"},
    };
    AnsweringConfirmer confirmer;
    SkillRunner runner(services.queue, services.clock, services.input, services.activator,
                       confirmer);
    bool finished = false;
    runner.onFinish = [&] { finished = true; };
    auto ctx = std::make_shared<RunContext>(
        skill, std::map<std::string, std::string>{{"week_ending", "2026-06-06"}});
    runner.run(ctx);
    ASSERT_TRUE(waitFor([&] { return finished; }));
    ASSERT_TRUE(waitFor([&] { return sheet.typed() == "done"; }))
        << "sheet: " << sheet.typed() << "\nform: " << form.typed();
    kestro::testing::saveScreenshot(display, "skill-runner-replay");

    EXPECT_EQ(form.typed(), "2026-06-06 é€ü Жук\\x01");
    EXPECT_EQ(form.lines("press"), (std::vector<std::string>{"press 1 " + std::to_string(fx + 20) +
                                                             " " + std::to_string(fy + 20)}));
    EXPECT_EQ(sheet.lines("double").size(), 1u);
    EXPECT_EQ(confirmer.asked, (std::vector<std::string>{"Submit in the sheet"}));
    ASSERT_EQ(ctx->auditLog().size(), 5u);
    EXPECT_EQ(ctx->auditLog()[1].detail, "type \"{{week_ending}} é€ü Жук\"");
    XCloseDisplay(display);
}
