// Which accessible window an X window is, and in what space its positions lie.

#include "platform/linux/AtspiWindows.h"

#include "platform/linux/AtspiCalls.h"
#include "platform/linux/AtspiElement.h"

#include <cmath>
#include <functional>
#include <string>
#include <utility>

namespace kestro::platform::linux_x11 {

bool holds(const Rect& r, double x, double y) {
    return x >= r.origin.x && y >= r.origin.y && x < r.origin.x + r.size.width &&
           y < r.origin.y + r.size.height;
}

Rect clientRect(const XConnection& x, const TopLevel& window) {
    if (window.client != window.window) {
        Reply<xcb_translate_coordinates_reply_t> at(xcb_translate_coordinates_reply(
            x.xcb(), xcb_translate_coordinates(x.xcb(), window.client, x.root(), 0, 0), nullptr));
        Reply<xcb_get_geometry_reply_t> g(
            xcb_get_geometry_reply(x.xcb(), xcb_get_geometry(x.xcb(), window.client), nullptr));
        if (at && g) {
            return Rect::make(at->dst_x, at->dst_y, g->width, g->height);
        }
    }
    return Rect::make(window.x + window.border, window.y + window.border, window.width,
                      window.height);
}

std::optional<TopLevel> placedNow(const XConnection& x, const TopLevel& window) {
    xcb_connection_t* c = x.xcb();
    const auto attributes = xcb_get_window_attributes(c, window.window);
    const auto geometry = xcb_get_geometry(c, window.window);
    const auto at = xcb_translate_coordinates(c, window.window, x.root(), 0, 0);
    Reply<xcb_get_window_attributes_reply_t> a(
        xcb_get_window_attributes_reply(c, attributes, nullptr));
    Reply<xcb_get_geometry_reply_t> g(xcb_get_geometry_reply(c, geometry, nullptr));
    Reply<xcb_translate_coordinates_reply_t> t(xcb_translate_coordinates_reply(c, at, nullptr));
    if (!a || !g || !t || a->map_state != XCB_MAP_STATE_VIEWABLE) {
        return std::nullopt;
    }
    TopLevel now = window;
    now.x = t->dst_x - g->border_width;
    now.y = t->dst_y - g->border_width;
    now.width = g->width;
    now.height = g->height;
    now.border = g->border_width;
    return now;
}

std::vector<Rect> windowRects(const XConnection& x, const TopLevel& window) {
    const Rect client = clientRect(x, window);
    std::vector<Rect> rects{client};
    if (window.client != window.window) {
        rects.push_back(Rect::make(window.x, window.y, window.width + 2 * window.border,
                                   window.height + 2 * window.border));
    }
    Reply<xcb_get_property_reply_t> shadow(
        xcb_get_property_reply(x.xcb(),
                               xcb_get_property(x.xcb(), 0, window.client,
                                                x.atoms().gtkFrameExtents, XCB_ATOM_CARDINAL, 0, 4),
                               nullptr));
    if (shadow && shadow->format == 32 && xcb_get_property_value_length(shadow.get()) >= 16) {
        const auto* v = static_cast<const std::uint32_t*>(xcb_get_property_value(shadow.get()));
        const double w = client.size.width - v[0] - v[1];
        const double h = client.size.height - v[2] - v[3];
        if (w > 0 && h > 0) {
            rects.push_back(Rect::make(client.origin.x + v[0], client.origin.y + v[2], w, h));
        }
    }
    return rects;
}

std::optional<AccessibleSpace> spaceOnWindow(const Rect& reported, const std::vector<Rect>& rects) {
    std::optional<AccessibleSpace> found;
    for (const Rect& r : rects) {
        const std::optional<AccessibleSpace> space = spaceOnto(reported, r);
        if (space && (!found || space->identity())) {
            found = space;
        }
    }
    return found;
}

bool sameSpace(const AccessibleSpace& a, const AccessibleSpace& b) {
    const double x = b.root.x + b.scale * (a.reported.x - b.reported.x);
    const double y = b.root.y + b.scale * (a.reported.y - b.reported.y);
    return std::abs(a.scale - b.scale) < 1e-3 && std::abs(a.root.x - x) <= 1 &&
           std::abs(a.root.y - y) <= 1;
}

AtspiAccessible* AtspiAccessibility::topLevelOf(AtspiAccessible* accessible) {
    if (role(accessible) == ATSPI_ROLE_APPLICATION) {
        return nullptr;
    }
    Ref<AtspiAccessible> current(static_cast<AtspiAccessible*>(g_object_ref(accessible)));
    for (int guard = 0; guard < 64; ++guard) {
        Ref<AtspiAccessible> up(parent(current.get()));
        if (!up) {
            return nullptr;
        }
        if (role(up.get()) == ATSPI_ROLE_APPLICATION) {
            return current.release();
        }
        current = std::move(up);
    }
    return nullptr;
}

std::optional<std::size_t> AtspiAccessibility::pickWindow(
    const std::vector<std::pair<AtspiAccessible*, AccessibleSpace>>& found,
    const std::function<std::optional<std::string>()>& title, bool activeDecides, bool& ambiguous) {
    ambiguous = false;
    std::vector<std::size_t> left(found.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
        left[i] = i;
    }
    // Told apart by what they report of themselves, in turn: their very place, their title,
    // and for the window X has in front, which one the application marks active now (a click
    // may land in a window that is not active yet).
    auto narrow = [&](const std::function<bool(std::size_t)>& keep) {
        std::vector<std::size_t> kept;
        for (std::size_t i : left) {
            if (keep(i)) {
                kept.push_back(i);
            }
        }
        if (!kept.empty()) {
            left = std::move(kept);
        }
    };
    auto settled = [&] {
        for (std::size_t i : left) {
            if (found[i].first != found[left[0]].first ||
                !sameSpace(found[i].second, found[left[0]].second)) {
                return false;
            }
        }
        return !left.empty();
    };
    if (!settled()) {
        narrow([&](std::size_t i) { return found[i].second.identity(); });
    }
    const std::optional<std::string> name = settled() ? std::nullopt : title();
    if (name) {
        narrow([&](std::size_t i) {
            const std::optional<std::string> own = accessibleName(found[i].first);
            return own && *own == *name;
        });
    }
    if (!settled() && activeDecides) {
        narrow([&](std::size_t i) {
            const std::optional<std::vector<int>> set = statesNow(found[i].first);
            return set && std::find(set->begin(), set->end(), ATSPI_STATE_ACTIVE) != set->end();
        });
    }
    if (left.empty()) {
        return std::nullopt;
    }
    if (!settled()) {
        ambiguous = true;
        return std::nullopt;
    }
    return left[0];
}

AtspiAccessibility::WindowMatch AtspiAccessibility::windowFor(AtspiAccessible* app,
                                                              const TopLevel& window) {
    const std::vector<Rect> rects = windowRects(x_, window);
    std::vector<AtspiAccessible*> tops = childList(app, maxChildren);
    std::vector<std::pair<AtspiAccessible*, AccessibleSpace>> found;
    for (AtspiAccessible* top : tops) {
        const std::optional<Rect> r = extents(top);
        if (const auto space = r ? spaceOnWindow(*r, rects) : std::nullopt) {
            found.emplace_back(top, *space);
        }
    }
    // None that is that window by its place: none at all. One over the point as reported need
    // not report root pixels (GTK 4 near the top-left corner reports its own).
    WindowMatch match;
    if (!found.empty()) {
        const std::optional<std::size_t> i = pickWindow(
            found, [&] { return windowIdentity(x_, window.client).title; }, false, match.ambiguous);
        if (i) {
            match.window = static_cast<AtspiAccessible*>(g_object_ref(found[*i].first));
            match.space = found[*i].second;
        }
    }
    for (AtspiAccessible* top : tops) {
        g_object_unref(top);
    }
    return match;
}

std::optional<AccessibleSpace> AtspiAccessibility::spaceOf(const Element& e) {
    if (*e.space) {
        return *e.space;
    }
    const std::optional<Placement> place = placementOf(e);
    if (!place) {
        return std::nullopt;
    }
    *e.space = place->space;
    return *e.space;
}

std::optional<AtspiAccessibility::Placement> AtspiAccessibility::placementOf(const Element& e) {
    if (e.kind != Element::Kind::accessible || !e.accessible || e.own) {
        return std::nullopt;
    }
    Ref<AtspiAccessible> top(topLevelOf(e.accessible));
    const char* path = top ? ATSPI_OBJECT(top.get())->path : nullptr;
    if (!path) {
        return std::nullopt;
    }
    if (*e.space && e.seenIn) {
        // Matched to that X window when it was found. Not asked again on this thread: whoever
        // places something by it reads both afresh (a secure field search, when it runs).
        return Placement{**e.space, *e.seenIn, path};
    }
    const std::optional<Rect> reported = extents(top.get());
    if (!reported) {
        return std::nullopt;
    }
    if (e.seenIn) {
        if (auto space = spaceOnWindow(*reported, windowRects(x_, *e.seenIn))) {
            return Placement{*space, *e.seenIn, path};
        }
    }
    // Its window among the process's X windows. None that is it by its place: its positions
    // cannot be told (a window holding it in root pixels may be one reporting its own).
    x_.discardEvents();
    std::vector<std::pair<AccessibleSpace, TopLevel>> found;
    std::vector<std::string> titles;
    for (const TopLevel& t : listTopLevels(x_)) {
        if (!t.viewable || !t.inputOutput || t.processID.value_or(0) != e.processID) {
            continue;
        }
        if (auto space = spaceOnWindow(*reported, windowRects(x_, t))) {
            found.emplace_back(*space, t);
            titles.push_back(windowIdentity(x_, t.client).title.value_or(""));
        }
    }
    if (found.empty()) {
        return std::nullopt;
    }
    // All the same, or the one whose title is the window's name.
    std::optional<std::size_t> chosen = 0;
    for (const auto& [space, window] : found) {
        if (!sameSpace(space, found[0].first)) {
            chosen.reset();
        }
    }
    if (!chosen) {
        if (const std::optional<std::string> name = accessibleName(top.get())) {
            for (std::size_t i = 0; i < found.size(); ++i) {
                if (titles[i] == *name) {
                    if (chosen) {
                        return std::nullopt; // two windows of that name
                    }
                    chosen = i;
                }
            }
        }
    }
    if (!chosen) {
        return std::nullopt;
    }
    return Placement{found[*chosen].first, found[*chosen].second, path};
}

} // namespace kestro::platform::linux_x11
