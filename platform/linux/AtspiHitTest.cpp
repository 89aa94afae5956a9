// The element at a point: X says which window is on top there, its application's tree the rest.

#include "platform/linux/AtspiAccessibility.h"

#include "platform/linux/AtspiCalls.h"
#include "platform/linux/AtspiElement.h"
#include "platform/linux/AtspiWindows.h"

#include <cmath>

namespace kestro::platform::linux_x11 {

AXElementRef AtspiAccessibility::elementAtPosition(const AXElementRef& rootRef, float fx,
                                                   float fy) {
    const Element* root = element(rootRef);
    if (!ok_ || !root || !std::isfinite(fx) || !std::isfinite(fy) ||
        (root->kind != Element::Kind::systemWide && root->kind != Element::Kind::application)) {
        return nullptr;
    }
    x_.discardEvents();
    const int x = static_cast<int>(std::floor(fx)) + origin_.x;
    const int y = static_cast<int>(std::floor(fy)) + origin_.y;
    // X knows which window is on top there; AT-SPI does not. Windows that let clicks through
    // there (such as our own frames round the screen) are not what the user touched.
    const std::vector<TopLevel> stack = listTopLevels(x_);
    const TopLevel* hit = nullptr;
    for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
        if (it->viewable && it->inputOutput && takesInputAt(x_, *it, x, y)) {
            hit = &*it;
            break;
        }
    }
    if (!hit) {
        return nullptr;
    }
    const int pid = hit->processID.value_or(0);
    if (root->kind == Element::Kind::application && pid != root->processID) {
        return nullptr;
    }
    if (pid == 0 || pid == options_.ownProcessID) {
        return windowElement(*hit);
    }
    Ref<AtspiAccessible> app(applicationOf(pid));
    if (!app || !guard_->mayAsk(app.get())) {
        return windowElement(*hit);
    }
    WindowMatch match = windowFor(app.get(), *hit);
    if (match.ambiguous) {
        return nullptr; // no target rather than one of another window
    }
    if (!match.window) {
        return windowElement(*hit);
    }
    Ref<AtspiAccessible> current(match.window);
    // The point as the application reports positions.
    int ax = x, ay = y;
    if (match.space && !match.space->identity()) {
        const Point p = match.space->toReported(Point{x + 0.5, y + 0.5});
        ax = static_cast<int>(std::floor(p.x));
        ay = static_cast<int>(std::floor(p.y));
    }
    // A text field is what the user works with: its viewport and scroll bars, which some
    // toolkits answer with, are its own business.
    auto isField = [](std::optional<int> r) {
        return r == ATSPI_ROLE_TEXT || r == ATSPI_ROLE_ENTRY || r == ATSPI_ROLE_PASSWORD_TEXT ||
               r == ATSPI_ROLE_TERMINAL || r == ATSPI_ROLE_COMBO_BOX;
    };
    for (int depth = 0; depth < 64 && !isField(role(current.get())); ++depth) {
        const std::size_t before = guard_->unansweredCount();
        Ref<AtspiAccessible> next(childAtPoint(current.get(), ax, ay));
        if (!next && guard_->unansweredCount() == before) {
            // Some toolkits (GTK 4) answer no element at any point.
            next.reset(childContaining(current.get(), ax, ay));
        }
        if (!next || next.get() == current.get()) {
            break;
        }
        current = std::move(next);
    }
    Ref<AtspiAccessible> probe(static_cast<AtspiAccessible*>(g_object_ref(current.get())));
    for (int up = 0; up < 3; ++up) {
        Ref<AtspiAccessible> above(parent(probe.get()));
        const std::optional<int> r = above ? role(above.get()) : std::nullopt;
        if (!above || !r || *r == ATSPI_ROLE_APPLICATION) {
            break;
        }
        if (isField(r)) {
            current = std::move(above);
            break;
        }
        probe = std::move(above);
    }
    return wrap(current.release(), match.space, *hit);
}

} // namespace kestro::platform::linux_x11
