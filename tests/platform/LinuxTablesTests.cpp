// The Linux layer's translation tables, which need no display.

#include "platform/linux/AtspiRoles.h"
#include "platform/linux/DesktopEntries.h"
#include "tests/support/TempDataDir.h"

#include <gtest/gtest.h>

using namespace kestro::platform::linux_x11;

TEST(AtspiRoles, TranslateIntoTheCoreRoleNames) {
    struct Case {
        AtspiRole role;
        bool multiLine, topLevel;
        const char* axRole;
        std::optional<std::string> subrole;
    };
    const Case cases[] = {
        {ATSPI_ROLE_PASSWORD_TEXT, false, false, "AXTextField", "AXSecureTextField"},
        {ATSPI_ROLE_TEXT, false, false, "AXTextField", std::nullopt},
        {ATSPI_ROLE_TEXT, true, false, "AXTextArea", std::nullopt},
        {ATSPI_ROLE_ENTRY, false, false, "AXTextField", std::nullopt},
        {ATSPI_ROLE_PUSH_BUTTON, false, false, "AXButton", std::nullopt},
        {ATSPI_ROLE_CHECK_BOX, false, false, "AXCheckBox", std::nullopt},
        {ATSPI_ROLE_TOGGLE_BUTTON, false, false, "AXCheckBox", "AXToggle"},
        {ATSPI_ROLE_LINK, false, false, "AXLink", std::nullopt},
        {ATSPI_ROLE_MENU_ITEM, false, false, "AXMenuItem", std::nullopt},
        {ATSPI_ROLE_FRAME, false, true, "AXWindow", "AXStandardWindow"},
        {ATSPI_ROLE_DIALOG, false, true, "AXWindow", "AXDialog"},
        // A plain Qt window is a filler directly below its application.
        {ATSPI_ROLE_FILLER, false, true, "AXWindow", "AXStandardWindow"},
        {ATSPI_ROLE_FILLER, false, false, "AXGroup", std::nullopt},
        // A top-level that is not a generic container keeps its role.
        {ATSPI_ROLE_POPUP_MENU, false, true, "AXMenu", std::nullopt},
        // Not in the table: camel case of the AT-SPI name.
        {ATSPI_ROLE_STATUS_BAR, false, false, "AXStatusBar", std::nullopt},
        {ATSPI_ROLE_DESKTOP_ICON, false, false, "AXDesktopIcon", std::nullopt},
    };
    for (const Case& c : cases) {
        const AXRoleNames names = axRoleNames(c.role, c.multiLine, c.topLevel);
        EXPECT_EQ(names.role, c.axRole) << c.role;
        EXPECT_EQ(names.subrole, c.subrole) << c.role;
    }
}

TEST(DesktopEntries, ReadsTheDesktopEntryGroupOnly) {
    const auto entry = parseDesktopEntry("# comment\n"
                                         "[Desktop Action new]\n"
                                         "Name=Not this one\n"
                                         "[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name = Text\\sEditor \n"
                                         "Name[de]=Texteditor\n"
                                         "Name[sr@latin]=Uređivač\n"
                                         "StartupWMClass=gedit\n"
                                         "[Other]\n"
                                         "Name=Nor this\n",
                                         "org.example.Editor");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->id, "org.example.Editor");
    EXPECT_EQ(entry->names.at(""), "Text Editor");
    EXPECT_EQ(entry->startupWMClass, "gedit");
    EXPECT_FALSE(parseDesktopEntry("Name=x\n", "x"));

    struct Case {
        const char* locale;
        const char* name;
    };
    const Case cases[] = {
        {"C.UTF-8", "Text Editor"},        {"", "Text Editor"},
        {"de_AT.UTF-8", "Texteditor"},     {"de", "Texteditor"},
        {"fr_FR", "Text Editor"},          {"sr_RS@latin", "Uređivač"},
        {"sr_RS.UTF-8@latin", "Uređivač"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(localizedName(*entry, c.locale), c.name) << c.locale;
    }
}

TEST(DesktopEntries, IndexFindsByIdAndWindowClassFirstFolderWins) {
    kestro::testing::TempDataDir dir;
    const auto first = dir.root() / "a";
    const auto second = dir.root() / "b";
    kestro::testing::writeFile(first / "org.example.App.desktop",
                               "[Desktop Entry]\nName=First\nStartupWMClass=ExampleApp\n");
    kestro::testing::writeFile(second / "org.example.App.desktop",
                               "[Desktop Entry]\nName=Second\n");
    kestro::testing::writeFile(second / "kde" / "viewer.desktop", "[Desktop Entry]\nName=View\n");
    kestro::testing::writeFile(second / "Zenity.desktop", "[Desktop Entry]\nName=Dialogs\n");
    DesktopEntryIndex index({first, second, dir.root() / "missing"});
    ASSERT_TRUE(index.byID("org.example.App"));
    EXPECT_EQ(index.byID("org.example.App")->names.at(""), "First");
    ASSERT_TRUE(index.byID("kde-viewer"));
    EXPECT_EQ(index.byWMClass("ExampleApp")->id, "org.example.App");
    ASSERT_TRUE(index.byWMClass("zenity"));
    EXPECT_EQ(index.byWMClass("zenity")->id, "Zenity");
    EXPECT_FALSE(index.byWMClass("unknown"));

    // A file added later is found once its folder changed.
    kestro::testing::writeFile(first / "late.desktop", "[Desktop Entry]\nName=Late\n");
    EXPECT_TRUE(index.byID("late"));
}
