// The attributes of an element as the core names them, mapped onto what AT-SPI and X say.

#include "platform/linux/AtspiAccessibility.h"

#include "platform/linux/AtspiCalls.h"
#include "platform/linux/AtspiElement.h"
#include "platform/linux/AtspiRoles.h"

#include <algorithm>
#include <cstdio>

namespace kestro::platform::linux_x11 {

std::optional<AXValue> AtspiAccessibility::readAccessible(const Element& e,
                                                          std::string_view attribute) {
    AtspiAccessible* a = e.accessible;
    if (attribute == ax::role || attribute == ax::subrole) {
        const std::optional<int> r = role(a);
        if (!r) {
            return std::nullopt;
        }
        const auto atspiRole = static_cast<AtspiRole>(*r);
        bool multiLine = false, topLevel = false;
        if (atspiRole == ATSPI_ROLE_TEXT || atspiRole == ATSPI_ROLE_ENTRY) {
            multiLine = hasState(a, ATSPI_STATE_MULTI_LINE);
        }
        if (atspiRole == ATSPI_ROLE_FILLER || atspiRole == ATSPI_ROLE_PANEL ||
            atspiRole == ATSPI_ROLE_UNKNOWN || atspiRole == ATSPI_ROLE_INVALID) {
            Ref<AtspiAccessible> up(parent(a));
            topLevel = up && role(up.get()) == ATSPI_ROLE_APPLICATION;
        }
        AXRoleNames names = axRoleNames(atspiRole, multiLine, topLevel);
        if (attribute == ax::role) {
            return AXValue{std::move(names.role)};
        }
        if (!names.subrole) {
            return std::nullopt;
        }
        return AXValue{std::move(*names.subrole)};
    }
    if (attribute == ax::title) {
        std::optional<std::string> name = accessibleName(a);
        if (!name || name->empty()) {
            return std::nullopt;
        }
        return AXValue{std::move(*name)};
    }
    if (attribute == ax::value) {
        if (!guard_->mayAsk(a)) {
            return std::nullopt;
        }
        if (Ref<AtspiText> textIface{atspi_accessible_get_text_iface(a)}) {
            const std::optional<gint> count = guard_->ask(a, [&](GError** error) {
                return atspi_text_get_character_count(textIface.get(), error);
            });
            if (!count) {
                return std::nullopt;
            }
            std::optional<std::string> value = guard_->ask(a, [&](GError** error) {
                return takeString(atspi_text_get_text(textIface.get(), 0,
                                                      std::min(*count, maxTextCharacters), error));
            });
            if (!value) {
                return std::nullopt;
            }
            return AXValue{std::move(*value)};
        }
        if (Ref<AtspiValue> valueIface{atspi_accessible_get_value_iface(a)}) {
            const std::optional<double> current = guard_->ask(a, [&](GError** error) {
                return atspi_value_get_current_value(valueIface.get(), error);
            });
            if (!current) {
                return std::nullopt;
            }
            char number[64];
            std::snprintf(number, sizeof number, "%.17g", *current);
            return AXValue{AXOtherValue{number}};
        }
        return std::nullopt;
    }
    if (attribute == ax::identifier) {
        std::optional<std::string> id = guard_->ask(a, [&](GError** error) {
            return takeString(atspi_accessible_get_accessible_id(a, error));
        });
        if (!id || id->empty()) {
            return std::nullopt;
        }
        return AXValue{std::move(*id)};
    }
    if (attribute == ax::position || attribute == ax::size) {
        const std::optional<Rect> reported = extents(a);
        if (!reported) {
            return std::nullopt;
        }
        const std::optional<AccessibleSpace> space = spaceOf(e);
        if (!space) {
            guard_->unanswered(); // where it lies on the screen cannot be told
            return std::nullopt;
        }
        const std::optional<Rect> r = space->toRoot(*reported);
        if (attribute == ax::position) {
            return AXValue{Point{r->origin.x - origin_.x, r->origin.y - origin_.y}};
        }
        return AXValue{r->size};
    }
    if (attribute == ax::window || attribute == ax::topLevelUIElement) {
        AtspiAccessible* top = topLevelOf(a);
        if (!top) {
            return std::nullopt;
        }
        return AXValue{wrapLike(top, e)};
    }
    if (attribute == ax::children) {
        std::vector<AXElementRef> list;
        for (AtspiAccessible* child : childList(a, maxChildren)) {
            // An application's children are windows of their own.
            list.push_back(e.kind == Element::Kind::accessible ? wrapLike(child, e) : wrap(child));
        }
        return AXValue{std::move(list)};
    }
    return std::nullopt;
}

AXRead AtspiAccessibility::readAttributeValue(const AXElementRef& ref, std::string_view attribute) {
    const std::size_t before = guard_->unansweredCount();
    std::optional<AXValue> value = copyAttributeValue(ref, attribute);
    const AXError error = value                                 ? AXError::success
                          : guard_->unansweredCount() != before ? AXError::cannotComplete
                                                                : AXError::noValue;
    return AXRead{std::move(value), error};
}

std::optional<AXValue> AtspiAccessibility::copyAttributeValue(const AXElementRef& ref,
                                                              std::string_view attribute) {
    const Element* e = element(ref);
    if (!ok_ || !e) {
        return std::nullopt;
    }
    switch (e->kind) {
    case Element::Kind::systemWide:
        if (attribute == ax::focusedUIElement) {
            if (AXElementRef focused = focusedElement()) {
                return AXValue{focused};
            }
        }
        return std::nullopt;
    case Element::Kind::application:
        if (e->own) {
            return std::nullopt;
        }
        if (attribute == ax::focusedWindow) {
            if (AXElementRef w = focusedWindow(*e)) {
                return AXValue{w};
            }
            return std::nullopt;
        }
        if (attribute == ax::mainWindow) {
            if (AXElementRef w = mainWindow(*e)) {
                return AXValue{w};
            }
            return std::nullopt;
        }
        if (attribute == ax::role) {
            return AXValue{std::string("AXApplication")};
        }
        if (attribute == ax::title || attribute == ax::children) {
            return readAccessible(*e, attribute);
        }
        return std::nullopt;
    case Element::Kind::window:
        if (attribute == ax::role) {
            return AXValue{std::string("AXWindow")};
        }
        if (attribute == ax::title && e->title && !e->title->empty()) {
            return AXValue{*e->title};
        }
        if (attribute == ax::position && e->frame) {
            return AXValue{e->frame->origin};
        }
        if (attribute == ax::size && e->frame) {
            return AXValue{e->frame->size};
        }
        if (attribute == ax::window || attribute == ax::topLevelUIElement) {
            return AXValue{ref};
        }
        return std::nullopt;
    case Element::Kind::accessible:
        if (e->own) {
            return std::nullopt;
        }
        return readAccessible(*e, attribute);
    }
    return std::nullopt;
}

} // namespace kestro::platform::linux_x11
