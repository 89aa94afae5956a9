#pragma once

#include "KestroBase/Image.h"

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

using Display = struct _XDisplay;

namespace kestro::testing::e2e {

// A window on the test's display as a person would see it: root coordinates, whatever window
// manager frame it sits in.
struct XWindow {
    unsigned long id = 0;
    unsigned long parent = 0;
    std::string title;
    long pid = -1;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool viewable = false;
    bool overrideRedirect = false;

    int right() const { return x + width; }
    int centreX() const { return x + width / 2; }
    int centreY() const { return y + height / 2; }
};

// The test's own connection to its display: XTest input as a person would give it, the windows
// on screen, and screenshots.
class XDesk {
public:
    explicit XDesk(const std::string& display);
    ~XDesk();
    XDesk(const XDesk&) = delete;
    XDesk& operator=(const XDesk&) = delete;

    bool ok() const { return display_ != nullptr; }
    Display* display() const { return display_; }
    int rootWidth() const;
    int rootHeight() const;

    // Paints the root in one colour and publishes it as the root pixmap (_XROOTPMAP_ID), as
    // desktops do for their wallpaper, so that a compositing manager paints it too. Lasts as
    // long as this connection.
    void setBackground(int r, int g, int b);

    // Keys by their X names ("Control_L", "slash", "Escape", "Return", "a").
    void press(const std::string& keysym);
    void release(const std::string& keysym);
    void tap(const std::string& keysym);
    // Pressed in order, released in reverse: {"Control_L", "slash"}.
    void chord(const std::vector<std::string>& keysyms);
    // Two Control taps 60 ms apart, well inside the double-tap window.
    void doubleTapControl();
    // Printable ASCII, with Shift where the keyboard map needs it.
    void type(const std::string& text, int pauseMs = 15);

    void moveTo(int x, int y);
    void click(int x, int y, int button = 1);

    // Every window with a title or a process id, depth first from the root.
    std::vector<XWindow> windows();
    // The viewable windows titled `title` (of `pid`, unless -1).
    std::vector<XWindow> find(const std::string& title, long pid = -1);
    std::optional<XWindow> findOne(const std::string& title, long pid = -1);
    // The windows of `pid` inside a window of `hostPid` (such as an icon docked in a tray).
    std::vector<XWindow> windowsInside(long hostPid, long pid);
    // The process id a window carries, or -1.
    long windowPid(unsigned long window);
    // The window that has the keyboard focus (a client window, not a manager frame), or 0.
    unsigned long focusWindow();
    // The window's parent, or 0 for the root and for a window gone.
    unsigned long parentOf(unsigned long window);
    // The owner of a selection such as "_NET_SYSTEM_TRAY_S0", or 0.
    unsigned long selectionOwner(const std::string& name);
    // Whether clicks pass through the window (its input shape is empty).
    bool inputShapeEmpty(unsigned long window);
    // The extents of the window's bounding shape, in its own coordinates.
    struct Extents {
        int x = 0, y = 0, width = 0, height = 0;
    };
    std::optional<Extents> boundingShape(unsigned long window);

    // What the screen shows now, in RGBA.
    Image grab(int x, int y, int width, int height);
    Image grabScreen() { return grab(0, 0, rootWidth(), rootHeight()); }

    // Before the test kills the server: the connection is left as it is from then on, never
    // closed.
    void abandon() { lost_ = true; }

private:
    unsigned int keycode(const std::string& keysym);
    void walk(unsigned long window, unsigned long parent, int originX, int originY,
              std::vector<XWindow>& out);

    Display* display_ = nullptr;
    bool lost_ = false;
};

// The pixels of `image` in the rectangle that are within `tolerance` of the colour on each
// channel.
int countColour(const Image& image, int r, int g, int b, int tolerance = 12, int x = 0, int y = 0,
                int width = -1, int height = -1);

// Saves a screenshot as <artifacts>/e2e/<name>.png and returns its path.
std::filesystem::path saveScreenshot(const Image& image, const std::string& name);
std::filesystem::path artifactDir();

} // namespace kestro::testing::e2e
