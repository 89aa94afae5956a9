#pragma once

#include "platform/Accessibility.h"
#include "platform/linux/AccessibleSpace.h"
#include "platform/linux/X11Windows.h"
#include "platform/linux/XConnection.h"

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

typedef struct DBusConnection DBusConnection;
typedef struct DBusMessage DBusMessage;

namespace kestro::platform::linux_x11 {

// Where the accessibility bus listens: $AT_SPI_BUS_ADDRESS, else the root window's "AT_SPI_BUS"
// property, else what the session bus's launcher says. Empty when none is found.
std::string accessibilityBusAddress(const XConnection& x);

// A connection of its own to the accessibility bus, for searches off the main thread (libatspi's
// connection belongs to the main thread's GLib context). Opened at first use and again after
// it was lost; one search at a time uses it, with an X connection of its own for where the
// window lies when the search runs (made here, on the thread that makes the link).
class AtspiSearchLink {
public:
    AtspiSearchLink(std::string address, int timeoutMilliseconds,
                    const char* displayName = nullptr);
    ~AtspiSearchLink();
    AtspiSearchLink(const AtspiSearchLink&) = delete;
    AtspiSearchLink& operator=(const AtspiSearchLink&) = delete;

private:
    friend class AtspiSecureFieldSearch;
    DBusConnection* connection(); // with mutex held; null when the bus cannot be reached

    const std::string address_;
    const int timeoutMilliseconds_;
    std::mutex mutex_;
    DBusConnection* connection_ = nullptr;
    XConnection x_;
    // Whether the application with that bus name answers a search for roles in one call.
    std::map<std::string, bool, std::less<>> collections_;
};

// The secure text fields below one window, read over the accessibility bus in a few round trips
// instead of one per attribute:
// - an application that answers the Collection interface is asked once for its password fields
//   (it searches the whole window, past the walk's limits: it hides more, never less);
// - others are walked a level at a time, every call of a level sent at once (role and
//   children of each element), keeping only the elements the depth-first walk with its limits
//   would reach;
// then the extents of the fields found and of their window, all at once, brought onto where its
// X window lies at that moment. Only D-Bus answers that say the element or interface is missing
// count as absent values (such a field adds nothing); a time-out, a lost bus, an application
// gone, extents that say nothing usable, or a window no longer found by its place count as a
// tree that could not be read.
class AtspiSecureFieldSearch final : public AXSecureFieldSearch {
public:
    struct Start {
        std::string bus;        // the application's unique name on the bus
        std::string path;       // the object path of the element searched from
        std::string windowPath; // ... and of its top-level window
        TopLevel window;        // the X window that one was found to be
        int originX = 0;        // root pixels of the global origin
        int originY = 0;
    };

    AtspiSecureFieldSearch(std::shared_ptr<AtspiSearchLink> link, Start start, int maxVisited,
                           int maxDepth, std::chrono::milliseconds limit);

    std::optional<std::vector<Rect>> run() override;

    // Children of one element beyond this many are not searched.
    static constexpr int maxChildren = 4000;

private:
    struct Node;
    using Clock = std::chrono::steady_clock;

    std::optional<std::vector<Rect>> walk(DBusConnection* c, Clock::time_point deadline);
    std::optional<std::vector<Rect>> matches(DBusConnection* c, Clock::time_point deadline);
    std::optional<bool> answersCollection(DBusConnection* c, Clock::time_point deadline);
    std::optional<std::vector<Rect>> frames(DBusConnection* c, const std::vector<Node>& fields,
                                            Clock::time_point deadline);

    std::shared_ptr<AtspiSearchLink> link_;
    Start start_;
    int maxVisited_;
    int maxDepth_;
    std::chrono::milliseconds limit_;
};

// What one GetExtents answer gives as the application reports it: nothing unless it is four
// integers with a size (toolkits say -1 for extents they do not know).
std::optional<Rect> reportedExtents(DBusMessage* reply);

// The boxes of secure fields in global points, from what their window (`window`) and they
// (`fields`) report and the rectangles the window's X window has (`windowRects`, root pixels,
// as read at the same moment). Nothing when the window is not that X window by its place, or a
// field has no usable extents: a box is never placed by a guess.
std::optional<std::vector<Rect>> fieldBoxes(const std::optional<Rect>& window,
                                            const std::vector<Rect>& windowRects,
                                            const std::vector<std::optional<Rect>>& fields,
                                            RootOrigin origin);

} // namespace kestro::platform::linux_x11
