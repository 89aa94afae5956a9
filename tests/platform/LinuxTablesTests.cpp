// The Linux layer's translation tables, which need no display.

#include "platform/linux/AccessibleSpace.h"
#include "platform/linux/AtspiRoles.h"
#include "platform/linux/AtspiSecureFieldSearch.h"
#include "platform/linux/DesktopEntries.h"
#include "tests/support/TempDataDir.h"

#include <gtest/gtest.h>

#include <dbus/dbus.h>

#include <functional>
#include <memory>

using namespace kestro::platform::linux_x11;
using kestro::Point;
using kestro::Rect;

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

// How one window's reported rectangle and its X window's place map positions: as they are,
// relative to the window (GTK 4), or in logical pixels (scaled Qt and GTK 3); and no mapping
// where neither fits.
TEST(AccessibleSpace, MapsWhatTheToolkitReportsOntoRootPixels) {
    struct Case {
        const char* what;
        Rect reported, actual;
        bool maps;
        bool identity;
        Rect field;         // as the application reports it
        Rect fieldOnScreen; // where it lies
    };
    const Case cases[] = {
        {"root pixels", Rect::make(100, 100, 400, 300), Rect::make(100, 100, 400, 300), true, true,
         Rect::make(110, 140, 300, 30), Rect::make(110, 140, 300, 30)},
        {"a pixel of rounding", Rect::make(101, 100, 399, 301), Rect::make(100, 100, 400, 300),
         true, true, Rect::make(110, 140, 300, 30), Rect::make(110, 140, 300, 30)},
        {"relative to the window", Rect::make(0, 0, 380, 220), Rect::make(770, 437, 380, 220), true,
         false, Rect::make(25, 61, 330, 32), Rect::make(795, 498, 330, 32)},
        {"scaled by 2", Rect::make(151, 97, 400, 300), Rect::make(302, 194, 800, 600), true, false,
         Rect::make(160, 130, 380, 20), Rect::make(320, 260, 760, 40)},
        // GTK 3 counts the window manager's frame in, each logical number rounded.
        {"scaled frame, rounded", Rect::make(334, 181, 292, 177), Rect::make(669, 363, 582, 353),
         true, false, Rect::make(443, 268, 168, 34), Rect::make(887, 537, 336, 68)},
        {"scaled and relative", Rect::make(0, 0, 200, 100), Rect::make(500, 300, 400, 200), true,
         false, Rect::make(10, 20, 50, 10), Rect::make(520, 340, 100, 20)},
        {"scaled by 1.5", Rect::make(100, 100, 400, 300), Rect::make(150, 150, 600, 450), true,
         false, Rect::make(200, 200, 100, 20), Rect::make(300, 300, 150, 30)},
        {"another window",
         Rect::make(100, 100, 400, 300),
         Rect::make(700, 500, 400, 300),
         false,
         false,
         {},
         {}},
        {"another shape",
         Rect::make(0, 0, 400, 300),
         Rect::make(700, 500, 400, 600),
         false,
         false,
         {},
         {}},
        {"scaled, elsewhere",
         Rect::make(100, 100, 400, 300),
         Rect::make(900, 100, 800, 600),
         false,
         false,
         {},
         {}},
        {"not laid out yet",
         Rect::make(0, 0, 1, 1),
         Rect::make(700, 500, 1, 1),
         false,
         false,
         {},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<AccessibleSpace> space = spaceOnto(c.reported, c.actual);
        ASSERT_EQ(space.has_value(), c.maps);
        if (!space) {
            continue;
        }
        EXPECT_EQ(space->identity(), c.identity);
        EXPECT_EQ(space->toRoot(c.field), c.fieldOnScreen);
        // A point goes the other way: the field's middle on screen is inside it as reported.
        const Point middle =
            space->toReported(Point{c.fieldOnScreen.origin.x + c.fieldOnScreen.size.width / 2,
                                    c.fieldOnScreen.origin.y + c.fieldOnScreen.size.height / 2});
        EXPECT_NEAR(middle.x, c.field.origin.x + c.field.size.width / 2, 1);
        EXPECT_NEAR(middle.y, c.field.origin.y + c.field.size.height / 2, 1);
    }
}

namespace kestro {
// Rectangles read as numbers in failures.
void PrintTo(const Rect& r, std::ostream* out) {
    *out << "(" << r.origin.x << ", " << r.origin.y << ", " << r.size.width << " x "
         << r.size.height << ")";
}
} // namespace kestro

namespace {

struct MessageDeleter {
    void operator()(DBusMessage* m) const { dbus_message_unref(m); }
};
using Message = std::unique_ptr<DBusMessage, MessageDeleter>;

// A GetExtents answer with what `write` puts in it.
Message answer(const std::function<void(DBusMessageIter&)>& write) {
    Message m(dbus_message_new(DBUS_MESSAGE_TYPE_METHOD_RETURN));
    DBusMessageIter args;
    dbus_message_iter_init_append(m.get(), &args);
    write(args);
    return m;
}

// A struct of these integers, as a toolkit answers.
Message extentsAnswer(std::vector<dbus_int32_t> values) {
    return answer([&](DBusMessageIter& args) {
        DBusMessageIter box;
        dbus_message_iter_open_container(&args, DBUS_TYPE_STRUCT, nullptr, &box);
        for (dbus_int32_t v : values) {
            dbus_message_iter_append_basic(&box, DBUS_TYPE_INT32, &v);
        }
        dbus_message_iter_close_container(&args, &box);
    });
}

} // namespace

// A secure field's extents are four integers with a size; anything else says nothing of where it
// lies, and the frame fails rather than show the field without its box.
TEST(SecureFieldBoxes, ExtentsThatSayNothingUsableFailTheFrame) {
    struct Case {
        const char* what;
        Message reply;
        std::optional<Rect> extents;
    };
    Case cases[] = {
        {"a rectangle", extentsAnswer({25, 61, 330, 32}), Rect::make(25, 61, 330, 32)},
        {"an empty one", extentsAnswer({25, 61, 0, 0}), Rect::make(25, 61, 0, 0)},
        {"a position left of the origin", extentsAnswer({-40, 10, 330, 32}),
         Rect::make(-40, 10, 330, 32)},
        {"not known", extentsAnswer({-1, -1, -1, -1}), std::nullopt},
        {"no width", extentsAnswer({25, 61, -1, 32}), std::nullopt},
        {"no height", extentsAnswer({25, 61, 330, -1}), std::nullopt},
        {"three numbers", extentsAnswer({25, 61, 330}), std::nullopt},
        {"five numbers", extentsAnswer({25, 61, 330, 32, 7}), std::nullopt},
        {"no struct", answer([](DBusMessageIter& args) {
             const dbus_int32_t v = 25;
             for (int i = 0; i < 4; ++i) {
                 dbus_message_iter_append_basic(&args, DBUS_TYPE_INT32, &v);
             }
         }),
         std::nullopt},
        {"doubles", answer([](DBusMessageIter& args) {
             DBusMessageIter box;
             dbus_message_iter_open_container(&args, DBUS_TYPE_STRUCT, nullptr, &box);
             for (const double v : {25.0, 61.0, 330.0, 32.0}) {
                 dbus_message_iter_append_basic(&box, DBUS_TYPE_DOUBLE, &v);
             }
             dbus_message_iter_close_container(&args, &box);
         }),
         std::nullopt},
        {"nothing in it", answer([](DBusMessageIter&) {}), std::nullopt},
    };
    // A GTK 4 window where its X window lies.
    const Rect window = Rect::make(0, 0, 380, 220);
    const std::vector<Rect> rects{Rect::make(770, 437, 380, 220)};
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<Rect> extents = reportedExtents(c.reply.get());
        EXPECT_EQ(extents, c.extents);
        // Beside a field that is placed, the frame has its boxes only when this one has too.
        const std::optional<std::vector<Rect>> boxes =
            fieldBoxes(window, rects, {Rect::make(25, 17, 330, 32), extents}, RootOrigin{});
        EXPECT_EQ(boxes.has_value(), c.extents.has_value());
        if (boxes && c.extents) {
            // Relative to the window, and grown by one of its pixels.
            const Rect& e = *c.extents;
            EXPECT_EQ(boxes->at(1), Rect::make(e.origin.x + 769, e.origin.y + 436, e.size.width + 2,
                                               e.size.height + 2));
        }
    }
    EXPECT_FALSE(reportedExtents(nullptr));
}

// The boxes go where the window lies as read with its fields (when the frame is taken, not when
// it was asked for), or nowhere: a window that is not its X window by its place is not taken to
// report root pixels because it holds them.
TEST(SecureFieldBoxes, PlacedWhereTheWindowLiesNowOrNotAtAll) {
    struct Case {
        const char* what;
        std::optional<Rect> window; // as reported
        std::vector<Rect> rects;    // its X window's
        RootOrigin origin;
        std::vector<std::optional<Rect>> fields;
        std::optional<std::vector<Rect>> boxes;
    };
    const Rect field = Rect::make(25, 61, 330, 32);
    const Case cases[] = {
        {"GTK 4 in the middle",
         Rect::make(0, 0, 380, 220),
         {Rect::make(770, 437, 380, 220)},
         RootOrigin{},
         {field},
         std::vector{Rect::make(794, 497, 332, 34)}},
        {"GTK 4 moved near the top-left corner",
         Rect::make(0, 0, 380, 220),
         {Rect::make(1, 20, 380, 220), Rect::make(0, 0, 382, 241)},
         RootOrigin{},
         {field},
         std::vector{Rect::make(25, 80, 332, 34)}},
        {"GTK 4 at the very corner",
         Rect::make(0, 0, 380, 220),
         {Rect::make(0, 0, 380, 220)},
         RootOrigin{},
         {field},
         std::vector{field}},
        {"root pixels, moved",
         Rect::make(300, 200, 400, 300),
         {Rect::make(300, 200, 400, 300)},
         RootOrigin{},
         {Rect::make(320, 260, 200, 30)},
         std::vector{Rect::make(320, 260, 200, 30)}},
        {"global points off the root's corner",
         Rect::make(300, 200, 400, 300),
         {Rect::make(300, 200, 400, 300)},
         RootOrigin{1920, 0},
         {Rect::make(320, 260, 200, 30)},
         std::vector{Rect::make(-1600, 260, 200, 30)}},
        {"scaled by 2, grown by a pixel of it",
         Rect::make(151, 97, 400, 300),
         {Rect::make(302, 194, 800, 600)},
         RootOrigin{},
         {Rect::make(160, 130, 380, 20)},
         std::vector{Rect::make(318, 258, 764, 44)}},
        {"no fields",
         Rect::make(0, 0, 380, 220),
         {Rect::make(770, 437, 380, 220)},
         RootOrigin{},
         {},
         std::vector<Rect>{}},
        // Each of these held a point of the window in root pixels, and was taken to report them.
        {"GTK 4 near the corner, another size",
         Rect::make(0, 0, 380, 220),
         {Rect::make(1, 20, 500, 300), Rect::make(0, 0, 502, 321)},
         RootOrigin{},
         {field},
         std::nullopt},
        {"root pixels not yet moved",
         Rect::make(300, 200, 400, 300),
         {Rect::make(340, 230, 400, 300)},
         RootOrigin{},
         {Rect::make(320, 260, 200, 30)},
         std::nullopt},
        {"window extents not known",
         std::nullopt,
         {Rect::make(770, 437, 380, 220)},
         RootOrigin{},
         {field},
         std::nullopt},
        {"window gone from X", Rect::make(0, 0, 380, 220), {}, RootOrigin{}, {field}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(fieldBoxes(c.window, c.rects, c.fields, c.origin), c.boxes);
    }
}
