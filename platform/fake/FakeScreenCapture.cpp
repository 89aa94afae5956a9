#include "platform/fake/FakeScreenCapture.h"

#include <algorithm>

namespace kestro::platform::fake {

void FakeScreenCapture::addDisplay(std::uint32_t id, int width, int height) {
    std::lock_guard lock(mutex_);
    displays_.push_back(ShareableDisplay{id, width, height});
}

void FakeScreenCapture::addWindow(Window window) {
    std::lock_guard lock(mutex_);
    windows_.push_back(window);
}

void FakeScreenCapture::setPointer(std::uint32_t displayID, int x, int y) {
    std::lock_guard lock(mutex_);
    pointerDisplay_ = displayID;
    pointerX_ = x;
    pointerY_ = y;
}

void FakeScreenCapture::setContentFails(bool fails) {
    std::lock_guard lock(mutex_);
    contentFails_ = fails;
}

void FakeScreenCapture::setScreenshotFails(bool fails) {
    std::lock_guard lock(mutex_);
    screenshotFails_ = fails;
}

void FakeScreenCapture::setDeliveredSize(std::optional<std::pair<int, int>> size) {
    std::lock_guard lock(mutex_);
    deliveredSize_ = size;
}

std::vector<FakeScreenCapture::Call> FakeScreenCapture::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

int FakeScreenCapture::contentQueries() const {
    std::lock_guard lock(mutex_);
    return contentQueries_;
}

std::array<std::uint8_t, 3> FakeScreenCapture::backgroundAt(int x, int y) {
    return {static_cast<std::uint8_t>(x % 256), static_cast<std::uint8_t>(y % 256),
            static_cast<std::uint8_t>(128 + (x / 256 + y / 256) % 2 * 64)};
}

std::optional<ShareableContent> FakeScreenCapture::shareableContent() {
    std::lock_guard lock(mutex_);
    ++contentQueries_;
    if (contentFails_) {
        return std::nullopt;
    }
    ShareableContent content;
    content.displays = displays_;
    for (const Window& w : windows_) {
        content.windows.push_back(w.window);
    }
    return content;
}

std::optional<Image> FakeScreenCapture::screenshot(const ShareableDisplay& display,
                                                   const std::vector<ShareableWindow>& excluding,
                                                   const ScreenshotConfiguration& configuration) {
    std::unique_lock lock(mutex_);
    Call call{display.displayID, {}, configuration, std::this_thread::get_id()};
    for (const ShareableWindow& w : excluding) {
        call.excluded.push_back(w.windowID);
    }
    calls_.push_back(call);
    released_.wait(lock, [this] { return !held_ || interrupted_; });
    if (interrupted_ || screenshotFails_ || configuration.width <= 0 || configuration.height <= 0) {
        return std::nullopt;
    }
    const int width = deliveredSize_ ? deliveredSize_->first : configuration.width;
    const int height = deliveredSize_ ? deliveredSize_->second : configuration.height;
    Image image(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto c = backgroundAt(x, y);
            std::uint8_t* p = image.pixel(x, y);
            p[0] = c[0];
            p[1] = c[1];
            p[2] = c[2];
            p[3] = 255;
        }
    }
    auto fill = [&](int x0, int y0, int w, int h, std::array<std::uint8_t, 3> c) {
        for (int y = std::max(0, y0); y < std::min(height, y0 + h); ++y) {
            for (int x = std::max(0, x0); x < std::min(width, x0 + w); ++x) {
                std::uint8_t* p = image.pixel(x, y);
                p[0] = c[0];
                p[1] = c[1];
                p[2] = c[2];
                p[3] = 255;
            }
        }
    };
    for (const Window& w : windows_) {
        const bool excluded = std::any_of(excluding.begin(), excluding.end(), [&](const auto& e) {
            return e.windowID == w.window.windowID;
        });
        if (!excluded && w.displayID == display.displayID) {
            fill(w.x, w.y, w.width, w.height, w.color);
        }
    }
    if (configuration.showsCursor && pointerDisplay_ == display.displayID) {
        fill(pointerX_, pointerY_, pointerSize, pointerSize, {255, 255, 255});
    }
    return image;
}

} // namespace kestro::platform::fake

namespace kestro::platform::fake {

void FakeScreenCapture::setHeld(bool held) {
    {
        std::lock_guard lock(mutex_);
        held_ = held;
    }
    released_.notify_all();
}

} // namespace kestro::platform::fake

namespace kestro::platform::fake {

void FakeScreenCapture::interrupt() {
    {
        std::lock_guard lock(mutex_);
        interrupted_ = true;
    }
    released_.notify_all();
}

bool FakeScreenCapture::interrupted() const {
    std::lock_guard lock(mutex_);
    return interrupted_;
}

} // namespace kestro::platform::fake
