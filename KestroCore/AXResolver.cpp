#include "KestroCore/AXResolver.h"

#include "KestroBase/Text.h"

namespace kestro {

namespace ax = platform::ax;

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
    const std::optional<platform::RunningApplication> front = applications_.frontmostApplication();
    if (!front) {
        return nullptr;
    }
    const ElementRef app = accessibility_.application(front->processIdentifier);
    if (!app) {
        return nullptr;
    }
    ElementRef window = copyElement(app, ax::focusedWindow);
    if (!window) {
        window = copyElement(app, ax::mainWindow);
    }
    return window;
}

std::vector<Rect> AXResolver::secureFieldRects() const {
    std::vector<Rect> rects;
    const ElementRef window = frontWindow();
    if (!window) {
        return rects;
    }
    int visited = 0;
    collectSecureRects(window, rects, visited, 0);
    return rects;
}

AXResolver::SecureFieldReader AXResolver::secureFieldReader() const {
    const ElementRef window = frontWindow();
    if (!window) {
        return [] { return std::optional<std::vector<Rect>>(std::vector<Rect>{}); };
    }
    std::shared_ptr<platform::AXSecureFieldSearch> search =
        accessibility_.secureFieldSearch(window, maxVisitedElements, maxDepth);
    if (search) {
        return [search] { return search->run(); };
    }
    std::vector<Rect> rects;
    int visited = 0;
    collectSecureRects(window, rects, visited, 0);
    return [rects = std::move(rects)] { return std::optional<std::vector<Rect>>(rects); };
}

std::optional<platform::AXValue> AXResolver::copyValue(const ElementRef& element,
                                                       std::string_view attribute) const {
    if (!element) {
        return std::nullopt;
    }
    return accessibility_.copyAttributeValue(element, attribute);
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

AXTarget AXResolver::makeTarget(const ElementRef& element) const {
    const std::optional<std::string> role = copyString(element, ax::role);
    const std::optional<std::string> subrole = copyString(element, ax::subrole);
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
