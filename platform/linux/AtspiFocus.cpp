// Where the keyboard focus is: the last element that said it gained it, while its application
// confirms it afresh; else a search of the window X has in front.

#include "platform/linux/AtspiAccessibility.h"

#include "platform/linux/AtspiCalls.h"
#include "platform/linux/AtspiElement.h"
#include "platform/linux/AtspiWindows.h"

#include <algorithm>

namespace kestro::platform::linux_x11 {

void AtspiAccessibility::onFocusEvent(AtspiEvent* event, void* data) {
    auto* self = static_cast<AtspiAccessibility*>(data);
    if (event->source) {
        if (event->detail1) {
            if (self->focus_) {
                g_object_unref(self->focus_);
            }
            self->focus_ = static_cast<AtspiAccessible*>(g_object_ref(event->source));
        } else if (self->focus_ == event->source) {
            g_object_unref(self->focus_);
            self->focus_ = nullptr;
        }
    }
    g_boxed_free(ATSPI_TYPE_EVENT, event);
}

bool AtspiAccessibility::syncWith(const TopLevel& front) {
    if (!clientSync_) {
        return false;
    }
    Ref<AtspiAccessible> app(applicationOf(front.processID.value_or(0)));
    const char* bus = app ? busName(app.get()) : nullptr;
    if (bus && guard_->leftAlone(bus)) {
        return false; // it let a call time out a moment ago: not waited for again so soon
    }
    if (clientSync_->sync(front.client, options_.timeoutMilliseconds) !=
        X11ClientSync::Result::handled) {
        return false;
    }
    if (bus) {
        guard_->answersAgain(bus);
    }
    return true;
}

AXElementRef AtspiAccessibility::focusedElement() {
    x_.discardEvents();
    const std::vector<TopLevel> stack = listTopLevels(x_);
    const std::optional<TopLevel> front = activeTopLevel(x_, stack);
    const int frontPid = front ? front->processID.value_or(0) : 0;
    const bool ownFront = frontPid != 0 && frontPid == options_.ownProcessID;

    // After input that may have moved the focus, what the application says counts only once it
    // has handled that input; notifications of the move may still be on their way.
    if (focusStale_ && front && frontPid != 0 && !ownFront) {
        Ref<AtspiAccessible> app(applicationOf(frontPid));
        if (app && !syncWith(*front)) {
            guard_->unanswered();
            return nullptr;
        }
    }
    auto found = [this](AXElementRef element) {
        focusStale_ = false;
        return element;
    };
    if (focus_) {
        const int pid = guard_->processOf(focus_);
        const bool inFront = frontPid == 0 || frontPid == pid;
        if (inFront && pid == options_.ownProcessID) {
            // Never asked: what X says of the window is all there is.
            return found(front ? windowElement(*front)
                               : wrap(static_cast<AtspiAccessible*>(g_object_ref(focus_))));
        }
        if (inFront) {
            // Asked afresh: the state libatspi keeps may lag behind the application's.
            const std::optional<std::vector<int>> now = statesNow(focus_);
            if (!now) {
                return nullptr;
            }
            if (std::find(now->begin(), now->end(), ATSPI_STATE_FOCUSED) != now->end()) {
                return found(
                    wrap(static_cast<AtspiAccessible*>(g_object_ref(focus_)), std::nullopt, front));
            }
        }
    }
    // No notification told it (or it is out of date): look for it in the front window.
    if (!front || frontPid == 0) {
        return found(nullptr);
    }
    if (ownFront) {
        return found(windowElement(*front));
    }
    Ref<AtspiAccessible> app(applicationOf(frontPid));
    if (!app) {
        return found(nullptr); // no accessibility tree: nothing can be said of its focus
    }
    const std::size_t before = guard_->unansweredCount();
    AXElementRef result = searchFocus(app.get(), *front);
    if (guard_->unansweredCount() != before && !result) {
        return nullptr;
    }
    return found(std::move(result));
}

AXElementRef AtspiAccessibility::searchFocus(AtspiAccessible* app, const TopLevel& front) {
    // What libatspi keeps of the tree may be behind the application (a window just opened);
    // the search reads it afresh.
    atspi_accessible_clear_cache(app);
    Ref<AtspiAccessible> window(windowFor(app, front).window);
    if (!window) {
        // A window of an application with a tree that its tree does not show (yet).
        guard_->unanswered();
        return nullptr;
    }
    // Depth first, bounded like the secure-field walk; the deepest focused element wins.
    AtspiAccessible* result = nullptr;
    int visited = 0;
    struct Frame {
        AtspiAccessible* node;
        int depth;
    };
    std::vector<Frame> pending{{static_cast<AtspiAccessible*>(g_object_ref(window.get())), 0}};
    while (!pending.empty()) {
        Frame f = pending.back();
        pending.pop_back();
        Ref<AtspiAccessible> node(f.node);
        if (visited >= 4000 || f.depth >= 30 || !guard_->mayAsk(node.get())) {
            continue;
        }
        ++visited;
        const auto set = statesNow(node.get());
        if (!set || std::find(set->begin(), set->end(), ATSPI_STATE_SHOWING) == set->end()) {
            continue;
        }
        const bool focused = std::find(set->begin(), set->end(), ATSPI_STATE_FOCUSED) != set->end();
        if (focused) {
            if (result) {
                g_object_unref(result);
            }
            result = static_cast<AtspiAccessible*>(g_object_ref(node.get()));
            for (Frame& other : pending) {
                g_object_unref(other.node); // only below the focused one from here
            }
            pending.clear();
        }
        std::vector<AtspiAccessible*> children = childList(node.get(), maxChildren);
        for (auto it = children.rbegin(); it != children.rend(); ++it) {
            pending.push_back(Frame{*it, f.depth + 1});
        }
    }
    if (result) {
        // Until a notification says otherwise, this is where the focus is.
        if (focus_) {
            g_object_unref(focus_);
        }
        focus_ = static_cast<AtspiAccessible*>(g_object_ref(result));
    }
    return wrap(result, std::nullopt, front);
}

void AtspiAccessibility::focusMayHaveMoved() {
    focusStale_ = true;
}

AXElementRef AtspiAccessibility::focusedWindow(const Element& app) {
    // X knows at once which window has the keyboard. The states libatspi keeps change only as
    // this process handles the application's notifications, and a toolkit may send none when
    // one of its windows hands the keyboard to another (a dialog it opens): the window behind
    // would be taken for the one in front.
    x_.discardEvents();
    const std::vector<TopLevel> stack = listTopLevels(x_);
    std::optional<TopLevel> front = activeTopLevel(x_, stack);
    if (front && front->processID.value_or(0) != app.processID) {
        front.reset();
    }
    const std::vector<Rect> frontRects = front ? windowRects(x_, *front) : std::vector<Rect>{};
    auto frontTitle = [&] {
        return front ? windowIdentity(x_, front->client).title : std::nullopt;
    };
    std::vector<AtspiAccessible*> tops = childList(app.accessible, maxChildren);
    AtspiAccessible* chosen = nullptr;
    std::optional<AccessibleSpace> space;
    bool unsure = false;
    auto take = [&](AtspiAccessible* top) {
        chosen = static_cast<AtspiAccessible*>(g_object_ref(top));
    };
    // The accessible window that X's front window is, its positions as reported brought onto
    // the X window's place (they may be relative to it, or scaled).
    auto matchFront = [&] {
        std::vector<std::pair<AtspiAccessible*, AccessibleSpace>> found;
        for (AtspiAccessible* top : tops) {
            const std::optional<Rect> r = extents(top);
            if (const auto s = r ? spaceOnWindow(*r, frontRects) : std::nullopt) {
                found.emplace_back(top, *s);
            }
        }
        bool ambiguous = false;
        if (const std::optional<std::size_t> i = pickWindow(found, frontTitle, true, ambiguous)) {
            take(found[*i].first);
            space = found[*i].second;
        }
        unsure = ambiguous;
    };
    if (front) {
        matchFront();
        if (!chosen && !unsure) {
            // The windows libatspi remembers may not include one just opened: listed afresh.
            for (AtspiAccessible* top : tops) {
                g_object_unref(top);
            }
            atspi_accessible_clear_cache(app.accessible);
            tops = childList(app.accessible, maxChildren);
            matchFront();
        }
        // This application's window is in front and none of its accessible windows is that one
        // by its place: which it is, and where its positions lie, cannot be told. One that holds
        // it in root pixels may report positions of its own (GTK 4 near the top-left corner).
        unsure = unsure || !chosen;
    } else {
        // No window in front to match (without a window manager nothing may be marked active,
        // nor the keyboard given): the application's own word, asked afresh rather than
        // remembered. Its place is matched when a position is read.
        for (AtspiAccessible* top : tops) {
            const std::optional<std::vector<int>> set = chosen ? std::nullopt : statesNow(top);
            if (set && std::find(set->begin(), set->end(), ATSPI_STATE_ACTIVE) != set->end()) {
                take(top);
            }
        }
    }
    for (AtspiAccessible* top : tops) {
        g_object_unref(top);
    }
    if (unsure) {
        if (chosen) {
            g_object_unref(chosen);
        }
        guard_->unanswered();
        return nullptr;
    }
    if (!chosen) {
        return nullptr;
    }
    return front ? wrap(chosen, space, *front) : wrap(chosen);
}

AXElementRef AtspiAccessibility::mainWindow(const Element& app) {
    std::vector<AtspiAccessible*> tops = childList(app.accessible, maxChildren);
    AtspiAccessible* chosen = nullptr;
    for (AtspiAccessible* top : tops) {
        if (!chosen && hasState(top, ATSPI_STATE_SHOWING)) {
            chosen = static_cast<AtspiAccessible*>(g_object_ref(top));
        }
    }
    if (!chosen && !tops.empty()) {
        chosen = static_cast<AtspiAccessible*>(g_object_ref(tops.front()));
    }
    for (AtspiAccessible* top : tops) {
        g_object_unref(top);
    }
    return wrap(chosen);
}

} // namespace kestro::platform::linux_x11
