#include "platform/linux/AtspiAccessibility.h"

#include "KestroBase/Text.h"
#include "platform/linux/AccessibleSpace.h"
#include "platform/linux/AtspiRoles.h"
#include "platform/linux/AtspiSecureFieldSearch.h"
#include "platform/linux/TerminalEcho.h"
#include "platform/linux/X11Windows.h"

#include <atspi/atspi.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

namespace kestro::platform::linux_x11 {

namespace {

// One GObject reference, given back when it goes.
template <typename T> class Ref {
public:
    Ref() = default;
    explicit Ref(T* object) : object_(object) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : object_(other.release()) {}
    Ref& operator=(Ref&& other) noexcept {
        reset(other.release());
        return *this;
    }
    ~Ref() { reset(); }
    T* get() const { return object_; }
    T* release() {
        T* o = object_;
        object_ = nullptr;
        return o;
    }
    void reset(T* object = nullptr) {
        if (object_) {
            g_object_unref(object_);
        }
        object_ = object;
    }
    explicit operator bool() const { return object_ != nullptr; }

private:
    T* object_ = nullptr;
};

struct ErrorSlot {
    GError* error = nullptr;
    ~ErrorSlot() {
        if (error) {
            g_error_free(error);
        }
    }
    GError** operator&() { return &error; }
    bool failed() const { return error != nullptr; }
};

std::string takeString(gchar* text) {
    std::string out = text ? text::sanitizeUtf8(text) : std::string();
    g_free(text);
    return out;
}

const char* busName(AtspiAccessible* accessible) {
    AtspiObject* object = ATSPI_OBJECT(accessible);
    return object && object->app && object->app->bus_name ? object->app->bus_name : nullptr;
}

bool holds(const Rect& r, double x, double y) {
    return x >= r.origin.x && y >= r.origin.y && x < r.origin.x + r.size.width &&
           y < r.origin.y + r.size.height;
}

// Where the application's own window lies in root pixels (inside a window manager's frame,
// when one holds it).
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

// The rectangles a toolkit may report as its window: the application's own window, the window
// manager's frame round it (GTK 3 counts it in), or what the application draws inside its own
// shadow (_GTK_FRAME_EXTENTS: left, right, top, bottom).
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

// The space in which the accessible window reported as `reported` is that X window, if it is.
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

const char* const cacheEvents[] = {"object:state-changed", "object:children-changed",
                                   "object:property-change"};

// libatspi is set up once per process: taken down, it cannot be set up again.
// Without an accessibility bus every later libatspi call would end the process, so nothing is
// called when this fails.
bool initialized() {
    static const bool ok = [] {
        const int status = atspi_init();
        return status == 0 || status == 1; // set up now, or already
    }();
    return ok;
}

} // namespace

class AtspiAccessibility::Element final : public AXElement {
public:
    enum class Kind { systemWide, application, accessible, window };

    Element(Kind k, int pid) : kind(k), processID(pid) {}
    ~Element() override {
        if (accessible) {
            g_object_unref(accessible);
        }
    }

    Kind kind;
    int processID = 0;
    AtspiAccessible* accessible = nullptr; // owned; the root of the application for that kind
    bool own = false;                      // of this process: never asked anything
    // A window known only from X.
    std::optional<std::string> title;
    std::optional<Rect> frame;
    // Where the positions of its window lie on the screen, once told (shared by the elements of
    // one window), and the X window it was found in, a first guess at its window's.
    std::shared_ptr<std::optional<AccessibleSpace>> space =
        std::make_shared<std::optional<AccessibleSpace>>();
    std::optional<TopLevel> seenIn;
};

AtspiAccessibility::AtspiAccessibility() : AtspiAccessibility(Options{}) {}

AtspiAccessibility::AtspiAccessibility(Options options, const char* displayName)
    : options_(options), x_(displayName) {
    if (options_.ownProcessID == 0) {
        options_.ownProcessID = static_cast<int>(::getpid());
    }
    if (!x_.ok() || !initialized()) {
        return;
    }
    clientSync_ = std::make_unique<X11ClientSync>(displayName);
    atspi_set_timeout(options_.timeoutMilliseconds, options_.timeoutMilliseconds);
    listener_ = atspi_event_listener_new(&AtspiAccessibility::onFocusEvent, this, nullptr);
    ErrorSlot error;
    const bool listening =
        atspi_event_listener_register(listener_, "object:state-changed:focused", &error);
    Ref<AtspiAccessible> desktop(atspi_get_desktop(0));
    if (desktop) {
        // Each uncached read is a round trip through the bus to the application. libatspi
        // keeps roles, names, states, parents and children once read, and the change events
        // (which applications send only while someone listens for them) keep them current.
        atspi_accessible_set_cache_mask(desktop.get(), ATSPI_CACHE_DEFAULT);
        cacheListener_ =
            atspi_event_listener_new(&AtspiAccessibility::onChangeEvent, nullptr, nullptr);
        for (const char* kind : cacheEvents) {
            atspi_event_listener_register(cacheListener_, kind, nullptr);
        }
    }
    ok_ = listening && !error.failed() && desktop;
    if (ok_) {
        searchLink_ = std::make_shared<AtspiSearchLink>(accessibilityBusAddress(x_),
                                                        options_.searchCallMilliseconds);
    }
}

AtspiAccessibility::~AtspiAccessibility() {
    // With the display server gone its accessibility bus goes too, and deregistering would make
    // libatspi bring up another bus and wait on every call there: the listeners just go.
    bool serverAnswers = false;
    if (!x_.lost()) {
        xcb_connection_t* c = x_.xcb();
        Reply<xcb_get_input_focus_reply_t> focus(
            xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        serverAnswers = focus != nullptr;
    }
    if (listener_) {
        if (serverAnswers) {
            atspi_event_listener_deregister(listener_, "object:state-changed:focused", nullptr);
        }
        g_object_unref(listener_);
    }
    if (cacheListener_) {
        for (const char* kind : cacheEvents) {
            if (serverAnswers) {
                atspi_event_listener_deregister(cacheListener_, kind, nullptr);
            }
        }
        g_object_unref(cacheListener_);
    }
    for (auto& [pid, app] : applications_) {
        g_object_unref(app);
    }
    if (focus_) {
        g_object_unref(focus_);
    }
}

void AtspiAccessibility::onChangeEvent(AtspiEvent* event, void*) {
    // libatspi has already brought its cache up to date.
    g_boxed_free(ATSPI_TYPE_EVENT, event);
}

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

// ---- Guards ----

int AtspiAccessibility::processOf(AtspiAccessible* accessible) {
    const char* bus = busName(accessible);
    if (!bus) {
        return 0;
    }
    auto it = busProcesses_.find(bus);
    if (it != busProcesses_.end()) {
        return it->second;
    }
    // The bus daemon answers this, never the application.
    ErrorSlot error;
    const guint pid = atspi_accessible_get_process_id(accessible, &error);
    const int known = error.failed() ? 0 : static_cast<int>(pid);
    if (known) {
        busProcesses_.emplace(bus, known);
    }
    return known;
}

bool AtspiAccessibility::mayAsk(AtspiAccessible* accessible) {
    const char* bus = accessible ? busName(accessible) : nullptr;
    if (!bus) {
        return false;
    }
    const int pid = processOf(accessible);
    if (pid == 0 || pid == options_.ownProcessID) {
        return false;
    }
    auto it = unresponsiveUntil_.find(bus);
    if (it != unresponsiveUntil_.end()) {
        if (Clock::now() < it->second) {
            ++unanswered_; // left alone, so no answer is had
            return false;
        }
        unresponsiveUntil_.erase(it);
    }
    return true;
}

bool AtspiAccessibility::answered(AtspiAccessible* accessible, Clock::time_point start,
                                  bool failed) {
    // A call that ran into the time-out does not always say so: libatspi then hands back a
    // default value as if it had succeeded. Its answer is not trusted, and the application is
    // left alone for a while.
    const double waited = std::chrono::duration<double>(Clock::now() - start).count();
    if (waited >= 0.75 * options_.timeoutMilliseconds / 1000.0) {
        if (const char* bus = busName(accessible)) {
            unresponsiveUntil_[bus] =
                Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>(options_.unresponsiveSeconds));
        }
        ++unanswered_;
        return false;
    }
    if (failed) {
        ++unanswered_;
    }
    return !failed;
}

// ---- Plain reads ----

std::optional<int> AtspiAccessibility::role(AtspiAccessible* accessible) {
    if (!mayAsk(accessible)) {
        return std::nullopt;
    }
    ErrorSlot error;
    const auto start = Clock::now();
    const AtspiRole r = atspi_accessible_get_role(accessible, &error);
    if (!answered(accessible, start, error.failed())) {
        return std::nullopt;
    }
    return static_cast<int>(r);
}

std::optional<std::vector<int>> AtspiAccessibility::states(AtspiAccessible* accessible) {
    if (!mayAsk(accessible)) {
        return std::nullopt;
    }
    const auto start = Clock::now();
    Ref<AtspiStateSet> set(atspi_accessible_get_state_set(accessible));
    if (!answered(accessible, start, !set)) {
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
}

bool AtspiAccessibility::hasState(AtspiAccessible* accessible, int state) {
    const auto set = states(accessible);
    return set && std::find(set->begin(), set->end(), state) != set->end();
}

AtspiAccessible* AtspiAccessibility::parent(AtspiAccessible* accessible) {
    if (!mayAsk(accessible)) {
        return nullptr;
    }
    ErrorSlot error;
    const auto start = Clock::now();
    AtspiAccessible* p = atspi_accessible_get_parent(accessible, &error);
    if (!answered(accessible, start, error.failed())) {
        if (p) {
            g_object_unref(p);
        }
        return nullptr;
    }
    return p;
}

std::vector<AtspiAccessible*> AtspiAccessibility::childList(AtspiAccessible* accessible,
                                                            int limit) {
    std::vector<AtspiAccessible*> out;
    if (!mayAsk(accessible)) {
        return out;
    }
    ErrorSlot error;
    auto start = Clock::now();
    const gint count = atspi_accessible_get_child_count(accessible, &error);
    if (!answered(accessible, start, error.failed())) {
        return out;
    }
    for (gint i = 0; i < std::min(count, limit); ++i) {
        if (!mayAsk(accessible)) {
            break;
        }
        ErrorSlot childError;
        start = Clock::now();
        AtspiAccessible* child = atspi_accessible_get_child_at_index(accessible, i, &childError);
        if (!answered(accessible, start, childError.failed()) || !child) {
            if (child) {
                g_object_unref(child);
            }
            continue;
        }
        out.push_back(child);
    }
    return out;
}

std::optional<Rect> AtspiAccessibility::extents(AtspiAccessible* accessible) {
    if (!mayAsk(accessible)) {
        return std::nullopt;
    }
    Ref<AtspiComponent> component(atspi_accessible_get_component_iface(accessible));
    if (!component) {
        return std::nullopt;
    }
    ErrorSlot error;
    const auto start = Clock::now();
    AtspiRect* rect = atspi_component_get_extents(component.get(), ATSPI_COORD_TYPE_SCREEN, &error);
    if (!answered(accessible, start, error.failed()) || !rect) {
        g_free(rect);
        return std::nullopt;
    }
    const Rect out = Rect::make(rect->x, rect->y, rect->width, rect->height);
    g_free(rect);
    // Toolkits say -1 for extents they do not know.
    if (out.size.width < 0 || out.size.height < 0) {
        return std::nullopt;
    }
    return out;
}

AtspiAccessible* AtspiAccessibility::childAtPoint(AtspiAccessible* accessible, int x, int y) {
    if (!mayAsk(accessible)) {
        return nullptr;
    }
    Ref<AtspiComponent> component(atspi_accessible_get_component_iface(accessible));
    if (!component) {
        return nullptr;
    }
    ErrorSlot error;
    const auto start = Clock::now();
    AtspiAccessible* child = atspi_component_get_accessible_at_point(
        component.get(), x, y, ATSPI_COORD_TYPE_SCREEN, &error);
    if (!answered(accessible, start, error.failed())) {
        if (child) {
            g_object_unref(child);
        }
        return nullptr;
    }
    return child;
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

// ---- Elements ----

std::shared_ptr<AtspiAccessibility::Element>
AtspiAccessibility::accessibleElement(AtspiAccessible* accessible) {
    const int pid = processOf(accessible);
    auto e = std::make_shared<Element>(Element::Kind::accessible, pid);
    e->accessible = accessible;
    e->own = pid == options_.ownProcessID;
    return e;
}

AXElementRef AtspiAccessibility::wrap(AtspiAccessible* accessible) {
    return wrap(accessible, std::nullopt, std::nullopt);
}

AXElementRef AtspiAccessibility::wrap(AtspiAccessible* accessible,
                                      std::optional<AccessibleSpace> space,
                                      std::optional<TopLevel> seenIn) {
    if (!accessible) {
        return nullptr;
    }
    auto e = accessibleElement(accessible);
    *e->space = space;
    e->seenIn = std::move(seenIn);
    return e;
}

AXElementRef AtspiAccessibility::wrapLike(AtspiAccessible* accessible, const Element& like) {
    if (!accessible) {
        return nullptr;
    }
    auto e = accessibleElement(accessible);
    e->space = like.space;
    e->seenIn = like.seenIn;
    return e;
}

AXElementRef AtspiAccessibility::windowElement(const TopLevel& window) {
    auto e = std::make_shared<Element>(Element::Kind::window, window.processID.value_or(0));
    e->own = e->processID == options_.ownProcessID;
    e->title = windowIdentity(x_, window.client).title;
    const Rect r = clientRect(x_, window);
    e->frame =
        Rect::make(r.origin.x - origin_.x, r.origin.y - origin_.y, r.size.width, r.size.height);
    return e;
}

const AtspiAccessibility::Element* AtspiAccessibility::element(const AXElementRef& ref) const {
    return dynamic_cast<const Element*>(ref.get());
}

AXElementRef AtspiAccessibility::systemWide() {
    if (!ok_) {
        return nullptr;
    }
    origin_ = x_.origin();
    return std::make_shared<Element>(Element::Kind::systemWide, 0);
}

AtspiAccessible* AtspiAccessibility::applicationOf(int pid) {
    if (pid <= 0) {
        return nullptr;
    }
    // Kept while the application stays on the bus (libatspi lets go of its connection when
    // it leaves).
    if (auto it = applications_.find(pid); it != applications_.end()) {
        AtspiObject* object = ATSPI_OBJECT(it->second);
        if (object->app && object->app->bus) {
            return static_cast<AtspiAccessible*>(g_object_ref(it->second));
        }
        g_object_unref(it->second);
        applications_.erase(it);
    }
    Ref<AtspiAccessible> desktop(atspi_get_desktop(0));
    if (!desktop) {
        return nullptr;
    }
    ErrorSlot error;
    const gint count = atspi_accessible_get_child_count(desktop.get(), &error);
    for (gint i = 0; !error.failed() && i < count; ++i) {
        ErrorSlot childError;
        Ref<AtspiAccessible> app(
            atspi_accessible_get_child_at_index(desktop.get(), i, &childError));
        if (app && !childError.failed() && processOf(app.get()) == pid) {
            applications_.emplace(pid, static_cast<AtspiAccessible*>(g_object_ref(app.get())));
            return app.release();
        }
    }
    return nullptr;
}

AXElementRef AtspiAccessibility::application(int pid) {
    if (!ok_) {
        return nullptr;
    }
    origin_ = x_.origin();
    auto e = std::make_shared<Element>(Element::Kind::application, pid);
    e->own = pid == options_.ownProcessID;
    if (!e->own) {
        e->accessible = applicationOf(pid);
        if (!e->accessible) {
            return nullptr;
        }
    }
    return e;
}

std::optional<std::string> AtspiAccessibility::applicationName(int pid) {
    if (!ok_ || pid == options_.ownProcessID) {
        return std::nullopt;
    }
    Ref<AtspiAccessible> app(applicationOf(pid));
    if (!app || !mayAsk(app.get())) {
        return std::nullopt;
    }
    ErrorSlot error;
    const auto start = Clock::now();
    std::string name = takeString(atspi_accessible_get_name(app.get(), &error));
    if (!answered(app.get(), start, error.failed()) || name.empty()) {
        return std::nullopt;
    }
    return name;
}

int AtspiAccessibility::processID(const AXElementRef& ref) {
    const Element* e = element(ref);
    return e ? e->processID : 0;
}

TerminalEcho AtspiAccessibility::terminalEcho(const AXElementRef& ref) {
    const Element* e = element(ref);
    if (!e || e->kind != Element::Kind::accessible || !e->accessible) {
        return TerminalEcho::notATerminal;
    }
    // An unanswered role read may hide a terminal. Besides terminals proper, an application that
    // holds a pseudo-terminal may show one in any widget (an editor's terminal pane).
    const std::optional<int> r = role(e->accessible);
    const bool terminalRole = !r || *r == ATSPI_ROLE_TERMINAL;
    const std::optional<std::vector<int>> terminals = masteredTerminals(e->processID);
    if (!terminalRole && (!terminals || terminals->empty())) {
        return TerminalEcho::notATerminal;
    }
    // Which of a terminal's tabs is in front cannot be told: all of them must echo.
    if (!terminals || terminals->empty() || !allEcho(*terminals)) {
        return TerminalEcho::silent;
    }
    return TerminalEcho::echoes;
}

namespace {
// A search whose answer is known before it runs.
class KnownSearch final : public AXSecureFieldSearch {
public:
    explicit KnownSearch(std::optional<std::vector<Rect>> answer) : answer_(std::move(answer)) {}
    std::optional<std::vector<Rect>> run() override { return answer_; }

private:
    std::optional<std::vector<Rect>> answer_;
};
} // namespace

std::unique_ptr<AXSecureFieldSearch>
AtspiAccessibility::secureFieldSearch(const AXElementRef& window, int maxVisited, int maxDepth) {
    const Element* e = element(window);
    if (!ok_ || !e || !searchLink_) {
        return nullptr;
    }
    // A window known only from X, or one of this process: no tree to search.
    if (e->kind != Element::Kind::accessible || e->own || !e->accessible) {
        return std::make_unique<KnownSearch>(std::vector<Rect>{});
    }
    const char* bus = busName(e->accessible);
    const char* path = ATSPI_OBJECT(e->accessible)->path;
    if (!bus || !path || !mayAsk(e->accessible)) {
        return std::make_unique<KnownSearch>(std::nullopt); // left alone for not answering
    }
    const std::optional<AccessibleSpace> space = spaceOf(*e);
    if (!space) {
        return std::make_unique<KnownSearch>(std::nullopt); // where its fields lie is not known
    }
    // Frames in global points, as the attribute reads give them.
    return std::make_unique<AtspiSecureFieldSearch>(
        searchLink_,
        AtspiSecureFieldSearch::Start{
            .bus = bus, .path = path, .originX = origin_.x, .originY = origin_.y, .space = *space},
        maxVisited, maxDepth, std::chrono::milliseconds(options_.searchMilliseconds));
}

// ---- Derived answers ----

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
            if (!mayAsk(found[i].first)) {
                return false;
            }
            ErrorSlot error;
            const auto start = Clock::now();
            const std::string own = takeString(atspi_accessible_get_name(found[i].first, &error));
            return answered(found[i].first, start, error.failed()) && own == *name;
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

AtspiAccessibility::WindowMatch
AtspiAccessibility::windowFor(AtspiAccessible* app, const TopLevel& window, int x, int y) {
    const std::vector<Rect> rects = windowRects(x_, window);
    std::vector<AtspiAccessible*> tops = childList(app, maxChildren);
    std::vector<std::pair<AtspiAccessible*, AccessibleSpace>> found;
    AtspiAccessible* holding = nullptr;
    int holdingScore = 0;
    for (AtspiAccessible* top : tops) {
        const std::optional<Rect> r = extents(top);
        if (!r) {
            continue;
        }
        if (const std::optional<AccessibleSpace> space = spaceOnWindow(*r, rects)) {
            found.emplace_back(top, *space);
        } else if (holds(*r, x, y)) {
            // Not that window by its place, but over the point as reported.
            const int score = hasState(top, ATSPI_STATE_ACTIVE) ? 2 : 1;
            if (score > holdingScore) {
                holding = top;
                holdingScore = score;
            }
        }
    }
    WindowMatch match;
    if (!found.empty()) {
        const std::optional<std::size_t> i = pickWindow(
            found, [&] { return windowIdentity(x_, window.client).title; }, false, match.ambiguous);
        if (i) {
            match.window = static_cast<AtspiAccessible*>(g_object_ref(found[*i].first));
            match.space = found[*i].second;
        }
    } else if (holding) {
        // Over the point in root pixels: taken to report them, as before its place was matched.
        match.window = static_cast<AtspiAccessible*>(g_object_ref(holding));
        match.space = AccessibleSpace{};
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
    if (e.kind != Element::Kind::accessible || !e.accessible || e.own) {
        return std::nullopt;
    }
    Ref<AtspiAccessible> top(topLevelOf(e.accessible));
    const std::optional<Rect> reported = top ? extents(top.get()) : std::nullopt;
    if (!reported) {
        return std::nullopt;
    }
    if (e.seenIn) {
        if (auto space = spaceOnWindow(*reported, windowRects(x_, *e.seenIn))) {
            *e.space = space;
            return space;
        }
    }
    // Its window among the process's X windows.
    x_.discardEvents();
    std::vector<AccessibleSpace> found;
    std::vector<std::string> titles;
    for (const TopLevel& t : listTopLevels(x_)) {
        if (!t.viewable || !t.inputOutput || t.processID.value_or(0) != e.processID) {
            continue;
        }
        if (auto space = spaceOnWindow(*reported, windowRects(x_, t))) {
            found.push_back(*space);
            titles.push_back(windowIdentity(x_, t.client).title.value_or(""));
        }
    }
    if (found.empty()) {
        // Not that window by its place (a toolkit may count more or less of it in), but holding
        // it in root pixels, as the front window's choice accepts.
        if (e.seenIn) {
            const Rect client = clientRect(x_, *e.seenIn);
            if (holds(*reported, client.origin.x + client.size.width / 2,
                      client.origin.y + client.size.height / 2)) {
                *e.space = AccessibleSpace{};
                return *e.space;
            }
        }
        return std::nullopt;
    }
    // All the same, or the one whose title is the window's name.
    std::optional<std::size_t> chosen = 0;
    for (const AccessibleSpace& space : found) {
        if (!sameSpace(space, found[0])) {
            chosen.reset();
        }
    }
    if (!chosen && mayAsk(top.get())) {
        ErrorSlot error;
        const auto start = Clock::now();
        const std::string name = takeString(atspi_accessible_get_name(top.get(), &error));
        if (answered(top.get(), start, error.failed())) {
            for (std::size_t i = 0; i < found.size(); ++i) {
                if (titles[i] == name) {
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
    *e.space = found[*chosen];
    return *e.space;
}

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
    if (!app || !mayAsk(app.get())) {
        return windowElement(*hit);
    }
    WindowMatch match = windowFor(app.get(), *hit, x, y);
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
        const std::size_t before = unanswered_;
        Ref<AtspiAccessible> next(childAtPoint(current.get(), ax, ay));
        if (!next && unanswered_ == before) {
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

bool AtspiAccessibility::syncWith(const TopLevel& front) {
    if (!clientSync_) {
        return false;
    }
    Ref<AtspiAccessible> app(applicationOf(front.processID.value_or(0)));
    const char* bus = app ? busName(app.get()) : nullptr;
    if (bus) {
        auto it = unresponsiveUntil_.find(bus);
        if (it != unresponsiveUntil_.end() && Clock::now() < it->second) {
            return false; // it let a call time out a moment ago: not waited for again so soon
        }
    }
    if (clientSync_->sync(front.client, options_.timeoutMilliseconds) !=
        X11ClientSync::Result::handled) {
        return false;
    }
    if (bus) {
        unresponsiveUntil_.erase(bus); // it answers again
    }
    return true;
}

std::optional<std::vector<int>> AtspiAccessibility::statesNow(AtspiAccessible* accessible) {
    if (!mayAsk(accessible)) {
        return std::nullopt;
    }
    AtspiObject* object = ATSPI_OBJECT(accessible);
    if (!object->app || !object->app->bus || !object->app->bus_name || !object->path) {
        ++unanswered_;
        return std::nullopt;
    }
    DBusMessage* call = dbus_message_new_method_call(object->app->bus_name, object->path,
                                                     "org.a11y.atspi.Accessible", "GetState");
    if (!call) {
        ++unanswered_;
        return std::nullopt;
    }
    DBusError error;
    dbus_error_init(&error);
    const auto start = Clock::now();
    DBusMessage* reply = dbus_connection_send_with_reply_and_block(
        object->app->bus, call, options_.timeoutMilliseconds, &error);
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
    if (!answered(accessible, start, !out)) {
        return std::nullopt;
    }
    return out;
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
            ++unanswered_;
            return nullptr;
        }
    }
    auto found = [this](AXElementRef element) {
        focusStale_ = false;
        return element;
    };
    if (focus_) {
        const int pid = processOf(focus_);
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
    const std::size_t before = unanswered_;
    AXElementRef result = searchFocus(app.get(), *front);
    if (unanswered_ != before && !result) {
        return nullptr;
    }
    return found(std::move(result));
}

AXElementRef AtspiAccessibility::searchFocus(AtspiAccessible* app, const TopLevel& front) {
    // What libatspi keeps of the tree may be behind the application (a window just opened);
    // the search reads it afresh.
    atspi_accessible_clear_cache(app);
    Ref<AtspiAccessible> window(
        windowFor(app, front, front.x + front.border, front.y + front.border).window);
    if (!window) {
        // A window of an application with a tree that its tree does not show (yet).
        ++unanswered_;
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
        if (visited >= 4000 || f.depth >= 30 || !mayAsk(node.get())) {
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
    const Rect frontRect = front ? clientRect(x_, *front) : Rect{};
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
    }
    if (!chosen && !unsure) {
        // Not found by its place (X cannot tell): the application's own word, asked afresh
        // rather than remembered.
        for (AtspiAccessible* top : tops) {
            const std::optional<std::vector<int>> set = chosen ? std::nullopt : statesNow(top);
            if (set && std::find(set->begin(), set->end(), ATSPI_STATE_ACTIVE) != set->end()) {
                take(top);
            }
        }
        if (chosen && front) {
            // It must at least hold the window X has in front; else that one was not found.
            const std::optional<Rect> r = extents(chosen);
            unsure = !r || !holds(*r, frontRect.origin.x + frontRect.size.width / 2,
                                  frontRect.origin.y + frontRect.size.height / 2);
            space = AccessibleSpace{};
        }
    }
    for (AtspiAccessible* top : tops) {
        g_object_unref(top);
    }
    if (unsure) {
        if (chosen) {
            g_object_unref(chosen);
        }
        ++unanswered_;
        return nullptr;
    }
    if (chosen) {
        return front ? wrap(chosen, space, *front) : wrap(chosen);
    }
    // Without a window manager nothing may be marked active: the window that has the
    // keyboard, when it is this application's.
    if (!front) {
        return nullptr;
    }
    WindowMatch match =
        windowFor(app.accessible, *front, front->x + front->border, front->y + front->border);
    if (match.ambiguous) {
        ++unanswered_;
        return nullptr;
    }
    return wrap(match.window, match.space, *front);
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
        if (!mayAsk(a)) {
            return std::nullopt;
        }
        ErrorSlot error;
        const auto start = Clock::now();
        std::string name = takeString(atspi_accessible_get_name(a, &error));
        if (!answered(a, start, error.failed()) || name.empty()) {
            return std::nullopt;
        }
        return AXValue{std::move(name)};
    }
    if (attribute == ax::value) {
        if (!mayAsk(a)) {
            return std::nullopt;
        }
        if (Ref<AtspiText> textIface{atspi_accessible_get_text_iface(a)}) {
            ErrorSlot error;
            auto start = Clock::now();
            const gint count = atspi_text_get_character_count(textIface.get(), &error);
            if (!answered(a, start, error.failed())) {
                return std::nullopt;
            }
            ErrorSlot textError;
            start = Clock::now();
            std::string value = takeString(atspi_text_get_text(
                textIface.get(), 0, std::min(count, maxTextCharacters), &textError));
            if (!answered(a, start, textError.failed())) {
                return std::nullopt;
            }
            return AXValue{std::move(value)};
        }
        if (Ref<AtspiValue> valueIface{atspi_accessible_get_value_iface(a)}) {
            ErrorSlot error;
            const auto start = Clock::now();
            const double current = atspi_value_get_current_value(valueIface.get(), &error);
            if (!answered(a, start, error.failed())) {
                return std::nullopt;
            }
            char number[64];
            std::snprintf(number, sizeof number, "%.17g", current);
            return AXValue{AXOtherValue{number}};
        }
        return std::nullopt;
    }
    if (attribute == ax::identifier) {
        if (!mayAsk(a)) {
            return std::nullopt;
        }
        ErrorSlot error;
        const auto start = Clock::now();
        std::string id = takeString(atspi_accessible_get_accessible_id(a, &error));
        if (!answered(a, start, error.failed()) || id.empty()) {
            return std::nullopt;
        }
        return AXValue{std::move(id)};
    }
    if (attribute == ax::position || attribute == ax::size) {
        const std::optional<Rect> reported = extents(a);
        if (!reported) {
            return std::nullopt;
        }
        const std::optional<AccessibleSpace> space = spaceOf(e);
        if (!space) {
            ++unanswered_; // where it lies on the screen cannot be told
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
    const std::size_t before = unanswered_;
    std::optional<AXValue> value = copyAttributeValue(ref, attribute);
    const AXError error = value                   ? AXError::success
                          : unanswered_ != before ? AXError::cannotComplete
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
