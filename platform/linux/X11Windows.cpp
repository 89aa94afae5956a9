#include "platform/linux/X11Windows.h"

#include "KestroBase/Text.h"

#include <xcb/res.h>
#include <xcb/shape.h>

#include <cstring>
#include <map>

namespace kestro::platform::linux_x11 {

namespace {

// STRING properties are Latin-1.
std::string latin1ToUtf8(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        text::appendUtf8(out, c);
    }
    return out;
}

// Property text up to its first NUL, as valid UTF-8.
std::optional<std::string> utf8Property(const XConnection& x, xcb_window_t window,
                                        xcb_atom_t property) {
    std::optional<std::string> value = x.propertyBytes(window, property, x.atoms().utf8String);
    if (!value) {
        return std::nullopt;
    }
    value->resize(std::min(value->size(), value->find('\0')));
    return text::sanitizeUtf8(*value);
}

std::vector<xcb_window_t> children(const XConnection& x, xcb_window_t window) {
    Reply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(x.xcb(), xcb_query_tree(x.xcb(), window), nullptr));
    if (!tree) {
        return {};
    }
    const xcb_window_t* list = xcb_query_tree_children(tree.get());
    return std::vector<xcb_window_t>(list, list + xcb_query_tree_children_length(tree.get()));
}

// Which windows among `windows` carry WM_STATE, asked in one round trip.
std::vector<bool> haveWmState(const XConnection& x, const std::vector<xcb_window_t>& windows) {
    std::vector<xcb_get_property_cookie_t> cookies;
    cookies.reserve(windows.size());
    for (xcb_window_t w : windows) {
        cookies.push_back(xcb_get_property(x.xcb(), 0, w, x.atoms().wmState, XCB_ATOM_ANY, 0, 0));
    }
    std::vector<bool> result;
    result.reserve(windows.size());
    for (auto cookie : cookies) {
        Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(x.xcb(), cookie, nullptr));
        result.push_back(reply && reply->type != XCB_ATOM_NONE);
    }
    return result;
}

// The pid of every client the server knows one for, by client bits.
std::map<std::uint32_t, int> clientProcesses(const XConnection& x) {
    std::map<std::uint32_t, int> pids;
    const xcb_query_extension_reply_t* res = xcb_get_extension_data(x.xcb(), &xcb_res_id);
    if (!res || !res->present) {
        return pids;
    }
    xcb_res_client_id_spec_t wanted{0, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
    Reply<xcb_res_query_client_ids_reply_t> reply(xcb_res_query_client_ids_reply(
        x.xcb(), xcb_res_query_client_ids(x.xcb(), 1, &wanted), nullptr));
    if (!reply) {
        return pids;
    }
    for (auto it = xcb_res_query_client_ids_ids_iterator(reply.get()); it.rem;
         xcb_res_client_id_value_next(&it)) {
        [[maybe_unused]] const auto& [id, byteLength] = *it.data;
        if ((id.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) &&
            xcb_res_client_id_value_value_length(it.data) >= 1) {
            pids[x.clientBits(id.client)] =
                static_cast<int>(*xcb_res_client_id_value_value(it.data));
        }
    }
    return pids;
}

// The process of each window's client: as the server knows it, else the window's _NET_WM_PID.
std::vector<std::optional<int>> processesOf(const XConnection& x,
                                            const std::vector<xcb_window_t>& windows) {
    xcb_connection_t* c = x.xcb();
    const std::map<std::uint32_t, int> pids = clientProcesses(x);
    std::vector<xcb_get_property_cookie_t> cookies;
    for (xcb_window_t w : windows) {
        cookies.push_back(xcb_get_property(c, 0, w, x.atoms().netWmPid, XCB_ATOM_CARDINAL, 0, 1));
    }
    std::vector<std::optional<int>> result(windows.size());
    for (std::size_t i = 0; i < windows.size(); ++i) {
        Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(c, cookies[i], nullptr));
        auto known = pids.find(x.clientBits(windows[i]));
        if (known != pids.end() && known->second > 0) {
            result[i] = known->second;
        } else if (reply && reply->format == 32 &&
                   xcb_get_property_value_length(reply.get()) >= 4) {
            result[i] = static_cast<int>(
                *static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get())));
        }
    }
    return result;
}

} // namespace

std::vector<TopLevel> listTopLevels(const XConnection& x) {
    std::vector<TopLevel> stack;
    if (!x.ok()) {
        return stack;
    }
    xcb_connection_t* c = x.xcb();
    const std::vector<xcb_window_t> windows = children(x, x.root());

    std::vector<xcb_get_window_attributes_cookie_t> attributeCookies;
    std::vector<xcb_get_geometry_cookie_t> geometryCookies;
    for (xcb_window_t w : windows) {
        attributeCookies.push_back(xcb_get_window_attributes(c, w));
        geometryCookies.push_back(xcb_get_geometry(c, w));
    }
    const std::vector<bool> wmState = haveWmState(x, windows);
    for (std::size_t i = 0; i < windows.size(); ++i) {
        Reply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(c, attributeCookies[i], nullptr));
        Reply<xcb_get_geometry_reply_t> geometry(
            xcb_get_geometry_reply(c, geometryCookies[i], nullptr));
        if (!attributes || !geometry) {
            continue; // gone meanwhile
        }
        TopLevel t;
        t.window = windows[i];
        t.client = wmState[i] ? windows[i] : 0;
        t.x = geometry->x;
        t.y = geometry->y;
        t.width = geometry->width;
        t.height = geometry->height;
        t.border = geometry->border_width;
        t.viewable = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        t.inputOutput = attributes->_class == XCB_WINDOW_CLASS_INPUT_OUTPUT;
        t.visual = attributes->visual;
        stack.push_back(t);
    }

    // A window manager's frame holds the application's window one or two levels down.
    std::vector<std::size_t> unresolved;
    std::vector<xcb_window_t> searchFrom;
    for (std::size_t i = 0; i < stack.size(); ++i) {
        if (!stack[i].client && stack[i].viewable && stack[i].inputOutput) {
            unresolved.push_back(i);
            searchFrom.push_back(stack[i].window);
        }
    }
    for (int level = 0; level < 2 && !unresolved.empty(); ++level) {
        std::vector<xcb_query_tree_cookie_t> treeCookies;
        for (xcb_window_t w : searchFrom) {
            treeCookies.push_back(xcb_query_tree(c, w));
        }
        std::vector<std::size_t> owner;
        std::vector<xcb_window_t> candidates;
        for (std::size_t k = 0; k < treeCookies.size(); ++k) {
            Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, treeCookies[k], nullptr));
            if (!tree) {
                continue;
            }
            const xcb_window_t* list = xcb_query_tree_children(tree.get());
            for (int j = 0; j < xcb_query_tree_children_length(tree.get()); ++j) {
                owner.push_back(unresolved[k]);
                candidates.push_back(list[j]);
            }
        }
        const std::vector<bool> found = haveWmState(x, candidates);
        std::vector<std::size_t> nextUnresolved;
        std::vector<xcb_window_t> nextSearch;
        for (std::size_t k = 0; k < candidates.size(); ++k) {
            if (found[k] && !stack[owner[k]].client) {
                stack[owner[k]].client = candidates[k];
            }
        }
        for (std::size_t k = 0; k < candidates.size(); ++k) {
            if (!stack[owner[k]].client) {
                nextUnresolved.push_back(owner[k]);
                nextSearch.push_back(candidates[k]);
            }
        }
        unresolved = std::move(nextUnresolved);
        searchFrom = std::move(nextSearch);
    }
    for (TopLevel& t : stack) {
        if (!t.client) {
            t.client = t.window; // no window manager: the top-level is the application's
        }
    }

    std::vector<xcb_window_t> clients;
    for (const TopLevel& t : stack) {
        clients.push_back(t.client);
    }
    const std::vector<std::optional<int>> pids = processesOf(x, clients);
    for (std::size_t i = 0; i < stack.size(); ++i) {
        stack[i].processID = pids[i];
    }
    return stack;
}

bool takesInputAt(const XConnection& x, const TopLevel& window, int px, int py) {
    if (!window.contains(px, py)) {
        return false;
    }
    if (!x.ok()) {
        return true;
    }
    const xcb_query_extension_reply_t* shape = xcb_get_extension_data(x.xcb(), &xcb_shape_id);
    if (!shape || !shape->present) {
        return true;
    }
    Reply<xcb_shape_get_rectangles_reply_t> input(xcb_shape_get_rectangles_reply(
        x.xcb(), xcb_shape_get_rectangles(x.xcb(), window.window, XCB_SHAPE_SK_INPUT), nullptr));
    if (!input) {
        return true; // gone meanwhile: as before the question
    }
    // Shapes are relative to the inside of the border.
    const int rx = px - window.x - window.border;
    const int ry = py - window.y - window.border;
    const xcb_rectangle_t* rects = xcb_shape_get_rectangles_rectangles(input.get());
    const int count = xcb_shape_get_rectangles_rectangles_length(input.get());
    for (int i = 0; i < count; ++i) {
        if (rx >= rects[i].x && ry >= rects[i].y && rx < rects[i].x + rects[i].width &&
            ry < rects[i].y + rects[i].height) {
            return true;
        }
    }
    return false;
}

std::vector<ManagedWindow> managedWindows(const XConnection& x) {
    std::vector<ManagedWindow> managed;
    if (!x.ok()) {
        return managed;
    }
    xcb_connection_t* c = x.xcb();
    Reply<xcb_get_property_reply_t> list(
        xcb_get_property_reply(c,
                               xcb_get_property(c, 0, x.root(), x.atoms().netClientListStacking,
                                                XCB_ATOM_WINDOW, 0, 16384),
                               nullptr));
    if (!list || list->format != 32) {
        return managed;
    }
    std::vector<xcb_window_t> windows(
        static_cast<std::size_t>(xcb_get_property_value_length(list.get())) / 4);
    std::memcpy(windows.data(), xcb_get_property_value(list.get()), windows.size() * 4);
    const std::vector<std::optional<int>> pids = processesOf(x, windows);
    for (std::size_t i = 0; i < windows.size(); ++i) {
        managed.push_back(ManagedWindow{windows[i], pids[i]});
    }
    return managed;
}

std::optional<TopLevel> activeTopLevel(const XConnection& x, const std::vector<TopLevel>& stack) {
    if (!x.ok()) {
        return std::nullopt;
    }
    xcb_connection_t* c = x.xcb();
    auto holding = [&](xcb_window_t w) -> std::optional<TopLevel> {
        // Up from the window to the root's child that holds it.
        for (int guard = 0; w && w != x.root() && guard < 64; ++guard) {
            for (const TopLevel& t : stack) {
                if (t.window == w || t.client == w) {
                    return t;
                }
            }
            Reply<xcb_query_tree_reply_t> tree(
                xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr));
            if (!tree) {
                return std::nullopt;
            }
            w = tree->parent;
        }
        return std::nullopt;
    };
    if (auto active = x.propertyCardinal(x.root(), x.atoms().netActiveWindow, XCB_ATOM_WINDOW);
        active && *active) {
        if (auto t = holding(*active)) {
            return t;
        }
    }
    Reply<xcb_get_input_focus_reply_t> focus(
        xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    if (focus && focus->focus != XCB_NONE && focus->focus != XCB_INPUT_FOCUS_POINTER_ROOT &&
        focus->focus != x.root()) {
        return holding(focus->focus);
    }
    // Focus follows the pointer: the keyboard goes to the window under it.
    Reply<xcb_query_pointer_reply_t> pointer(
        xcb_query_pointer_reply(c, xcb_query_pointer(c, x.root()), nullptr));
    if (pointer && pointer->child) {
        return holding(pointer->child);
    }
    return std::nullopt;
}

WindowIdentity windowIdentity(const XConnection& x, xcb_window_t window) {
    WindowIdentity identity;
    identity.desktopFileID = utf8Property(x, window, x.atoms().gtkApplicationId);
    if (!identity.desktopFileID || identity.desktopFileID->empty()) {
        identity.desktopFileID = utf8Property(x, window, x.atoms().kdeDesktopFile);
    }
    if (identity.desktopFileID && identity.desktopFileID->empty()) {
        identity.desktopFileID.reset();
    }
    if (auto wmClass = x.propertyBytes(window, x.atoms().wmClass, XCB_ATOM_STRING)) {
        // Instance name, NUL, class name, NUL.
        const std::size_t split = wmClass->find('\0');
        if (split != std::string::npos) {
            std::string cls = wmClass->substr(split + 1);
            cls.resize(std::min(cls.size(), cls.find('\0')));
            if (!cls.empty()) {
                identity.wmClass = latin1ToUtf8(cls);
            }
        }
    }
    identity.title = utf8Property(x, window, x.atoms().netWmName);
    if (!identity.title) {
        if (auto name = x.propertyBytes(window, x.atoms().wmName, XCB_ATOM_STRING)) {
            identity.title = latin1ToUtf8(*name);
        }
    }
    return identity;
}

} // namespace kestro::platform::linux_x11
