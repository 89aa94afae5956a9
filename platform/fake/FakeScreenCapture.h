#pragma once

#include "platform/ScreenCapture.h"

#include <array>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace kestro::platform::fake {

// Displays and windows in memory. A screenshot is generated: a gradient background, each
// window not left out painted as a solid rectangle in its colour (bottom to top), and the
// pointer as a small white square. Safe to call from any thread.
class FakeScreenCapture final : public ScreenCapture {
public:
    struct Window {
        ShareableWindow window;
        std::uint32_t displayID = 0;
        int x = 0; // pixels of that display
        int y = 0;
        int width = 0;
        int height = 0;
        std::array<std::uint8_t, 3> color{0, 0, 0};
    };
    struct Call {
        std::uint32_t displayID = 0;
        std::vector<std::uint64_t> excluded;
        ScreenshotConfiguration configuration;
        std::thread::id thread;
    };

    static constexpr int pointerSize = 4;

    void addDisplay(std::uint32_t id, int width, int height);
    void addWindow(Window window);
    void setPointer(std::uint32_t displayID, int x, int y);

    // Failure switches.
    void setContentFails(bool fails);
    void setScreenshotFails(bool fails);
    // While held, screenshots wait (their calls already recorded) until released, as a hung
    // capture would.
    void setHeld(bool held);
    // Deliver this size instead of the configured one, as a source that cannot scale would.
    void setDeliveredSize(std::optional<std::pair<int, int>> size);

    std::vector<Call> calls() const;
    int contentQueries() const;

    // The generated background colour of a pixel.
    static std::array<std::uint8_t, 3> backgroundAt(int x, int y);

    std::optional<ShareableContent> shareableContent() override;
    std::optional<Image> screenshot(const ShareableDisplay& display,
                                    const std::vector<ShareableWindow>& excluding,
                                    const ScreenshotConfiguration& configuration) override;
    // A held screenshot gives up; every later one fails.
    void interrupt() override;
    bool interrupted() const;

private:
    mutable std::mutex mutex_;
    std::vector<ShareableDisplay> displays_;
    std::vector<Window> windows_;
    std::optional<std::uint32_t> pointerDisplay_;
    int pointerX_ = 0;
    int pointerY_ = 0;
    bool contentFails_ = false;
    bool screenshotFails_ = false;
    bool held_ = false;
    bool interrupted_ = false;
    std::condition_variable released_;
    std::optional<std::pair<int, int>> deliveredSize_;
    std::vector<Call> calls_;
    int contentQueries_ = 0;
};

} // namespace kestro::platform::fake
