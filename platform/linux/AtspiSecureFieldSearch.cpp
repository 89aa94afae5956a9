#include "platform/linux/AtspiSecureFieldSearch.h"

#include "platform/linux/AtspiRoles.h"
#include "platform/linux/AtspiWindows.h"
#include "platform/linux/DBusSession.h"
#include "platform/linux/X11Atoms.h"
#include "platform/linux/XConnection.h"

#include <dbus/dbus.h>
#include <gio/gio.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <utility>

namespace kestro::platform::linux_x11 {

namespace {

constexpr const char* accessibleInterface = "org.a11y.atspi.Accessible";
constexpr const char* componentInterface = "org.a11y.atspi.Component";
constexpr const char* collectionInterface = "org.a11y.atspi.Collection";
// At most this many calls wait for their answers at once.
constexpr std::size_t inFlight = 512;

struct MessageDeleter {
    void operator()(DBusMessage* m) const { dbus_message_unref(m); }
};
using Message = std::unique_ptr<DBusMessage, MessageDeleter>;

// One answer: a reply, a value the element does not have, or no usable answer at all.
struct Answer {
    enum class Kind { reply, absent, failed };
    Kind kind = Kind::failed;
    Message message;
};

Answer classify(DBusMessage* reply) {
    Answer a;
    a.message.reset(reply);
    if (!reply) {
        return a;
    }
    if (dbus_message_get_type(reply) == DBUS_MESSAGE_TYPE_METHOD_RETURN) {
        a.kind = Answer::Kind::reply;
        return a;
    }
    // The element or the interface is not there (an element gone since its parent listed it,
    // an element without extents): a missing value, as for any other read. Anything else (no
    // answer in time, the application or the bus gone) leaves the tree unknown.
    const char* name = dbus_message_get_error_name(reply);
    for (const char* missing :
         {DBUS_ERROR_UNKNOWN_OBJECT, DBUS_ERROR_UNKNOWN_METHOD, DBUS_ERROR_UNKNOWN_INTERFACE,
          DBUS_ERROR_UNKNOWN_PROPERTY, DBUS_ERROR_INVALID_ARGS, DBUS_ERROR_NOT_SUPPORTED}) {
        if (name && std::strcmp(name, missing) == 0) {
            a.kind = Answer::Kind::absent;
        }
    }
    return a;
}

int remainingMilliseconds(std::chrono::steady_clock::time_point deadline, int perCall) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    return static_cast<int>(std::clamp<long long>(left, 1, perCall));
}

// Sends every call without waiting for the one before, and gives the answers in the same order.
std::vector<Answer> callAll(DBusConnection* c, std::vector<Message> calls, int timeoutMilliseconds,
                            std::chrono::steady_clock::time_point deadline) {
    std::vector<Answer> answers(calls.size());
    std::deque<std::pair<std::size_t, DBusPendingCall*>> waiting;
    auto collect = [&] {
        auto [index, pending] = waiting.front();
        waiting.pop_front();
        dbus_pending_call_block(pending);
        answers[index] = classify(dbus_pending_call_steal_reply(pending));
        dbus_pending_call_unref(pending);
    };
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (!calls[i]) {
            continue; // could not be built: stays failed
        }
        while (waiting.size() >= inFlight) {
            collect();
        }
        DBusPendingCall* pending = nullptr;
        if (!dbus_connection_send_with_reply(
                c, calls[i].get(), &pending,
                remainingMilliseconds(deadline, timeoutMilliseconds)) ||
            !pending) {
            continue;
        }
        waiting.emplace_back(i, pending);
    }
    dbus_connection_flush(c);
    while (!waiting.empty()) {
        collect();
    }
    return answers;
}

Message call(const std::string& bus, const std::string& path, const char* interface,
             const char* method) {
    if (!dbus_validate_bus_name(bus.c_str(), nullptr) ||
        !dbus_validate_path(path.c_str(), nullptr)) {
        return nullptr;
    }
    return Message(dbus_message_new_method_call(bus.c_str(), path.c_str(), interface, method));
}

// "a(so)": references to elements.
std::optional<std::vector<std::pair<std::string, std::string>>> references(DBusMessage* m,
                                                                           std::size_t limit) {
    DBusMessageIter it;
    if (!dbus_message_iter_init(m, &it) || dbus_message_iter_get_arg_type(&it) != DBUS_TYPE_ARRAY ||
        dbus_message_iter_get_element_type(&it) != DBUS_TYPE_STRUCT) {
        return std::nullopt;
    }
    std::vector<std::pair<std::string, std::string>> out;
    DBusMessageIter items;
    dbus_message_iter_recurse(&it, &items);
    while (dbus_message_iter_get_arg_type(&items) == DBUS_TYPE_STRUCT && out.size() < limit) {
        DBusMessageIter fields;
        dbus_message_iter_recurse(&items, &fields);
        const char* bus = nullptr;
        const char* path = nullptr;
        if (dbus_message_iter_get_arg_type(&fields) != DBUS_TYPE_STRING) {
            return std::nullopt;
        }
        dbus_message_iter_get_basic(&fields, &bus);
        dbus_message_iter_next(&fields);
        if (dbus_message_iter_get_arg_type(&fields) != DBUS_TYPE_OBJECT_PATH) {
            return std::nullopt;
        }
        dbus_message_iter_get_basic(&fields, &path);
        out.emplace_back(bus, path);
        dbus_message_iter_next(&items);
    }
    return out;
}

bool isSecureRole(std::uint32_t role) {
    // The same table that names every element's role and subrole.
    const AXRoleNames names = axRoleNames(static_cast<AtspiRole>(role), false, false);
    return names.role == ax::secureTextField || names.subrole == ax::secureTextField;
}

} // namespace

std::string accessibilityBusAddress(const XConnection& x) {
    if (const char* address = std::getenv("AT_SPI_BUS_ADDRESS"); address && *address) {
        return address;
    }
    if (x.ok()) {
        const xcb_atom_t atom = internAtom(x.xcb(), "AT_SPI_BUS", AtomLookup::existing);
        if (atom != XCB_ATOM_NONE) {
            if (auto value = x.propertyBytes(x.root(), atom, XCB_ATOM_STRING);
                value && !value->empty()) {
                return *value;
            }
        }
    }
    GDBusConnection* session = openSessionBus();
    if (!session) {
        return {};
    }
    std::string address;
    GVariant* reply = g_dbus_connection_call_sync(
        session, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", nullptr,
        G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, nullptr);
    if (reply) {
        const gchar* text = nullptr;
        g_variant_get(reply, "(&s)", &text);
        address = text ? text : "";
        g_variant_unref(reply);
    }
    g_object_unref(session);
    return address;
}

AtspiSearchLink::AtspiSearchLink(std::string address, int timeoutMilliseconds,
                                 const char* displayName)
    : address_(std::move(address)), timeoutMilliseconds_(timeoutMilliseconds), x_(displayName) {}

AtspiSearchLink::~AtspiSearchLink() {
    if (connection_) {
        dbus_connection_close(connection_);
        dbus_connection_unref(connection_);
    }
}

DBusConnection* AtspiSearchLink::connection() {
    if (connection_ && dbus_connection_get_is_connected(connection_)) {
        return connection_;
    }
    if (connection_) {
        dbus_connection_close(connection_);
        dbus_connection_unref(connection_);
        connection_ = nullptr;
        collections_.clear();
    }
    if (address_.empty()) {
        return nullptr;
    }
    DBusError error;
    dbus_error_init(&error);
    DBusConnection* c = dbus_connection_open_private(address_.c_str(), &error);
    if (c && !dbus_bus_register(c, &error)) {
        dbus_connection_close(c);
        dbus_connection_unref(c);
        c = nullptr;
    }
    dbus_error_free(&error);
    if (c) {
        // A lost bus must not end the process.
        dbus_connection_set_exit_on_disconnect(c, FALSE);
    }
    connection_ = c;
    return connection_;
}

struct AtspiSecureFieldSearch::Node {
    std::string bus;
    std::string path;
    int depth = 0;
    bool read = false;
    bool secure = false;
    std::vector<std::size_t> children;
};

AtspiSecureFieldSearch::AtspiSecureFieldSearch(std::shared_ptr<AtspiSearchLink> link, Start start,
                                               int maxVisited, int maxDepth,
                                               std::chrono::milliseconds limit)
    : link_(std::move(link)), start_(std::move(start)), maxVisited_(maxVisited),
      maxDepth_(maxDepth), limit_(limit) {}

std::optional<std::vector<Rect>> AtspiSecureFieldSearch::run() {
    if (!link_) {
        return std::nullopt;
    }
    std::lock_guard lock(link_->mutex_);
    const Clock::time_point deadline = Clock::now() + limit_;
    DBusConnection* c = link_->connection();
    if (!c) {
        return std::nullopt;
    }
    // Late answers to calls that timed out in an earlier search wait in the connection's
    // queue; nothing handles them, so they are let go.
    dbus_connection_read_write(c, 0);
    while (dbus_connection_dispatch(c) == DBUS_DISPATCH_DATA_REMAINS) {
    }
    const std::optional<bool> collection = answersCollection(c, deadline);
    if (!collection) {
        return std::nullopt;
    }
    if (*collection) {
        return matches(c, deadline);
    }
    return walk(c, deadline);
}

std::optional<bool> AtspiSecureFieldSearch::answersCollection(DBusConnection* c,
                                                              Clock::time_point deadline) {
    auto known = link_->collections_.find(start_.bus);
    if (known != link_->collections_.end()) {
        return known->second;
    }
    std::vector<Message> calls;
    calls.push_back(call(start_.bus, start_.path, accessibleInterface, "GetInterfaces"));
    std::vector<Answer> answers =
        callAll(c, std::move(calls), link_->timeoutMilliseconds_, deadline);
    if (answers[0].kind == Answer::Kind::failed) {
        return std::nullopt;
    }
    bool found = false;
    DBusMessageIter it;
    if (answers[0].kind == Answer::Kind::reply &&
        dbus_message_iter_init(answers[0].message.get(), &it) &&
        dbus_message_iter_get_arg_type(&it) == DBUS_TYPE_ARRAY) {
        DBusMessageIter names;
        dbus_message_iter_recurse(&it, &names);
        while (dbus_message_iter_get_arg_type(&names) == DBUS_TYPE_STRING) {
            const char* name = nullptr;
            dbus_message_iter_get_basic(&names, &name);
            found = found || (name && std::strcmp(name, collectionInterface) == 0);
            dbus_message_iter_next(&names);
        }
    }
    link_->collections_[start_.bus] = found;
    return found;
}

std::optional<std::vector<Rect>> AtspiSecureFieldSearch::matches(DBusConnection* c,
                                                                 Clock::time_point deadline) {
    Message m = call(start_.bus, start_.path, collectionInterface, "GetMatches");
    if (!m) {
        return std::nullopt;
    }
    // The rule (aiia{ss}iaiiasib): any state, any attribute, one of the roles, any interface.
    constexpr dbus_int32_t all = 1, any = 2;
    dbus_int32_t roles[4] = {0, 0, 0, 0};
    for (std::uint32_t role = 0; role < 128; ++role) {
        if (isSecureRole(role)) {
            roles[role / 32] |= static_cast<dbus_int32_t>(1u << (role % 32));
        }
    }
    const dbus_int32_t noStates[2] = {0, 0};
    DBusMessageIter args, rule, array, dict;
    dbus_message_iter_init_append(m.get(), &args);
    bool ok = dbus_message_iter_open_container(&args, DBUS_TYPE_STRUCT, nullptr, &rule);
    const dbus_int32_t* states = noStates;
    const dbus_int32_t* roleBits = roles;
    ok = ok && dbus_message_iter_open_container(&rule, DBUS_TYPE_ARRAY, "i", &array) &&
         dbus_message_iter_append_fixed_array(&array, DBUS_TYPE_INT32, &states, 2) &&
         dbus_message_iter_close_container(&rule, &array) &&
         dbus_message_iter_append_basic(&rule, DBUS_TYPE_INT32, &all) &&
         dbus_message_iter_open_container(&rule, DBUS_TYPE_ARRAY, "{ss}", &dict) &&
         dbus_message_iter_close_container(&rule, &dict) &&
         dbus_message_iter_append_basic(&rule, DBUS_TYPE_INT32, &all) &&
         dbus_message_iter_open_container(&rule, DBUS_TYPE_ARRAY, "i", &array) &&
         dbus_message_iter_append_fixed_array(&array, DBUS_TYPE_INT32, &roleBits, 4) &&
         dbus_message_iter_close_container(&rule, &array) &&
         dbus_message_iter_append_basic(&rule, DBUS_TYPE_INT32, &any) &&
         dbus_message_iter_open_container(&rule, DBUS_TYPE_ARRAY, "s", &array) &&
         dbus_message_iter_close_container(&rule, &array) &&
         dbus_message_iter_append_basic(&rule, DBUS_TYPE_INT32, &all);
    const dbus_bool_t invert = FALSE, traverse = TRUE;
    const dbus_uint32_t canonical = 1; // depth-first, children in order
    const dbus_int32_t unlimited = 0;
    ok = ok && dbus_message_iter_append_basic(&rule, DBUS_TYPE_BOOLEAN, &invert) &&
         dbus_message_iter_close_container(&args, &rule) &&
         dbus_message_iter_append_basic(&args, DBUS_TYPE_UINT32, &canonical) &&
         dbus_message_iter_append_basic(&args, DBUS_TYPE_INT32, &unlimited) &&
         dbus_message_iter_append_basic(&args, DBUS_TYPE_BOOLEAN, &traverse);
    if (!ok) {
        return std::nullopt;
    }
    std::vector<Message> calls;
    calls.push_back(std::move(m));
    std::vector<Answer> answers =
        callAll(c, std::move(calls), link_->timeoutMilliseconds_, deadline);
    if (answers[0].kind == Answer::Kind::absent) {
        // Listed but not answered after all: walk instead.
        link_->collections_[start_.bus] = false;
        return walk(c, deadline);
    }
    if (answers[0].kind != Answer::Kind::reply) {
        return std::nullopt;
    }
    const auto found = references(answers[0].message.get(), static_cast<std::size_t>(maxVisited_));
    if (!found) {
        return std::nullopt;
    }
    std::vector<Node> fields;
    for (const auto& [bus, path] : *found) {
        fields.push_back(Node{.bus = bus, .path = path});
    }
    return frames(c, fields, deadline);
}

std::optional<std::vector<Rect>> AtspiSecureFieldSearch::walk(DBusConnection* c,
                                                              Clock::time_point deadline) {
    std::vector<Node> nodes{Node{.bus = start_.bus, .path = start_.path}};
    // The depth-first walk over what is known so far, an element not yet read counting as one
    // without children. Every element it misses the real walk misses too (what precedes an
    // element only grows as more is read), so only those it reaches need reading.
    auto reached = [&](std::vector<std::size_t>& unread, std::vector<std::size_t>& secure) {
        int visited = 0;
        std::vector<std::size_t> pending{0};
        while (!pending.empty() && visited < maxVisited_) {
            const std::size_t i = pending.back();
            pending.pop_back();
            const Node& n = nodes[i];
            if (n.depth >= maxDepth_) {
                continue;
            }
            ++visited;
            if (!n.read) {
                unread.push_back(i);
            } else if (n.secure) {
                secure.push_back(i);
            } else {
                for (auto it = n.children.rbegin(); it != n.children.rend(); ++it) {
                    pending.push_back(*it);
                }
            }
        }
    };

    std::vector<std::size_t> level{0};
    std::vector<std::size_t> secure;
    while (!level.empty()) {
        if (Clock::now() >= deadline) {
            return std::nullopt;
        }
        std::vector<Message> calls;
        for (std::size_t i : level) {
            calls.push_back(call(nodes[i].bus, nodes[i].path, accessibleInterface, "GetRole"));
            calls.push_back(call(nodes[i].bus, nodes[i].path, accessibleInterface, "GetChildren"));
        }
        std::vector<Answer> answers =
            callAll(c, std::move(calls), link_->timeoutMilliseconds_, deadline);
        std::size_t added = 0;
        for (std::size_t k = 0; k < level.size(); ++k) {
            const Answer& role = answers[2 * k];
            const Answer& children = answers[2 * k + 1];
            if (role.kind == Answer::Kind::failed || children.kind == Answer::Kind::failed) {
                return std::nullopt;
            }
            Node& n = nodes[level[k]];
            n.read = true;
            dbus_uint32_t value = 0;
            if (role.kind == Answer::Kind::reply &&
                dbus_message_get_args(role.message.get(), nullptr, DBUS_TYPE_UINT32, &value,
                                      DBUS_TYPE_INVALID)) {
                n.secure = isSecureRole(value);
            }
            if (n.secure || children.kind != Answer::Kind::reply) {
                continue;
            }
            const auto list = references(children.message.get(), maxChildren);
            if (!list) {
                continue; // not a list of elements: no children
            }
            const int depth = n.depth + 1;
            for (const auto& [bus, path] : *list) {
                // The level is in walk order, so a child past the first maxVisited new ones
                // has at least that many elements before it.
                if (added >= static_cast<std::size_t>(maxVisited_)) {
                    break;
                }
                ++added;
                nodes[level[k]].children.push_back(nodes.size());
                nodes.push_back(Node{.bus = bus, .path = path, .depth = depth});
            }
        }
        level.clear();
        secure.clear();
        reached(level, secure);
    }
    std::vector<Node> fields;
    for (std::size_t i : secure) {
        fields.push_back(nodes[i]);
    }
    return frames(c, fields, deadline);
}

std::optional<std::vector<Rect>> AtspiSecureFieldSearch::frames(DBusConnection* c,
                                                                const std::vector<Node>& fields,
                                                                Clock::time_point deadline) {
    if (fields.empty()) {
        return std::vector<Rect>{}; // nothing to place, wherever the window lies
    }
    // The window's extents with its fields', so that what it reports and where its fields lie
    // are of one moment.
    std::vector<Message> calls;
    auto extentsOf = [&](const std::string& bus, const std::string& path) {
        Message m = call(bus, path, componentInterface, "GetExtents");
        const dbus_uint32_t screen = 0;
        if (m && !dbus_message_append_args(m.get(), DBUS_TYPE_UINT32, &screen, DBUS_TYPE_INVALID)) {
            m.reset();
        }
        calls.push_back(std::move(m));
    };
    extentsOf(start_.bus, start_.windowPath);
    for (const Node& field : fields) {
        extentsOf(field.bus, field.path);
    }
    std::vector<Answer> answers =
        callAll(c, std::move(calls), link_->timeoutMilliseconds_, deadline);
    if (answers[0].kind != Answer::Kind::reply) {
        return std::nullopt;
    }
    const std::optional<Rect> window = reportedExtents(answers[0].message.get());
    std::vector<std::optional<Rect>> reported;
    for (std::size_t i = 1; i < answers.size(); ++i) {
        if (answers[i].kind == Answer::Kind::failed) {
            return std::nullopt;
        }
        if (answers[i].kind == Answer::Kind::reply) {
            reported.push_back(reportedExtents(answers[i].message.get()));
        }
    }
    if (reported.empty()) {
        return std::vector<Rect>{}; // every field gone since it was found
    }
    // Where its X window lies now, not where it lay when the search was made: it may have moved.
    if (!link_->x_.ok() || link_->x_.lost()) {
        return std::nullopt;
    }
    link_->x_.discardEvents();
    const std::optional<TopLevel> now = placedNow(link_->x_, start_.window);
    if (!now) {
        return std::nullopt;
    }
    return fieldBoxes(window, windowRects(link_->x_, *now), reported,
                      RootOrigin{start_.originX, start_.originY});
}

std::optional<Rect> reportedExtents(DBusMessage* reply) {
    DBusMessageIter it, box;
    if (!reply || !dbus_message_iter_init(reply, &it) ||
        dbus_message_iter_get_arg_type(&it) != DBUS_TYPE_STRUCT) {
        return std::nullopt;
    }
    dbus_message_iter_recurse(&it, &box);
    dbus_int32_t v[4] = {0, 0, 0, 0};
    int read = 0;
    while (read < 4 && dbus_message_iter_get_arg_type(&box) == DBUS_TYPE_INT32) {
        dbus_message_iter_get_basic(&box, &v[read++]);
        dbus_message_iter_next(&box);
    }
    if (read < 4 || dbus_message_iter_get_arg_type(&box) != DBUS_TYPE_INVALID || v[2] < 0 ||
        v[3] < 0) {
        return std::nullopt;
    }
    return Rect::make(v[0], v[1], v[2], v[3]);
}

std::optional<std::vector<Rect>> fieldBoxes(const std::optional<Rect>& window,
                                            const std::vector<Rect>& windowRects,
                                            const std::vector<std::optional<Rect>>& fields,
                                            RootOrigin origin) {
    const std::optional<AccessibleSpace> space =
        window ? spaceOnWindow(*window, windowRects) : std::nullopt;
    if (!space) {
        return std::nullopt;
    }
    std::vector<Rect> boxes;
    for (const std::optional<Rect>& field : fields) {
        if (!field) {
            return std::nullopt; // a field is there, and where cannot be told
        }
        Rect r = space->toRoot(*field);
        if (!space->identity()) {
            // A scaled window's positions are rounded in its own pixels: the box grows by one of
            // them so that no edge of the field is left out.
            const double grow = std::ceil(space->scale);
            r = Rect::make(r.origin.x - grow, r.origin.y - grow, r.size.width + 2 * grow,
                           r.size.height + 2 * grow);
        }
        boxes.push_back(
            Rect::make(r.origin.x - origin.x, r.origin.y - origin.y, r.size.width, r.size.height));
    }
    return boxes;
}

} // namespace kestro::platform::linux_x11
