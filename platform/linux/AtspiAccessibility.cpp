#include "platform/linux/AtspiAccessibility.h"

#include "platform/linux/AccessibleSpace.h"
#include "platform/linux/AtspiCalls.h"
#include "platform/linux/AtspiElement.h"
#include "platform/linux/AtspiSecureFieldSearch.h"
#include "platform/linux/AtspiWindows.h"
#include "platform/linux/TerminalEcho.h"
#include "platform/linux/X11Windows.h"

#include <atspi/atspi.h>
#include <unistd.h>

#include <chrono>

namespace kestro::platform::linux_x11 {

namespace {

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

AtspiAccessibility::AtspiAccessibility() : AtspiAccessibility(Options{}) {}

AtspiAccessibility::AtspiAccessibility(Options options, const char* displayName)
    : options_(options), x_(displayName) {
    if (options_.ownProcessID == 0) {
        options_.ownProcessID = static_cast<int>(::getpid());
    }
    guard_ = std::make_unique<AtspiGuard>(options_.ownProcessID, options_.timeoutMilliseconds,
                                          options_.unresponsiveSeconds);
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
        searchLink_ = std::make_shared<AtspiSearchLink>(
            accessibilityBusAddress(x_), options_.searchCallMilliseconds, displayName);
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

std::shared_ptr<AtspiAccessibility::Element>
AtspiAccessibility::accessibleElement(AtspiAccessible* accessible) {
    const int pid = guard_->processOf(accessible);
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
        if (app && !childError.failed() && guard_->processOf(app.get()) == pid) {
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
    if (!app) {
        return std::nullopt;
    }
    std::optional<std::string> name = accessibleName(app.get());
    if (!name || name->empty()) {
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
    if (!e) {
        return TerminalEcho::notATerminal;
    }
    // An application is asked when nothing in it has the focus: it has no role of its own.
    bool terminalRole = false;
    if (e->kind == Element::Kind::accessible && e->accessible) {
        // An unanswered role read may hide a terminal.
        const std::optional<int> r = role(e->accessible);
        terminalRole = !r || *r == ATSPI_ROLE_TERMINAL;
    } else if (e->kind != Element::Kind::application) {
        return TerminalEcho::notATerminal;
    }
    if (e->processID <= 0) {
        return terminalRole ? TerminalEcho::silent : TerminalEcho::notATerminal;
    }
    // Besides terminals proper, an application whose process or a helper of it holds a
    // pseudo-terminal may show one in any widget (an editor's terminal pane). A process of it
    // that cannot be read may hold one.
    const std::optional<std::vector<int>> terminals = treeTerminals(e->processID);
    if (!terminalRole && terminals && terminals->empty()) {
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
    if (!bus || !path || !guard_->mayAsk(e->accessible)) {
        return std::make_unique<KnownSearch>(std::nullopt); // left alone for not answering
    }
    // Which X window it is; where that lies is read again when the search runs.
    const std::optional<Placement> place = placementOf(*e);
    if (!place) {
        return std::make_unique<KnownSearch>(std::nullopt); // where its fields lie is not known
    }
    // Frames in global points, as the attribute reads give them.
    return std::make_unique<AtspiSecureFieldSearch>(
        searchLink_,
        AtspiSecureFieldSearch::Start{.bus = bus,
                                      .path = path,
                                      .windowPath = place->windowPath,
                                      .window = place->window,
                                      .originX = origin_.x,
                                      .originY = origin_.y},
        maxVisited, maxDepth, std::chrono::milliseconds(options_.searchMilliseconds));
}

} // namespace kestro::platform::linux_x11
