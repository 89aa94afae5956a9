#pragma once

#include "platform/EventTap.h"
#include "platform/linux/X11Monitors.h"

#include <array>
#include <bitset>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct xkb_context;
struct xkb_keymap;
struct xkb_state;
struct xkb_compose_table;
struct xkb_compose_state;
struct xcb_connection_t;

namespace kestro::platform::linux_x11 {

// An XKB keymap (and the compose table of the user's locale) for turning key presses into text.
class X11Keymap {
public:
    // The keymap of the core keyboard of a connection; null without XKB.
    static std::shared_ptr<X11Keymap> fromConnection(xcb_connection_t* connection);
    // A keymap compiled from layout names, as a fixed keyboard for tests.
    static std::shared_ptr<X11Keymap> fromNames(const char* layout, const char* variant = "");
    ~X11Keymap();
    X11Keymap(const X11Keymap&) = delete;
    X11Keymap& operator=(const X11Keymap&) = delete;

    xkb_keymap* keymap() const { return keymap_; }
    xkb_compose_table* composeTable() const { return compose_; }

private:
    X11Keymap(xkb_context* context, xkb_keymap* keymap);
    xkb_context* context_;
    xkb_keymap* keymap_;
    xkb_compose_table* compose_ = nullptr;
};

// A device event as the X server processed it (what the RECORD extension reports): the core
// event type, key code or button, server time in ms, root position and the modifier and button
// state just before the event.
struct X11CoreEvent {
    std::uint8_t type = 0;
    std::uint8_t detail = 0;
    std::uint32_t time = 0;
    std::int16_t rootX = 0;
    std::int16_t rootY = 0;
    std::uint16_t state = 0;
};

struct TranslatedEvent {
    InputEvent event;
    // For key events: the X key code and state, to match them against passive grabs.
    std::uint8_t xKeycode = 0;
    std::uint16_t xState = 0;
};

// Turns the X server's device events into the taps' events: one table of key codes and flags,
// click counts from server time and distance, left drags only, one scroll event per wheel step,
// text from the keymap and the compose table, and a per-key down table (a release of a key not
// down is dropped; a press of a key already down is an auto-repeat, kept for ordinary keys).
// Modifier keys give flags-changed events and never key-down events.
class X11InputTranslator {
public:
    struct ClickSettings {
        std::uint32_t doubleClickMilliseconds = 400;
        std::int32_t doubleClickDistance = 5;
    };

    X11InputTranslator(std::shared_ptr<X11Keymap> keymap, ClickSettings clicks, RootOrigin origin);
    ~X11InputTranslator();
    X11InputTranslator(const X11InputTranslator&) = delete;
    X11InputTranslator& operator=(const X11InputTranslator&) = delete;

    void setKeymap(std::shared_ptr<X11Keymap> keymap);
    void setOrigin(RootOrigin origin) { origin_ = origin; }
    void setClickSettings(ClickSettings clicks) { clicks_ = clicks; }

    std::optional<TranslatedEvent> translate(const X11CoreEvent& event);

private:
    std::optional<TranslatedEvent> translateCore(const X11CoreEvent& event);
    std::optional<TranslatedEvent> translateKey(const X11CoreEvent& event, bool press);
    std::optional<TranslatedEvent> translateButton(const X11CoreEvent& event, bool press);
    std::uint32_t baseKeysym(std::uint8_t keycode, std::uint32_t group) const;
    std::string producedText(std::uint8_t keycode, std::uint16_t state);
    Point location(const X11CoreEvent& event) const;

    std::shared_ptr<X11Keymap> keymap_;
    xkb_state* xkbState_ = nullptr;
    xkb_compose_state* compose_ = nullptr;
    ClickSettings clicks_;
    RootOrigin origin_;
    std::bitset<256> down_;
    std::array<std::uint64_t, 256> downFlag_{};
    struct LastPress {
        bool valid = false;
        std::uint8_t button = 0;
        std::uint32_t time = 0;
        int x = 0;
        int y = 0;
        std::int64_t count = 0;
    } lastPress_;
    bool havePointer_ = false;
    int pointerX_ = 0;
    int pointerY_ = 0;
};

} // namespace kestro::platform::linux_x11
