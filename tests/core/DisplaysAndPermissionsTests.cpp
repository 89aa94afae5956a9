#include "KestroCore/Displays.h"
#include "KestroCore/PermissionsManager.h"
#include "platform/fake/FakeDisplaySource.h"
#include "platform/fake/FakePermissionChecks.h"

#include <gtest/gtest.h>

using namespace kestro;
using platform::fake::FakeDisplaySource;

namespace {
DisplayInfo info(std::uint32_t id, Rect frame, bool isMain) {
    return DisplayInfo{id, frame, 1.0, isMain};
}
} // namespace

TEST(Displays, DisplayForAPoint) {
    const std::vector<DisplayInfo> sideBySide = {info(1, Rect::make(0, 0, 100, 50), true),
                                                 info(2, Rect::make(100, 0, 200, 80), false)};
    const std::vector<DisplayInfo> noMain = {info(1, Rect::make(0, 0, 100, 50), false),
                                             info(2, Rect::make(100, 0, 200, 80), false)};
    const std::vector<DisplayInfo> mainSecond = {info(1, Rect::make(0, 0, 100, 50), false),
                                                 info(2, Rect::make(100, 0, 200, 80), true)};
    const std::vector<DisplayInfo> mirrored = {info(7, Rect::make(0, 0, 100, 50), false),
                                               info(8, Rect::make(0, 0, 100, 50), true)};
    struct Case {
        const std::vector<DisplayInfo>* list;
        Point point;
        std::uint32_t expected;
    } cases[] = {
        {&sideBySide, {100, 10}, 2}, {&sideBySide, {99.5, 10}, 1}, {&sideBySide, {150, 60}, 2},
        {&sideBySide, {50, 60}, 1},  {&sideBySide, {-5, -5}, 1},   {&sideBySide, {300, 0}, 1},
        {&sideBySide, {0, 0}, 1},    {&mainSecond, {50, 60}, 2},   {&noMain, {50, 60}, 1},
        {&noMain, {-5, -5}, 1},      {&mirrored, {10, 10}, 7},
    };
    for (const auto& c : cases) {
        auto d = Displays::display(c.point, *c.list);
        ASSERT_TRUE(d.has_value());
        EXPECT_EQ(d->id, c.expected) << c.point.x << "," << c.point.y;
    }
    EXPECT_FALSE(Displays::display(Point{0, 0}, {}).has_value());
}

TEST(Displays, AllMapsEachActiveDisplayInOrder) {
    FakeDisplaySource source;
    source.displays = {{30, Rect::make(-1920, 0, 1920, 1080), false},
                       {10, Rect::make(0, 0, 2560, 1440), true}};
    source.screenList = {{std::nullopt, 3.0}, {10, 1.0}, {30, 1.5}, {30, 4.0}};
    const auto all = Displays::all(source);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0], (DisplayInfo{30, Rect::make(-1920, 0, 1920, 1080), 1.5, false}));
    EXPECT_EQ(all[1], (DisplayInfo{10, Rect::make(0, 0, 2560, 1440), 1.0, true}));
    EXPECT_EQ(Displays::scale(source, 99), 2.0) << "no screen shows it";
}

TEST(Displays, FailuresGiveTheEmptyList) {
    FakeDisplaySource source;
    EXPECT_TRUE(Displays::all(source).empty()) << "no active display";
    source.displays = {{1, Rect::make(0, 0, 10, 10), true}};
    source.failCount = true;
    EXPECT_TRUE(Displays::all(source).empty());
    source.failCount = false;
    source.failList = true;
    EXPECT_TRUE(Displays::all(source).empty());
    EXPECT_FALSE(Displays::display(Point{1, 1}, Displays::all(source)).has_value());

    // A display vanishing between the two queries is left out, not listed as id 0.
    source.failList = false;
    source.displays = {{1, Rect::make(0, 0, 10, 10), true}, {2, Rect::make(10, 0, 10, 10), false}};
    source.vanishBeforeList = 1;
    const auto all = Displays::all(source);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].id, 1u);
    EXPECT_EQ(all[0].scaleFactor, 2.0) << "no screen list: the fallback scale";
}

namespace {
struct PermissionsFixture : ::testing::Test {
    platform::fake::FakePermissionChecks checks;
    platform::fake::FakeURLOpener opener;
};
} // namespace

TEST_F(PermissionsFixture, PlatformAnswersMapToStatuses) {
    struct Case {
        bool screen;
        bool trusted;
        std::uint32_t listen;
        PermissionStatus screenStatus, accessibilityStatus, inputStatus;
        bool allGranted;
    } cases[] = {
        {false, false, 2, PermissionStatus::denied, PermissionStatus::denied,
         PermissionStatus::notDetermined, false},
        {true, true, 0, PermissionStatus::granted, PermissionStatus::granted,
         PermissionStatus::granted, true},
        {true, true, 1, PermissionStatus::granted, PermissionStatus::granted,
         PermissionStatus::denied, false},
        {true, false, 0, PermissionStatus::granted, PermissionStatus::denied,
         PermissionStatus::granted, false},
        {false, true, 7, PermissionStatus::denied, PermissionStatus::granted,
         PermissionStatus::notDetermined, false},
    };
    for (const auto& c : cases) {
        checks.screenCapture = c.screen;
        checks.trusted = c.trusted;
        checks.listenEvent = c.listen;
        PermissionsManager manager{checks, opener};
        EXPECT_EQ(manager.statuses().size(), 3u);
        EXPECT_EQ(manager.status(Permission::screenRecording), c.screenStatus);
        EXPECT_EQ(manager.status(Permission::accessibility), c.accessibilityStatus);
        EXPECT_EQ(manager.status(Permission::inputMonitoring), c.inputStatus);
        EXPECT_EQ(manager.allGranted(), c.allGranted);
    }
}

TEST_F(PermissionsFixture, PublishesOnlyRealChangesAndBeforeThem) {
    PermissionsManager manager{checks, opener};
    int notices = 0;
    PermissionStatus seenBefore = PermissionStatus::granted;
    auto subscription = manager.observeWillChange([&] {
        ++notices;
        seenBefore = manager.status(Permission::inputMonitoring);
    });
    manager.refresh();
    manager.refresh();
    EXPECT_EQ(notices, 0);

    checks.listenEvent = platform::PermissionChecks::accessGranted;
    manager.refresh();
    manager.refresh();
    EXPECT_EQ(notices, 1);
    EXPECT_EQ(seenBefore, PermissionStatus::notDetermined) << "told before the change";
    EXPECT_EQ(manager.status(Permission::inputMonitoring), PermissionStatus::granted);
    EXPECT_FALSE(manager.allGranted());

    checks.screenCapture = true;
    checks.trusted = true;
    manager.refresh();
    EXPECT_EQ(notices, 2);
    EXPECT_TRUE(manager.allGranted());

    subscription.cancel();
    checks.trusted = false;
    manager.refresh();
    EXPECT_EQ(notices, 2);
    EXPECT_FALSE(manager.allGranted());
}

TEST_F(PermissionsFixture, RequestAsksThenAlwaysOpensTheSettingsPane) {
    checks.screenCapture = true;
    checks.trusted = true;
    checks.listenEvent = 0;
    PermissionsManager manager{checks, opener};
    int notices = 0;
    auto subscription = manager.observeWillChange([&] { ++notices; });
    checks.trusted = false;
    for (Permission p : allPermissions) {
        manager.request(p);
    }
    EXPECT_EQ(checks.calls, (std::vector<std::string>{"requestScreenCapture", "trustWithPrompt",
                                                      "requestListenEvent"}));
    EXPECT_EQ(opener.opened, (std::vector<std::string>{settingsURL(Permission::screenRecording),
                                                       settingsURL(Permission::accessibility),
                                                       settingsURL(Permission::inputMonitoring)}));
    EXPECT_EQ(notices, 0) << "a request does not refresh";
    EXPECT_EQ(manager.status(Permission::accessibility), PermissionStatus::granted);
}

TEST(PermissionsManager, WellFormedURLs) {
    for (const char* ok :
         {"x-kestro-settings:privacy?Accessibility", "https://example.org/a?b=%20c",
          "mailto:someone@example.org", "relative/path", "file:///tmp/x"}) {
        EXPECT_TRUE(PermissionsManager::isWellFormedURL(ok)) << ok;
    }
    for (const char* bad : {"", "has space:x", "https://example.org/a b", "https://e.org/%zz",
                            "https://e.org/%4", "1http://e.org", "ht tp://e.org",
                            "https://e.org/\x01", "https://e.org/<x>", "https://e.org/\xC3\xA9"}) {
        EXPECT_FALSE(PermissionsManager::isWellFormedURL(bad)) << bad;
    }
}
