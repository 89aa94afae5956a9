#include "KestroCore/FrameCapturer.h"

#include <unistd.h>

#include <exception>

namespace kestro {

FrameCapturer::FrameCapturer(platform::ScreenCapture& capture, platform::MainQueue& mainQueue)
    : capture_(capture), mainQueue_(mainQueue), processID_(static_cast<int>(::getpid())),
      worker_([this](std::stop_token stop) { run(stop); }) {}

FrameCapturer::~FrameCapturer() {
    worker_.request_stop();
    worker_.join();
    // Whatever was still queued is answered, so no caller waits for ever.
    for (Job& job : jobs_) {
        answer(std::move(job.completion), std::nullopt);
    }
}

void FrameCapturer::captureAndSave(std::uint32_t displayID, int pixelWidth, int pixelHeight,
                                   std::vector<Rect> redact, std::filesystem::path to,
                                   Completion completion) {
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(Job{displayID, pixelWidth, pixelHeight, std::move(redact), std::move(to),
                            std::move(completion)});
    }
    wake_.notify_one();
}

void FrameCapturer::run(std::stop_token stop) {
    while (true) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, stop, [this] { return !jobs_.empty(); });
            if (stop.stop_requested()) {
                return;
            }
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        std::optional<Size> result;
        try {
            result = captureNow(job);
        } catch (...) {
            // Every failure, the backend's included, is a missing frame.
            result.reset();
        }
        answer(std::move(job.completion), result);
    }
}

std::optional<Size> FrameCapturer::captureNow(const Job& job) {
    if (job.pixelWidth <= 0 || job.pixelHeight <= 0) {
        return std::nullopt;
    }
    std::optional<platform::ShareableContent> content = capture_.shareableContent();
    if (!content) {
        return std::nullopt;
    }
    const platform::ShareableDisplay* display = nullptr;
    for (const auto& d : content->displays) {
        if (d.displayID == job.displayID) {
            display = &d;
            break;
        }
    }
    if (!display) {
        return std::nullopt;
    }
    std::vector<platform::ShareableWindow> own;
    for (const auto& w : content->windows) {
        if (w.owningProcessID && *w.owningProcessID == processID_) {
            own.push_back(w);
        }
    }
    platform::ScreenshotConfiguration configuration;
    configuration.width = job.pixelWidth;
    configuration.height = job.pixelHeight;
    configuration.showsCursor = true;
    std::optional<Image> image = capture_.screenshot(*display, own, configuration);
    if (!image || image->width <= 0 || image->height <= 0) {
        return std::nullopt;
    }
    const Size size{static_cast<double>(image->width), static_cast<double>(image->height)};
    writePNG(std::move(*image), job.redact, job.to);
    return size;
}

void FrameCapturer::answer(Completion completion, std::optional<Size> result) {
    if (!completion) {
        return;
    }
    mainQueue_.post([completion = std::move(completion), result] { completion(result); });
}

void FrameCapturer::writePNG(Image image, const std::vector<Rect>& redacting,
                             const std::filesystem::path& to) {
    // The image is already 8-bit RGBA, premultiplied, with its origin at the top-left, the same
    // origin as the rectangles: they are filled as they are, without turning them over.
    ImageCodec::redact(image, redacting);
    ImageCodec::writePNG(image, to, ImageCodec::PngSpeed::fast);
}

} // namespace kestro
