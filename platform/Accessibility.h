#pragma once

#include "KestroBase/Geometry.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kestro::platform {

// One user-interface element as the accessibility service sees it: the system-wide element,
// an application, a window or anything inside one. Backends subclass it; holders keep it alive
// for as long as they need it and nothing else.
class AXElement {
public:
    virtual ~AXElement() = default;
};
using AXElementRef = std::shared_ptr<const AXElement>;

// The value of one attribute. Besides text, elements, a position, a size and a list of
// elements, a backend reports other kinds (numbers, flags) as `AXOtherValue`, so that a reader
// expecting another kind sees a value of the wrong type.
struct AXOtherValue {
    std::string description;
    friend bool operator==(const AXOtherValue&, const AXOtherValue&) = default;
};
using AXValue =
    std::variant<std::string, AXElementRef, Point, Size, std::vector<AXElementRef>, AXOtherValue>;

// Attribute names, read exactly as written.
namespace ax {
inline constexpr std::string_view role = "AXRole";
inline constexpr std::string_view subrole = "AXSubrole";
inline constexpr std::string_view title = "AXTitle";
inline constexpr std::string_view value = "AXValue";
inline constexpr std::string_view identifier = "AXIdentifier";
inline constexpr std::string_view position = "AXPosition"; // Point, global points
inline constexpr std::string_view size = "AXSize";         // Size, points
inline constexpr std::string_view window = "AXWindow";
inline constexpr std::string_view topLevelUIElement = "AXTopLevelUIElement";
inline constexpr std::string_view children = "AXChildren";
inline constexpr std::string_view focusedUIElement = "AXFocusedUIElement"; // system-wide
inline constexpr std::string_view focusedWindow = "AXFocusedWindow";       // application
inline constexpr std::string_view mainWindow = "AXMainWindow";             // application

inline constexpr std::string_view secureTextField = "AXSecureTextField";
} // namespace ax

// A search of one window for its secure text fields, made on the main thread and run once, later,
// on any one thread (the backend's own connections, none of the main thread's).
class AXSecureFieldSearch {
public:
    virtual ~AXSecureFieldSearch() = default;
    // Global frames of the secure text fields (role or subrole "AXSecureTextField"), in the
    // order a depth-first walk from the window finds them, with the limits it was made with,
    // placed where the window lies when this runs; a field gone since it was found adds
    // nothing. Nothing when the tree could not be read (the application stopped answering, the
    // bus went away) or a field's place cannot be told (its extents say nothing usable, its
    // window is no longer found by its place): the caller cannot tell what to hide. Waits a
    // bounded time.
    virtual std::optional<std::vector<Rect>> run() = 0;
};

// How a read ended.
enum class AXError {
    success,
    // The element answered: it has no such value.
    noValue,
    // No answer could be had: the application did not answer in time, is being left alone after
    // not answering, went away, or (for the focus) could not be brought up to date with the
    // input before the read.
    cannotComplete,
};

struct AXRead {
    std::optional<AXValue> value;
    AXError error = AXError::noValue;
};

// What a terminal does with the keys typed into it. Accessibility reports a terminal as an
// ordinary text area whatever reads its keys; a password prompt turns its echo off instead.
enum class TerminalEcho {
    notATerminal,
    // What is typed shows on its screen as typed: echo is on for every terminal device it drives.
    echoes,
    // Echo is off on one of them (a password prompt, or a program drawing the screen itself), or
    // it could not be read.
    silent,
};

// The accessibility interface: elements read by attribute name. Positions are global points
// (origin at the top-left of the main display, y downwards). Every call may block while the
// owning application answers; backends bound that wait. Main thread only.
class Accessibility {
public:
    virtual ~Accessibility() = default;

    // The element that stands for the whole desktop; it answers "AXFocusedUIElement".
    virtual AXElementRef systemWide() = 0;
    // The element of the application with that process id; it answers "AXFocusedWindow" and
    // "AXMainWindow". Null when there is no such application.
    virtual AXElementRef application(int processID) = 0;

    // The attribute's value, or nothing when the read does not succeed.
    virtual std::optional<AXValue> copyAttributeValue(const AXElementRef& element,
                                                      std::string_view attribute) = 0;
    // The same read, saying why nothing came. The default suits a backend whose reads fail only
    // by there being no value.
    virtual AXRead readAttributeValue(const AXElementRef& element, std::string_view attribute) {
        std::optional<AXValue> value = copyAttributeValue(element, attribute);
        const AXError error = value ? AXError::success : AXError::noValue;
        return AXRead{std::move(value), error};
    }
    // Input that may move the keyboard focus was seen (a button press, a key that types no
    // text). The next read of "AXFocusedUIElement" must reflect it: a backend that learns of
    // focus changes from notifications asks the application afresh, once the application has
    // handled that input, and answers cannotComplete while it cannot make sure of that.
    virtual void focusMayHaveMoved() {}
    // The deepest element at a global position, asked of `root` (the system-wide element or an
    // application); null when none lies there or the call fails.
    virtual AXElementRef elementAtPosition(const AXElementRef& root, float x, float y) = 0;
    // The process that owns the element; 0 when it cannot be read.
    virtual int processID(const AXElementRef& element) = 0;
    // Whether the element is a terminal, or part of an application that drives one (itself or
    // through a process it started), and if so whether it echoes now. Given an application
    // element, whether that application drives one. Cheap: it asks the system, not the
    // application. The default suits a backend that knows no terminals.
    virtual TerminalEcho terminalEcho(const AXElementRef& element) {
        (void)element;
        return TerminalEcho::notATerminal;
    }

    // A search of `window` for secure text fields, run later off the main thread: depth first,
    // children in order, the window at depth 0, at most `maxVisited` elements visited and none
    // at `maxDepth` or deeper, a secure field's children never searched. Null when the backend
    // has no such search (the caller then walks the attributes itself, on the main thread).
    virtual std::unique_ptr<AXSecureFieldSearch> secureFieldSearch(const AXElementRef& window,
                                                                   int maxVisited, int maxDepth) {
        (void)window;
        (void)maxVisited;
        (void)maxDepth;
        return nullptr;
    }
};

} // namespace kestro::platform
