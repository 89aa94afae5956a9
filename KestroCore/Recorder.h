#pragma once

#include "KestroCore/AXResolver.h"
#include "KestroCore/FrameCapturer.h"
#include "KestroCore/InputMonitor.h"
#include "KestroCore/Recording.h"
#include "KestroCore/RecordingStore.h"
#include "platform/Accessibility.h"
#include "platform/Applications.h"
#include "platform/Clock.h"
#include "platform/DisplaySource.h"
#include "platform/EventTap.h"
#include "platform/MainQueue.h"
#include "platform/ScreenCapture.h"
#include "platform/Services.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace kestro {

// Turns one demonstration into one Recording: raw input signals become clicks, drags, typed
// runs, single keystrokes and scroll runs, each with the element involved and, at most every
// 0.3 s, a key-frame screenshot with the secure text fields blacked out.
//
// Main thread only. Nothing is logged, shown or thrown: every failure is absorbed.
class Recorder {
public:
    // The desktop services the recorder reads; they must outlive it.
    struct Platform {
        platform::EventTaps& taps;
        platform::MainQueue& queue;
        platform::Clock& clock;
        platform::DisplaySource& displays;
        platform::Accessibility& accessibility;
        platform::Applications& applications;
        platform::ScreenCapture& screenCapture;

        // The ones of the bundle the recorder reads.
        static Platform of(const platform::Services& services) {
            return Platform{services.taps,     services.queue,         services.clock,
                            services.displays, services.accessibility, services.applications,
                            services.capture};
        }
    };

    // Least time between two key-frame reservations, in seconds.
    static constexpr double minFrameGap = 0.3;
    // Pointer travel in points beyond which a dragged press is a drag.
    static constexpr double dragThreshold = 6.0;
    // How long stop() waits for any one screenshot before counting it, and every one still out
    // after it, as failed.
    static constexpr double captureWaitLimit = 10.0;

    using StopCompletion = std::function<void(std::optional<Recording>)>;

    // Receives a recording that ended without stop() because its input went away with the
    // display server. It has been saved with everything recorded before, and is lastRecording().
    std::function<void(const Recording&)> onInterrupted;

    explicit Recorder(Platform platform);
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    bool isRecording() const { return isRecording_; }
    // The recording built by the last completed stop().
    const std::optional<Recording>& lastRecording() const { return lastRecording_; }
    // Why the recording of the last completed stop() could not be saved; empty when it was.
    const std::optional<std::string>& lastSaveError() const { return lastSaveError_; }

    // Begins a recording. False when the input tap could not be installed (no permission, no
    // session): then nothing changes and isRecording() stays false. True while recording.
    bool start();
    // Ends the recording: flushes the open runs, waits for every screenshot in order of
    // reservation, renumbers the frames, saves the recording and hands it to `completion` in a
    // later main-queue work item. Never blocks. Without a recording under way the completion
    // receives lastRecording().
    void stop(StopCompletion completion);
    // Ends the recording at once, as when its input goes away (onInterrupted receives it), or
    // ends a stop under way without waiting further (its completion receives it): screenshots
    // still out count as failed. For a process about to end. Saved when this returns.
    void interrupt();
    // Waits, for at most `limit` seconds, until the screenshots still out have ended and those
    // given up on have let go of their files: for a process that ends without its destructors.
    // True when they have.
    bool settleCaptures(double limit) { return capturer_.waitUntilIdle(limit); }

private:
    struct MouseGesture {
        Point point;
        InputMonitor::MouseButton button;
        std::int64_t clickCount;
        double offset;
        std::optional<AXTarget> target;
        std::optional<std::int64_t> frameReservation;
        bool dragged = false;
    };
    struct KeyRun {
        std::string text;
        std::optional<AXTarget> target;
        bool secure;
        double offset;
        std::optional<std::int64_t> frameReservation;
        // Begun while the focused element could not be told: secure, and without a target
        // until a lookup finds the secure element the keys go to.
        bool unresolved = false;
        // Keeps no text up to the next key without text, whatever is read meanwhile: begun in a
        // secure field, in a terminal that did not echo, or from a reading that input typed
        // after its key may have overtaken.
        bool held = false;
        // Text from a terminal that echoed. Its echo belongs to the whole terminal, and a
        // program may turn it off while a line is being typed.
        bool terminal = false;
    };
    struct ScrollRun {
        Point point;
        double dx;
        double dy;
        double offset;
        std::optional<AXTarget> target;
        std::optional<std::int64_t> frameReservation;
    };

    void handle(const InputMonitor::Signal& signal);
    double offset() const;
    void noteContext(const std::optional<AXTarget>& target);
    void emitMouseGesture(Point endingAt);
    void handleKey(std::uint16_t keyCode, std::uint64_t flags,
                   const std::optional<std::string>& characters);
    void handleText(const std::string& characters);
    void withholdKeyRun();
    static bool isTextProducing(std::uint16_t keyCode,
                                const std::optional<std::string>& characters);
    static bool sameTarget(const std::optional<AXTarget>& a, const std::optional<AXTarget>& b);
    AXResolver::Focus focusForKey();
    void flushKeyRun();
    void beginBlindRun(bool held);
    void flushScroll();

    // Key frames.
    std::optional<std::int64_t> requestFrame(std::optional<Point> at);
    Point mainCenter() const;
    // The secure fields' frames in the display's image pixels, clipped to it.
    static std::vector<Rect> secureRegionsInPixels(const std::vector<Rect>& fields,
                                                   const DisplayInfo& display);
    void captureFinished(std::int64_t reservation, std::optional<FrameRef> frame);

    // Stopping.
    void inputLost();
    void awaitCaptures(std::size_t from);
    void finishStop();

    Platform platform_;
    AXResolver resolver_;
    InputMonitor monitor_;
    FrameCapturer capturer_;
    RecordingStore store_;

    bool isRecording_ = false;
    std::optional<Recording> lastRecording_;
    std::optional<std::string> lastSaveError_;

    Uuid id_ = Uuid::random();
    Date startDate_;
    double startMonotonic_ = 0;
    std::vector<DisplayInfo> displays_;
    std::vector<ActionEvent> events_;
    std::vector<AppContextSnapshot> appContexts_;
    std::optional<Point> lastMousePoint_;
    std::optional<MouseGesture> gesture_;
    std::optional<KeyRun> keyRun_;
    std::optional<ScrollRun> scrollRun_;
    // Input since the last focus lookup that succeeded may have moved the focus.
    bool focusMayHaveMoved_ = true;
    // The recording's frames folder was made (or found) as ours; without it no frame is taken.
    bool framesFolderReady_ = false;
    std::int64_t framesRequested_ = 0;
    std::map<std::int64_t, FrameRef> framesByReservation_;
    // Reservation numbers of the captures started, in order; those still out are in pending.
    std::vector<std::int64_t> captureTasks_;
    std::set<std::int64_t> pendingCaptures_;
    std::map<std::int64_t, FrameCapturer::Ticket> captureTickets_;
    double lastFrameOffset_ = -1.0;

    // A stop in progress: the completion, and the capture it is waiting for.
    struct Stopping {
        StopCompletion completion;
        std::size_t waitingIndex = 0;
        std::optional<std::int64_t> waitingFor;
    };
    std::optional<Stopping> stopping_;
    // Bumped at every start, so late captures and timers of an earlier recording do nothing.
    std::uint64_t generation_ = 0;
    // Work queued for later holds this weakly: a recorder gone by then is left alone.
    std::shared_ptr<Recorder*> self_;
};

} // namespace kestro
