// The plain reads of the accessibility interface: each is one guarded call at most (two for
// a list of children), nothing when it goes unanswered.

#include "platform/linux/AtspiAccessibility.h"

#include "platform/linux/AtspiCalls.h"
#include "platform/linux/AtspiWindows.h"

#include <dbus/dbus.h>

#include <algorithm>

namespace kestro::platform::linux_x11 {

namespace {

// The state bits in the element's own answer on the bus; nothing when it cannot be asked there.
std::optional<std::vector<int>> statesOnTheBus(AtspiAccessible* accessible,
                                               int timeoutMilliseconds) {
    AtspiObject* object = ATSPI_OBJECT(accessible);
    if (!object->app || !object->app->bus || !object->app->bus_name || !object->path) {
        return std::nullopt;
    }
    DBusMessage* call = dbus_message_new_method_call(object->app->bus_name, object->path,
                                                     "org.a11y.atspi.Accessible", "GetState");
    if (!call) {
        return std::nullopt;
    }
    DBusError error;
    dbus_error_init(&error);
    DBusMessage* reply = dbus_connection_send_with_reply_and_block(object->app->bus, call,
                                                                   timeoutMilliseconds, &error);
    dbus_message_unref(call);
    dbus_error_free(&error);
    std::optional<std::vector<int>> out;
    if (reply) {
        DBusMessageIter top, words;
        if (dbus_message_iter_init(reply, &top) &&
            dbus_message_iter_get_arg_type(&top) == DBUS_TYPE_ARRAY) {
            dbus_message_iter_recurse(&top, &words);
            out.emplace();
            for (int word = 0; dbus_message_iter_get_arg_type(&words) == DBUS_TYPE_UINT32;
                 ++word, dbus_message_iter_next(&words)) {
                dbus_uint32_t bits = 0;
                dbus_message_iter_get_basic(&words, &bits);
                for (int bit = 0; bit < 32; ++bit) {
                    if (bits & (1u << bit)) {
                        out->push_back(word * 32 + bit);
                    }
                }
            }
        }
        dbus_message_unref(reply);
    }
    return out;
}

} // namespace

std::optional<int> AtspiAccessibility::role(AtspiAccessible* accessible) {
    return guard_->ask(accessible, [&](GError** error) {
        return static_cast<int>(atspi_accessible_get_role(accessible, error));
    });
}

std::optional<std::string> AtspiAccessibility::accessibleName(AtspiAccessible* accessible) {
    return guard_->ask(accessible, [&](GError** error) {
        return takeString(atspi_accessible_get_name(accessible, error));
    });
}

std::optional<std::vector<int>> AtspiAccessibility::states(AtspiAccessible* accessible) {
    return guard_->ask(accessible, [&](GError**) -> std::optional<std::vector<int>> {
        Ref<AtspiStateSet> set(atspi_accessible_get_state_set(accessible));
        if (!set) {
            return std::nullopt;
        }
        GArray* list = atspi_state_set_get_states(set.get());
        std::vector<int> out;
        for (guint i = 0; list && i < list->len; ++i) {
            out.push_back(static_cast<int>(g_array_index(list, AtspiStateType, i)));
        }
        if (list) {
            g_array_free(list, TRUE);
        }
        return out;
    });
}

std::optional<std::vector<int>> AtspiAccessibility::statesNow(AtspiAccessible* accessible) {
    return guard_->ask(accessible, [&](GError**) {
        return statesOnTheBus(accessible, options_.timeoutMilliseconds);
    });
}

bool AtspiAccessibility::hasState(AtspiAccessible* accessible, int state) {
    const auto set = states(accessible);
    return set && std::find(set->begin(), set->end(), state) != set->end();
}

AtspiAccessible* AtspiAccessibility::parent(AtspiAccessible* accessible) {
    auto up = guard_->ask(accessible, [&](GError** error) {
        return Ref<AtspiAccessible>(atspi_accessible_get_parent(accessible, error));
    });
    return up ? up->release() : nullptr;
}

std::vector<AtspiAccessible*> AtspiAccessibility::childList(AtspiAccessible* accessible,
                                                            int limit) {
    std::vector<AtspiAccessible*> out;
    const std::optional<gint> count = guard_->ask(accessible, [&](GError** error) {
        return atspi_accessible_get_child_count(accessible, error);
    });
    if (!count) {
        return out;
    }
    for (gint i = 0; i < std::min(*count, limit); ++i) {
        if (!guard_->mayAsk(accessible)) {
            break;
        }
        auto child = guard_->ask(accessible, [&](GError** error) {
            return Ref<AtspiAccessible>(atspi_accessible_get_child_at_index(accessible, i, error));
        });
        if (child && *child) {
            out.push_back(child->release());
        }
    }
    return out;
}

std::optional<Rect> AtspiAccessibility::extents(AtspiAccessible* accessible) {
    if (!guard_->mayAsk(accessible)) {
        return std::nullopt;
    }
    Ref<AtspiComponent> component(atspi_accessible_get_component_iface(accessible));
    if (!component) {
        return std::nullopt;
    }
    const auto rect = guard_->ask(accessible, [&](GError** error) {
        return GOwned<AtspiRect>(
            atspi_component_get_extents(component.get(), ATSPI_COORD_TYPE_SCREEN, error));
    });
    if (!rect || !*rect) {
        return std::nullopt;
    }
    const AtspiRect& r = **rect;
    const Rect out = Rect::make(r.x, r.y, r.width, r.height);
    // Toolkits say -1 for extents they do not know.
    if (out.size.width < 0 || out.size.height < 0) {
        return std::nullopt;
    }
    return out;
}

AtspiAccessible* AtspiAccessibility::childAtPoint(AtspiAccessible* accessible, int x, int y) {
    if (!guard_->mayAsk(accessible)) {
        return nullptr;
    }
    Ref<AtspiComponent> component(atspi_accessible_get_component_iface(accessible));
    if (!component) {
        return nullptr;
    }
    auto child = guard_->ask(accessible, [&](GError** error) {
        return Ref<AtspiAccessible>(atspi_component_get_accessible_at_point(
            component.get(), x, y, ATSPI_COORD_TYPE_SCREEN, error));
    });
    return child ? child->release() : nullptr;
}

AtspiAccessible* AtspiAccessibility::childContaining(AtspiAccessible* accessible, int x, int y) {
    // Asked of every child: only where there are few.
    constexpr int most = 64;
    std::vector<AtspiAccessible*> children = childList(accessible, most + 1);
    AtspiAccessible* found = nullptr;
    if (children.size() <= static_cast<std::size_t>(most)) {
        for (AtspiAccessible* child : children) {
            const std::optional<Rect> r = extents(child);
            // The last one holding the point is drawn on top. (GTK 4 marks few elements showing.)
            if (r && holds(*r, x, y)) {
                if (found) {
                    g_object_unref(found);
                }
                found = static_cast<AtspiAccessible*>(g_object_ref(child));
            }
        }
    }
    for (AtspiAccessible* child : children) {
        g_object_unref(child);
    }
    return found;
}

} // namespace kestro::platform::linux_x11
