#pragma once

#include "platform/Accessibility.h"
#include "platform/linux/AccessibleSpace.h"
#include "platform/linux/X11ClientSync.h"
#include "platform/linux/X11Windows.h"
#include "platform/linux/XConnection.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

typedef struct _AtspiAccessible AtspiAccessible;
typedef struct _AtspiEvent AtspiEvent;
typedef struct _AtspiEventListener AtspiEventListener;

namespace kestro::platform::linux_x11 {

class AtspiGuard;
class AtspiSearchLink;

// The accessibility interface on AT-SPI2 (libatspi), with X11 for what AT-SPI cannot say: which
// window lies on top at a point (the stacking order) and which window has the keyboard.
//
// - Element at a point: the topmost mapped top-level X window there, its process's AT-SPI
//   application, that application's window at the point, then deeper children at the point
//   until none is found. A window whose application has no accessibility tree (or is this
//   process, or does not answer) is still an element: role "AXWindow", its title and frame.
// - Focused element: the last element that reported gaining the focus, while the application
//   in front says afresh that it still has it; else a search of the front window for it, each
//   element's state asked afresh. After input that may have moved the focus, the application is
//   first made to handle that input (X11ClientSync); when it cannot be, or does not answer, the
//   read goes unanswered rather than giving an element from before.
// - Roles translated by one table (AtspiRoles.h); AXValue is the text of a text element (at most
//   its first 4096 characters) or, for a value element, a number (not text); an empty name
//   counts as no title; positions are global points, as the input reports them.
// - Positions are read in whatever space the application reports them (root pixels, relative to
//   its window, logical pixels of a scale factor) and brought to root pixels by matching the
//   element's accessible window to its X window (AccessibleSpace.h); points asked about go the
//   other way. Where the match cannot be made the position goes unanswered.
// - Every call waits at most the configured time-out (200 ms). An application that lets a call
//   time out is not asked again for a short while, so a hung application costs one time-out,
//   not one per attribute. This process's own tree is never asked (it could not answer while
//   its main thread waits): its elements carry only their process.
//
// - Secure-field searches run off the main thread on a bus connection of their own, each level
//   of the window's tree asked at once (AtspiSecureFieldSearch.h).
//
// Main thread only (the searches it makes excepted): libatspi is not thread-safe, and the focus
// events arrive through the GLib main context, which the main loop must run. libatspi is set up
// once per process, on the accessibility bus of the session it first finds, and stays so.
class AtspiAccessibility final : public Accessibility {
public:
    struct Options {
        int ownProcessID = 0; // 0: this process
        int timeoutMilliseconds = 200;
        double unresponsiveSeconds = 2.0;
        // The most one secure-field search may take, all its calls together, and one of its
        // calls (off the main thread, so longer than a look-up's: a Qt window lists thousands
        // of children slowly).
        int searchMilliseconds = 5000;
        int searchCallMilliseconds = 2000;
    };

    AtspiAccessibility();
    explicit AtspiAccessibility(Options options, const char* displayName = nullptr);
    ~AtspiAccessibility() override;
    AtspiAccessibility(const AtspiAccessibility&) = delete;
    AtspiAccessibility& operator=(const AtspiAccessibility&) = delete;

    // The accessibility bus and the X display answered at start.
    bool ok() const { return ok_; }

    // The toolkit's name of the application of that process, when it has an accessibility tree.
    std::optional<std::string> applicationName(int processID);

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

    // The most children one element reports, and the most characters of a text value read.
    static constexpr int maxChildren = 4000;
    static constexpr int maxTextCharacters = 4096;

private:
    class Element;

    static void onFocusEvent(AtspiEvent* event, void* self);
    static void onChangeEvent(AtspiEvent* event, void* unused);

    // Elements.
    AXElementRef wrap(AtspiAccessible* accessible); // takes the reference
    // Known to lie in that space, or found in that X window.
    AXElementRef wrap(AtspiAccessible* accessible, std::optional<AccessibleSpace> space,
                      std::optional<TopLevel> seenIn);
    // An element of the same window as `like`: its space and window carry over.
    AXElementRef wrapLike(AtspiAccessible* accessible, const Element& like);
    // Takes the reference; the caller sets its space and window.
    std::shared_ptr<Element> accessibleElement(AtspiAccessible* accessible);
    AXElementRef windowElement(const TopLevel& window);
    const Element* element(const AXElementRef& ref) const;

    // Plain reads; each is one call at most, nothing when it fails.
    std::optional<int> role(AtspiAccessible* accessible);
    std::optional<std::string> accessibleName(AtspiAccessible* accessible);
    std::optional<std::vector<int>> states(AtspiAccessible* accessible);
    bool hasState(AtspiAccessible* accessible, int state);
    AtspiAccessible* parent(AtspiAccessible* accessible);
    std::vector<AtspiAccessible*> childList(AtspiAccessible* accessible, int limit);
    std::optional<Rect> extents(AtspiAccessible* accessible); // as the application reports them
    AtspiAccessible* childAtPoint(AtspiAccessible* accessible, int x, int y);
    AtspiAccessible* childContaining(AtspiAccessible* accessible, int x, int y);

    // Derived answers.
    AtspiAccessible* applicationOf(int processID); // a new reference, or null
    AtspiAccessible* topLevelOf(AtspiAccessible* accessible);
    // The application's accessible window that is that X window, and how its positions lie;
    // ambiguous when several could be and nothing tells them apart.
    struct WindowMatch {
        AtspiAccessible* window = nullptr; // a new reference
        std::optional<AccessibleSpace> space;
        bool ambiguous = false;
    };
    WindowMatch windowFor(AtspiAccessible* app, const TopLevel& window);
    // Of the accessible windows that map onto the X window titled `title`, the one it is; the
    // application's word on which is active counts when `activeDecides`.
    std::optional<std::size_t>
    pickWindow(const std::vector<std::pair<AtspiAccessible*, AccessibleSpace>>& found,
               const std::function<std::optional<std::string>()>& title, bool activeDecides,
               bool& ambiguous);
    // Where the element's positions lie in root pixels; nothing when its window cannot be
    // matched to an X window.
    std::optional<AccessibleSpace> spaceOf(const Element& e);
    // The same, with the X window and the accessible window (its object path) it was matched
    // by: read afresh, unless both were told when the element was found.
    struct Placement {
        AccessibleSpace space;
        TopLevel window;
        std::string windowPath;
    };
    std::optional<Placement> placementOf(const Element& e);
    AXElementRef focusedElement();
    AXElementRef searchFocus(AtspiAccessible* app, const TopLevel& front);
    // The state bits the element reports now, bypassing what libatspi keeps from notifications.
    std::optional<std::vector<int>> statesNow(AtspiAccessible* accessible);
    bool syncWith(const TopLevel& front);
    AXElementRef focusedWindow(const Element& app);
    AXElementRef mainWindow(const Element& app);
    std::optional<AXValue> readAccessible(const Element& e, std::string_view attribute);

    Options options_;
    bool ok_ = false;
    XConnection x_;
    RootOrigin origin_;
    AtspiEventListener* listener_ = nullptr;
    AtspiEventListener* cacheListener_ = nullptr;
    std::map<int, AtspiAccessible*> applications_; // by process, each one reference
    AtspiAccessible* focus_ = nullptr;
    // Input may have moved the focus since it was last found.
    bool focusStale_ = true;
    std::unique_ptr<X11ClientSync> clientSync_;
    // Every call into an application goes through it.
    std::unique_ptr<AtspiGuard> guard_;
    std::shared_ptr<AtspiSearchLink> searchLink_;
};

} // namespace kestro::platform::linux_x11
