#include "KestroCore/AXResolver.h"

#include "KestroBase/Text.h"

namespace kestro {

namespace ax = platform::ax;

namespace {

// A key into a terminal that does not echo may be a password: it goes to no target.
AXResolver::Focus withEcho(std::optional<AXTarget> target, platform::TerminalEcho echo) {
    if (echo == platform::TerminalEcho::silent) {
        return AXResolver::Focus{std::nullopt, true, true};
    }
    return AXResolver::Focus{std::move(target), false, false,
                             echo == platform::TerminalEcho::echoes};
}

} // namespace

AXResolver::AXResolver(platform::Accessibility& accessibility, platform::Applications& applications)
    : accessibility_(accessibility), applications_(applications) {}

std::optional<AXTarget> AXResolver::target(Point at) const {
    const ElementRef systemWide = accessibility_.systemWide();
    if (!systemWide) {
        return std::nullopt;
    }
    const ElementRef element = accessibility_.elementAtPosition(
        systemWide, static_cast<float>(at.x), static_cast<float>(at.y));
    if (!element) {
        return std::nullopt;
    }
    return makeTarget(element);
}

std::optional<AXTarget> AXResolver::focusedTarget() const {
    const ElementRef systemWide = accessibility_.systemWide();
    if (!systemWide) {
        return std::nullopt;
    }
    const ElementRef element = copyElement(systemWide, ax::focusedUIElement);
    if (!element) {
        return std::nullopt;
    }
    return makeTarget(element);
}

AXResolver::ElementRef AXResolver::frontWindow() const {
    const platform::FrontmostRead front = applications_.readFrontmostApplication();
    if (front.ownerUnknown) {
        ++unanswered_; // a window is in front whose application cannot be asked
        return nullptr;
    }
    if (!front.application) {
        return nullptr;
    }
    const ElementRef app = accessibility_.application(front.application->processIdentifier);
    if (!app) {
        // Not found over accessibility: it was never asked, so what it shows is not known.
        ++unanswered_;
        return nullptr;
    }
    ElementRef window = copyElement(app, ax::focusedWindow);
    if (!window) {
        window = copyElement(app, ax::mainWindow);
    }
    return window;
}

std::vector<Rect> AXResolver::secureFieldRects() const {
    std::optional<std::vector<Rect>> rects = readSecureFieldRects();
    return rects ? std::move(*rects) : std::vector<Rect>{};
}

std::optional<std::vector<Rect>> AXResolver::readSecureFieldRects() const {
    const std::size_t before = unanswered_;
    std::vector<Rect> rects;
    if (const ElementRef window = frontWindow()) {
        int visited = 0;
        collectSecureRects(window, rects, visited, 0);
    }
    if (unanswered_ != before) {
        return std::nullopt;
    }
    return rects;
}

AXResolver::SecureFieldReader AXResolver::secureFieldReader() const {
    using Result = std::optional<std::vector<Rect>>;
    const std::size_t before = unanswered_;
    const ElementRef window = frontWindow();
    if (unanswered_ != before) {
        return [] { return Result(); }; // which window is in front could not be read
    }
    if (!window) {
        return [] { return Result(std::vector<Rect>{}); };
    }
    std::shared_ptr<platform::AXSecureFieldSearch> search =
        accessibility_.secureFieldSearch(window, maxVisitedElements, maxDepth);
    if (search) {
        return [search] { return search->run(); };
    }
    std::vector<Rect> rects;
    int visited = 0;
    collectSecureRects(window, rects, visited, 0);
    if (unanswered_ != before) {
        return [] { return Result(); };
    }
    return [rects = std::move(rects)] { return Result(rects); };
}

AXResolver::Focus AXResolver::focusForKey(bool afterFocusMove) const {
    if (afterFocusMove) {
        accessibility_.focusMayHaveMoved();
    }
    const ElementRef systemWide = accessibility_.systemWide();
    if (!systemWide) {
        return Focus{std::nullopt, true}; // no accessibility at all: nothing can be told
    }
    const std::size_t before = unanswered_;
    const ElementRef element = copyElement(systemWide, ax::focusedUIElement);
    if (unanswered_ != before) {
        return Focus{std::nullopt, true};
    }
    if (!element) {
        // Nothing has the focus, as far as the accessibility service knows; but a window in
        // front whose application it cannot find or name was never asked, and may be reading
        // a password.
        const platform::FrontmostRead front = applications_.readFrontmostApplication();
        if (front.ownerUnknown) {
            return Focus{std::nullopt, true};
        }
        if (!front.application) {
            return Focus{};
        }
        const ElementRef app = accessibility_.application(front.application->processIdentifier);
        if (!app) {
            return Focus{std::nullopt, true};
        }
        // The application answered: nothing has the focus. A terminal of it may still take the
        // keys (an editor's terminal pane that accessibility does not show).
        return withEcho(std::nullopt, accessibility_.terminalEcho(app));
    }
    bool secrecyUnknown = false;
    AXTarget target = makeTarget(element, &secrecyUnknown);
    if (secrecyUnknown) {
        return Focus{std::nullopt, true};
    }
    // Accessibility reports a terminal as a plain text area even at a password prompt; what it
    // is typed shows only while the terminal echoes.
    return withEcho(std::move(target), accessibility_.terminalEcho(element));
}

std::optional<platform::AXValue> AXResolver::copyValue(const ElementRef& element,
                                                       std::string_view attribute) const {
    if (!element) {
        return std::nullopt;
    }
    platform::AXRead read = accessibility_.readAttributeValue(element, attribute);
    if (read.error == platform::AXError::cannotComplete) {
        ++unanswered_;
    }
    return std::move(read.value);
}

std::optional<std::string> AXResolver::copyString(const ElementRef& element,
                                                  std::string_view attribute) const {
    std::optional<platform::AXValue> value = copyValue(element, attribute);
    if (!value) {
        return std::nullopt;
    }
    if (auto* text = std::get_if<std::string>(&*value)) {
        return std::move(*text);
    }
    return std::nullopt;
}

AXResolver::ElementRef AXResolver::copyElement(const ElementRef& element,
                                               std::string_view attribute) const {
    std::optional<platform::AXValue> value = copyValue(element, attribute);
    if (!value) {
        return nullptr;
    }
    if (auto* found = std::get_if<ElementRef>(&*value)) {
        return *found;
    }
    return nullptr;
}

std::optional<Point> AXResolver::point(const ElementRef& element,
                                       std::string_view attribute) const {
    std::optional<platform::AXValue> value = copyValue(element, attribute);
    if (!value) {
        return std::nullopt;
    }
    if (auto* p = std::get_if<Point>(&*value)) {
        return *p;
    }
    return std::nullopt;
}

std::optional<Size> AXResolver::size(const ElementRef& element, std::string_view attribute) const {
    std::optional<platform::AXValue> value = copyValue(element, attribute);
    if (!value) {
        return std::nullopt;
    }
    if (auto* s = std::get_if<Size>(&*value)) {
        return *s;
    }
    return std::nullopt;
}

std::optional<Rect> AXResolver::globalFrame(const ElementRef& element) const {
    const std::optional<Point> origin = point(element, ax::position);
    if (!origin) {
        return std::nullopt;
    }
    const std::optional<Size> extent = size(element, ax::size);
    if (!extent) {
        return std::nullopt;
    }
    return Rect{*origin, *extent};
}

std::vector<AXResolver::ElementRef> AXResolver::children(const ElementRef& element) const {
    std::optional<platform::AXValue> value = copyValue(element, ax::children);
    if (!value) {
        return {};
    }
    auto* list = std::get_if<std::vector<ElementRef>>(&*value);
    if (!list) {
        return {};
    }
    for (const ElementRef& child : *list) {
        if (!child) {
            return {}; // a list that is not all elements counts as none
        }
    }
    return std::move(*list);
}

AXTarget AXResolver::makeTarget(const ElementRef& element, bool* secrecyUnknown) const {
    const std::size_t before = unanswered_;
    const std::optional<std::string> role = copyString(element, ax::role);
    const std::optional<std::string> subrole = copyString(element, ax::subrole);
    if (secrecyUnknown) {
        *secrecyUnknown = unanswered_ != before;
    }
    const bool isSecure = subrole == ax::secureTextField || role == ax::secureTextField;

    const int pid = accessibility_.processID(element);
    std::optional<platform::RunningApplication> app;
    if (pid != 0) {
        app = applications_.runningApplication(pid);
    }

    ElementRef window = copyElement(element, ax::window);
    if (!window) {
        window = copyElement(element, ax::topLevelUIElement);
    }
    std::optional<std::string> windowTitle;
    if (window) {
        windowTitle = copyString(window, ax::title);
    }

    std::optional<Rect> frameInWindow;
    if (const std::optional<Rect> frame = globalFrame(element)) {
        const std::optional<Rect> windowFrame = window ? globalFrame(window) : std::nullopt;
        if (windowFrame) {
            frameInWindow = Rect::make(frame->origin.x - windowFrame->origin.x,
                                       frame->origin.y - windowFrame->origin.y, frame->size.width,
                                       frame->size.height);
        } else {
            frameInWindow = frame;
        }
    }

    AXTarget target;
    if (app) {
        target.appBundleID = app->bundleIdentifier;
        target.appName = app->localizedName;
    }
    target.windowTitle = windowTitle;
    target.axRole = role;
    target.axSubrole = subrole;
    target.axTitle = copyString(element, ax::title);
    if (!isSecure) {
        // A text area's value is its whole document; it would be copied into every stored
        // target and every line of the model's prompt.
        if (std::optional<std::string> value = copyString(element, ax::value)) {
            target.axValue = text::prefixScalars(*value, maxValueScalars);
        }
    }
    target.axIdentifier = copyString(element, ax::identifier);
    target.frameInWindow = frameInWindow;
    target.isSecure = isSecure;
    return target;
}

void AXResolver::collectSecureRects(const ElementRef& element, std::vector<Rect>& into,
                                    int& visited, int depth) const {
    if (visited >= maxVisitedElements || depth >= maxDepth) {
        return;
    }
    ++visited;
    bool secure = copyString(element, ax::subrole) == ax::secureTextField;
    if (!secure) {
        secure = copyString(element, ax::role) == ax::secureTextField;
    }
    if (secure) {
        if (const std::optional<Rect> frame = globalFrame(element)) {
            into.push_back(*frame);
        }
        return;
    }
    for (const ElementRef& child : children(element)) {
        collectSecureRects(child, into, visited, depth + 1);
    }
}

} // namespace kestro
