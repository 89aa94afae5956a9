#include "platform/linux/X11InputTranslator.h"

#include "platform/linux/X11KeyTable.h"

#include <X11/X.h>
#include <xkbcommon/xkbcommon-compose.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdlib>
#include <cstring>

namespace kestro::platform::linux_x11 {

namespace et = platform::event_type;
namespace flag = platform::event_flag;

namespace {

// The compose table of the user's locale, as toolkits choose it.
xkb_compose_table* composeTableForEnvironment(xkb_context* context) {
    const char* locale = nullptr;
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) {
            locale = value;
            break;
        }
    }
    return xkb_compose_table_new_from_locale(context, locale ? locale : "C",
                                             XKB_COMPOSE_COMPILE_NO_FLAGS);
}

} // namespace

X11Keymap::X11Keymap(xkb_context* context, xkb_keymap* keymap)
    : context_(context), keymap_(keymap), compose_(composeTableForEnvironment(context)) {}

X11Keymap::~X11Keymap() {
    xkb_compose_table_unref(compose_);
    xkb_keymap_unref(keymap_);
    xkb_context_unref(context_);
}

std::shared_ptr<X11Keymap> X11Keymap::fromConnection(xcb_connection_t* connection) {
    if (!connection || !xkb_x11_setup_xkb_extension(connection, XKB_X11_MIN_MAJOR_XKB_VERSION,
                                                    XKB_X11_MIN_MINOR_XKB_VERSION,
                                                    XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr,
                                                    nullptr, nullptr, nullptr)) {
        return nullptr;
    }
    const std::int32_t device = xkb_x11_get_core_keyboard_device_id(connection);
    if (device < 0) {
        return nullptr;
    }
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (!context) {
        return nullptr;
    }
    xkb_keymap* keymap =
        xkb_x11_keymap_new_from_device(context, connection, device, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap) {
        xkb_context_unref(context);
        return nullptr;
    }
    return std::shared_ptr<X11Keymap>(new X11Keymap(context, keymap));
}

std::shared_ptr<X11Keymap> X11Keymap::fromNames(const char* layout, const char* variant) {
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (!context) {
        return nullptr;
    }
    xkb_rule_names names{"evdev", "pc105", layout, variant, nullptr};
    xkb_keymap* keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap) {
        xkb_context_unref(context);
        return nullptr;
    }
    return std::shared_ptr<X11Keymap>(new X11Keymap(context, keymap));
}

X11InputTranslator::X11InputTranslator(std::shared_ptr<X11Keymap> keymap, ClickSettings clicks,
                                       RootOrigin origin)
    : clicks_(clicks), origin_(origin) {
    setKeymap(std::move(keymap));
}

X11InputTranslator::~X11InputTranslator() {
    xkb_compose_state_unref(compose_);
    xkb_state_unref(xkbState_);
}

void X11InputTranslator::setKeymap(std::shared_ptr<X11Keymap> keymap) {
    xkb_compose_state_unref(compose_);
    xkb_state_unref(xkbState_);
    compose_ = nullptr;
    xkbState_ = nullptr;
    keymap_ = std::move(keymap);
    if (keymap_) {
        xkbState_ = xkb_state_new(keymap_->keymap());
        if (keymap_->composeTable()) {
            compose_ = xkb_compose_state_new(keymap_->composeTable(), XKB_COMPOSE_STATE_NO_FLAGS);
        }
    }
}

Point X11InputTranslator::location(const X11CoreEvent& event) const {
    return Point{static_cast<double>(event.rootX - origin_.x),
                 static_cast<double>(event.rootY - origin_.y)};
}

std::optional<TranslatedEvent> X11InputTranslator::translate(const X11CoreEvent& event) {
    std::optional<TranslatedEvent> out = translateCore(event);
    if (out) {
        out->event.timestamp = event.time;
    }
    return out;
}

std::optional<TranslatedEvent> X11InputTranslator::translateCore(const X11CoreEvent& event) {
    switch (event.type) {
    case KeyPress:
    case KeyRelease:
        return translateKey(event, event.type == KeyPress);
    case ButtonPress:
    case ButtonRelease:
        return translateButton(event, event.type == ButtonPress);
    case MotionNotify: {
        if (havePointer_ && event.rootX == pointerX_ && event.rootY == pointerY_) {
            return std::nullopt; // no movement (a scroll valuator changed, say)
        }
        havePointer_ = true;
        pointerX_ = event.rootX;
        pointerY_ = event.rootY;
        TranslatedEvent out;
        out.event.type = (event.state & Button1Mask)   ? et::leftMouseDragged
                         : (event.state & Button3Mask) ? et::rightMouseDragged
                                                       : et::mouseMoved;
        out.event.location = location(event);
        out.event.flags = flagsFromXState(event.state);
        return out;
    }
    default:
        return std::nullopt;
    }
}

std::optional<TranslatedEvent> X11InputTranslator::translateButton(const X11CoreEvent& event,
                                                                   bool press) {
    havePointer_ = true;
    pointerX_ = event.rootX;
    pointerY_ = event.rootY;
    TranslatedEvent out;
    out.event.location = location(event);
    out.event.flags = flagsFromXState(event.state);
    switch (event.detail) {
    case Button1:
    case Button3: {
        const bool left = event.detail == Button1;
        if (!press) {
            out.event.type = left ? et::leftMouseUp : et::rightMouseUp;
            return out;
        }
        const std::uint32_t elapsed = event.time - lastPress_.time; // wraps like server time
        const bool repeatClick =
            lastPress_.valid && lastPress_.button == event.detail &&
            elapsed <= clicks_.doubleClickMilliseconds &&
            std::abs(event.rootX - lastPress_.x) <= clicks_.doubleClickDistance &&
            std::abs(event.rootY - lastPress_.y) <= clicks_.doubleClickDistance;
        lastPress_ = LastPress{true,        event.detail, event.time,
                               event.rootX, event.rootY,  repeatClick ? lastPress_.count + 1 : 1};
        out.event.type = left ? et::leftMouseDown : et::rightMouseDown;
        out.event.clickState = lastPress_.count;
        return out;
    }
    case 4:
    case 5:
    case 6:
    case 7:
        // One wheel step per press; releases carry nothing. Up and left are positive.
        if (!press) {
            return std::nullopt;
        }
        out.event.type = et::scrollWheel;
        out.event.scrollDeltaAxis1 = event.detail == 4 ? 1.0 : event.detail == 5 ? -1.0 : 0.0;
        out.event.scrollDeltaAxis2 = event.detail == 6 ? 1.0 : event.detail == 7 ? -1.0 : 0.0;
        return out;
    default:
        return std::nullopt;
    }
}

std::uint32_t X11InputTranslator::baseKeysym(std::uint8_t keycode, std::uint32_t group) const {
    if (!keymap_) {
        return 0;
    }
    const xkb_layout_index_t layouts = xkb_keymap_num_layouts_for_key(keymap_->keymap(), keycode);
    if (layouts == 0) {
        return 0;
    }
    const xkb_keysym_t* syms = nullptr;
    const int n = xkb_keymap_key_get_syms_by_level(keymap_->keymap(), keycode,
                                                   group < layouts ? group : 0, 0, &syms);
    return n > 0 ? syms[0] : 0;
}

std::string X11InputTranslator::producedText(std::uint8_t keycode, std::uint16_t state) {
    if (!xkbState_) {
        return {};
    }
    xkb_state_update_mask(xkbState_, state & grabModifierBits, 0, 0, 0, 0, (state >> 13) & 3);
    const xkb_keysym_t sym = xkb_state_key_get_one_sym(xkbState_, keycode);
    char buffer[64] = {};
    if (compose_ && xkb_compose_state_feed(compose_, sym) == XKB_COMPOSE_FEED_ACCEPTED) {
        switch (xkb_compose_state_get_status(compose_)) {
        case XKB_COMPOSE_COMPOSING:
            return {};
        case XKB_COMPOSE_COMPOSED:
            xkb_compose_state_get_utf8(compose_, buffer, sizeof buffer);
            xkb_compose_state_reset(compose_);
            return buffer;
        case XKB_COMPOSE_CANCELLED:
            xkb_compose_state_reset(compose_);
            return {};
        case XKB_COMPOSE_NOTHING:
            break;
        }
    }
    xkb_state_key_get_utf8(xkbState_, keycode, buffer, sizeof buffer);
    return buffer;
}

std::optional<TranslatedEvent> X11InputTranslator::translateKey(const X11CoreEvent& event,
                                                                bool press) {
    const std::uint8_t keycode = event.detail;
    const std::uint32_t sym = baseKeysym(keycode, (event.state >> 13) & 3);
    const bool wasDown = down_.test(keycode);
    TranslatedEvent out;
    out.xKeycode = keycode;
    out.xState = event.state;
    out.event.location = location(event);
    out.event.keyCode = virtualKeyCode(keycode);
    std::uint64_t flags = flagsFromXState(event.state);

    if (isModifierKeysym(sym)) {
        // The state is the one before the event; flags-changed carries the state after it.
        if (press == wasDown) {
            return std::nullopt; // a repeated press or a stray release changes nothing
        }
        const std::uint64_t bit = flagOfModifierKeysym(sym);
        down_.set(keycode, press);
        downFlag_[keycode] = press ? bit : 0;
        if (isLockingKeysym(sym)) {
            if (press) {
                flags ^= bit;
            }
        } else if (press) {
            flags |= bit;
        } else {
            bool heldByAnother = false;
            for (std::size_t k = 0; k < down_.size(); ++k) {
                heldByAnother = heldByAnother || (down_.test(k) && (downFlag_[k] & bit));
            }
            if (!heldByAnother) {
                flags &= ~bit;
            }
        }
        out.event.type = et::flagsChanged;
        out.event.flags = flags;
        return out;
    }

    if (isKeypadKey(static_cast<std::uint16_t>(out.event.keyCode))) {
        flags |= flag::numericPad;
    }
    out.event.flags = flags;
    if (!press) {
        if (!wasDown) {
            return std::nullopt;
        }
        down_.reset(keycode);
        out.event.type = et::keyUp;
        return out;
    }
    down_.set(keycode);
    out.event.type = et::keyDown;
    out.event.unicodeString = producedText(keycode, event.state);
    return out;
}

} // namespace kestro::platform::linux_x11
