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
    captureAndSave(
        displayID, pixelWidth, pixelHeight,
        [redact = std::move(redact)] { return std::optional<std::vector<Rect>>(redact); },
        std::move(to),
        [completion = std::move(completion)](std::optional<Saved> saved) {
            if (completion) {
                completion(saved ? std::optional<Size>(saved->pixelSize) : std::nullopt);
            }
        });
}

void FrameCapturer::captureAndSave(std::uint32_t displayID, int pixelWidth, int pixelHeight,
                                   Redaction redaction, std::filesystem::path to,
                                   SavedCompletion completion) {
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(Job{displayID, pixelWidth, pixelHeight, std::move(redaction), std::move(to),
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
        std::optional<Saved> result;
        try {
            result = captureNow(job);
        } catch (...) {
            // Every failure, the backend's included, is a missing frame.
            result.reset();
        }
        answer(std::move(job.completion), std::move(result));
    }
}

std::optional<FrameCapturer::Saved> FrameCapturer::captureNow(const Job& job) {
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
    // Read as late as possible, so that no field shown in the image is missing from them.
    std::optional<std::vector<Rect>> redact = job.redaction ? job.redaction() : std::nullopt;
    if (!redact) {
        return std::nullopt;
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
    writePNG(std::move(*image), *redact, job.to);
    return Saved{size, std::move(*redact)};
}

void FrameCapturer::answer(SavedCompletion completion, std::optional<Saved> result) {
    if (!completion) {
        return;
    }
    mainQueue_.post([completion = std::move(completion), result = std::move(result)]() mutable {
        completion(std::move(result));
    });
}

void FrameCapturer::writePNG(Image image, const std::vector<Rect>& redacting,
                             const std::filesystem::path& to) {
    // The image is already 8-bit RGBA, premultiplied, with its origin at the top-left, the same
    // origin as the rectangles: they are filled as they are, without turning them over.
    ImageCodec::redact(image, redacting);
    ImageCodec::writePNG(image, to, ImageCodec::PngSpeed::fast);
}

} // namespace kestro
