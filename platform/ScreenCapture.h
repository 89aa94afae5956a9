#pragma once

#include "KestroBase/Image.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace kestro::platform {

// A display that can be captured, with the size of its image in pixels.
struct ShareableDisplay {
    std::uint32_t displayID = 0;
    int width = 0;
    int height = 0;
};

// An on-screen window and the process that owns it, when that is known.
struct ShareableWindow {
    std::uint64_t windowID = 0;
    std::optional<int> owningProcessID;
};

// What can be captured right now.
struct ShareableContent {
    std::vector<ShareableDisplay> displays;
    std::vector<ShareableWindow> windows;
};

// What one screenshot should deliver.
struct ScreenshotConfiguration {
    int width = 0; // pixels of the delivered image
    int height = 0;
    bool showsCursor = false; // the pointer drawn in where it is
};

// Screenshots of whole displays. Not for the main thread: each call may take milliseconds. One
// caller at a time.
class ScreenCapture {
public:
    virtual ~ScreenCapture() = default;

    // Asked afresh at each call; nothing when the query fails.
    virtual std::optional<ShareableContent> shareableContent() = 0;

    // One image of the display as it is on screen, with the given windows left out (what lies
    // beneath them shows instead), at the configured size: RGBA, premultiplied, opaque.
    // Nothing on failure.
    virtual std::optional<Image> screenshot(const ShareableDisplay& display,
                                            const std::vector<ShareableWindow>& excluding,
                                            const ScreenshotConfiguration& configuration) = 0;

    // Makes a call stuck in another thread (the display does not answer) give up at once, with
    // nothing; later calls may fail too. Callable from any thread.
    virtual void interrupt() {}
};

} // namespace kestro::platform
