#include "KestroCore/Recorder.h"

#include "KestroBase/Text.h"
#include "KestroCore/Displays.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <type_traits>

namespace kestro {

namespace {

constexpr std::uint64_t kCommandFlag = 0x100000;
constexpr std::uint64_t kControlFlag = 0x40000;
constexpr std::uint64_t kOptionFlag = 0x80000;

// Keys that never type text, whatever characters they report.
bool isNonTextKey(std::uint16_t keyCode) {
    switch (keyCode) {
    case 36:  // Return
    case 48:  // Tab
    case 53:  // Escape
    case 51:  // Delete
    case 117: // Forward Delete
    case 123: // Left Arrow
    case 124: // Right Arrow
    case 125: // Down Arrow
    case 126: // Up Arrow
    case 115: // Home
    case 116: // Page Up
    case 119: // End
    case 121: // Page Down
    case 76:  // keypad Enter
        return true;
    default:
        return false;
    }
}

std::string relativeFramePath(std::int64_t reservation) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "frames/%06lld", static_cast<long long>(reservation));
    return std::string(buffer) + ".png";
}

// Halves away from zero; nothing for a product no capture could be asked for.
std::optional<int> pixelCount(double points, double scale) {
    const double product = std::round(points * scale);
    if (!std::isfinite(product) || product < 1 ||
        product > static_cast<double>(std::numeric_limits<int>::max())) {
        return std::nullopt;
    }
    return static_cast<int>(product);
}

} // namespace

Recorder::Recorder(Platform platform)
    : platform_(platform), resolver_(platform.accessibility, platform.applications),
      monitor_(platform.taps, platform.queue), capturer_(platform.screenCapture, platform.queue),
      startDate_(platform.clock.now()), startMonotonic_(platform.clock.monotonicSeconds()),
      self_(std::make_shared<Recorder*>(this)) {}

Recorder::~Recorder() {
    monitor_.onSignal = nullptr;
    monitor_.onEnded = nullptr;
    monitor_.stop();
}

double Recorder::offset() const {
    // The monotonic clock: a change of the wall clock during a recording must neither hold back
    // key frames nor make offsets run backwards.
    return platform_.clock.monotonicSeconds() - startMonotonic_;
}

bool Recorder::start() {
    if (isRecording_) {
        return true;
    }
    if (stopping_) {
        return false;
    }
    // The tap first: a recording that could never receive input must not begin (nor leave an
    // empty folder behind). Signals arrive through later work items, so none is handled before
    // the fields below are reset.
    monitor_.onSignal = [this](const InputMonitor::Signal& signal) { handle(signal); };
    monitor_.onEnded = [this] { inputLost(); };
    if (!monitor_.start()) {
        monitor_.onSignal = nullptr;
        monitor_.onEnded = nullptr;
        return false;
    }
    ++generation_;
    id_ = Uuid::random();
    startDate_ = platform_.clock.now();
    startMonotonic_ = platform_.clock.monotonicSeconds();
    displays_ = Displays::all(platform_.displays);

    events_.clear();
    appContexts_.clear();
    lastMousePoint_.reset();
    gesture_.reset();
    keyRun_.reset();
    scrollRun_.reset();
    focusMayHaveMoved_ = true;
    framesRequested_ = 0;
    framesByReservation_.clear();
    captureTasks_.clear();
    pendingCaptures_.clear();
    captureTickets_.clear();
    lastFrameOffset_ = -1.0;

    framesFolderReady_ = false;
    try {
        store_.prepareFramesDirectory(id_);
        framesFolderReady_ = true;
    } catch (const std::exception&) {
        // No frame is taken in this recording: what stands in the folder's place (a link to
        // elsewhere, a file) is not ours to write into, even should it change meanwhile.
    }
    noteContext(resolver_.focusedTarget());
    isRecording_ = true;
    return true;
}

void Recorder::handle(const InputMonitor::Signal& signal) {
    std::visit(
        [this](const auto& s) {
            using T = std::decay_t<decltype(s)>;
            if constexpr (std::is_same_v<T, InputMonitor::MouseDown>) {
                lastMousePoint_ = s.point;
                focusMayHaveMoved_ = true;
                flushKeyRun();
                flushScroll();
                std::optional<AXTarget> target = resolver_.target(s.point);
                noteContext(target);
                std::optional<std::int64_t> reservation = requestFrame(s.point);
                const double at = offset();
                // A gesture still pending (a second button pressed) is replaced and lost.
                gesture_ = MouseGesture{s.point,           s.button,    s.clickCount, at,
                                        std::move(target), reservation, false};
            } else if constexpr (std::is_same_v<T, InputMonitor::MouseUp>) {
                lastMousePoint_ = s.point;
                emitMouseGesture(s.point);
            } else if constexpr (std::is_same_v<T, InputMonitor::MouseDragged>) {
                lastMousePoint_ = s.point;
                if (gesture_) {
                    gesture_->dragged = true;
                }
            } else if constexpr (std::is_same_v<T, InputMonitor::Scroll>) {
                lastMousePoint_ = s.point;
                flushKeyRun();
                if (scrollRun_) {
                    scrollRun_->dx += s.deltaX;
                    scrollRun_->dy += s.deltaY;
                } else {
                    std::optional<AXTarget> target = resolver_.target(s.point);
                    std::optional<std::int64_t> reservation = requestFrame(s.point);
                    const double at = offset();
                    scrollRun_ =
                        ScrollRun{s.point, s.deltaX, s.deltaY, at, std::move(target), reservation};
                }
            } else {
                handleKey(s.keyCode, s.flags, s.characters);
            }
        },
        signal);
}

void Recorder::emitMouseGesture(Point e) {
    if (!gesture_) {
        return;
    }
    MouseGesture g = std::move(*gesture_);
    gesture_.reset();
    ActionEvent event{.timeOffset = g.offset,
                      .location = g.point,
                      .target = std::move(g.target),
                      .frameIndex = g.frameReservation};
    const double distance = std::hypot(e.x - g.point.x, e.y - g.point.y);
    if (g.dragged && distance > dragThreshold) {
        event.type = ActionType::drag;
        event.endLocation = e;
    } else if (g.button == InputMonitor::MouseButton::right) {
        event.type = ActionType::rightClick;
    } else if (g.clickCount < 2) {
        event.type = ActionType::click;
    } else {
        event.type = ActionType::doubleClick;
    }
    events_.push_back(std::move(event));
}

bool Recorder::isTextProducing(std::uint16_t keyCode,
                               const std::optional<std::string>& characters) {
    if (isNonTextKey(keyCode) || !characters || characters->empty()) {
        return false;
    }
    return text::decodeUtf8(*characters).front() >= 0x20;
}

bool Recorder::sameTarget(const std::optional<AXTarget>& a, const std::optional<AXTarget>& b) {
    return a && b && a->appBundleID == b->appBundleID && a->axRole == b->axRole &&
           a->axIdentifier == b->axIdentifier && a->axTitle == b->axTitle;
}

AXResolver::Focus Recorder::focusForKey() {
    AXResolver::Focus focus = resolver_.focusForKey(focusMayHaveMoved_);
    if (!focus.unknown) {
        focusMayHaveMoved_ = false;
    }
    return focus;
}

void Recorder::handleKey(std::uint16_t keyCode, std::uint64_t flags,
                         const std::optional<std::string>& characters) {
    const bool shortcut = (flags & (kCommandFlag | kControlFlag)) != 0;
    const bool isText = !shortcut && isTextProducing(keyCode, characters);
    if (!isText || !characters) {
        flushKeyRun();
        flushScroll();
        std::optional<AXTarget> target = focusForKey().target;
        noteContext(target);
        std::optional<std::int64_t> reservation = requestFrame(lastMousePoint_);
        events_.push_back(ActionEvent{.timeOffset = offset(),
                                      .type = ActionType::keystroke,
                                      .target = std::move(target),
                                      .keyCode = keyCode,
                                      .modifierFlags = flags,
                                      .frameIndex = reservation});
        // Tab, Return, a shortcut: the keys after it may go to another element.
        focusMayHaveMoved_ = true;
        return;
    }
    handleText(*characters);
    if (flags & kOptionFlag) {
        // Alt with a letter may be a mnemonic that moves the focus.
        focusMayHaveMoved_ = true;
    }
}

// A secure run for keys whose field cannot be told: it keeps no text.
void Recorder::beginBlindRun(bool held) {
    flushKeyRun();
    const std::optional<std::int64_t> reservation = requestFrame(lastMousePoint_);
    keyRun_ = KeyRun{.secure = true,
                     .offset = offset(),
                     .frameReservation = reservation,
                     .unresolved = true,
                     .held = held};
}

void Recorder::handleText(const std::string& characters) {
    if (keyRun_ && keyRun_->held) {
        // Up to the next key without text, a reading that says otherwise may have been made
        // after the application handled that key: the Tab typed at once after a password moves
        // the focus, the Return after it has a prompt turn echo back on.
        return;
    }
    AXResolver::Focus focus = focusForKey();
    if (focus.unknown) {
        if (keyRun_ && keyRun_->terminal && focus.silentTerminal) {
            // Echo went off while the line was being typed: the keys before may be part of
            // what the program now reads unseen.
            withholdKeyRun();
            return;
        }
        // Whether this key went into a secure field cannot be told, so its text is not kept:
        // an open secure run takes it (and drops it), or a secure run begins.
        if (keyRun_ && keyRun_->secure) {
            keyRun_->held = focus.silentTerminal; // a held run never gets here
            return;
        }
        beginBlindRun(focus.silentTerminal);
        return;
    }
    std::optional<AXTarget> target = std::move(focus.target);
    const bool secure = target && target->isSecure;
    if (keyRun_ && keyRun_->unresolved && secure) {
        // The run begun blind turns out to be in a secure field: it is that field's run.
        keyRun_->target = target;
        keyRun_->unresolved = false;
        keyRun_->held = true;
        noteContext(target);
        return;
    }
    if (!secure) {
        // The reading was made after this key was handled. Whatever was typed since is read
        // now: a key or press among it that may move the focus or end a line may also have
        // been handled by the application before the reading, which then tells nothing of
        // this key.
        // Already known to be overtaken, the round trip to the server is spared.
        const bool overtaken = monitor_.focusMovesWaiting() > 0 || !monitor_.readWaitingInput() ||
                               monitor_.focusMovesWaiting() > 0;
        if (overtaken) {
            if (keyRun_ && keyRun_->terminal) {
                withholdKeyRun(); // its echo may have gone off and on again meanwhile
                return;
            }
            if (keyRun_ && keyRun_->secure) {
                keyRun_->held = true;
                return;
            }
            beginBlindRun(true);
            return;
        }
    }
    // A password field and a plain field of one application often look alike to sameTarget:
    // a change of secureness always starts a new run, so no password joins plain text. A
    // secure run is held, so only a plain run goes on here.
    if (keyRun_ && !keyRun_->unresolved && !keyRun_->secure && !secure &&
        sameTarget(keyRun_->target, target)) {
        keyRun_->text += characters;
        return;
    }
    flushKeyRun();
    std::optional<std::int64_t> reservation = requestFrame(lastMousePoint_);
    keyRun_ = KeyRun{.text = secure ? std::string() : characters,
                     .target = target,
                     .secure = secure,
                     .offset = offset(),
                     .frameReservation = reservation,
                     .held = secure,
                     .terminal = !secure && focus.echoingTerminal};
    noteContext(target);
}

void Recorder::withholdKeyRun() {
    keyRun_->text.clear();
    keyRun_->target.reset();
    keyRun_->secure = true;
    keyRun_->unresolved = true;
    keyRun_->held = true;
    keyRun_->terminal = false;
}

void Recorder::flushKeyRun() {
    if (!keyRun_) {
        return;
    }
    KeyRun r = std::move(*keyRun_);
    keyRun_.reset();
    std::optional<std::string> typed;
    if (!r.secure && !r.text.empty()) {
        typed = std::move(r.text);
    }
    events_.push_back(ActionEvent{.timeOffset = r.offset,
                                  .type = ActionType::keystroke,
                                  .target = std::move(r.target),
                                  .typedText = std::move(typed),
                                  .frameIndex = r.frameReservation});
}

void Recorder::flushScroll() {
    if (!scrollRun_) {
        return;
    }
    ScrollRun r = std::move(*scrollRun_);
    scrollRun_.reset();
    events_.push_back(ActionEvent{.timeOffset = r.offset,
                                  .type = ActionType::scroll,
                                  .location = r.point,
                                  .scrollDelta = Size{r.dx, r.dy},
                                  .target = std::move(r.target),
                                  .frameIndex = r.frameReservation});
}

void Recorder::noteContext(const std::optional<AXTarget>& t) {
    if (!t || !t->appBundleID) {
        return;
    }
    if (!appContexts_.empty() && appContexts_.back().bundleID == t->appBundleID) {
        return;
    }
    appContexts_.push_back(AppContextSnapshot{.timeOffset = offset(),
                                              .bundleID = t->appBundleID,
                                              .appName = t->appName,
                                              .windowTitle = t->windowTitle});
}

Point Recorder::mainCenter() const {
    const DisplayInfo* chosen = nullptr;
    for (const DisplayInfo& d : displays_) {
        if (d.isMain) {
            chosen = &d;
            break;
        }
    }
    if (!chosen && !displays_.empty()) {
        chosen = &displays_.front();
    }
    if (!chosen) {
        return Point{0, 0};
    }
    return Point{chosen->frame.origin.x + chosen->frame.size.width / 2,
                 chosen->frame.origin.y + chosen->frame.size.height / 2};
}

std::vector<Rect> Recorder::secureRegionsInPixels(const std::vector<Rect>& fields,
                                                  const DisplayInfo& display) {
    const double s = display.scaleFactor;
    const double width = display.frame.size.width * s;
    const double height = display.frame.size.height * s;
    std::vector<Rect> regions;
    for (const Rect& r : fields) {
        const double minX = std::min(r.origin.x, r.origin.x + r.size.width);
        const double minY = std::min(r.origin.y, r.origin.y + r.size.height);
        const double x = (minX - display.frame.origin.x) * s;
        const double y = (minY - display.frame.origin.y) * s;
        const double w = std::abs(r.size.width) * s;
        const double h = std::abs(r.size.height) * s;
        const double left = std::max(0.0, x);
        const double top = std::max(0.0, y);
        const double right = std::min(width, x + w);
        const double bottom = std::min(height, y + h);
        if (left < right && top < bottom) {
            regions.push_back(Rect::make(left, top, right - left, bottom - top));
        }
    }
    return regions;
}

std::optional<std::int64_t> Recorder::requestFrame(std::optional<Point> at) {
    const double now = offset();
    // A gap of exactly minFrameGap passes; offsets are differences of large clock readings, so
    // allow for their rounding.
    if (lastFrameOffset_ >= 0 && now - lastFrameOffset_ < minFrameGap - 1e-9) {
        return std::nullopt;
    }
    const Point point = at ? *at : lastMousePoint_ ? *lastMousePoint_ : mainCenter();
    const std::optional<DisplayInfo> display = Displays::display(point, displays_);
    if (!display) {
        return std::nullopt;
    }
    const std::optional<int> pixelWidth =
        pixelCount(display->frame.size.width, display->scaleFactor);
    const std::optional<int> pixelHeight =
        pixelCount(display->frame.size.height, display->scaleFactor);
    if (!pixelWidth || !pixelHeight) {
        return std::nullopt;
    }
    lastFrameOffset_ = now;
    const std::int64_t n = ++framesRequested_;
    if (!framesFolderReady_) {
        return n; // a failed capture: its number is used up, nothing is taken or written
    }
    const std::string relativePath = relativeFramePath(n);
    const std::filesystem::path url = store_.frameURL(id_, relativePath);
    // The front window is chosen now; its secure fields are read on the capturer's thread just
    // before the screenshot (where the platform can search there), so that a large window never
    // holds up the input handling and the fields are no older than the image.
    FrameCapturer::Redaction redaction = [fields = resolver_.secureFieldReader(),
                                          display =
                                              *display]() -> std::optional<std::vector<Rect>> {
        std::optional<std::vector<Rect>> rects = fields();
        if (!rects) {
            return std::nullopt; // unknown fields: the frame fails rather than show them
        }
        return secureRegionsInPixels(*rects, display);
    };

    captureTasks_.push_back(n);
    pendingCaptures_.insert(n);
    std::weak_ptr<Recorder*> weak = self_;
    const std::uint64_t generation = generation_;
    const std::uint32_t displayID = display->id;
    captureTickets_[n] = capturer_.captureAndSave(
        displayID, *pixelWidth, *pixelHeight, std::move(redaction), url,
        [weak, generation, n, now, relativePath,
         displayID](std::optional<FrameCapturer::Saved> saved) mutable {
            auto self = weak.lock();
            if (!self || (*self)->generation_ != generation) {
                return; // the recorder, or its recording, is gone
            }
            std::optional<FrameRef> frame;
            if (saved) {
                frame = FrameRef{.timeOffset = now,
                                 .relativePath = relativePath,
                                 .displayID = displayID,
                                 .pixelSize = saved->pixelSize,
                                 .redactedRegions = std::move(saved->redacted)};
            }
            (*self)->captureFinished(n, std::move(frame));
        });
    return n;
}

void Recorder::captureFinished(std::int64_t reservation, std::optional<FrameRef> frame) {
    if (pendingCaptures_.erase(reservation) == 0) {
        return; // given up on after the wait limit
    }
    if (frame) {
        framesByReservation_[reservation] = std::move(*frame);
    }
    if (stopping_ && stopping_->waitingFor == reservation) {
        awaitCaptures(stopping_->waitingIndex + 1);
    }
}

void Recorder::stop(StopCompletion completion) {
    if (!isRecording_) {
        platform_.queue.post([completion = std::move(completion), last = lastRecording_] {
            if (completion) {
                completion(last);
            }
        });
        return;
    }
    isRecording_ = false;
    monitor_.stop();
    monitor_.onSignal = nullptr;
    monitor_.onEnded = nullptr;
    flushKeyRun();
    flushScroll();
    // A button still held down is not recorded.
    stopping_ = Stopping{std::move(completion), 0, std::nullopt};
    awaitCaptures(0);
}

void Recorder::inputLost() {
    interrupt();
}

void Recorder::interrupt() {
    if (stopping_) {
        // A stop waiting for its screenshots ends now, through its own completion.
        for (const std::int64_t n : captureTasks_) {
            if (pendingCaptures_.erase(n)) {
                capturer_.cancel(captureTickets_[n]);
            }
        }
        finishStop();
        return;
    }
    if (!isRecording_) {
        return;
    }
    // The display server is gone, and the process may follow it soon: the recording is
    // finished and saved now, without waiting. Screenshots still out count as failed; they
    // cannot succeed without the server.
    isRecording_ = false;
    monitor_.stop();
    monitor_.onSignal = nullptr;
    monitor_.onEnded = nullptr;
    flushKeyRun();
    flushScroll();
    for (const std::int64_t n : captureTasks_) {
        if (pendingCaptures_.erase(n)) {
            capturer_.cancel(captureTickets_[n]);
        }
    }
    stopping_ = Stopping{[this](std::optional<Recording> recording) {
                             if (recording && onInterrupted) {
                                 auto callback = onInterrupted;
                                 callback(*recording);
                             }
                         },
                         0, std::nullopt};
    finishStop();
}

void Recorder::awaitCaptures(std::size_t from) {
    std::size_t index = from;
    while (index < captureTasks_.size() && !pendingCaptures_.count(captureTasks_[index])) {
        ++index;
    }
    if (index == captureTasks_.size()) {
        stopping_->waitingFor.reset();
        // Finish in a work item of its own, so stop() never completes inside its caller.
        std::weak_ptr<Recorder*> weak = self_;
        const std::uint64_t generation = generation_;
        platform_.queue.post([weak, generation] {
            auto self = weak.lock();
            if (self && (*self)->generation_ == generation && (*self)->stopping_) {
                (*self)->finishStop();
            }
        });
        return;
    }
    const std::int64_t n = captureTasks_[index];
    stopping_->waitingIndex = index;
    stopping_->waitingFor = n;
    std::weak_ptr<Recorder*> weak = self_;
    const std::uint64_t generation = generation_;
    platform_.queue.postAfter(captureWaitLimit, [weak, generation, n] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        Recorder& r = **self;
        if (r.generation_ != generation || !r.stopping_ || r.stopping_->waitingFor != n) {
            return;
        }
        // A screenshot that has not come back by now counts as failed, and so does every one
        // still out after it: the capturer takes them one at a time, so they are all held up
        // behind it, and waiting for each in turn would keep the stop going for ten seconds
        // per frame.
        for (std::size_t i = r.stopping_->waitingIndex; i < r.captureTasks_.size(); ++i) {
            const std::int64_t given = r.captureTasks_[i];
            if (r.pendingCaptures_.erase(given)) {
                // A failed frame leaves no file, even one its capture writes later.
                r.capturer_.cancel(r.captureTickets_[given]);
            }
        }
        r.awaitCaptures(r.captureTasks_.size());
    });
}

void Recorder::finishStop() {
    Stopping stopping = std::move(*stopping_);
    stopping_.reset();

    std::vector<FrameRef> frames;
    std::map<std::int64_t, std::int64_t> positions;
    for (auto& [reservation, frame] : framesByReservation_) {
        positions[reservation] = static_cast<std::int64_t>(frames.size());
        frames.push_back(frame);
    }
    for (ActionEvent& event : events_) {
        if (event.frameIndex) {
            auto it = positions.find(*event.frameIndex);
            event.frameIndex =
                it == positions.end() ? std::nullopt : std::optional<std::int64_t>(it->second);
        }
    }
    Recording recording{.id = id_,
                        .startedAt = startDate_,
                        .endedAt = platform_.clock.now(),
                        .displays = displays_,
                        .events = events_,
                        .frames = std::move(frames),
                        .appContexts = appContexts_};
    lastSaveError_.reset();
    try {
        store_.save(recording);
    } catch (const std::exception& e) {
        // The recording is still handed on; the caller decides what an unsaved one means.
        lastSaveError_ = std::string(e.what());
    }
    lastRecording_ = recording;
    if (stopping.completion) {
        stopping.completion(std::move(recording));
    }
}

} // namespace kestro
