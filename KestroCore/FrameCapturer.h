#pragma once

#include "KestroBase/Geometry.h"
#include "KestroBase/Image.h"
#include "platform/MainQueue.h"
#include "platform/ScreenCapture.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace kestro {

// Takes key-frame screenshots of one display at a time, blacks out the redaction boxes and
// writes each as a PNG file. Captures run one after another on a worker thread of their own,
// never on the main thread; their results come back through the main queue.
//
// The screen capture and the main queue must outlive the capturer.
class FrameCapturer {
public:
    // Receives the written image's size in pixels, or nothing when any step failed.
    using Completion = std::function<void(std::optional<Size>)>;
    // Gives the redaction rectangles, in pixels of the image, on the worker thread just before
    // the screenshot; nothing when they could not be read.
    using Redaction = std::function<std::optional<std::vector<Rect>>()>;
    // What was written: the image's size in pixels and the rectangles blacked out.
    struct Saved {
        Size pixelSize;
        std::vector<Rect> redacted;
    };
    using SavedCompletion = std::function<void(std::optional<Saved>)>;
    // Names one queued capture.
    using Ticket = std::uint64_t;

    // How long going away waits for a capture under way before it makes the screen capture
    // give up (the display may hang for good).
    static constexpr double finishWaitLimit = 2.0;

    FrameCapturer(platform::ScreenCapture& capture, platform::MainQueue& mainQueue);
    // Lets the capture under way finish, for at most finishWaitLimit, then makes it give up;
    // captures not yet begun are answered with nothing.
    ~FrameCapturer();
    FrameCapturer(const FrameCapturer&) = delete;
    FrameCapturer& operator=(const FrameCapturer&) = delete;

    // Queues one screenshot of the display with that id, requested at pixelWidth x pixelHeight,
    // with every window of this process left out and the pointer drawn in. `redact` holds
    // rectangles in pixels of the image (origin top-left, y downwards, not rounded); `to` is the
    // PNG file to write, in a folder that exists. Returns at once; `completion` runs later on
    // the main queue, exactly once, with the size of the written image (as captured, not as
    // requested) or with nothing. Thread-safe.
    Ticket captureAndSave(std::uint32_t displayID, int pixelWidth, int pixelHeight,
                          std::vector<Rect> redact, std::filesystem::path to,
                          Completion completion);
    // The same, with the rectangles read by `redaction` on the worker thread right before the
    // screenshot, so they are no older than it. When they cannot be read nothing is captured or
    // written: the frame fails.
    Ticket captureAndSave(std::uint32_t displayID, int pixelWidth, int pixelHeight,
                          Redaction redaction, std::filesystem::path to,
                          SavedCompletion completion);

    // The caller stopped waiting for this capture: one not yet begun is not taken, one under
    // way keeps no file, and a file already written is removed. Its completion, when it has not
    // run yet, receives nothing. Call it on the thread the completions run on.
    void cancel(Ticket ticket);

    // Waits, for at most `limit` seconds, until no capture is under way or queued, so that a
    // process about to end without its destructors leaves no file of a frame given up on.
    // True when none is.
    bool waitUntilIdle(double limit);

    // Writes the image as a PNG (8-bit RGBA) with every redaction rectangle filled opaque
    // black. Throws ImageError or std::filesystem::filesystem_error.
    static void writePNG(Image image, const std::vector<Rect>& redacting,
                         const std::filesystem::path& to);

private:
    // What the caller and the worker both know of one capture.
    struct JobState {
        std::mutex mutex;
        bool cancelled = false;
        bool written = false;   // its file exists
        bool delivered = false; // its completion ran
        std::filesystem::path to;
    };
    struct Job {
        std::uint32_t displayID = 0;
        int pixelWidth = 0;
        int pixelHeight = 0;
        Redaction redaction;
        std::filesystem::path to;
        SavedCompletion completion;
        std::shared_ptr<JobState> state;
    };

    void run(std::stop_token stop);
    std::optional<Saved> captureNow(const Job& job);
    void answer(Job& job, std::optional<Saved> result);

    platform::ScreenCapture& capture_;
    platform::MainQueue& mainQueue_;
    const int processID_;
    std::mutex mutex_;
    std::condition_variable_any wake_;
    std::condition_variable_any idle_;
    std::deque<Job> jobs_;
    bool busy_ = false; // the worker is taking a screenshot
    Ticket lastTicket_ = 0;
    std::map<Ticket, std::weak_ptr<JobState>> tickets_;
    std::jthread worker_; // last: started once everything above exists
};

} // namespace kestro
