#include "KestroCore/FrameCapturer.h"

#include <unistd.h>

#include <chrono>
#include <exception>
#include <system_error>

namespace kestro {

FrameCapturer::FrameCapturer(platform::ScreenCapture& capture, platform::MainQueue& mainQueue)
    : capture_(capture), mainQueue_(mainQueue), processID_(static_cast<int>(::getpid())),
      worker_([this](std::stop_token stop) { run(stop); }) {}

FrameCapturer::~FrameCapturer() {
    worker_.request_stop();
    {
        std::unique_lock lock(mutex_);
        const bool finished = idle_.wait_for(lock, std::chrono::duration<double>(finishWaitLimit),
                                             [this] { return !busy_; });
        if (!finished) {
            // A display that does not answer would hold the worker, and so this, for ever.
            capture_.interrupt();
        }
    }
    worker_.join();
    // Whatever was still queued is answered, so no caller waits for ever.
    for (Job& job : jobs_) {
        answer(job, std::nullopt);
    }
}

FrameCapturer::Ticket FrameCapturer::captureAndSave(std::uint32_t displayID, int pixelWidth,
                                                    int pixelHeight, std::vector<Rect> redact,
                                                    std::filesystem::path to,
                                                    Completion completion) {
    return captureAndSave(
        displayID, pixelWidth, pixelHeight,
        [redact = std::move(redact)] { return std::optional<std::vector<Rect>>(redact); },
        std::move(to),
        [completion = std::move(completion)](std::optional<Saved> saved) {
            if (completion) {
                completion(saved ? std::optional<Size>(saved->pixelSize) : std::nullopt);
            }
        });
}

FrameCapturer::Ticket FrameCapturer::captureAndSave(std::uint32_t displayID, int pixelWidth,
                                                    int pixelHeight, Redaction redaction,
                                                    std::filesystem::path to,
                                                    SavedCompletion completion) {
    auto state = std::make_shared<JobState>();
    state->to = to;
    Ticket ticket = 0;
    {
        std::lock_guard lock(mutex_);
        ticket = ++lastTicket_;
        std::erase_if(tickets_, [](const auto& entry) { return entry.second.expired(); });
        tickets_.emplace(ticket, state);
        jobs_.push_back(Job{displayID, pixelWidth, pixelHeight, std::move(redaction), std::move(to),
                            std::move(completion), state});
    }
    wake_.notify_one();
    return ticket;
}

void FrameCapturer::cancel(Ticket ticket) {
    std::shared_ptr<JobState> state;
    {
        std::lock_guard lock(mutex_);
        auto it = tickets_.find(ticket);
        if (it != tickets_.end()) {
            state = it->second.lock();
        }
    }
    if (!state) {
        return;
    }
    std::lock_guard lock(state->mutex);
    if (state->delivered) {
        return; // taken as it is
    }
    state->cancelled = true;
    if (state->written) {
        std::error_code ignored;
        std::filesystem::remove(state->to, ignored);
        state->written = false;
    }
}

bool FrameCapturer::waitUntilIdle(double limit) {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, std::chrono::duration<double>(limit),
                          [this] { return !busy_ && jobs_.empty(); });
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
            busy_ = true;
        }
        bool wanted = false;
        {
            std::lock_guard lock(job.state->mutex);
            wanted = !job.state->cancelled;
        }
        std::optional<Saved> result;
        if (wanted) {
            try {
                result = captureNow(job);
            } catch (...) {
                // Every failure, the backend's included, is a missing frame.
                result.reset();
            }
        }
        {
            std::lock_guard lock(job.state->mutex);
            if (result && job.state->cancelled) {
                // Given up on while it was being written: no file of a failed frame stays.
                std::error_code ignored;
                std::filesystem::remove(job.to, ignored);
                result.reset();
            } else if (result) {
                job.state->written = true;
            }
        }
        {
            std::lock_guard lock(mutex_);
            busy_ = false;
        }
        idle_.notify_all();
        answer(job, std::move(result));
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

void FrameCapturer::answer(Job& job, std::optional<Saved> result) {
    mainQueue_.post(
        [completion = std::move(job.completion), state = job.state, result = std::move(result)] {
            bool cancelled = false;
            {
                std::lock_guard lock(state->mutex);
                cancelled = state->cancelled;
                state->delivered = true;
            }
            if (completion) {
                completion(cancelled ? std::nullopt : result);
            }
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
