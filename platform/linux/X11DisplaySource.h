#pragma once

#include "platform/DisplaySource.h"

using Display = struct _XDisplay;

namespace kestro::platform::linux_x11 {

// Displays from RandR monitors: ids are the monitors' name atoms, the primary monitor is the
// main display, and one point is one X pixel, so every screen's scale factor is 1.0. Frames are
// relative to the main display's top-left corner. Every query asks the server afresh, on a
// connection of its own opened at the first query.
class X11DisplaySource final : public DisplaySource {
public:
    X11DisplaySource() = default;
    ~X11DisplaySource() override;
    X11DisplaySource(const X11DisplaySource&) = delete;
    X11DisplaySource& operator=(const X11DisplaySource&) = delete;

    std::optional<std::uint32_t> activeDisplayCount() override;
    std::optional<std::vector<std::uint32_t>> activeDisplayList(std::uint32_t capacity) override;
    Rect bounds(std::uint32_t displayId) override;
    bool isMain(std::uint32_t displayId) override;
    std::vector<Screen> screens() override;

private:
    Display* connection();
    Display* display_ = nullptr;
};

} // namespace kestro::platform::linux_x11
