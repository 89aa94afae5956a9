#include "platform/linux/X11InputTranslator.h"
#include "platform/linux/X11KeyTable.h"
#include "platform/linux/XSettings.h"

#include <gtest/gtest.h>

#include <X11/X.h>

#include <cstdlib>
#include <vector>

using namespace kestro;
using namespace kestro::platform::linux_x11;
namespace et = kestro::platform::event_type;
namespace flag = kestro::platform::event_flag;

TEST(X11KeyTable, PositionalCodesBothWays) {
    struct Case {
        std::uint32_t x;
        std::uint16_t code;
    } cases[] = {{61, 44}, {9, 53},  {37, 59},   {105, 62},  {133, 55}, {134, 54},
                 {50, 56}, {64, 58}, {36, 36},   {23, 48},   {22, 51},  {119, 117},
                 {38, 0},  {52, 6},  {113, 123}, {111, 126}, {104, 76}, {110, 115}};
    for (const auto& c : cases) {
        EXPECT_EQ(virtualKeyCode(c.x), c.code) << c.x;
        EXPECT_EQ(xKeycodeFor(c.code), c.x) << c.code;
    }
    // A key without a counterpart gets a code no listed key has, and maps back.
    EXPECT_EQ(virtualKeyCode(107), 0x100 + 107);
    EXPECT_EQ(xKeycodeFor(0x100 + 107), 107u);
    EXPECT_EQ(xKeycodeFor(52 + 200), 0u) << "a virtual code nothing has";
}

TEST(X11KeyTable, FlagsAndGrabMasks) {
    EXPECT_EQ(flagsFromXState(ShiftMask | ControlMask | Button1Mask), flag::shift | flag::control);
    EXPECT_EQ(flagsFromXState(Mod4Mask | Mod2Mask), flag::command) << "Num Lock has no flag";
    EXPECT_EQ(flagsFromXState(Mod5Mask), flag::option) << "AltGr is Option";
    EXPECT_EQ(flagsFromXState(LockMask | Mod1Mask), flag::alphaShift | flag::option);

    const auto slash = grabMasksFor(flag::control, flag::command);
    EXPECT_EQ(slash.all.size(), 32u);
    EXPECT_EQ(slash.base, (std::vector<std::uint16_t>{ControlMask, ControlMask | LockMask,
                                                      ControlMask | Mod2Mask,
                                                      ControlMask | LockMask | Mod2Mask}));
    for (std::uint16_t m : slash.all) {
        EXPECT_TRUE(m & ControlMask);
        EXPECT_FALSE(m & Mod4Mask) << "Command-Control-/ is never taken";
    }
    const auto escape = grabMasksFor(0, 0);
    EXPECT_EQ(escape.all.size(), 128u);
    EXPECT_EQ(escape.base.size(), 4u);
}

TEST(X11KeyTable, FlagsBackToModifierMasksAndCharactersToKeysyms) {
    EXPECT_EQ(xStateFromFlags(flag::control | flag::shift), std::uint32_t{ControlMask | ShiftMask});
    EXPECT_EQ(xStateFromFlags(flag::option), std::uint32_t{Mod1Mask}) << "Alt, not AltGr";
    EXPECT_EQ(xStateFromFlags(flag::command | flag::alphaShift),
              std::uint32_t{Mod4Mask | LockMask});
    EXPECT_EQ(xStateFromFlags(flag::numericPad | 0x100), 0u) << "flags without a modifier";
    for (std::uint64_t f : {flag::shift, flag::control, flag::option, flag::command,
                            flag::control | flag::option | flag::command | flag::shift}) {
        EXPECT_EQ(flagsFromXState(xStateFromFlags(f)), f);
    }

    struct Case {
        char32_t character;
        std::uint32_t keysym;
    } cases[] = {
        {U'a', 0x61},    {U'~', 0x7e},    {U'é', 0xe9},      {U'€', 0x20ac},
        {U'Ж', 0x6f6},   {U'ŝ', 0x2fe},   {U'𝄞', 0x101d11e}, {U'\u2603', 0x1002603},
        {U'\n', 0xff0d}, {U'\r', 0xff0d}, {U'\t', 0xff09},   {U'\x01', 0},
        {U'\x7f', 0},    {U'\x85', 0},    {0xD800, 0},       {0xFFFE, 0},
        {0x110000, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(keysymForCharacter(c.character), c.keysym)
            << std::hex << std::uint32_t(c.character);
    }
}

namespace {

struct TranslatorFixture : ::testing::Test {
    std::shared_ptr<X11Keymap> keymap;
    std::unique_ptr<X11InputTranslator> translator;
    std::uint32_t time = 100000;

    void SetUp() override {
        // The compose table follows the locale, as toolkits choose it.
        ::setenv("LC_ALL", "en_US.UTF-8", 1);
        keymap = X11Keymap::fromNames("us", "intl");
        ::unsetenv("LC_ALL");
        ASSERT_TRUE(keymap);
        translator = std::make_unique<X11InputTranslator>(
            keymap, X11InputTranslator::ClickSettings{400, 5}, RootOrigin{100, 50});
    }

    std::optional<TranslatedEvent> send(std::uint8_t type, std::uint8_t detail, int x, int y,
                                        std::uint16_t state, std::uint32_t after = 10) {
        time += after;
        return translator->translate(X11CoreEvent{type, detail, time, static_cast<std::int16_t>(x),
                                                  static_cast<std::int16_t>(y), state});
    }
};

} // namespace

TEST_F(TranslatorFixture, ClickCountsFollowTimeDistanceAndButton) {
    struct Step {
        std::uint8_t button;
        int x;
        std::uint32_t after;
        std::int64_t count;
    } steps[] = {
        {1, 200, 10, 1},  {1, 200, 300, 2}, {1, 204, 400, 3}, // within time and distance
        {1, 204, 401, 1},                                     // too late
        {1, 210, 100, 1},                                     // too far
        {3, 210, 100, 1}, {3, 210, 100, 2},                   // another button starts over
        {1, 210, 100, 1},
    };
    for (const auto& s : steps) {
        auto down = send(ButtonPress, s.button, s.x, 300, 0, s.after);
        ASSERT_TRUE(down);
        EXPECT_EQ(down->event.type, s.button == 1 ? et::leftMouseDown : et::rightMouseDown);
        EXPECT_EQ(down->event.clickState, s.count) << s.x << " after " << s.after;
        EXPECT_EQ(down->event.location, (Point{s.x - 100.0, 250}));
        auto up = send(ButtonRelease, s.button, s.x, 300, 0, 0);
        ASSERT_TRUE(up);
        EXPECT_EQ(up->event.type, s.button == 1 ? et::leftMouseUp : et::rightMouseUp);
    }
    // Server time wraps around after 49 days; a double click across it still counts.
    time = 0xFFFFFF00u;
    send(ButtonPress, 1, 0, 0, 0);
    auto second = send(ButtonPress, 1, 0, 0, 0, 0x150);
    EXPECT_EQ(second->event.clickState, 2);
}

TEST_F(TranslatorFixture, ScrollDragsAndIgnoredPointerEvents) {
    struct Case {
        std::uint8_t type;
        std::uint8_t detail;
        int x;
        std::uint16_t state;
        std::optional<std::uint32_t> expected;
        double axis1 = 0;
        double axis2 = 0;
    } cases[] = {
        {ButtonPress, 4, 10, 0, et::scrollWheel, 1, 0},
        {ButtonPress, 5, 10, 0, et::scrollWheel, -1, 0},
        {ButtonPress, 6, 10, 0, et::scrollWheel, 0, 1},
        {ButtonPress, 7, 10, 0, et::scrollWheel, 0, -1},
        {ButtonRelease, 4, 10, 0, std::nullopt},
        {ButtonPress, 2, 10, 0, std::nullopt},
        {ButtonPress, 8, 10, 0, std::nullopt},
        {MotionNotify, 0, 20, Button1Mask, et::leftMouseDragged},
        {MotionNotify, 0, 20, Button1Mask, std::nullopt}, // no movement
        {MotionNotify, 0, 30, Button3Mask, et::rightMouseDragged},
        {MotionNotify, 0, 40, 0, et::mouseMoved},
    };
    for (const auto& c : cases) {
        auto out = send(c.type, c.detail, c.x, 60, c.state);
        ASSERT_EQ(out.has_value(), c.expected.has_value()) << int(c.type) << "/" << int(c.detail);
        if (out) {
            EXPECT_EQ(out->event.type, *c.expected);
            EXPECT_EQ(out->event.scrollDeltaAxis1, c.axis1);
            EXPECT_EQ(out->event.scrollDeltaAxis2, c.axis2);
            EXPECT_EQ(out->event.location, (Point{c.x - 100.0, 10}));
        }
    }
}

TEST_F(TranslatorFixture, KeysModifiersRepeatsAndText) {
    constexpr std::uint8_t shiftL = 50, shiftR = 62, controlL = 37, capsLock = 66, letterA = 38,
                           letterC = 54, apostrophe = 48, letterE = 26, f5 = 71, kp1 = 87;
    struct Step {
        std::uint8_t type;
        std::uint8_t keycode;
        std::uint16_t state; // before the event, as the server reports it
        std::optional<std::uint32_t> expectedType;
        std::int64_t code = 0;
        std::uint64_t flags = 0;
        const char* text = "";
    } steps[] = {
        {KeyPress, shiftL, 0, et::flagsChanged, 56, flag::shift},
        {KeyPress, shiftL, ShiftMask, std::nullopt}, // a modifier never repeats
        {KeyPress, letterA, ShiftMask, et::keyDown, 0, flag::shift, "A"},
        {KeyPress, letterA, ShiftMask, et::keyDown, 0, flag::shift, "A"}, // auto-repeat
        {KeyRelease, letterA, ShiftMask, et::keyUp, 0, flag::shift},
        {KeyRelease, letterA, ShiftMask, std::nullopt}, // a repeated release
        {KeyPress, shiftR, ShiftMask, et::flagsChanged, 60, flag::shift},
        {KeyRelease, shiftR, ShiftMask, et::flagsChanged, 60, flag::shift}, // left still held
        {KeyRelease, shiftL, ShiftMask, et::flagsChanged, 56, 0},
        {KeyPress, controlL, 0, et::flagsChanged, 59, flag::control},
        {KeyPress, letterC, ControlMask, et::keyDown, 8, flag::control, "\x03"},
        {KeyRelease, controlL, ControlMask, et::flagsChanged, 59, 0},
        {KeyRelease, controlL, 0, std::nullopt},
        {KeyPress, capsLock, 0, et::flagsChanged, 57, flag::alphaShift},
        {KeyRelease, capsLock, LockMask, et::flagsChanged, 57, flag::alphaShift},
        {KeyPress, letterA, LockMask, et::keyDown, 0, flag::alphaShift, "A"},
        {KeyPress, capsLock, LockMask, et::flagsChanged, 57, 0},
        // A dead key produces nothing; the next key the composed character.
        {KeyPress, apostrophe, 0, et::keyDown, 39, 0, ""},
        {KeyPress, letterE, 0, et::keyDown, 14, 0, "\xC3\xA9"},
        {KeyPress, f5, 0, et::keyDown, 96, 0, ""},
        {KeyPress, kp1, Mod2Mask, et::keyDown, 83, flag::numericPad, "1"},
        {KeyPress, 200, 0, et::keyDown, 0x100 + 200, 0, ""},
    };
    for (const auto& s : steps) {
        auto out = send(s.type, s.keycode, 0, 0, s.state);
        ASSERT_EQ(out.has_value(), s.expectedType.has_value())
            << int(s.type) << " key " << int(s.keycode);
        if (!out) {
            continue;
        }
        EXPECT_EQ(out->event.type, *s.expectedType) << int(s.keycode);
        EXPECT_EQ(out->event.keyCode, s.code) << int(s.keycode);
        EXPECT_EQ(out->event.flags, s.flags) << int(s.keycode);
        EXPECT_EQ(out->event.unicodeString, s.text) << int(s.keycode);
        EXPECT_EQ(out->xKeycode, s.keycode);
    }
}

namespace {
// XSETTINGS data in little-endian order.
struct SettingsBuilder {
    std::vector<std::uint8_t> bytes{0, 0, 0, 0};
    std::uint32_t count = 0;
    void u16(std::uint16_t v) {
        bytes.push_back(static_cast<std::uint8_t>(v));
        bytes.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    void u32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        }
    }
    void header(std::uint8_t type, const std::string& name) {
        ++count;
        bytes.push_back(type);
        bytes.push_back(0);
        u16(static_cast<std::uint16_t>(name.size()));
        bytes.insert(bytes.end(), name.begin(), name.end());
        while (bytes.size() % 4) {
            bytes.push_back(0);
        }
        u32(7); // last change serial
    }
    void integer(const std::string& name, std::int32_t value) {
        header(0, name);
        u32(static_cast<std::uint32_t>(value));
    }
    void string(const std::string& name, const std::string& value) {
        header(1, name);
        u32(static_cast<std::uint32_t>(value.size()));
        bytes.insert(bytes.end(), value.begin(), value.end());
        while (bytes.size() % 4) {
            bytes.push_back(0);
        }
    }
    void colour(const std::string& name) {
        header(2, name);
        u32(0);
        u32(0);
    }
    std::vector<std::uint8_t> data() const {
        std::vector<std::uint8_t> out(bytes.begin(), bytes.begin() + 4);
        for (std::uint32_t v : {1u, count}) {
            for (int i = 0; i < 4; ++i) {
                out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
            }
        }
        out.insert(out.end(), bytes.begin() + 4, bytes.end());
        return out;
    }
};
} // namespace

TEST(XSettings, ReadsIntegersAndRejectsMalformedData) {
    SettingsBuilder b;
    b.string("Net/ThemeName", "Adwaita");
    b.colour("Gtk/Colour");
    b.integer("Net/DoubleClickTime", 250);
    b.integer("Net/DoubleClickDistance", 8);
    const auto data = b.data();
    EXPECT_EQ(xsettingsInteger(data.data(), data.size(), "Net/DoubleClickTime"), 250);
    EXPECT_EQ(xsettingsInteger(data.data(), data.size(), "Net/DoubleClickDistance"), 8);
    EXPECT_EQ(xsettingsInteger(data.data(), data.size(), "Net/ThemeName"), std::nullopt);
    EXPECT_EQ(xsettingsInteger(data.data(), data.size(), "Missing"), std::nullopt);
    // Every truncation fails cleanly instead of reading past the end.
    for (std::size_t n = 0; n + 4 < data.size(); ++n) {
        auto value = xsettingsInteger(data.data(), n, "Net/DoubleClickDistance");
        EXPECT_EQ(value, std::nullopt) << n;
    }
    auto huge = data;
    huge[8] = 0xFF; // the setting count
    huge[9] = 0xFF;
    EXPECT_EQ(xsettingsInteger(huge.data(), huge.size(), "Missing"), std::nullopt);
    auto badOrder = data;
    badOrder[0] = 7;
    EXPECT_EQ(xsettingsInteger(badOrder.data(), badOrder.size(), "Net/DoubleClickTime"),
              std::nullopt);
}
