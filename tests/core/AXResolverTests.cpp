#include "KestroBase/Text.h"
#include "KestroCore/AXResolver.h"
#include "platform/fake/FakeAccessibility.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using namespace kestro;
using platform::AXElementRef;
using platform::AXOtherValue;
using platform::fake::FakeAccessibility;
using platform::fake::FakeApplications;
using platform::fake::FakeElement;
namespace ax = platform::ax;

namespace {

constexpr int appPID = 321;

// prefix + n, appended: GCC 12 at -O3 takes "text" + string for an overlapping copy.
std::string numbered(std::string_view prefix, int n) {
    std::string name(prefix);
    name += std::to_string(n);
    return name;
}

class AXResolverTest : public ::testing::Test {
protected:
    AXResolverTest() {
        apps_.add(appPID, "org.example.Editor", "Editor");
        app_ = access_.element("app", appPID);
        access_.applicationElements[appPID] = app_;
        window_ = access_.element("window", appPID);
        window_->set(ax::title, std::string("Document 1")).setFrame(Rect::make(100, 50, 800, 600));
    }

    std::shared_ptr<FakeElement> field(const std::string& name) {
        auto e = access_.element(name, appPID);
        e->set(ax::role, std::string("AXTextField"))
            .set(ax::title, std::string("Name"))
            .set(ax::value, std::string("Ada"))
            .set(ax::identifier, std::string("nameField"))
            .set(ax::window, AXElementRef(window_))
            .setFrame(Rect::make(130, 90, 40, 20));
        return e;
    }

    void focus(const AXElementRef& e) { access_.systemWideElement->set(ax::focusedUIElement, e); }

    bool wasRead(const std::string& what) const {
        return std::find(access_.reads.begin(), access_.reads.end(), what) != access_.reads.end();
    }

    FakeAccessibility access_;
    FakeApplications apps_;
    AXResolver resolver_{access_, apps_};
    std::shared_ptr<FakeElement> app_;
    std::shared_ptr<FakeElement> window_;
};

} // namespace

TEST_F(AXResolverTest, BuildsTheTargetReadingAttributesInOrder) {
    focus(field("field"));
    access_.reads.clear();
    auto target = resolver_.focusedTarget();
    ASSERT_TRUE(target);
    AXTarget expected;
    expected.appBundleID = "org.example.Editor";
    expected.appName = "Editor";
    expected.windowTitle = "Document 1";
    expected.axRole = "AXTextField";
    expected.axTitle = "Name";
    expected.axValue = "Ada";
    expected.axIdentifier = "nameField";
    expected.frameInWindow = Rect::make(30, 40, 40, 20);
    EXPECT_EQ(*target, expected);
    const std::vector<std::string> order = {
        "systemWide.AXFocusedUIElement",
        "field.AXRole",
        "field.AXSubrole",
        "field.AXWindow",
        "window.AXTitle",
        "field.AXPosition",
        "field.AXSize",
        "window.AXPosition",
        "window.AXSize",
        "field.AXTitle",
        "field.AXValue",
        "field.AXIdentifier",
    };
    EXPECT_EQ(access_.reads, order);
}

TEST_F(AXResolverTest, SecureByRoleOrSubroleAndItsValueIsNeverRead) {
    struct Case {
        std::optional<std::string> role, subrole;
        bool secure;
    };
    const Case cases[] = {
        {"AXTextField", "AXSecureTextField", true},
        {"AXGroup", "AXSecureTextField", true},
        {"AXSecureTextField", "AXSearchField", true},
        {"AXSecureTextField", std::nullopt, true},
        {std::nullopt, "AXSecureTextField", true},
        {"AXTextField", std::nullopt, false},
        {"axsecuretextfield", "AXSecureTextFieldX", false},
        {std::nullopt, std::nullopt, false},
    };
    for (const Case& c : cases) {
        auto e = field("e");
        e->attributes.erase(std::string(ax::role));
        if (c.role) {
            e->set(ax::role, *c.role);
        }
        if (c.subrole) {
            e->set(ax::subrole, *c.subrole);
        }
        focus(e);
        access_.reads.clear();
        auto target = resolver_.focusedTarget();
        ASSERT_TRUE(target);
        SCOPED_TRACE(c.role.value_or("-") + "/" + c.subrole.value_or("-"));
        EXPECT_EQ(target->isSecure, c.secure);
        EXPECT_EQ(wasRead("e.AXValue"), !c.secure);
        EXPECT_EQ(target->axValue.has_value(), !c.secure);
        EXPECT_EQ(target->axRole, c.role);
        EXPECT_EQ(target->axSubrole, c.subrole);
        EXPECT_EQ(target->axTitle, "Name");
        EXPECT_EQ(target->axIdentifier, "nameField");
    }
}

TEST_F(AXResolverTest, FrameInWindowFollowsTheWindowThatIsFound) {
    auto topLevel = access_.element("top", appPID);
    topLevel->set(ax::title, std::string("Top")).setFrame(Rect::make(10, 20, 500, 400));
    auto frameless = access_.element("frameless", appPID);
    frameless->set(ax::title, std::string("No frame"));
    struct Case {
        const char* name;
        std::optional<platform::AXValue> window, topLevel;
        bool hasSize;
        std::optional<Rect> frame;
        std::optional<std::string> title;
    };
    const Case cases[] = {
        {"window", AXElementRef(window_), AXElementRef(topLevel), true, Rect::make(30, 40, 40, 20),
         "Document 1"},
        {"top-level when no window", std::nullopt, AXElementRef(topLevel), true,
         Rect::make(120, 70, 40, 20), "Top"},
        {"neither: global frame", std::nullopt, std::nullopt, true, Rect::make(130, 90, 40, 20),
         std::nullopt},
        {"window without a frame: global frame", AXElementRef(frameless), std::nullopt, true,
         Rect::make(130, 90, 40, 20), "No frame"},
        {"position without size: no frame", AXElementRef(window_), std::nullopt, false,
         std::nullopt, "Document 1"},
        {"window of the wrong type counts as none", AXOtherValue{"42"}, std::nullopt, true,
         Rect::make(130, 90, 40, 20), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto e = field("e");
        e->attributes.erase(std::string(ax::window));
        if (c.window) {
            e->set(ax::window, *c.window);
        }
        if (c.topLevel) {
            e->set(ax::topLevelUIElement, *c.topLevel);
        }
        if (!c.hasSize) {
            e->attributes.erase(std::string(ax::size));
        }
        focus(e);
        access_.reads.clear();
        auto target = resolver_.focusedTarget();
        ASSERT_TRUE(target);
        EXPECT_EQ(target->frameInWindow, c.frame);
        EXPECT_EQ(target->windowTitle, c.title);
        if (!c.hasSize) {
            EXPECT_FALSE(wasRead("window.AXPosition")); // the window's frame is not read
        }
    }
}

TEST_F(AXResolverTest, AttributesOfTheWrongTypeCountAsAbsent) {
    auto e = field("e");
    e->set(ax::role, AXOtherValue{"7"})
        .set(ax::title, AXElementRef(window_))
        .set(ax::position, Size{1, 2});
    focus(e);
    auto target = resolver_.focusedTarget();
    ASSERT_TRUE(target);
    EXPECT_FALSE(target->axRole);
    EXPECT_FALSE(target->axTitle);
    EXPECT_FALSE(target->frameInWindow);
    EXPECT_EQ(target->axValue, "Ada");

    access_.systemWideElement->set(ax::focusedUIElement, std::string("not an element"));
    EXPECT_FALSE(resolver_.focusedTarget());
}

TEST_F(AXResolverTest, ApplicationFieldsNeedAProcessTheDesktopKnows) {
    for (int pid : {0, 999}) {
        auto e = access_.element("e", pid);
        e->set(ax::role, std::string("AXButton")).set(ax::title, std::string("OK"));
        focus(e);
        auto target = resolver_.focusedTarget();
        ASSERT_TRUE(target);
        EXPECT_FALSE(target->appBundleID);
        EXPECT_FALSE(target->appName);
        EXPECT_EQ(target->axRole, "AXButton");
        EXPECT_EQ(target->axTitle, "OK");
    }
}

TEST_F(AXResolverTest, LongValuesAreCutAtAScalarBoundary) {
    std::string document;
    for (int i = 0; i < 300; ++i) {
        document += "é€"; // two and three bytes
    }
    auto e = field("e");
    e->set(ax::value, document);
    focus(e);
    auto target = resolver_.focusedTarget();
    ASSERT_TRUE(target && target->axValue);
    EXPECT_TRUE(text::isValidUtf8(*target->axValue));
    EXPECT_EQ(text::decodeUtf8(*target->axValue).size(), AXResolver::maxValueScalars);
    EXPECT_EQ(*target->axValue, document.substr(0, 250 * 5));

    e->set(ax::value, std::string("short"));
    EXPECT_EQ(resolver_.focusedTarget()->axValue, "short");
}

TEST_F(AXResolverTest, ElementAtPointIsAskedOfTheSystemWideElement) {
    auto button = access_.element("button", appPID);
    button->set(ax::role, std::string("AXButton")).setFrame(Rect::make(10, 10, 50, 20));
    access_.hitAreas.emplace_back(Rect::make(0, 0, 100, 100), button);
    auto target = resolver_.target(Point{10.25, 20.75});
    ASSERT_TRUE(target);
    EXPECT_EQ(target->axRole, "AXButton");
    ASSERT_EQ(access_.positionsAsked.size(), 1u);
    EXPECT_EQ(access_.positionsAsked[0], std::make_pair(10.25f, 20.75f));

    EXPECT_FALSE(resolver_.target(Point{500, 500})); // nothing lies there
    access_.trusted = false;                         // accessibility not granted
    EXPECT_FALSE(resolver_.target(Point{10, 10}));
    EXPECT_FALSE(resolver_.focusedTarget());
    EXPECT_TRUE(resolver_.secureFieldRects().empty());
}

// The secure-field walk.

class SecureFieldsTest : public AXResolverTest {
protected:
    SecureFieldsTest() {
        apps_.frontmost = appPID;
        app_->set(ax::focusedWindow, AXElementRef(window_));
    }

    std::shared_ptr<FakeElement> secureField(const std::string& name, double x) {
        auto e = access_.element(name, appPID);
        e->set(ax::role, std::string("AXTextField"))
            .set(ax::subrole, std::string(ax::secureTextField))
            .setFrame(Rect::make(x, 0, 10, 10));
        return e;
    }
    std::shared_ptr<FakeElement> group(const std::string& name) {
        auto e = access_.element(name, appPID);
        e->set(ax::role, std::string("AXGroup"));
        return e;
    }
};

TEST_F(SecureFieldsTest, FindsFieldsDepthFirstInTheFocusedWindow) {
    auto box = group("box");
    box->addChild(secureField("s1", 1)).addChild(field("plain"));
    window_->addChild(box).addChild(secureField("s2", 2));
    EXPECT_EQ(resolver_.secureFieldRects(),
              (std::vector<Rect>{Rect::make(1, 0, 10, 10), Rect::make(2, 0, 10, 10)}));
    // The subrole decides first: the role of a field already found secure is not read.
    EXPECT_FALSE(wasRead("s1.AXRole"));
    EXPECT_TRUE(wasRead("plain.AXRole"));
}

TEST_F(SecureFieldsTest, WhichWindowIsSearched) {
    auto other = access_.element("main", appPID);
    other->addChild(secureField("inMain", 5));
    window_->addChild(secureField("inFocused", 6));
    app_->set(ax::mainWindow, AXElementRef(other));
    EXPECT_EQ(resolver_.secureFieldRects(), std::vector<Rect>{Rect::make(6, 0, 10, 10)});

    app_->attributes.erase(std::string(ax::focusedWindow));
    EXPECT_EQ(resolver_.secureFieldRects(), std::vector<Rect>{Rect::make(5, 0, 10, 10)});

    app_->attributes.erase(std::string(ax::mainWindow));
    EXPECT_TRUE(resolver_.secureFieldRects().empty());

    app_->set(ax::focusedWindow, AXElementRef(window_));
    apps_.frontmost.reset();
    EXPECT_TRUE(resolver_.secureFieldRects().empty());
    apps_.frontmost = 555; // an application the accessibility tree does not know
    apps_.add(555, "x", "x");
    EXPECT_TRUE(resolver_.secureFieldRects().empty());
}

TEST_F(SecureFieldsTest, NestedAndFramelessSecureFieldsAreNotDescended) {
    auto outer = secureField("outer", 1);
    outer->addChild(secureField("inner", 2));
    auto frameless = secureField("frameless", 3);
    frameless->attributes.erase(std::string(ax::size));
    frameless->addChild(secureField("underFrameless", 4));
    window_->addChild(outer).addChild(frameless);
    EXPECT_EQ(resolver_.secureFieldRects(), std::vector<Rect>{Rect::make(1, 0, 10, 10)});
    EXPECT_FALSE(wasRead("outer.AXChildren"));
    EXPECT_FALSE(wasRead("frameless.AXChildren"));
    EXPECT_FALSE(wasRead("inner.AXSubrole"));
}

TEST_F(SecureFieldsTest, VisitsAtMost4000Elements) {
    // The window is visit 1, so child i is visit i + 2: child 3998 is the 4000th and last.
    for (int i = 0; i < 4100; ++i) {
        window_->addChild(i == 3998 || i == 3999 ? secureField(numbered("s", i), i)
                                                 : group(numbered("g", i)));
    }
    EXPECT_EQ(resolver_.secureFieldRects(), std::vector<Rect>{Rect::make(3998, 0, 10, 10)});
    EXPECT_FALSE(wasRead("s3999.AXSubrole"));
    EXPECT_FALSE(wasRead("g4000.AXSubrole"));
}

TEST_F(SecureFieldsTest, NeverGoesThirtyLevelsDeep) {
    // A chain of groups below the window with a secure field at depth 29 and one at depth 30.
    std::shared_ptr<FakeElement> parent = window_;
    for (int depth = 1; depth <= 29; ++depth) {
        if (depth == 29) {
            auto s29 = secureField("s29", 29);
            parent->addChild(s29);
            break;
        }
        auto g = group(numbered("g", depth));
        if (depth == 28) {
            auto g29 = group("g29");
            g29->addChild(secureField("s30", 30));
            g->addChild(g29);
        }
        parent->addChild(g);
        parent = g;
    }
    EXPECT_EQ(resolver_.secureFieldRects(), std::vector<Rect>{Rect::make(29, 0, 10, 10)});
    EXPECT_TRUE(wasRead("g29.AXChildren"));
    EXPECT_FALSE(wasRead("s30.AXSubrole"));
}

TEST_F(SecureFieldsTest, ChildrenThatAreNotAListOfElementsCountAsNone) {
    auto odd = group("odd");
    odd->set(ax::children, std::string("nope"));
    auto holey = group("holey");
    holey->set(ax::children, std::vector<AXElementRef>{secureField("s", 1), nullptr});
    window_->addChild(odd).addChild(holey).addChild(secureField("last", 9));
    EXPECT_EQ(resolver_.secureFieldRects(), std::vector<Rect>{Rect::make(9, 0, 10, 10)});
}

TEST_F(SecureFieldsTest, TheReaderFailsWhenTheFrontWindowCannotBeAsked) {
    // Nothing: the frame cannot be told safe. An empty list: there is nothing to hide.
    using Rects = std::optional<std::vector<Rect>>;
    const Rects failed;
    const Rects nothingToHide = std::vector<Rect>{};
    const Rects found = std::vector<Rect>{Rect::make(1, 0, 10, 10)};
    struct Case {
        const char* what;
        std::function<void()> arrange;
        Rects expected;
    } cases[] = {
        {"the window is found", [] {}, found},
        {"the focused-window read goes unanswered",
         [this] { app_->unanswered = {std::string(ax::focusedWindow)}; }, failed},
        {"no focused window, and the main-window read goes unanswered",
         [this] {
             app_->attributes.erase(std::string(ax::focusedWindow));
             app_->unanswered = {std::string(ax::mainWindow)};
         },
         failed},
        {"the application does not answer", [this] { access_.unresponsive = {appPID}; }, failed},
        {"the application in front is not found over accessibility",
         [this] { access_.applicationElements.erase(appPID); }, failed},
        {"no accessibility at all", [this] { access_.trusted = false; }, failed},
        {"the application answers that it has no window",
         [this] { app_->attributes.erase(std::string(ax::focusedWindow)); }, nothingToHide},
        {"no application is in front", [this] { apps_.frontmost.reset(); }, nothingToHide},
        {"the window in front has no process",
         [this] {
             apps_.frontmost.reset();
             apps_.frontWindowWithoutProcess = true;
         },
         failed},
        {"the window in front names a process that is not here",
         [this] { apps_.frontmost = appPID + 1000; }, failed},
    };
    window_->addChild(secureField("field", 1));
    for (const bool withSearch : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (withSearch ? ", with a search" : ", walked"));
            app_->attributes.clear();
            app_->set(ax::focusedWindow, AXElementRef(window_));
            app_->unanswered.clear();
            access_.unresponsive.clear();
            access_.applicationElements[appPID] = app_;
            access_.trusted = true;
            apps_.frontmost = appPID;
            apps_.frontWindowWithoutProcess = false;
            std::vector<std::string> searched;
            access_.search = nullptr;
            if (withSearch) {
                access_.search = [&searched](const std::string& window) {
                    searched.push_back(window);
                    return std::optional(std::vector<Rect>{Rect::make(1, 0, 10, 10)});
                };
            }
            c.arrange();
            EXPECT_EQ(resolver_.secureFieldReader()(), c.expected);
            // A window that could not be chosen is never searched.
            if (withSearch) {
                EXPECT_EQ(searched.empty(), c.expected != found);
            }
            access_.search = nullptr;
        }
    }
}

TEST_F(AXResolverTest, AKeyWithNothingFocusedIsUnknownOnlyWhenTheFrontApplicationWasNotAsked) {
    struct Case {
        const char* what;
        std::function<void()> arrange;
        bool unknown;
    } cases[] = {
        {"the application in front answers that nothing has the focus", [] {}, false},
        {"no application is in front", [this] { apps_.frontmost.reset(); }, false},
        {"the application in front is not found over accessibility",
         [this] { access_.applicationElements.erase(appPID); }, true},
        {"the focus read goes unanswered",
         [this] { access_.systemWideElement->unanswered = {std::string(ax::focusedUIElement)}; },
         true},
        {"the window in front has no process",
         [this] {
             apps_.frontmost.reset();
             apps_.frontWindowWithoutProcess = true;
         },
         true},
        {"the window in front names a process that is not here",
         [this] { apps_.frontmost = appPID + 1000; }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        access_.systemWideElement->attributes.clear();
        access_.systemWideElement->unanswered.clear();
        access_.applicationElements[appPID] = app_;
        apps_.frontmost = appPID;
        apps_.frontWindowWithoutProcess = false;
        c.arrange();
        const AXResolver::Focus focus = resolver_.focusForKey(false);
        EXPECT_EQ(focus.unknown, c.unknown);
        EXPECT_FALSE(focus.target);
    }
}

// An editor's terminal pane may take the keys with nothing that accessibility calls focused.
TEST_F(AXResolverTest, AKeyWithNothingFocusedFollowsTheEchoOfTheFrontApplicationsTerminals) {
    using platform::TerminalEcho;
    struct Case {
        TerminalEcho echo;
        bool unknown, silentTerminal, echoingTerminal;
    } cases[] = {{TerminalEcho::notATerminal, false, false, false},
                 {TerminalEcho::echoes, false, false, true},
                 {TerminalEcho::silent, true, true, false}};
    apps_.frontmost = appPID;
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.echo));
        app_->echo = c.echo;
        access_.reads.clear();
        const AXResolver::Focus focus = resolver_.focusForKey(false);
        EXPECT_TRUE(wasRead("app.echo"));
        EXPECT_FALSE(focus.target);
        EXPECT_EQ(focus.unknown, c.unknown);
        EXPECT_EQ(focus.silentTerminal, c.silentTerminal);
        EXPECT_EQ(focus.echoingTerminal, c.echoingTerminal);
    }
}
