#include "tests/support/e2e/XDesk.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/shape.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <set>
#include <thread>

namespace kestro::testing::e2e {

namespace {

void pause(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace

XDesk::XDesk(const std::string& display) : display_(XOpenDisplay(display.c_str())) {
    if (display_) {
        // A test may kill the server: that ends this connection, not the test (Xlib's own
        // handler would end the process).
        XSetIOErrorHandler([](Display*) { return 0; });
        XSetIOErrorExitHandler(
            display_, [](Display*, void* self) { static_cast<XDesk*>(self)->lost_ = true; }, this);
    }
}

XDesk::~XDesk() {
    // Closing a lost display would only go round its loss again.
    if (display_ && !lost_) {
        XCloseDisplay(display_);
    }
}

int XDesk::rootWidth() const {
    return DisplayWidth(display_, DefaultScreen(display_));
}

int XDesk::rootHeight() const {
    return DisplayHeight(display_, DefaultScreen(display_));
}

void XDesk::setBackground(int r, int g, int b) {
    const Window root = DefaultRootWindow(display_);
    const int screen = DefaultScreen(display_);
    const Pixmap tile = XCreatePixmap(display_, root, 1, 1,
                                      static_cast<unsigned int>(DefaultDepth(display_, screen)));
    XColor colour{};
    colour.red = static_cast<unsigned short>(r * 257);
    colour.green = static_cast<unsigned short>(g * 257);
    colour.blue = static_cast<unsigned short>(b * 257);
    colour.flags = DoRed | DoGreen | DoBlue;
    XAllocColor(display_, DefaultColormap(display_, screen), &colour);
    GC gc = XCreateGC(display_, tile, 0, nullptr);
    XSetForeground(display_, gc, colour.pixel);
    XFillRectangle(display_, tile, gc, 0, 0, 1, 1);
    XFreeGC(display_, gc);
    XChangeProperty(display_, root, XInternAtom(display_, "_XROOTPMAP_ID", False), XA_PIXMAP, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&tile), 1);
    XSetWindowBackgroundPixmap(display_, root, tile);
    XClearWindow(display_, root);
    XSync(display_, False);
}

unsigned int XDesk::keycode(const std::string& keysym) {
    return XKeysymToKeycode(display_, XStringToKeysym(keysym.c_str()));
}

void XDesk::press(const std::string& keysym) {
    XTestFakeKeyEvent(display_, keycode(keysym), True, CurrentTime);
    XSync(display_, False);
}

void XDesk::release(const std::string& keysym) {
    XTestFakeKeyEvent(display_, keycode(keysym), False, CurrentTime);
    XSync(display_, False);
}

void XDesk::tap(const std::string& keysym) {
    press(keysym);
    pause(10);
    release(keysym);
}

void XDesk::chord(const std::vector<std::string>& keysyms) {
    for (const auto& k : keysyms) {
        press(k);
        pause(20);
    }
    for (auto it = keysyms.rbegin(); it != keysyms.rend(); ++it) {
        release(*it);
        pause(10);
    }
}

void XDesk::doubleTapControl() {
    tap("Control_L");
    pause(60);
    tap("Control_L");
}

void XDesk::type(const std::string& text, int pauseMs) {
    const unsigned int shift = keycode("Shift_L");
    for (const char c : text) {
        const KeySym sym =
            c == '\n' ? XK_Return : static_cast<KeySym>(static_cast<unsigned char>(c));
        const KeyCode code = XKeysymToKeycode(display_, sym);
        if (code == 0) {
            continue;
        }
        // The keysym in the unshifted column types as is; anything else needs Shift.
        const bool shifted = XkbKeycodeToKeysym(display_, code, 0, 0) != sym;
        if (shifted) {
            XTestFakeKeyEvent(display_, shift, True, CurrentTime);
        }
        XTestFakeKeyEvent(display_, code, True, CurrentTime);
        XTestFakeKeyEvent(display_, code, False, CurrentTime);
        if (shifted) {
            XTestFakeKeyEvent(display_, shift, False, CurrentTime);
        }
        XSync(display_, False);
        pause(pauseMs);
    }
}

void XDesk::moveTo(int x, int y) {
    XTestFakeMotionEvent(display_, DefaultScreen(display_), x, y, CurrentTime);
    XSync(display_, False);
}

void XDesk::click(int x, int y, int button) {
    moveTo(x, y);
    pause(40);
    XTestFakeButtonEvent(display_, static_cast<unsigned int>(button), True, CurrentTime);
    pause(20);
    XTestFakeButtonEvent(display_, static_cast<unsigned int>(button), False, CurrentTime);
    XSync(display_, False);
}

void XDesk::walk(unsigned long window, unsigned long parent, int originX, int originY,
                 std::vector<XWindow>& out) {
    XWindowAttributes a;
    if (!XGetWindowAttributes(display_, window, &a)) {
        return;
    }
    const int x = originX + a.x;
    const int y = originY + a.y;
    XWindow w{.id = window,
              .parent = parent,
              .x = x,
              .y = y,
              .width = a.width,
              .height = a.height,
              .viewable = a.map_state == IsViewable,
              .overrideRedirect = a.override_redirect != 0};
    char* name = nullptr;
    if (XFetchName(display_, window, &name) && name) {
        w.title = name;
        XFree(name);
    }
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display_, window, XInternAtom(display_, "_NET_WM_PID", False), 0, 1,
                           False, XA_CARDINAL, &type, &format, &count, &after, &data) == Success &&
        data && count == 1) {
        w.pid = *reinterpret_cast<long*>(data);
    }
    if (data) {
        XFree(data);
    }
    if (!w.title.empty() || w.pid > 0) {
        out.push_back(w);
    }
    Window root, up, *children = nullptr;
    unsigned int n = 0;
    if (XQueryTree(display_, window, &root, &up, &children, &n)) {
        for (unsigned int i = 0; i < n; ++i) {
            walk(children[i], window, x + a.border_width, y + a.border_width, out);
        }
        if (children) {
            XFree(children);
        }
    }
}

std::vector<XWindow> XDesk::windows() {
    std::vector<XWindow> out;
    XSync(display_, False);
    // Windows can go while they are walked; their errors are not the test's.
    auto previous = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    walk(DefaultRootWindow(display_), 0, 0, 0, out);
    XSync(display_, False);
    XSetErrorHandler(previous);
    return out;
}

std::vector<XWindow> XDesk::find(const std::string& title, long pid) {
    std::vector<XWindow> out;
    for (const XWindow& w : windows()) {
        if (w.viewable && w.title == title && (pid < 0 || w.pid == pid)) {
            out.push_back(w);
        }
    }
    return out;
}

std::optional<XWindow> XDesk::findOne(const std::string& title, long pid) {
    auto found = find(title, pid);
    if (found.empty()) {
        return std::nullopt;
    }
    return found.front();
}

std::vector<XWindow> XDesk::windowsInside(long hostPid, long pid) {
    const auto all = windows();
    std::set<unsigned long> host;
    for (const XWindow& w : all) {
        if (w.pid == hostPid) {
            host.insert(w.id);
        }
    }
    std::vector<XWindow> out;
    for (const XWindow& w : all) {
        if (w.pid != pid) {
            continue;
        }
        Window up = w.parent;
        while (up != 0 && !host.count(up)) {
            Window root = 0, parent = 0, *children = nullptr;
            unsigned int n = 0;
            if (!XQueryTree(display_, up, &root, &parent, &children, &n)) {
                break;
            }
            if (children) {
                XFree(children);
            }
            up = up == root ? 0 : parent;
        }
        if (up != 0) {
            out.push_back(w);
        }
    }
    return out;
}

long XDesk::windowPid(unsigned long window) {
    for (const XWindow& w : windows()) {
        if (w.id == window) {
            return w.pid;
        }
    }
    return -1;
}

unsigned long XDesk::focusWindow() {
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(display_, &focus, &revert);
    return focus == PointerRoot ? 0 : focus;
}

unsigned long XDesk::parentOf(unsigned long window) {
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int n = 0;
    XSync(display_, False);
    // The window can go meanwhile; that error is not the test's.
    auto previous = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    const Status ok = XQueryTree(display_, window, &root, &parent, &children, &n);
    XSync(display_, False);
    XSetErrorHandler(previous);
    if (!ok) {
        return 0;
    }
    if (children) {
        XFree(children);
    }
    return parent == root ? 0 : parent;
}

unsigned long XDesk::selectionOwner(const std::string& name) {
    return XGetSelectionOwner(display_, XInternAtom(display_, name.c_str(), False));
}

bool XDesk::inputShapeEmpty(unsigned long window) {
    int count = 0, ordering = 0;
    XRectangle* rects = XShapeGetRectangles(display_, window, ShapeInput, &count, &ordering);
    if (rects) {
        XFree(rects);
    }
    return count == 0;
}

std::optional<XDesk::Extents> XDesk::boundingShape(unsigned long window) {
    int count = 0, ordering = 0;
    XRectangle* rects = XShapeGetRectangles(display_, window, ShapeBounding, &count, &ordering);
    if (!rects || count == 0) {
        if (rects) {
            XFree(rects);
        }
        return std::nullopt;
    }
    int left = rects[0].x, top = rects[0].y, right = left + rects[0].width,
        bottom = top + rects[0].height;
    for (int i = 1; i < count; ++i) {
        left = std::min<int>(left, rects[i].x);
        top = std::min<int>(top, rects[i].y);
        right = std::max<int>(right, rects[i].x + rects[i].width);
        bottom = std::max<int>(bottom, rects[i].y + rects[i].height);
    }
    XFree(rects);
    return Extents{left, top, right - left, bottom - top};
}

Image XDesk::grab(int x, int y, int width, int height) {
    Image image(width, height);
    XImage* shot =
        XGetImage(display_, DefaultRootWindow(display_), x, y, static_cast<unsigned int>(width),
                  static_cast<unsigned int>(height), AllPlanes, ZPixmap);
    if (!shot) {
        return image;
    }
    const bool direct = shot->bits_per_pixel == 32 && shot->byte_order == LSBFirst &&
                        shot->red_mask == 0xff0000 && shot->blue_mask == 0xff;
    for (int row = 0; row < height; ++row) {
        const auto* line =
            reinterpret_cast<const std::uint8_t*>(shot->data) + row * shot->bytes_per_line;
        for (int col = 0; col < width; ++col) {
            std::uint8_t* px = image.pixel(col, row);
            if (direct) {
                px[0] = line[col * 4 + 2];
                px[1] = line[col * 4 + 1];
                px[2] = line[col * 4];
            } else {
                const unsigned long p = XGetPixel(shot, col, row);
                px[0] = static_cast<std::uint8_t>(p >> 16);
                px[1] = static_cast<std::uint8_t>(p >> 8);
                px[2] = static_cast<std::uint8_t>(p);
            }
            px[3] = 255;
        }
    }
    XDestroyImage(shot);
    return image;
}

int countColour(const Image& image, int r, int g, int b, int tolerance, int x, int y, int width,
                int height) {
    if (width < 0) {
        width = image.width - x;
    }
    if (height < 0) {
        height = image.height - y;
    }
    int count = 0;
    for (int row = std::max(0, y); row < std::min(image.height, y + height); ++row) {
        for (int col = std::max(0, x); col < std::min(image.width, x + width); ++col) {
            const std::uint8_t* px = image.pixel(col, row);
            if (std::abs(px[0] - r) <= tolerance && std::abs(px[1] - g) <= tolerance &&
                std::abs(px[2] - b) <= tolerance) {
                ++count;
            }
        }
    }
    return count;
}

std::filesystem::path artifactDir() {
#ifdef KESTRO_E2E_ARTIFACT_DIR
    return std::filesystem::path(KESTRO_E2E_ARTIFACT_DIR);
#else
    return std::filesystem::current_path() / "artifacts" / "e2e";
#endif
}

std::filesystem::path saveScreenshot(const Image& image, const std::string& name) {
    const auto path = artifactDir() / (name + ".png");
    std::filesystem::create_directories(path.parent_path());
    ImageCodec::writePNG(image, path);
    return path;
}

} // namespace kestro::testing::e2e
