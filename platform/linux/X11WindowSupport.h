#pragma once

#include <cstdint>
#include <memory>

namespace kestro::platform::linux_x11 {

class XConnection;

// What the application's own windows need from the X server and the window manager, on a
// private connection: activation that focus-stealing prevention accepts because it names the
// user action that asked for it, and a place on every desktop. (Whether a compositing manager
// runs is told by X11SurfaceWindows, which follows it as it comes and goes.)
// Windows are X window ids (what a toolkit reports as the native id). Main thread only.
class X11WindowSupport {
public:
    X11WindowSupport();
    ~X11WindowSupport();
    X11WindowSupport(const X11WindowSupport&) = delete;
    X11WindowSupport& operator=(const X11WindowSupport&) = delete;

    bool ok() const;

    // The server's current time (ms), read with a property change on a window of our own.
    std::uint32_t serverTime() const;

    // Records `time` as the window's last user action and asks the window manager to activate
    // it on behalf of the application. A time of 0 takes the server's current time.
    void activate(std::uint32_t window, std::uint32_t time) const;

    // Puts the window on every virtual desktop.
    void setOnAllDesktops(std::uint32_t window) const;

private:
    std::unique_ptr<XConnection> x_;
    std::uint32_t timeWindow_ = 0;
    std::uint32_t userTime_ = 0, userTimeWindow_ = 0, wmDesktop_ = 0, activeWindow_ = 0,
                  cardinal_ = 6;
};

} // namespace kestro::platform::linux_x11
