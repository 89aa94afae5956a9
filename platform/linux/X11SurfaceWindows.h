#pragma once

#include "platform/MainQueue.h"
#include "platform/SurfaceWindows.h"
#include "platform/linux/X11WindowSupport.h"
#include "platform/linux/XConnection.h"

#include <xcb/xcb.h>

#include <map>
#include <memory>

namespace kestro::platform::linux_x11 {

// The surfaces' window-system needs on X11. Requests about a window go through the toolkit's
// own XCB connection, so they reach the server after the toolkit created that window; a
// private connection listens for the compositing manager's selection (_NET_WM_CM_S<n>) and for
// restacks of the root's children, for the pointer's raw motion and for the keyboard coming to
// and leaving watched windows. Main thread.
class X11SurfaceWindows final : public SurfaceWindows {
public:
    // `toolkitConnection` is the toolkit's xcb_connection_t, which must outlive this object.
    X11SurfaceWindows(MainQueue& queue, void* toolkitConnection);
    ~X11SurfaceWindows() override;
    X11SurfaceWindows(const X11SurfaceWindows&) = delete;
    X11SurfaceWindows& operator=(const X11SurfaceWindows&) = delete;

    bool ok() const;

    void setAcceptsInput(WindowID window, bool accepts) override;
    void raise(WindowID window) override;
    void activate(WindowID window, std::uint32_t userTime) override;
    void showOnAllDesktops(WindowID window) override;
    bool watchKeyboard(WindowID window, std::function<void(bool)> changed) override;
    void setShape(WindowID window, const std::vector<ShapeRect>& rects) override;
    void clearShape(WindowID window) override;
    bool compositing() override;
    bool pointerMayHaveMoved() override;
    void setCompositingObserver(std::function<void()> changed) override;
    void setRestackObserver(std::function<void()> restacked) override;

private:
    void drain();
    bool queryCompositing();
    bool toolkitOwns(xcb_window_t window) const;
    void listenForMotion(bool listen);

    xcb_connection_t* toolkit_ = nullptr;
    std::uint32_t toolkitBase_ = 0;
    std::uint32_t toolkitMask_ = 0;
    XConnection x_;
    xcb_atom_t cmSelection_ = XCB_ATOM_NONE;
    bool shape_ = false;
    bool compositing_ = false;
    // The input extension's opcode when its raw events can be had, else 0. One raw motion
    // marks the pointer as moved and stops the listening until the next true answer, so a
    // moving pointer wakes us at most once per question.
    std::uint8_t inputOpcode_ = 0;
    bool listening_ = false;
    bool pointerMoved_ = true;
    std::function<void()> compositingChanged_;
    std::function<void()> restacked_;
    // A watched window's callback, and the sequence number of the request after which its
    // changes are told: the server numbers each event with the last request it had read from us.
    struct KeyboardWatch {
        std::function<void(bool)> changed;
        std::uint32_t since = 0;
    };
    std::map<xcb_window_t, KeyboardWatch> keyboardWatches_;
    std::unique_ptr<MainQueue::Token> watch_;
    // Activation and desktops go on a private connection of their own, made at first use.
    std::unique_ptr<X11WindowSupport> support_;
    X11WindowSupport& support();
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

} // namespace kestro::platform::linux_x11
