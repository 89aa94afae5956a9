#pragma once

#include "KestroBase/Geometry.h"
#include "KestroCore/AXTarget.h"
#include "platform/Accessibility.h"
#include "platform/Applications.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestro {

// Answers the recorder's three accessibility questions: the element under a point, the focused
// element, and where the secure text fields of the front window lie. Caches nothing: every call
// asks the platform afresh. Nothing is thrown or logged; every
// failure gives an absent value. Positions are global points. Main thread only, like the
// platform services it reads; they must outlive the resolver.
class AXResolver {
public:
    // The secure-field walk visits at most this many elements ...
    static constexpr int maxVisitedElements = 4000;
    // ... and never goes this deep (the window is depth 0).
    static constexpr int maxDepth = 30;
    // A text area's value is its whole document: only this many Unicode scalars are kept.
    static constexpr std::size_t maxValueScalars = 500;

    AXResolver(platform::Accessibility& accessibility, platform::Applications& applications);

    // The element at a global point.
    std::optional<AXTarget> target(Point at) const;
    // The element with the keyboard focus.
    std::optional<AXTarget> focusedTarget() const;
    // Global frames of the secure text fields in the front application's focused window (else
    // its main window), in the order a depth-first walk finds them, read attribute by attribute
    // on this thread.
    std::vector<Rect> secureFieldRects() const;
    // The same, or nothing when the window or part of it could not be read (the application did
    // not answer, or is not found over accessibility): then where its secure fields lie is not
    // known. An application that answers that it has no window gives the empty list.
    std::optional<std::vector<Rect>> readSecureFieldRects() const;

    // The focused element for a key press.
    struct Focus {
        std::optional<AXTarget> target;
        // Whether the key went into a secure field cannot be told: the lookup failed, timed out
        // or could not be brought up to date with the input before the key, or the application
        // in front is not found over accessibility; or the focus is a terminal that does not
        // echo (or whose echo cannot be read).
        bool unknown = false;
        // Of those, a terminal that does not echo.
        bool silentTerminal = false;
        // A terminal that echoed when asked.
        bool echoingTerminal = false;
    };
    // `afterFocusMove`: input since the last lookup (a press, a key that types no text) may have
    // moved the focus, so the application is asked afresh rather than trusted from before.
    Focus focusForKey(bool afterFocusMove) const;

    // The same frames, read when the reader is called, on any thread; nothing when they could
    // not be read, the choice of window included. The window is chosen now. Where the platform can
    // search a window off the main thread the fields are read only then, so they are as recent as
    // the call; otherwise they are walked now and the reader hands them over.
    using SecureFieldReader = std::function<std::optional<std::vector<Rect>>()>;
    SecureFieldReader secureFieldReader() const;

private:
    using ElementRef = platform::AXElementRef;

    std::optional<platform::AXValue> copyValue(const ElementRef& element,
                                               std::string_view attribute) const;
    std::optional<std::string> copyString(const ElementRef& element,
                                          std::string_view attribute) const;
    ElementRef copyElement(const ElementRef& element, std::string_view attribute) const;
    std::optional<Point> point(const ElementRef& element, std::string_view attribute) const;
    std::optional<Size> size(const ElementRef& element, std::string_view attribute) const;
    std::optional<Rect> globalFrame(const ElementRef& element) const;
    std::vector<ElementRef> children(const ElementRef& element) const;
    // `secrecyUnknown`, when given, learns whether the reads that decide isSecure went unanswered.
    AXTarget makeTarget(const ElementRef& element, bool* secrecyUnknown = nullptr) const;
    ElementRef frontWindow() const;
    void collectSecureRects(const ElementRef& element, std::vector<Rect>& into, int& visited,
                            int depth) const;

    platform::Accessibility& accessibility_;
    platform::Applications& applications_;
    // Reads that went unanswered so far; a lookup compares it before and after.
    mutable std::size_t unanswered_ = 0;
};

} // namespace kestro
