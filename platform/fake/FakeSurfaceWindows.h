#pragma once

#include "platform/SurfaceWindows.h"

#include <functional>
#include <map>
#include <utility>
#include <vector>

namespace kestro::platform::fake {

// Records what the surfaces asked for; the test switches the compositor and restacks.
class FakeSurfaceWindows final : public SurfaceWindows {
public:
    std::map<WindowID, bool> acceptsInput;
    // Every setAcceptsInput call, in order.
    std::vector<std::pair<WindowID, bool>> inputChanges;
    bool compositingNow = true;

    // Each window's shape; absent when whole.
    std::map<WindowID, std::vector<ShapeRect>> shapes;
    void setShape(WindowID window, const std::vector<ShapeRect>& rects) override {
        shapes[window] = rects;
    }
    void clearShape(WindowID window) override { shapes.erase(window); }

    void setAcceptsInput(WindowID window, bool accepts) override {
        acceptsInput[window] = accepts;
        inputChanges.emplace_back(window, accepts);
    }
    // Every raise, in order.
    std::vector<WindowID> raised;
    void raise(WindowID window) override { raised.push_back(window); }
    // Every activation with its user time, and the windows put on every desktop, in order.
    std::vector<std::pair<WindowID, std::uint32_t>> activated;
    std::vector<WindowID> onAllDesktops;
    void activate(WindowID window, std::uint32_t userTime) override {
        activated.emplace_back(window, userTime);
    }
    void showOnAllDesktops(WindowID window) override { onAllDesktops.push_back(window); }
    // The watched windows; moveKeyboard() tells one that the keyboard came or went.
    std::map<WindowID, std::function<void(bool)>> keyboardWatches;
    bool watchKeyboard(WindowID window, std::function<void(bool)> changed) override {
        if (changed) {
            keyboardWatches[window] = std::move(changed);
        } else {
            keyboardWatches.erase(window);
        }
        return true;
    }
    void moveKeyboard(WindowID window, bool has) {
        if (auto found = keyboardWatches.find(window); found != keyboardWatches.end()) {
            auto changed = found->second;
            changed(has);
        }
    }
    bool compositing() override { return compositingNow; }
    // The answer of pointerMayHaveMoved(), and how often it was asked.
    bool pointerMoved = true;
    int pointerAsks = 0;
    bool pointerMayHaveMoved() override {
        ++pointerAsks;
        return pointerMoved;
    }
    void setCompositingObserver(std::function<void()> changed) override {
        compositingChanged_ = std::move(changed);
    }
    void setRestackObserver(std::function<void()> restacked) override {
        restacked_ = std::move(restacked);
    }

    void setCompositing(bool on) {
        compositingNow = on;
        if (compositingChanged_) {
            compositingChanged_();
        }
    }
    void restack() {
        if (restacked_) {
            restacked_();
        }
    }

private:
    std::function<void()> compositingChanged_;
    std::function<void()> restacked_;
};

} // namespace kestro::platform::fake
