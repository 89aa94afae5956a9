#include "platform/linux/X11EventTaps.h"
#include "platform/linux/XConnection.h"

#include "platform/linux/SessionLockWatch.h"
#include "platform/linux/X11InputTranslator.h"
#include "platform/linux/X11KeyTable.h"
#include "platform/linux/X11Monitors.h"
#include "platform/linux/XSettings.h"

#include <X11/XKBlib.h>
#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/record.h>
#include <xcb/xcb.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

namespace kestro::platform::linux_x11 {

namespace et = platform::event_type;

struct X11EventTaps::Shared {
    // Key presses (X key code, modifier mask) our active filters hold passive grabs on.
    std::multiset<std::pair<std::uint8_t, std::uint16_t>> grabs;
    std::unique_ptr<SessionLockWatch> lock;
    CostObserver costObserver;

    bool keysWithheld() const { return lock && lock->active(); }
    void reportCost(std::chrono::steady_clock::time_point start, int events) const {
        if (costObserver) {
            costObserver(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                events);
        }
    }
};

namespace {

constexpr std::uint64_t keyTypes =
    eventMaskBit(et::keyDown) | eventMaskBit(et::keyUp) | eventMaskBit(et::flagsChanged);
constexpr std::uint64_t buttonTypes =
    eventMaskBit(et::leftMouseDown) | eventMaskBit(et::leftMouseUp) |
    eventMaskBit(et::rightMouseDown) | eventMaskBit(et::rightMouseUp) |
    eventMaskBit(et::scrollWheel);
constexpr std::uint64_t motionTypes = eventMaskBit(et::mouseMoved) |
                                      eventMaskBit(et::leftMouseDragged) |
                                      eventMaskBit(et::rightMouseDragged);

// The device events of one tap: RECORD data on one connection; XInput2 raw events, keymap
// changes and the RECORD context on the other.
class InputStream {
public:
    // How long readWaiting() waits for the server.
    static constexpr auto waitingInputLimit = std::chrono::milliseconds(500);

    using Sink = std::function<int(const TranslatedEvent&)>;
    using LostSink = std::function<void()>;

    static std::unique_ptr<InputStream> open(MainQueue& queue, std::uint64_t mask, Sink sink,
                                             LostSink lost,
                                             std::shared_ptr<X11EventTaps::Shared> shared);
    ~InputStream();
    InputStream(const InputStream&) = delete;
    InputStream& operator=(const InputStream&) = delete;

    // Delivers now every input event the server had handled when this was called.
    bool readWaiting();

private:
    InputStream() = default;
    bool start(MainQueue& queue, std::uint64_t mask);
    static void recorded(XPointer closure, XRecordInterceptData* data);
    bool awaitStart();
    void onControl();
    void onData();
    void deliverPending();
    // Last thing a handler does: the sink may destroy this stream.
    void checkLost();

    Display* control_ = nullptr;
    Display* data_ = nullptr;
    XRecordContext context_ = 0;
    bool recording_ = false;
    bool started_ = false;
    bool closing_ = false;
    int xiOpcode_ = 0;
    int xkbEventBase_ = -1;
    std::unique_ptr<X11InputTranslator> translator_;
    std::vector<X11CoreEvent> pending_;
    // The control connection's requests come back on the data connection as markers: one that
    // has come back has all the input the server handled before it ahead of it.
    std::uint32_t controlIdBase_ = 0;
    std::uint64_t markersSent_ = 0;
    std::uint64_t markersSeen_ = 0;
    Sink sink_;
    LostSink lost_;
    std::shared_ptr<X11EventTaps::Shared> shared_;
    std::unique_ptr<MainQueue::Token> controlWatch_;
    std::unique_ptr<MainQueue::Token> dataWatch_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

std::unique_ptr<InputStream> InputStream::open(MainQueue& queue, std::uint64_t mask, Sink sink,
                                               LostSink lost,
                                               std::shared_ptr<X11EventTaps::Shared> shared) {
    std::unique_ptr<InputStream> stream(new InputStream());
    stream->sink_ = std::move(sink);
    stream->lost_ = std::move(lost);
    stream->shared_ = std::move(shared);
    if (!stream->start(queue, mask)) {
        return nullptr;
    }
    return stream;
}

bool InputStream::start(MainQueue& queue, std::uint64_t mask) {
    control_ = openDisplay();
    data_ = openDisplay();
    if (!control_ || !data_) {
        return false;
    }
    int event = 0, error = 0;
    int major = 2, minor = 2;
    if (!XQueryExtension(control_, "XInputExtension", &xiOpcode_, &event, &error) ||
        XIQueryVersion(control_, &major, &minor) != Success || major < 2 ||
        (major == 2 && minor < 2)) {
        return false;
    }
    int recordMajor = 0, recordMinor = 0;
    if (!XRecordQueryVersion(control_, &recordMajor, &recordMinor)) {
        return false;
    }
    int xkbOpcode = 0, xkbError = 0, xkbMajor = XkbMajorVersion, xkbMinor = XkbMinorVersion;
    if (XkbQueryExtension(control_, &xkbOpcode, &xkbEventBase_, &xkbError, &xkbMajor, &xkbMinor)) {
        const unsigned selected = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
        XkbSelectEvents(control_, XkbUseCoreKbd, selected, selected);
    }
    auto keymap = X11Keymap::fromConnection(XGetXCBConnection(control_));
    if (!keymap) {
        return false;
    }
    X11InputTranslator::ClickSettings clicks;
    if (auto ms = readXSettingsInteger(control_, "Net/DoubleClickTime"); ms && *ms > 0) {
        clicks.doubleClickMilliseconds = static_cast<std::uint32_t>(*ms);
    }
    if (auto px = readXSettingsInteger(control_, "Net/DoubleClickDistance"); px && *px >= 0) {
        clicks.doubleClickDistance = *px;
    }
    translator_ = std::make_unique<X11InputTranslator>(std::move(keymap), clicks,
                                                       mainMonitorOrigin(listMonitors(control_)));

    // The raw events of master devices only: selecting every device would double each one.
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    int firstCore = MotionNotify, lastCore = KeyPress;
    if (mask & keyTypes) {
        XISetMask(bits, XI_RawKeyPress);
        XISetMask(bits, XI_RawKeyRelease);
        firstCore = std::min(firstCore, KeyPress);
        lastCore = std::max(lastCore, KeyRelease);
    }
    if (mask & buttonTypes) {
        XISetMask(bits, XI_RawButtonPress);
        XISetMask(bits, XI_RawButtonRelease);
        firstCore = std::min(firstCore, ButtonPress);
        lastCore = std::max(lastCore, ButtonRelease);
    }
    if (mask & motionTypes) {
        XISetMask(bits, XI_RawMotion);
        firstCore = std::min(firstCore, MotionNotify);
        lastCore = std::max(lastCore, MotionNotify);
    }
    XIEventMask selection{XIAllMasterDevices, sizeof bits, bits};
    XISelectEvents(control_, DefaultRootWindow(control_), &selection, 1);

    XRecordRange* range = XRecordAllocRange();
    if (!range) {
        return false;
    }
    range->device_events.first = static_cast<unsigned char>(firstCore);
    range->device_events.last = static_cast<unsigned char>(lastCore);
    range->core_requests.first = X_NoOperation;
    range->core_requests.last = X_NoOperation;
    controlIdBase_ = xcb_get_setup(XGetXCBConnection(control_))->resource_id_base;
    XRecordClientSpec clients = XRecordAllClients;
    context_ = XRecordCreateContext(control_, 0, &clients, 1, &range, 1);
    XFree(range);
    XSync(control_, False);
    if (!context_ || !XRecordEnableContextAsync(data_, context_, &InputStream::recorded,
                                                reinterpret_cast<XPointer>(this))) {
        return false;
    }
    recording_ = true;
    XFlush(data_);
    if (!awaitStart()) {
        return false;
    }

    controlWatch_ = queue.watch(ConnectionNumber(control_), MainQueue::FdEvents::readable, [this] {
        const auto start = std::chrono::steady_clock::now();
        onControl();
        shared_->reportCost(start, 0);
        checkLost();
    });
    dataWatch_ = queue.watch(ConnectionNumber(data_), MainQueue::FdEvents::readable, [this] {
        std::weak_ptr<int> alive = alive_;
        onData();
        if (!alive.expired()) {
            checkLost();
        }
    });
    if (!pending_.empty()) {
        // Input read while waiting for the start is in Xlib's buffer: the socket will not say so.
        std::weak_ptr<int> alive = alive_;
        queue.post([this, alive] {
            if (!alive.expired()) {
                onData();
            }
        });
    }
    return true;
}

void InputStream::checkLost() {
    if (!connectionLost(control_) && !connectionLost(data_)) {
        return;
    }
    // The server is gone: a lost connection reads as ready for ever, so the watches go, and the
    // tap hears of it once.
    closing_ = true;
    controlWatch_.reset();
    dataWatch_.reset();
    if (auto lost = std::exchange(lost_, nullptr)) {
        lost();
    }
}

InputStream::~InputStream() {
    closing_ = true;
    controlWatch_.reset();
    dataWatch_.reset();
    if (recording_ && !connectionLost(control_)) {
        XRecordDisableContext(control_, context_);
        XRecordFreeContext(control_, context_);
        XSync(control_, False);
    }
    if (data_) {
        closeDisplay(data_);
    }
    if (control_) {
        closeDisplay(control_);
    }
}

// The server records only once it has handled the enable request, which another client's input
// may overtake; until its first reply says so, a double tap made now could be half missed.
bool InputStream::awaitStart() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!started_) {
        XRecordProcessReplies(data_);
        if (started_) {
            break;
        }
        if (connectionLost(data_)) {
            return false;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return true; // a server this slow still starts recording; nothing better to do
        }
        pollfd fd{ConnectionNumber(data_), POLLIN, 0};
        ::poll(&fd, 1, static_cast<int>(std::min<long>(left.count(), 50)));
    }
    return true;
}

void InputStream::recorded(XPointer closure, XRecordInterceptData* data) {
    auto* self = reinterpret_cast<InputStream*>(closure);
    if (data->category == XRecordStartOfData) {
        self->started_ = true;
    }
    if (data->category == XRecordFromClient && data->id_base == self->controlIdBase_ &&
        data->data_len >= 1 && data->data[0] == X_NoOperation) {
        ++self->markersSeen_;
    }
    if (!self->closing_ && data->category == XRecordFromServer && data->data_len * 4 >= 32) {
        xEvent wire;
        std::memcpy(&wire, data->data, sizeof wire);
        X11CoreEvent e;
        e.type = static_cast<std::uint8_t>(wire.u.u.type & 0x7F);
        e.detail = wire.u.u.detail;
        e.time = static_cast<std::uint32_t>(wire.u.keyButtonPointer.time);
        e.rootX = wire.u.keyButtonPointer.rootX;
        e.rootY = wire.u.keyButtonPointer.rootY;
        e.state = wire.u.keyButtonPointer.state;
        self->pending_.push_back(e);
    }
    XRecordFreeData(data);
}

void InputStream::onControl() {
    bool ring = false;
    bool reload = false;
    for (int round = 0; round < 2; ++round) {
        while (XPending(control_)) {
            XEvent event;
            XNextEvent(control_, &event);
            if (event.type == GenericEvent && event.xcookie.extension == xiOpcode_) {
                ring = true;
            } else if (xkbEventBase_ >= 0 && event.type == xkbEventBase_) {
                const auto& xkb = reinterpret_cast<const XkbEvent&>(event);
                reload = reload || xkb.any.xkb_type == XkbNewKeyboardNotify ||
                         xkb.any.xkb_type == XkbMapNotify;
            } else if (event.type == MappingNotify) {
                reload = true;
            }
        }
        if (!reload) {
            break;
        }
        // Reading the new keymap takes round trips that may queue further events.
        if (auto keymap = X11Keymap::fromConnection(XGetXCBConnection(control_))) {
            translator_->setKeymap(std::move(keymap));
        }
        reload = false;
    }
    if (ring) {
        // A request with a reply makes the server flush RECORD's buffer to the data connection
        // now instead of at its next flush, which may be one input event later.
        xcb_connection_t* connection = XGetXCBConnection(control_);
        xcb_discard_reply(connection, xcb_get_input_focus(connection).sequence);
        xcb_flush(connection);
    }
}

bool InputStream::readWaiting() {
    if (closing_ || connectionLost(control_) || connectionLost(data_)) {
        return false;
    }
    // The marker is handled after every input event the server handled before it; the request
    // with a reply after it makes the server flush what it recorded instead of keeping it.
    xcb_connection_t* connection = XGetXCBConnection(control_);
    const std::uint64_t wanted = ++markersSent_;
    xcb_no_operation(connection);
    xcb_discard_reply(connection, xcb_get_input_focus(connection).sequence);
    xcb_flush(connection);
    const auto deadline = std::chrono::steady_clock::now() + waitingInputLimit;
    for (;;) {
        XRecordProcessReplies(data_);
        if (markersSeen_ >= wanted || connectionLost(data_)) {
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd fd{ConnectionNumber(data_), POLLIN, 0};
        ::poll(&fd, 1, static_cast<int>(left.count()));
    }
    const bool complete = markersSeen_ >= wanted;
    std::weak_ptr<int> alive = alive_;
    deliverPending();
    return complete && !alive.expired();
}

void InputStream::onData() {
    XRecordProcessReplies(data_);
    deliverPending();
}

void InputStream::deliverPending() {
    const auto start = std::chrono::steady_clock::now();
    std::vector<X11CoreEvent> batch;
    batch.swap(pending_);
    for (const auto& event : batch) {
        if (event.type == KeyPress || event.type == KeyRelease) {
            onControl(); // keymap changes the server made before these keys
            break;
        }
    }
    std::weak_ptr<int> alive = alive_;
    auto shared = shared_;
    int delivered = 0;
    for (const auto& event : batch) {
        if (auto translated = translator_->translate(event)) {
            delivered += sink_(*translated);
            if (alive.expired()) {
                return; // the callback removed the tap
            }
        }
    }
    shared->reportCost(start, delivered);
}

// Passive grabs of an active filter's intercepted keys, on a connection of their own. A thread of
// their own reads that connection's events and hands the keyboard back: the keyboard a holding
// key froze is let go within a short time whatever the main thread is doing.
class KeyGrabs {
public:
    static std::unique_ptr<KeyGrabs> open(std::shared_ptr<X11EventTaps::Shared> shared) {
        std::unique_ptr<KeyGrabs> grabs(new KeyGrabs());
        grabs->shared_ = std::move(shared);
        int screen = 0;
        grabs->connection_ = xcb_connect(nullptr, &screen);
        if (xcb_connection_has_error(grabs->connection_)) {
            return nullptr;
        }
        auto it = xcb_setup_roots_iterator(xcb_get_setup(grabs->connection_));
        for (int i = 0; i < screen && it.rem; ++i) {
            xcb_screen_next(&it);
        }
        if (!it.rem) {
            return nullptr;
        }
        grabs->root_ = it.data->root;
        grabs->wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (grabs->wake_ < 0) {
            return nullptr;
        }
        KeyGrabs* self = grabs.get();
        grabs->thread_ = std::thread([self] { self->run(); });
        return grabs;
    }

    ~KeyGrabs() {
        if (thread_.joinable()) {
            stopping_ = true;
            wake();
            thread_.join();
        }
        if (wake_ >= 0) {
            ::close(wake_);
        }
        if (!connection_) {
            return;
        }
        if (release([](const auto&) { return true; })) {
            awaitServer(); // like any release, gone in the server before the tap is
        }
        xcb_disconnect(connection_);
    }

    // Replaces the reserved keys; returns those refused because another client holds their
    // plain combination. A refused key keeps none of its other combinations either: half a
    // reservation would swallow the key whenever a lock key happens to be on.
    std::vector<KeyChord> set(const std::vector<KeyChord>& keys) {
        using Grab = std::pair<std::uint8_t, std::uint16_t>;
        struct Wanted {
            KeyChord chord;
            std::set<Grab> all, essential;
        };
        std::vector<Wanted> chords;
        std::vector<KeyChord> refused;
        std::set<Grab> wanted;
        for (const auto& chord : keys) {
            const std::uint32_t keycode = xKeycodeFor(chord.keyCode);
            if (keycode < 8 || keycode > 255) {
                refused.push_back(chord);
                continue;
            }
            Wanted w{chord, {}, {}};
            const GrabMasks masks = grabMasksFor(chord.requiredFlags, chord.excludedFlags);
            for (std::uint16_t m : masks.all) {
                w.all.emplace(static_cast<std::uint8_t>(keycode), m);
            }
            for (std::uint16_t m : masks.base) {
                w.essential.emplace(static_cast<std::uint8_t>(keycode), m);
            }
            wanted.insert(w.all.begin(), w.all.end());
            chords.push_back(std::move(w));
        }
        std::set<std::uint8_t> holding;
        for (const auto& w : chords) {
            if (w.chord.holdsKeyboard) {
                for (const Grab& g : w.all) {
                    holding.insert(g.first);
                }
            }
        }
        std::set<std::uint8_t> wereHolding;
        {
            std::lock_guard lock(mutex_);
            wereHolding = std::exchange(holdingKeys_, holding);
        }
        // A key whose hold changed is grabbed again in its new mode.
        bool released = release([&](const Grab& g) {
            return !wanted.count(g) || holding.count(g.first) != wereHolding.count(g.first);
        });
        std::vector<std::pair<Grab, xcb_void_cookie_t>> cookies;
        for (const auto& grab : wanted) {
            if (!held_.count(grab)) {
                // A holding key freezes the keyboard when pressed: what follows waits in the
                // server, in order, until the keyboard is handed back.
                const std::uint8_t keyboardMode =
                    holding.count(grab.first) ? XCB_GRAB_MODE_SYNC : XCB_GRAB_MODE_ASYNC;
                cookies.emplace_back(grab, xcb_grab_key_checked(connection_, 0, root_, grab.second,
                                                                grab.first, XCB_GRAB_MODE_ASYNC,
                                                                keyboardMode));
            }
        }
        std::set<Grab> failed;
        for (const auto& [grab, cookie] : cookies) {
            if (xcb_generic_error_t* error = xcb_request_check(connection_, cookie)) {
                std::free(error);
                failed.insert(grab);
                continue;
            }
            held_.insert(grab);
            shared_->grabs.insert(grab);
        }
        std::set<Grab> kept;
        for (const auto& w : chords) {
            const bool lost = std::any_of(w.essential.begin(), w.essential.end(),
                                          [&](const Grab& g) { return failed.count(g) > 0; });
            if (lost) {
                refused.push_back(w.chord);
            } else {
                kept.insert(w.all.begin(), w.all.end());
            }
        }
        released = release([&](const Grab& g) { return !kept.count(g); }) || released;
        if (released) {
            // Like the grabs, done before we return: a key typed right after goes to the
            // focused window, not to a grab the server has yet to hear is gone.
            awaitServer();
        }
        xcb_flush(connection_);
        // The replies waited for here may have queued events the thread's poll will not see.
        wake();
        // In the order given.
        std::vector<KeyChord> ordered;
        for (const auto& chord : keys) {
            if (std::find(refused.begin(), refused.end(), chord) != refused.end()) {
                ordered.push_back(chord);
            }
        }
        return ordered;
    }

private:
    KeyGrabs() = default;

    template <typename Predicate> bool release(Predicate shouldRelease) {
        bool any = false;
        for (auto it = held_.begin(); it != held_.end();) {
            if (!shouldRelease(*it)) {
                ++it;
                continue;
            }
            xcb_ungrab_key(connection_, it->first, root_, it->second);
            shared_->grabs.erase(shared_->grabs.find(*it));
            it = held_.erase(it);
            any = true;
        }
        return any;
    }

    void awaitServer() {
        std::free(
            xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    }

    void wake() {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wake_, &one, sizeof one);
    }

    // The thread's, as are the functions below.
    void run() {
        pollfd fds[2] = {{xcb_get_file_descriptor(connection_), POLLIN, 0}, {wake_, POLLIN, 0}};
        while (!stopping_ && !xcb_connection_has_error(connection_)) {
            if (holding_) {
                checkHold();
            }
            // Read after the focus is asked for: its reply may have queued some.
            onEvents();
            ::poll(fds, 2, holding_ ? static_cast<int>(holdPoll.count()) : -1);
            std::uint64_t count = 0;
            [[maybe_unused]] const auto read = ::read(wake_, &count, sizeof count);
        }
        if (holding_) {
            endHold();
        }
    }

    void onEvents() {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            if ((event->response_type & 0x7F) == XCB_KEY_PRESS) {
                // The key press is taken from the focused window. The keyboard is handed back at
                // once so that later keys, and this key's release, go where they belong; after a
                // holding key, once the focus has moved to the window it opens.
                const auto* press = reinterpret_cast<xcb_key_press_event_t*>(event);
                bool holds = false;
                {
                    std::lock_guard lock(mutex_);
                    holds = holdingKeys_.count(press->detail) > 0;
                }
                if (holds && !holding_) {
                    holding_ = true;
                    focusAtHold_ = inputFocus();
                    heldSince_ = std::chrono::steady_clock::now();
                } else if (!holding_) {
                    xcb_ungrab_keyboard(connection_, press->time);
                    xcb_flush(connection_);
                }
            }
            std::free(event);
        }
    }

    xcb_window_t inputFocus() {
        auto* reply =
            xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr);
        const xcb_window_t focus = reply ? reply->focus : XCB_NONE;
        std::free(reply);
        return focus;
    }

    void checkHold() {
        if (inputFocus() != focusAtHold_ ||
            std::chrono::steady_clock::now() - heldSince_ > maxHold) {
            endHold();
        }
    }

    void endHold() {
        holding_ = false;
        xcb_ungrab_keyboard(connection_, XCB_CURRENT_TIME);
        xcb_flush(connection_);
    }

    // How long typed keys wait for the window a holding key opens, and how often the focus is
    // looked at meanwhile.
    static constexpr auto maxHold = std::chrono::milliseconds(300);
    static constexpr auto holdPoll = std::chrono::milliseconds(2);

    xcb_connection_t* connection_ = nullptr;
    int wake_ = -1;
    std::atomic<bool> stopping_ = false;
    std::thread thread_;
    std::mutex mutex_;
    std::set<std::uint8_t> holdingKeys_; // under mutex_
    // The main thread's.
    std::shared_ptr<X11EventTaps::Shared> shared_;
    xcb_window_t root_ = 0;
    std::set<std::pair<std::uint8_t, std::uint16_t>> held_;
    // The thread's.
    bool holding_ = false;
    xcb_window_t focusAtHold_ = XCB_NONE;
    std::chrono::steady_clock::time_point heldSince_;
};

struct TapFlags {
    bool enabled = false;
    bool attached = false;
};

class RunLoopSource final : public MainQueue::Token {
public:
    explicit RunLoopSource(std::weak_ptr<TapFlags> flags) : flags_(std::move(flags)) {}
    ~RunLoopSource() override { cancel(); }
    void cancel() override {
        if (auto f = flags_.lock()) {
            f->attached = false;
        }
        flags_.reset();
    }

private:
    std::weak_ptr<TapFlags> flags_;
};

class X11Tap final : public EventTap {
public:
    X11Tap(MainQueue& queue, std::shared_ptr<X11EventTaps::Shared> shared, TapOptions options,
           std::uint64_t mask, TapCallback callback)
        : queue_(queue), shared_(std::move(shared)), options_(options), mask_(mask),
          callback_(std::move(callback)) {}

    bool open(const std::vector<KeyChord>& keys) {
        stream_ = InputStream::open(
            queue_, mask_, [this](const TranslatedEvent& e) { return deliver(e); },
            [this] { deliverEnd(); }, shared_);
        if (!stream_) {
            return false;
        }
        // Keys another client holds are left to it; the tap runs without them.
        if (options_ == TapOptions::defaultFilter && !keys.empty()) {
            setInterceptedKeys(keys);
        }
        return true;
    }

    void setEnabled(bool enabled) override { flags_->enabled = enabled; }
    bool isEnabled() const override { return flags_->enabled; }
    bool readWaitingInput() override { return stream_ && stream_->readWaiting(); }
    std::unique_ptr<MainQueue::Token> addToMainRunLoop() override {
        flags_->attached = true;
        return std::make_unique<RunLoopSource>(flags_);
    }

    std::vector<KeyChord> setInterceptedKeys(const std::vector<KeyChord>& keys) override {
        if (options_ != TapOptions::defaultFilter) {
            return keys;
        }
        if (!grabs_) {
            if (keys.empty()) {
                return {};
            }
            grabs_ = KeyGrabs::open(shared_);
            if (!grabs_) {
                return keys;
            }
        }
        return grabs_->set(keys);
    }

private:
    void deliverEnd() {
        flags_->enabled = false;
        InputEvent event;
        event.type = et::tapEnded;
        // Copied, and nothing touched after: the callback may remove this tap.
        auto callback = callback_;
        callback(et::tapEnded, event);
    }

    int deliver(const TranslatedEvent& t) {
        const std::uint32_t type = t.event.type;
        if (!flags_->enabled || !flags_->attached || type >= 64 ||
            (mask_ & eventMaskBit(type)) == 0) {
            return 0;
        }
        const bool keyEvent = (keyTypes & eventMaskBit(type)) != 0;
        if (keyEvent && shared_->keysWithheld()) {
            return 0;
        }
        if (options_ == TapOptions::listenOnly && type == et::keyDown &&
            shared_->grabs.count({t.xKeycode, t.xState & grabModifierBits})) {
            return 0; // taken from the focused window by one of our filters
        }
        // Copied: the callback may remove this tap.
        auto callback = callback_;
        callback(type, t.event);
        return 1;
    }

    MainQueue& queue_;
    std::shared_ptr<X11EventTaps::Shared> shared_;
    TapOptions options_;
    std::uint64_t mask_;
    TapCallback callback_;
    std::shared_ptr<TapFlags> flags_ = std::make_shared<TapFlags>();
    std::unique_ptr<InputStream> stream_;
    std::unique_ptr<KeyGrabs> grabs_;
};

} // namespace

X11EventTaps::X11EventTaps(MainQueue& queue) : queue_(queue), shared_(std::make_shared<Shared>()) {}

X11EventTaps::~X11EventTaps() = default;

std::unique_ptr<EventTap> X11EventTaps::createTap(TapPlacement, TapOptions options,
                                                  std::uint64_t eventsOfInterest,
                                                  TapCallback callback,
                                                  const std::vector<KeyChord>& interceptedKeys) {
    if (!shared_->lock) {
        shared_->lock = std::make_unique<SessionLockWatch>(queue_);
    }
    auto tap =
        std::make_unique<X11Tap>(queue_, shared_, options, eventsOfInterest, std::move(callback));
    if (!tap->open(interceptedKeys)) {
        return nullptr;
    }
    return tap;
}

bool X11EventTaps::keyInputWithheld() const {
    return shared_->keysWithheld();
}

void X11EventTaps::setCostObserver(CostObserver observer) {
    shared_->costObserver = std::move(observer);
}

} // namespace kestro::platform::linux_x11
