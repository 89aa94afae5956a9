#include "platform/linux/X11SurfaceWindows.h"

#include "platform/linux/X11Atoms.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <xcb/shape.h>
#include <xcb/xfixes.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace kestro::platform::linux_x11 {

X11SurfaceWindows::X11SurfaceWindows(MainQueue& queue, void* toolkitConnection)
    : toolkit_(static_cast<xcb_connection_t*>(toolkitConnection)) {
    if (toolkit_ && !xcb_connection_has_error(toolkit_)) {
        const xcb_setup_t* setup = xcb_get_setup(toolkit_);
        toolkitBase_ = setup->resource_id_base;
        toolkitMask_ = setup->resource_id_mask;
        const xcb_query_extension_reply_t* shape = xcb_get_extension_data(toolkit_, &xcb_shape_id);
        shape_ = shape && shape->present;
    } else {
        toolkit_ = nullptr;
    }
    if (!x_.ok()) {
        return;
    }
    xcb_connection_t* c = x_.xcb();
    const std::string name = "_NET_WM_CM_S" + std::to_string(DefaultScreen(x_.xlib()));
    cmSelection_ = internAtom(c, name);

    // Told when the selection changes hands, so a compositor started or stopped later is seen.
    const xcb_query_extension_reply_t* fixes = xcb_get_extension_data(c, &xcb_xfixes_id);
    if (fixes && fixes->present && cmSelection_ != XCB_ATOM_NONE) {
        Reply<xcb_xfixes_query_version_reply_t> v(
            xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 5, 0), nullptr));
        if (v) {
            xcb_xfixes_select_selection_input(
                c, x_.root(), cmSelection_,
                XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                    XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                    XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
        }
    }
    // Any client may listen to the root's children being mapped and restacked.
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, x_.root(), XCB_CW_EVENT_MASK, &mask);
    // Raw events reach the root whatever window the pointer is over and whoever grabs it.
    int opcode = 0, firstEvent = 0, firstError = 0;
    int major = 2, minor = 0;
    if (XQueryExtension(x_.xlib(), "XInputExtension", &opcode, &firstEvent, &firstError) &&
        XIQueryVersion(x_.xlib(), &major, &minor) == Success && major >= 2) {
        inputOpcode_ = static_cast<std::uint8_t>(opcode);
    }
    xcb_flush(c);
    compositing_ = queryCompositing();
    watch_ =
        queue.watch(xcb_get_file_descriptor(c), MainQueue::FdEvents::readable, [this] { drain(); });
}

X11SurfaceWindows::~X11SurfaceWindows() = default;

bool X11SurfaceWindows::ok() const {
    return toolkit_ != nullptr && x_.ok();
}

void X11SurfaceWindows::setAcceptsInput(WindowID window, bool accepts) {
    if (!toolkit_ || !shape_) {
        return;
    }
    const auto w = static_cast<xcb_window_t>(window);
    xcb_void_cookie_t cookie;
    if (accepts) {
        // No input shape of its own: input follows the window's bounding shape again.
        cookie = xcb_shape_mask_checked(toolkit_, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, w, 0, 0,
                                        XCB_NONE);
    } else {
        cookie = xcb_shape_rectangles_checked(toolkit_, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT,
                                              XCB_CLIP_ORDERING_UNSORTED, w, 0, 0, 0, nullptr);
    }
    // Checked, so that a window gone meanwhile does not reach the toolkit's error handling.
    std::free(xcb_request_check(toolkit_, cookie));
}

void X11SurfaceWindows::setShape(WindowID window, const std::vector<ShapeRect>& rects) {
    if (!toolkit_ || !shape_) {
        return;
    }
    std::vector<xcb_rectangle_t> list;
    list.reserve(rects.size());
    for (const ShapeRect& r : rects) {
        list.push_back({static_cast<std::int16_t>(r.x), static_cast<std::int16_t>(r.y),
                        static_cast<std::uint16_t>(r.width), static_cast<std::uint16_t>(r.height)});
    }
    // Unchecked: sent every frame, and no answer is waited for.
    xcb_shape_rectangles(toolkit_, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING,
                         XCB_CLIP_ORDERING_YX_BANDED, static_cast<xcb_window_t>(window), 0, 0,
                         static_cast<std::uint32_t>(list.size()), list.data());
}

void X11SurfaceWindows::clearShape(WindowID window) {
    if (!toolkit_ || !shape_) {
        return;
    }
    const xcb_void_cookie_t cookie =
        xcb_shape_mask_checked(toolkit_, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING,
                               static_cast<xcb_window_t>(window), 0, 0, XCB_NONE);
    std::free(xcb_request_check(toolkit_, cookie));
}

void X11SurfaceWindows::raise(WindowID window) {
    if (!toolkit_) {
        return;
    }
    const std::uint32_t above = XCB_STACK_MODE_ABOVE;
    const xcb_void_cookie_t cookie = xcb_configure_window_checked(
        toolkit_, static_cast<xcb_window_t>(window), XCB_CONFIG_WINDOW_STACK_MODE, &above);
    // Checked: sent at once, and a window gone meanwhile stays out of the toolkit's errors.
    std::free(xcb_request_check(toolkit_, cookie));
}

X11WindowSupport& X11SurfaceWindows::support() {
    if (!support_) {
        support_ = std::make_unique<X11WindowSupport>();
    }
    return *support_;
}

void X11SurfaceWindows::activate(WindowID window, std::uint32_t userTime) {
    support().activate(static_cast<std::uint32_t>(window), userTime);
}

void X11SurfaceWindows::showOnAllDesktops(WindowID window) {
    support().setOnAllDesktops(static_cast<std::uint32_t>(window));
}

bool X11SurfaceWindows::watchKeyboard(WindowID window, std::function<void(bool)> changed) {
    if (!toolkit_ || x_.lost()) {
        return false;
    }
    const auto w = static_cast<xcb_window_t>(window);
    if (!changed) {
        keyboardWatches_.erase(w);
        return true;
    }
    xcb_connection_t* c = x_.xcb();
    auto [it, added] = keyboardWatches_.try_emplace(w);
    if (added) {
        // The toolkit's requests so far, the window's creation among them, are in the server
        // before our selection on it.
        std::free(xcb_get_input_focus_reply(toolkit_, xcb_get_input_focus(toolkit_), nullptr));
        const std::uint32_t mask = XCB_EVENT_MASK_FOCUS_CHANGE;
        xcb_change_window_attributes(c, w, XCB_CW_EVENT_MASK, &mask);
    }
    // A mark in our request stream, not waited for: what the server said of the window before
    // it read the mark may still be unread, and belongs to the previous callback's time.
    const xcb_get_input_focus_cookie_t mark = xcb_get_input_focus(c);
    xcb_discard_reply(c, mark.sequence);
    xcb_flush(c);
    it->second = KeyboardWatch{std::move(changed), mark.sequence};
    return true;
}

bool X11SurfaceWindows::compositing() {
    return compositing_;
}

void X11SurfaceWindows::setCompositingObserver(std::function<void()> changed) {
    compositingChanged_ = std::move(changed);
}

void X11SurfaceWindows::setRestackObserver(std::function<void()> restacked) {
    restacked_ = std::move(restacked);
}

bool X11SurfaceWindows::pointerMayHaveMoved() {
    if (!inputOpcode_ || x_.lost()) {
        return true;
    }
    if (!pointerMoved_) {
        return false;
    }
    pointerMoved_ = false;
    listenForMotion(true);
    // The server has the selection before the caller asks where the pointer is, so no motion
    // after that question goes unseen.
    xcb_connection_t* c = x_.xcb();
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    return true;
}

void X11SurfaceWindows::listenForMotion(bool listen) {
    if (listen == listening_) {
        return;
    }
    listening_ = listen;
    unsigned char bits[XIMaskLen(XI_RawMotion)] = {};
    if (listen) {
        XISetMask(bits, XI_RawMotion);
    }
    XIEventMask selection{XIAllMasterDevices, sizeof bits, bits};
    XISelectEvents(x_.xlib(), x_.root(), &selection, 1);
    XFlush(x_.xlib());
}

bool X11SurfaceWindows::queryCompositing() {
    if (!x_.ok() || cmSelection_ == XCB_ATOM_NONE) {
        return false;
    }
    xcb_connection_t* c = x_.xcb();
    Reply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, cmSelection_), nullptr));
    return owner && owner->owner != XCB_NONE;
}

bool X11SurfaceWindows::toolkitOwns(xcb_window_t window) const {
    return toolkit_ != nullptr && (window & ~toolkitMask_) == toolkitBase_;
}

void X11SurfaceWindows::drain() {
    xcb_connection_t* c = x_.xcb();
    const xcb_query_extension_reply_t* fixes = xcb_get_extension_data(c, &xcb_xfixes_id);
    bool selectionChanged = false;
    bool restacked = false;
    bool motion = false;
    struct KeyboardChange {
        xcb_window_t window;
        bool in;
        std::uint32_t sequence;
    };
    std::vector<KeyboardChange> keyboard;
    // Reading a reply can pull events off the socket into XCB's queue, where the socket watch
    // no longer sees them: go on until that queue is empty too.
    while (true) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            const std::uint8_t type = event->response_type & 0x7f;
            if (fixes && fixes->present &&
                type == fixes->first_event + XCB_XFIXES_SELECTION_NOTIFY) {
                selectionChanged = true;
            } else if (type == XCB_CONFIGURE_NOTIFY) {
                const auto* e = reinterpret_cast<xcb_configure_notify_event_t*>(event);
                restacked = restacked || !toolkitOwns(e->window);
            } else if (type == XCB_MAP_NOTIFY) {
                const auto* e = reinterpret_cast<xcb_map_notify_event_t*>(event);
                restacked = restacked || !toolkitOwns(e->window);
            } else if (type == XCB_GE_GENERIC && inputOpcode_ &&
                       reinterpret_cast<xcb_ge_generic_event_t*>(event)->extension ==
                           inputOpcode_) {
                if (reinterpret_cast<xcb_ge_generic_event_t*>(event)->event_type == XI_RawMotion) {
                    pointerMoved_ = true;
                    motion = true;
                }
            } else if (type == XCB_FOCUS_IN || type == XCB_FOCUS_OUT) {
                const auto* e = reinterpret_cast<xcb_focus_in_event_t*>(event);
                const bool in = type == XCB_FOCUS_IN;
                // A grab takes the keyboard for a moment and gives it back: it has not moved.
                // Pointer details name the window under the pointer, not the focus; and a
                // focus gone to a child is still in the window.
                const bool grab =
                    e->mode == XCB_NOTIFY_MODE_GRAB || e->mode == XCB_NOTIFY_MODE_UNGRAB;
                const bool beside = e->detail == XCB_NOTIFY_DETAIL_POINTER ||
                                    (!in && e->detail == XCB_NOTIFY_DETAIL_INFERIOR);
                if (!grab && !beside) {
                    keyboard.push_back({e->event, in, event->full_sequence});
                }
            } else if (type == XCB_CIRCULATE_NOTIFY) {
                const auto* e = reinterpret_cast<xcb_circulate_notify_event_t*>(event);
                restacked = restacked || !toolkitOwns(e->window);
            }
            std::free(event);
        }
        if (!selectionChanged) {
            break;
        }
        selectionChanged = false;
        const bool now = queryCompositing();
        if (now != compositing_) {
            compositing_ = now;
            if (compositingChanged_) {
                compositingChanged_();
            }
        }
    }
    if (motion) {
        listenForMotion(false);
    }
    if (restacked && restacked_) {
        restacked_();
    }
    // Last, and looked up each time: a callback may end or replace a watch.
    for (const KeyboardChange& change : keyboard) {
        const auto found = keyboardWatches_.find(change.window);
        if (found != keyboardWatches_.end() && found->second.changed &&
            static_cast<std::int32_t>(change.sequence - found->second.since) >= 0) {
            auto changed = found->second.changed;
            changed(change.in);
        }
    }
}

} // namespace kestro::platform::linux_x11
