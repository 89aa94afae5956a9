// Looking after a stored skill from the main window: renaming it in the editor, exporting its
// SKILL.md twice, and deleting it through the row's menu.

#include "tests/e2e/ScenarioSteps.h"

#include "KestroBase/FileIO.h"

#include <algorithm>
#include <cstdlib>

using namespace kestro::testing::e2e;
namespace steps = kestro::testing::e2e::steps;
namespace fs = std::filesystem;

namespace {

kestro::Skill weeklyReport() {
    return steps::linearSkill("Send weekly report", "send the weekly report",
                              "Files the weekly report in Linear.", "Open the report");
}

class Manage : public EndToEndTest {
protected:
    void SetUp() override {
        EndToEndTest::SetUp();
        // An export shows its folder in the file manager, which on a desktop without one is a
        // web browser: its window would cover Kestro's and take the test's clicks. A stand-in
        // notes what it was asked to open.
        const fs::path bin = downloads().parent_path() / "bin";
        fs::create_directories(bin);
        kestro::testing::writeFile(bin / "xdg-open",
                                   "#!/bin/sh\nprintf '%s\\n' \"$*\" >> \"$0.log\"\n");
        fs::permissions(bin / "xdg-open", fs::perms::owner_all);
        const char* path = std::getenv("PATH");
        ::setenv("PATH", (bin.string() + ":" + (path ? path : "")).c_str(), 1);
        openLog = bin / "xdg-open.log";
    }
    fs::path openLog;

    // Opens the row's menu and chooses its `index`th item (0 = "Export…", 1 = "Delete").
    bool chooseFromRowMenu(const std::string& slashCommand, int index) {
        const auto row = steps::waitForRow(kestro().pid(), slashCommand, 20);
        if (!row) {
            ADD_FAILURE() << "no row for " << slashCommand;
            return false;
        }
        MenuWatch watch(kestro().pid());
        const std::vector<std::string> items = {"Export\u2026", "Delete"};
        bool shown = false;
        int opened = 0;
        for (int attempt = 0; attempt < 3 && !shown; ++attempt) {
            // Down goes to the menu only once it is on screen, which a loaded machine delays.
            const auto before = popups();
            steps::clickCentre(x(), row->menu);
            if (!waitFor([&] { return popups() != before && !popups().empty(); }, 10)) {
                continue;
            }
            ++opened;
            x().tap("Down");
            shown = waitFor([&] { return watch.entries() == items; }, 10);
            if (!shown) {
                // Closed, so that the next click opens it rather than closing it.
                x().tap("Escape");
                waitFor([&] { return popups().empty(); }, 10);
            }
        }
        if (!shown) {
            screenshot("manage-menu-missed");
            ADD_FAILURE() << "the row's menu did not show Export and Delete (opened " << opened
                          << " of 3 times)";
            return false;
        }
        for (int i = 0; i < index; ++i) {
            x().tap("Down");
        }
        x().tap("Return");
        return true;
    }

    // Kestro's menus and other popups on screen.
    std::vector<unsigned long> popups() {
        std::vector<unsigned long> out;
        for (const XWindow& w : x().windows()) {
            if (w.viewable && w.overrideRedirect && w.pid == kestro().pid() &&
                w.title.rfind("Kestro ", 0) != 0) {
                out.push_back(w.id);
            }
        }
        return out;
    }
};

TEST_F(Manage, RenameInTheEditorExportTwiceAndDeleteThroughTheRowMenu) {
    const kestro::Skill skill = weeklyReport();
    storeSkill(skill);
    const std::string id = skill.id.uuidString();
    KestroProcess& kestro = startKestro();
    ASSERT_TRUE(kestro.running());
    std::optional<XWindow> window;
    ASSERT_TRUE(waitFor([&] { return (window = mainWindow()) && window->width == 820; }, 20));
    EXPECT_EQ(window->height, 600) << "a list of skills takes the larger window";

    // Rename: the editor's second line is the front matter's name.
    auto row = steps::waitForRow(kestro.pid(), "/send-weekly-report", 30);
    ASSERT_TRUE(row) << "no row with its controls for the stored skill";
    steps::clickCentre(x(), row->edit);
    std::optional<XWindow> editor;
    ASSERT_TRUE(waitFor(
        [&] { return (editor = x().findOne("/send-weekly-report", kestro.pid())).has_value(); },
        20))
        << "the editor did not open";
    // Into the text, below the editor's header, once the editor has the keyboard.
    EXPECT_TRUE(waitFor([&] { return x().focusWindow() == editor->id; }, 10))
        << "the editor did not take the keyboard";
    editor = steps::waitForPlaced(x(), "/send-weekly-report", kestro.pid(), 10);
    ASSERT_TRUE(editor) << "the editor did not come to rest";
    x().click(editor->centreX(), editor->centreY() + 60);
    EXPECT_TRUE(waitFor([&] { return x().focusWindow() == editor->id; }, 10))
        << "the click into the editor's text took the keyboard elsewhere";
    x().chord({"Control_L", "Home"});
    x().tap("Down");
    x().tap("End");
    x().chord({"Shift_L", "Home"});
    x().type("name: Send monthly report");
    screenshot("manage-editor");
    x().chord({"Control_L", "s"});
    ASSERT_TRUE(waitFor([&] { return !x().findOne("/send-weekly-report", kestro.pid()); }, 20))
        << "Control-S did not close the editor";
    EXPECT_TRUE(steps::waitForShowing(kestro.pid(), "Send monthly report", 20))
        << "the row was not renamed";
    EXPECT_TRUE(steps::waitForShowing(kestro.pid(), "/send-monthly-report", 20));
    EXPECT_EQ(folders("skills"), std::vector<std::string>{id}) << "renaming moved the folder";
    const fs::path markdown = support() / "skills" / id / "SKILL.md";
    const auto saved = kestro::readFileIfPresent(markdown, 1 << 20);
    ASSERT_TRUE(saved);
    EXPECT_NE(saved->find("\nname: Send monthly report\n"), std::string::npos) << *saved;
    EXPECT_EQ(saved->find("name: Send weekly report"), std::string::npos) << *saved;
    EXPECT_TRUE(fs::exists(support() / "skills" / id / "execution_plan.json"));
    screenshot("manage-renamed");

    // Export twice: the second copy takes the next free name; neither replaces the other.
    const fs::path first = downloads() / "send-monthly-report.md";
    const fs::path second = downloads() / "send-monthly-report-2.md";
    ASSERT_TRUE(chooseFromRowMenu("/send-monthly-report", 0));
    ASSERT_TRUE(waitFor([&] { return fs::exists(first); }, 20)) << "the first export is missing";
    EXPECT_TRUE(waitFor(
        [&] {
            return kestro::readFileIfPresent(openLog).value_or("").find(downloads().string()) !=
                   std::string::npos;
        },
        20))
        << "the export did not show its folder";
    ASSERT_TRUE(chooseFromRowMenu("/send-monthly-report", 0));
    ASSERT_TRUE(waitFor([&] { return fs::exists(second); }, 20)) << "the second export is missing";
    EXPECT_EQ(kestro::readFileIfPresent(first, 1 << 20), saved);
    EXPECT_EQ(kestro::readFileIfPresent(second, 1 << 20), saved);
    EXPECT_FALSE(fs::exists(downloads() / "send-monthly-report-3.md"));
    screenshot("manage-exported");

    // Delete: the menu only asks; the dialog's Delete removes the folder and the row.
    const std::size_t logFrom = kestro.log().size();
    ASSERT_TRUE(chooseFromRowMenu("/send-monthly-report", 1));
    ASSERT_TRUE(waitFor(
        [&] { return x().findOne("Delete Send monthly report?", kestro.pid()).has_value(); }, 20))
        << "no confirmation before the delete";
    EXPECT_EQ(folders("skills"), std::vector<std::string>{id}) << "deleted before confirming";
    // The dialog's Delete, pressed again should the first click land before the dialog settled.
    bool confirmed = false;
    for (int attempt = 0; attempt < 3 && !confirmed; ++attempt) {
        // Its button is found where the dialog stands once the window manager has placed it.
        ASSERT_TRUE(steps::waitForPlaced(x(), "Delete Send monthly report?", kestro.pid(), 20))
            << "the confirmation did not come to rest";
        const auto remove = steps::waitForShowing(kestro.pid(), "Delete", 20, "push button");
        ASSERT_TRUE(remove) << "the confirmation has no Delete button";
        if (attempt == 0) {
            screenshot("manage-confirm-delete");
        }
        steps::clickCentre(x(), *remove);
        confirmed = waitFor(
            [&] { return !x().findOne("Delete Send monthly report?", kestro.pid()).has_value(); },
            5);
        if (!confirmed) {
            screenshot("manage-confirm-missed-" + std::to_string(attempt));
        }
    }
    ASSERT_TRUE(confirmed) << "the confirmation did not close";

    const auto deleted = kestro.waitForLog(
        "Kestro: deleted skill \"Send monthly report\" (" + id + ")", 20, logFrom);
    ASSERT_TRUE(deleted);
    EXPECT_EQ(*deleted, "Kestro: deleted skill \"Send monthly report\" (" + id + ")");
    const auto count = kestro.waitForLog("Kestro: skills now = ", 20, logFrom);
    ASSERT_TRUE(count);
    EXPECT_EQ(*count, "Kestro: skills now = 0");
    const auto lines = kestro.log();
    EXPECT_LT(std::find(lines.begin() + logFrom, lines.end(), *deleted),
              std::find(lines.begin() + logFrom, lines.end(), *count))
        << "the count comes after the deletion";
    EXPECT_FALSE(fs::exists(support() / "skills" / id));
    EXPECT_TRUE(folders("skills").empty());
    ASSERT_TRUE(waitFor([&] { return (window = mainWindow()) && window->width == 720; }, 20))
        << "the window did not shrink";
    EXPECT_EQ(window->height, 520);
    EXPECT_TRUE(steps::waitForShowing(
        kestro.pid(), "Double-tap Control (\u2303) to create your first skill", 20));
    // The exported copies are the user's: deleting the skill leaves them.
    EXPECT_TRUE(fs::exists(first));
    EXPECT_TRUE(fs::exists(second));
    screenshot("manage-deleted");
    EXPECT_TRUE(kestro.running());
}

} // namespace
