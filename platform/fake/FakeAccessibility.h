#pragma once

#include "platform/Accessibility.h"
#include "platform/Applications.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestro::platform::fake {

// An element of a tree built in the test: a name for the read log, an owning process and a
// table of attribute values.
class FakeElement final : public AXElement {
public:
    FakeElement(std::string elementName, int owner)
        : name(std::move(elementName)), processID(owner) {}

    std::string name;
    int processID = 0;
    std::map<std::string, AXValue, std::less<>> attributes;
    // Attributes whose reads go unanswered (cannotComplete).
    std::set<std::string, std::less<>> unanswered;
    // What terminalEcho() answers; of an application element, for keys with nothing focused.
    TerminalEcho echo = TerminalEcho::notATerminal;

    FakeElement& set(std::string_view attribute, AXValue value);
    // "AXPosition" and "AXSize" from one rectangle.
    FakeElement& setFrame(const Rect& frame);
    // Appends to "AXChildren" (creating it).
    FakeElement& addChild(const std::shared_ptr<FakeElement>& child);
};

// An accessibility tree in memory. Every attribute read is logged as "name.attribute".
class FakeAccessibility final : public Accessibility {
public:
    FakeAccessibility();
    // Empties every element it made: elements point at each other (children, parents, focus),
    // and the cycles would otherwise outlive the tree.
    ~FakeAccessibility() override;
    FakeAccessibility(const FakeAccessibility&) = delete;
    FakeAccessibility& operator=(const FakeAccessibility&) = delete;

    std::shared_ptr<FakeElement> element(std::string name, int processID = 0);

    // The system-wide element; give it "AXFocusedUIElement" to report a focus.
    std::shared_ptr<FakeElement> systemWideElement;
    // Application elements by process id.
    std::map<int, std::shared_ptr<FakeElement>> applicationElements;
    // What lies at a position: the last area that contains the point wins (areas added later
    // lie on top).
    std::vector<std::pair<Rect, AXElementRef>> hitAreas;
    // Off: as if accessibility were not granted; every call fails.
    bool trusted = true;
    // Processes that do not answer: every read of their elements goes unanswered.
    std::set<int> unresponsive;
    // A focus change the application has made but not yet reported: "AXFocusedUIElement" still
    // gives the old element until focusMayHaveMoved() brings it up to date, unless
    // `focusUpdateFails`, when the focus read goes unanswered instead until it can.
    AXElementRef pendingFocus;
    bool focusUpdateFails = false;
    int focusRefreshes = 0;

    std::vector<std::string> reads;
    std::vector<std::pair<float, float>> positionsAsked;

    // When set, windows are searched for secure fields through this, called with the window's
    // name on the thread that runs the search (the test keeps it safe there), in place of the
    // caller's own walk through attribute reads.
    std::function<std::optional<std::vector<Rect>>(const std::string& window)> search;

    AXElementRef systemWide() override;
    AXElementRef application(int processID) override;
    std::optional<AXValue> copyAttributeValue(const AXElementRef& element,
                                              std::string_view attribute) override;
    AXRead readAttributeValue(const AXElementRef& element, std::string_view attribute) override;
    void focusMayHaveMoved() override;
    AXElementRef elementAtPosition(const AXElementRef& root, float x, float y) override;
    int processID(const AXElementRef& element) override;
    TerminalEcho terminalEcho(const AXElementRef& element) override;
    std::unique_ptr<AXSecureFieldSearch> secureFieldSearch(const AXElementRef& window,
                                                           int maxVisited, int maxDepth) override;

private:
    bool focusStale_ = false;
    std::vector<std::weak_ptr<FakeElement>> made_;
};

// Running applications by process id, and which one is in front.
class FakeApplications final : public Applications {
public:
    std::map<int, RunningApplication> running;
    std::optional<int> frontmost;
    // A window has the keyboard and no process can be found for it.
    bool frontWindowWithoutProcess = false;

    void add(int processID, std::optional<std::string> bundleID, std::optional<std::string> name);

    std::optional<RunningApplication> frontmostApplication() override;
    FrontmostRead readFrontmostApplication() override;
    std::optional<RunningApplication> runningApplication(int processID) override;
};

} // namespace kestro::platform::fake
