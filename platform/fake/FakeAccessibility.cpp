#include "platform/fake/FakeAccessibility.h"

#include <utility>

namespace kestro::platform::fake {

FakeElement& FakeElement::set(std::string_view attribute, AXValue value) {
    attributes.insert_or_assign(std::string(attribute), std::move(value));
    return *this;
}

FakeElement& FakeElement::setFrame(const Rect& frame) {
    set(ax::position, frame.origin);
    set(ax::size, frame.size);
    return *this;
}

FakeElement& FakeElement::addChild(const std::shared_ptr<FakeElement>& child) {
    auto it = attributes.find(ax::children);
    if (it == attributes.end() || !std::holds_alternative<std::vector<AXElementRef>>(it->second)) {
        it = attributes.insert_or_assign(std::string(ax::children), std::vector<AXElementRef>{})
                 .first;
    }
    std::get<std::vector<AXElementRef>>(it->second).push_back(child);
    return *this;
}

FakeAccessibility::FakeAccessibility() {
    // Made in the body: element() records what it makes, and that list is built only now.
    systemWideElement = element("systemWide");
}

FakeAccessibility::~FakeAccessibility() {
    for (const std::weak_ptr<FakeElement>& made : made_) {
        if (auto element = made.lock()) {
            element->attributes.clear();
        }
    }
}

std::shared_ptr<FakeElement> FakeAccessibility::element(std::string name, int processID) {
    auto made = std::make_shared<FakeElement>(std::move(name), processID);
    made_.push_back(made);
    return made;
}

AXElementRef FakeAccessibility::systemWide() {
    return trusted ? systemWideElement : nullptr;
}

AXElementRef FakeAccessibility::application(int processID) {
    if (!trusted) {
        return nullptr;
    }
    auto it = applicationElements.find(processID);
    return it == applicationElements.end() ? nullptr : it->second;
}

std::optional<AXValue> FakeAccessibility::copyAttributeValue(const AXElementRef& element,
                                                             std::string_view attribute) {
    return readAttributeValue(element, attribute).value;
}

AXRead FakeAccessibility::readAttributeValue(const AXElementRef& element,
                                             std::string_view attribute) {
    const auto* fake = dynamic_cast<const FakeElement*>(element.get());
    if (!fake) {
        return {};
    }
    reads.push_back(fake->name + "." + std::string(attribute));
    if (!trusted) {
        return {};
    }
    if (unresponsive.count(fake->processID) || fake->unanswered.count(attribute)) {
        return AXRead{std::nullopt, AXError::cannotComplete};
    }
    if (fake == systemWideElement.get() && attribute == ax::focusedUIElement && focusStale_) {
        if (focusUpdateFails) {
            return AXRead{std::nullopt, AXError::cannotComplete};
        }
        focusStale_ = false;
        if (pendingFocus) {
            systemWideElement->set(ax::focusedUIElement, std::exchange(pendingFocus, nullptr));
        }
    }
    auto it = fake->attributes.find(attribute);
    if (it == fake->attributes.end()) {
        return AXRead{std::nullopt, AXError::noValue};
    }
    if (auto* e = std::get_if<AXElementRef>(&it->second);
        e && *e && unresponsive.count(processID(*e))) {
        return AXRead{std::nullopt, AXError::cannotComplete};
    }
    return AXRead{it->second, AXError::success};
}

void FakeAccessibility::focusMayHaveMoved() {
    ++focusRefreshes;
    focusStale_ = true;
}

AXElementRef FakeAccessibility::elementAtPosition(const AXElementRef&, float fx, float fy) {
    positionsAsked.emplace_back(fx, fy);
    const double x = fx, y = fy;
    if (!trusted) {
        return nullptr;
    }
    for (auto it = hitAreas.rbegin(); it != hitAreas.rend(); ++it) {
        const Rect& r = it->first;
        if (x >= r.origin.x && x < r.origin.x + r.size.width && y >= r.origin.y &&
            y < r.origin.y + r.size.height) {
            return it->second;
        }
    }
    return nullptr;
}

namespace {
class FakeSearch final : public AXSecureFieldSearch {
public:
    FakeSearch(std::function<std::optional<std::vector<Rect>>(const std::string&)> search,
               std::string window)
        : search_(std::move(search)), window_(std::move(window)) {}
    std::optional<std::vector<Rect>> run() override { return search_(window_); }

private:
    std::function<std::optional<std::vector<Rect>>(const std::string&)> search_;
    std::string window_;
};
} // namespace

std::unique_ptr<AXSecureFieldSearch>
FakeAccessibility::secureFieldSearch(const AXElementRef& window, int, int) {
    const auto* fake = dynamic_cast<const FakeElement*>(window.get());
    if (!search || !fake) {
        return nullptr;
    }
    return std::make_unique<FakeSearch>(search, fake->name);
}

int FakeAccessibility::processID(const AXElementRef& element) {
    const auto* fake = dynamic_cast<const FakeElement*>(element.get());
    return fake && trusted ? fake->processID : 0;
}

TerminalEcho FakeAccessibility::terminalEcho(const AXElementRef& element) {
    const auto* fake = dynamic_cast<const FakeElement*>(element.get());
    if (!fake) {
        return TerminalEcho::notATerminal;
    }
    reads.push_back(fake->name + ".echo");
    return fake->echo;
}

void FakeApplications::add(int processID, std::optional<std::string> bundleID,
                           std::optional<std::string> name) {
    running[processID] = RunningApplication{processID, std::move(bundleID), std::move(name)};
}

std::optional<RunningApplication> FakeApplications::frontmostApplication() {
    return readFrontmostApplication().application;
}

FrontmostRead FakeApplications::readFrontmostApplication() {
    if (frontWindowWithoutProcess) {
        return {std::nullopt, true};
    }
    if (!frontmost) {
        return {};
    }
    std::optional<RunningApplication> app = runningApplication(*frontmost);
    const bool unknown = !app;
    return {std::move(app), unknown};
}

std::optional<RunningApplication> FakeApplications::runningApplication(int processID) {
    auto it = running.find(processID);
    if (it == running.end()) {
        return std::nullopt;
    }
    return it->second;
}

} // namespace kestro::platform::fake
