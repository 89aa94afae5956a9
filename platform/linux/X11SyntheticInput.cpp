#include "platform/linux/X11SyntheticInput.h"

#include "KestroBase/Text.h"
#include "platform/linux/X11KeyTable.h"

#include <X11/XKBlib.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace kestro::platform::linux_x11 {

namespace {

namespace type = platform::event_type;

// Core modifier bits, in the order modifier keys are pressed.
constexpr std::uint32_t shiftBit = XCB_MOD_MASK_SHIFT;
constexpr std::uint32_t lockBit = XCB_MOD_MASK_LOCK;
constexpr std::uint32_t numLockBit = XCB_MOD_MASK_2;

int maskIndex(std::uint32_t bit) {
    for (int i = 0; i < 8; ++i) {
        if (bit == (1u << i)) {
            return i;
        }
    }
    return -1;
}

// A root-window pixel from a coordinate in global points; nothing for what X cannot address.
std::optional<std::int16_t> rootPixel(double value, int origin) {
    if (!std::isfinite(value)) {
        return std::nullopt;
    }
    const double pixel = std::floor(value) + origin;
    if (pixel < std::numeric_limits<std::int16_t>::min() ||
        pixel > std::numeric_limits<std::int16_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int16_t>(pixel);
}

} // namespace

X11SyntheticInput::X11SyntheticInput(MainQueue& queue, const char* displayName,
                                     double restoreDelaySeconds)
    : x_(displayName), queue_(queue), restoreDelay_(restoreDelaySeconds) {
    if (!x_.ok()) {
        return;
    }
    xcb_connection_t* c = x_.xcb();
    Reply<xcb_test_get_version_reply_t> version(
        xcb_test_get_version_reply(c, xcb_test_get_version(c, 2, 2), nullptr));
    ok_ = version != nullptr;
    int opcode = 0, event = 0, error = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
    xkb_ = XkbQueryExtension(x_.xlib(), &opcode, &event, &error, &major, &minor);
}

X11SyntheticInput::~X11SyntheticInput() {
    if (!ok_) {
        return;
    }
    // Nothing stays pressed, and every borrowed key code gets its mapping back.
    releaseAll();
    restoreKeyboardMapping();
    // One round trip, so the server has it all before the connection closes.
    Reply<xcb_get_input_focus_reply_t> sync(
        xcb_get_input_focus_reply(x_.xcb(), xcb_get_input_focus(x_.xcb()), nullptr));
}

void X11SyntheticInput::post(const InputEvent& event) {
    if (!ok_) {
        return;
    }
    pending_.push_back(event);
    // Behind events held back it waits its turn; their drain is already on the queue.
    if (pending_.size() == 1) {
        drain();
    }
}

void X11SyntheticInput::whenPosted(std::function<void()> done) {
    if (pending_.empty()) {
        done();
    } else {
        whenPosted_.push_back(std::move(done));
    }
}

void X11SyntheticInput::cancelPending() {
    if (!ok_) {
        return;
    }
    pending_.clear();
    ++drainGeneration_;
    releaseAll();
    xcb_flush(x_.xcb());
    // Windows may still be reading presses posted before the cancel; they get the usual time.
    if (!remapped_.empty()) {
        scheduleRestore();
    }
    for (auto& done : std::exchange(whenPosted_, {})) {
        done();
    }
}

void X11SyntheticInput::releaseAll() {
    for (const auto& [code, held] : heldKeys_) {
        release(held);
    }
    const auto now = SteadyClock::now();
    for (const auto& [character, held] : heldText_) {
        release(held);
        if (auto remap = remapped_.find(held.keycode); remap != remapped_.end()) {
            remap->second.releasedAt = now;
        }
    }
    heldKeys_.clear();
    heldText_.clear();
}

void X11SyntheticInput::drain() {
    while (!pending_.empty()) {
        const double wait = postOne(pending_.front());
        if (wait > 0) {
            xcb_flush(x_.xcb());
            // No restore while characters still wait for key codes.
            ++restoreGeneration_;
            queue_.postAfter(
                wait, [this, alive = std::weak_ptr<int>(alive_), generation = drainGeneration_] {
                    if (alive.lock() && generation == drainGeneration_) {
                        drain();
                    }
                });
            return;
        }
        pending_.pop_front();
    }
    xcb_flush(x_.xcb());
    for (auto& done : std::exchange(whenPosted_, {})) {
        done();
    }
}

double X11SyntheticInput::postOne(InputEvent& event) {
    switch (event.type) {
    case type::mouseMoved:
    case type::leftMouseDown:
    case type::leftMouseUp:
    case type::rightMouseDown:
    case type::rightMouseUp:
        postMouse(event);
        return 0;
    case type::keyDown:
    case type::keyUp:
        if (!event.unicodeString.empty()) {
            return postText(event, event.type == type::keyDown);
        }
        postKey(event, event.type == type::keyDown);
        return 0;
    default:
        return 0;
    }
}

void X11SyntheticInput::fake(std::uint8_t eventType, std::uint8_t detail, std::int16_t x,
                             std::int16_t y) {
    xcb_test_fake_input(x_.xcb(), eventType, detail, XCB_CURRENT_TIME,
                        eventType == XCB_MOTION_NOTIFY ? x_.root() : xcb_window_t{XCB_NONE}, x, y,
                        0);
}

void X11SyntheticInput::postMouse(const InputEvent& event) {
    // Monitors move rarely; their origin is read again at each pointer move, which starts every
    // click.
    if (!origin_ || event.type == type::mouseMoved) {
        origin_ = x_.origin();
    }
    const auto px = rootPixel(event.location.x, origin_->x);
    const auto py = rootPixel(event.location.y, origin_->y);
    if (!px || !py) {
        return;
    }
    const std::pair<int, int> target{*px, *py};
    if (event.type == type::mouseMoved || pointer_ != target) {
        fake(XCB_MOTION_NOTIFY, 0, *px, *py);
        pointer_ = target;
    }
    switch (event.type) {
    case type::leftMouseDown:
        fake(XCB_BUTTON_PRESS, 1);
        break;
    case type::leftMouseUp:
        fake(XCB_BUTTON_RELEASE, 1);
        break;
    case type::rightMouseDown:
        fake(XCB_BUTTON_PRESS, 3);
        break;
    case type::rightMouseUp:
        fake(XCB_BUTTON_RELEASE, 3);
        break;
    default:
        break;
    }
}

void X11SyntheticInput::postKey(const InputEvent& event, bool press) {
    if (event.keyCode < 0 || event.keyCode > std::numeric_limits<std::uint16_t>::max()) {
        return;
    }
    const auto code = static_cast<std::uint16_t>(event.keyCode);
    const std::uint32_t xKeycode = xKeycodeFor(code);
    if (xKeycode < 8 || xKeycode > 255) {
        return;
    }
    if (!press) {
        auto it = heldKeys_.find(code);
        if (it == heldKeys_.end()) {
            release(Held{static_cast<std::uint8_t>(xKeycode), {}});
        } else {
            release(it->second);
            heldKeys_.erase(it);
        }
        return;
    }
    refreshKeyboard();
    Held held{static_cast<std::uint8_t>(xKeycode), {}};
    // A lock would stay on after the key; Num Lock and the like have no flag anyway.
    const std::uint32_t mask = xStateFromFlags(event.flags) & ~lockBit;
    for (std::uint32_t bit = 1; bit <= XCB_MOD_MASK_5; bit <<= 1) {
        if (!(mask & bit)) {
            continue;
        }
        const std::uint8_t modifier = modifierKey(bit);
        if (modifier && modifier != held.keycode &&
            std::find(held.modifiers.begin(), held.modifiers.end(), modifier) ==
                held.modifiers.end()) {
            fake(XCB_KEY_PRESS, modifier);
            held.modifiers.push_back(modifier);
        }
    }
    fake(XCB_KEY_PRESS, held.keycode);
    heldKeys_.emplace(code, std::move(held));
}

void X11SyntheticInput::release(const Held& held) {
    fake(XCB_KEY_RELEASE, held.keycode);
    for (auto it = held.modifiers.rbegin(); it != held.modifiers.rend(); ++it) {
        fake(XCB_KEY_RELEASE, *it);
    }
    if (held.relockCaps) {
        XkbLockModifiers(x_.xlib(), XkbUseCoreKbd, lockBit, lockBit);
        // Xlib keeps requests in a buffer of its own; they must not wait behind later XCB ones.
        XFlush(x_.xlib());
    }
}

double X11SyntheticInput::postText(InputEvent& event, bool press) {
    const std::u32string characters = text::decodeUtf8(event.unicodeString);
    for (std::size_t i = 0; i < characters.size(); ++i) {
        const char32_t character = characters[i];
        if (!press) {
            auto it = heldText_.find(character);
            if (it != heldText_.end()) {
                release(it->second);
                if (auto remap = remapped_.find(it->second.keycode); remap != remapped_.end()) {
                    remap->second.releasedAt = SteadyClock::now();
                }
                heldText_.erase(it);
            }
            continue;
        }
        const std::uint32_t keysym = keysymForCharacter(character);
        if (!keysym) {
            continue;
        }
        refreshKeyboard();
        const KeyboardState state = keyboardState();
        std::optional<Key> key;
        for (auto& [keycode, remap] : remapped_) {
            if (remap.keysym == keysym) {
                key = Key{keycode, false};
                break;
            }
        }
        if (!key && state.plain) {
            key = keyOnLayout(keysym);
        }
        if (!key) {
            double wait = 0;
            const std::uint8_t lent = lend(keysym, wait);
            if (wait > 0) {
                // This character and the rest of the text go out once a key code is free.
                std::string rest;
                for (std::size_t j = i; j < characters.size(); ++j) {
                    text::appendUtf8(rest, characters[j]);
                }
                event.unicodeString = std::move(rest);
                return wait;
            }
            if (!lent) {
                continue;
            }
            key = Key{lent, false};
        }
        Held held{key->keycode, {}, state.capsLocked};
        if (held.relockCaps) {
            XkbLockModifiers(x_.xlib(), XkbUseCoreKbd, lockBit, 0);
            XFlush(x_.xlib());
        }
        if (key->shift) {
            if (const std::uint8_t shift = modifierKey(shiftBit)) {
                fake(XCB_KEY_PRESS, shift);
                held.modifiers.push_back(shift);
            }
        }
        fake(XCB_KEY_PRESS, held.keycode);
        heldText_.emplace(character, std::move(held));
        // A new press postpones the restore until this key too is released.
        ++restoreGeneration_;
    }
    if (!press && heldText_.empty() && !remapped_.empty()) {
        scheduleRestore();
    }
    return 0;
}

void X11SyntheticInput::refreshKeyboard() {
    xcb_connection_t* c = x_.xcb();
    // Nothing but mapping changes and the errors of requests nobody waits for comes here.
    while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
        if ((event->response_type & 0x7F) == XCB_MAPPING_NOTIFY) {
            keyboardStale_ = true;
        }
        std::free(event);
    }
    if (!keyboardStale_) {
        return;
    }
    const xcb_setup_t* setup = xcb_get_setup(c);
    const auto keyboardCookie = xcb_get_keyboard_mapping(
        c, setup->min_keycode,
        static_cast<std::uint8_t>(setup->max_keycode - setup->min_keycode + 1));
    const auto modifierCookie = xcb_get_modifier_mapping(c);
    Reply<xcb_get_keyboard_mapping_reply_t> keyboard(
        xcb_get_keyboard_mapping_reply(c, keyboardCookie, nullptr));
    Reply<xcb_get_modifier_mapping_reply_t> modifiers(
        xcb_get_modifier_mapping_reply(c, modifierCookie, nullptr));
    if (!keyboard || !modifiers) {
        return;
    }
    minKeycode_ = setup->min_keycode;
    maxKeycode_ = setup->max_keycode;
    perCode_ = keyboard->keysyms_per_keycode;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(keyboard.get());
    keysyms_.assign(syms, syms + xcb_get_keyboard_mapping_keysyms_length(keyboard.get()));
    const xcb_keycode_t* keys = xcb_get_modifier_mapping_keycodes(modifiers.get());
    const int perModifier = modifiers->keycodes_per_modifier;
    for (int m = 0; m < 8; ++m) {
        modifierKeys_[m].clear();
        for (int k = 0; k < perModifier; ++k) {
            if (const xcb_keycode_t key = keys[m * perModifier + k]) {
                modifierKeys_[m].push_back(key);
            }
        }
    }
    keyboardStale_ = false;
}

std::uint32_t X11SyntheticInput::keysymAt(std::uint8_t keycode, int column) const {
    if (keycode < minKeycode_ || keycode > maxKeycode_ || column >= perCode_) {
        return 0;
    }
    const std::size_t at = static_cast<std::size_t>(keycode - minKeycode_) * perCode_ +
                           static_cast<std::size_t>(column);
    return at < keysyms_.size() ? keysyms_[at] : 0;
}

std::optional<X11SyntheticInput::Key> X11SyntheticInput::keyOnLayout(std::uint32_t keysym) const {
    // The plain level of any key first, then the Shift level.
    for (int column = 0; column < 2; ++column) {
        for (int keycode = minKeycode_; keycode <= maxKeycode_; ++keycode) {
            const auto k = static_cast<std::uint8_t>(keycode);
            if (!remapped_.contains(k) && keysymAt(k, column) == keysym) {
                return Key{k, column == 1};
            }
        }
    }
    return std::nullopt;
}

X11SyntheticInput::KeyboardState X11SyntheticInput::keyboardState() {
    KeyboardState result;
    XkbStateRec state{};
    if (!xkb_ || XkbGetState(x_.xlib(), XkbUseCoreKbd, &state) != Success) {
        return result;
    }
    result.capsLocked = (state.locked_mods & lockBit) != 0;
    // The first two columns of the core mapping are the first group's plain and Shift levels;
    // a held modifier or another group would type something else with them.
    const unsigned others = state.mods & ~(numLockBit | (result.capsLocked ? lockBit : 0u));
    result.plain = state.group == 0 && others == 0;
    return result;
}

std::uint8_t X11SyntheticInput::lend(std::uint32_t keysym, double& wait) {
    if (perCode_ == 0) {
        return 0;
    }
    auto isModifier = [&](std::uint8_t keycode) {
        for (const auto& keys : modifierKeys_) {
            if (std::find(keys.begin(), keys.end(), keycode) != keys.end()) {
                return true;
            }
        }
        return false;
    };
    auto held = [&](std::uint8_t keycode) {
        for (const auto& [character, h] : heldText_) {
            if (h.keycode == keycode) {
                return true;
            }
        }
        return false;
    };
    std::uint8_t chosen = 0;
    std::vector<std::uint32_t> original;
    // Key codes without symbols, from the top, where keyboards seldom have keys.
    for (int keycode = maxKeycode_; keycode >= minKeycode_ && !chosen; --keycode) {
        const auto k = static_cast<std::uint8_t>(keycode);
        if (remapped_.contains(k) || isModifier(k)) {
            continue;
        }
        bool empty = true;
        for (int column = 0; column < perCode_ && empty; ++column) {
            empty = keysymAt(k, column) == 0;
        }
        if (empty) {
            chosen = k;
            original.assign(perCode_, 0);
        }
    }
    if (!chosen) {
        // All lent: take back the one released longest ago. Its window reads the keymap when it
        // gets to that character's press, which may be well after the press was posted; given
        // to another character before then, the window would type that one instead. So it is
        // taken only once it had as long as a restore allows.
        auto oldest = remapped_.end();
        for (auto it = remapped_.begin(); it != remapped_.end(); ++it) {
            if (!held(it->first) &&
                (oldest == remapped_.end() || it->second.releasedAt < oldest->second.releasedAt)) {
                oldest = it;
            }
        }
        if (oldest == remapped_.end()) {
            return 0;
        }
        const double age =
            std::chrono::duration<double>(SteadyClock::now() - oldest->second.releasedAt).count();
        if (age < restoreDelay_) {
            wait = restoreDelay_ - age;
            return 0;
        }
        chosen = oldest->first;
        original = std::move(oldest->second.original);
        remapped_.erase(oldest);
    }
    const std::vector<xcb_keysym_t> symbols(perCode_, keysym);
    xcb_change_keyboard_mapping(x_.xcb(), 1, chosen, perCode_, symbols.data());
    for (int column = 0; column < perCode_; ++column) {
        keysyms_[static_cast<std::size_t>(chosen - minKeycode_) * perCode_ +
                 static_cast<std::size_t>(column)] = keysym;
    }
    remapped_[chosen] = Remap{keysym, std::move(original), {}};
    return chosen;
}

std::uint8_t X11SyntheticInput::modifierKey(std::uint32_t maskBit) const {
    const int index = maskIndex(maskBit);
    return index >= 0 && !modifierKeys_[index].empty() ? modifierKeys_[index].front() : 0;
}

void X11SyntheticInput::scheduleRestore() {
    const std::uint64_t generation = ++restoreGeneration_;
    queue_.postAfter(restoreDelay_, [this, alive = std::weak_ptr<int>(alive_), generation] {
        if (alive.lock() && generation == restoreGeneration_ && heldText_.empty() &&
            pending_.empty()) {
            restoreKeyboardMapping();
            xcb_flush(x_.xcb());
        }
    });
}

void X11SyntheticInput::restoreKeyboardMapping() {
    if (!ok_) {
        return;
    }
    for (auto& [keycode, remap] : remapped_) {
        xcb_change_keyboard_mapping(x_.xcb(), 1, keycode, perCode_, remap.original.data());
        for (int column = 0; column < perCode_; ++column) {
            keysyms_[static_cast<std::size_t>(keycode - minKeycode_) * perCode_ +
                     static_cast<std::size_t>(column)] = remap.original[column];
        }
    }
    remapped_.clear();
    xcb_flush(x_.xcb());
}

} // namespace kestro::platform::linux_x11
