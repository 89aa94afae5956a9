#include "platform/fake/FakeEventTaps.h"

#include <algorithm>
#include <utility>

namespace kestro::platform::fake {

namespace {
class SourceToken final : public MainQueue::Token {
public:
    explicit SourceToken(std::weak_ptr<FakeEventTaps::TapState> state) : state_(std::move(state)) {}
    ~SourceToken() override { cancel(); }
    void cancel() override {
        if (auto s = state_.lock()) {
            s->attached = false;
        }
        state_.reset();
    }

private:
    std::weak_ptr<FakeEventTaps::TapState> state_;
};

bool reservable(const std::vector<KeyChord>& keys, const std::vector<KeyChord>& heldElsewhere) {
    return std::none_of(keys.begin(), keys.end(), [&](const KeyChord& k) {
        return std::find(heldElsewhere.begin(), heldElsewhere.end(), k) != heldElsewhere.end();
    });
}
} // namespace

class FakeEventTaps::Tap final : public EventTap {
public:
    Tap(FakeEventTaps& owner, std::shared_ptr<TapState> state)
        : owner_(owner), state_(std::move(state)) {}
    ~Tap() override {
        state_->released = true;
        state_->enabled = false;
    }
    void setEnabled(bool enabled) override {
        state_->enabled = enabled;
        if (enabled) {
            ++state_->enableCalls;
        }
    }
    bool isEnabled() const override { return state_->enabled; }
    std::unique_ptr<MainQueue::Token> addToMainRunLoop() override {
        state_->attached = true;
        return std::make_unique<SourceToken>(state_);
    }
    bool readWaitingInput() override {
        ++owner_.waitingInputReads;
        if (auto arriving = std::exchange(owner_.arrivingWhileRead, nullptr)) {
            arriving();
        }
        return !owner_.waitingInputUnreadable;
    }
    std::vector<KeyChord> setInterceptedKeys(const std::vector<KeyChord>& keys) override {
        std::vector<KeyChord> kept, refused;
        for (const auto& k : keys) {
            (reservable({k}, owner_.heldElsewhere) ? kept : refused).push_back(k);
        }
        state_->interceptedKeys = kept;
        return refused;
    }

private:
    FakeEventTaps& owner_;
    std::shared_ptr<TapState> state_;
};

FakeEventTaps::FakeEventTaps() = default;
FakeEventTaps::~FakeEventTaps() = default;

std::unique_ptr<EventTap> FakeEventTaps::createTap(TapPlacement placement, TapOptions options,
                                                   std::uint64_t eventsOfInterest,
                                                   TapCallback callback,
                                                   const std::vector<KeyChord>& interceptedKeys) {
    if (refuseTaps) {
        return nullptr;
    }
    auto state = std::make_shared<TapState>();
    state->placement = placement;
    state->options = options;
    state->mask = eventsOfInterest;
    state->callback = std::move(callback);
    if (options == TapOptions::defaultFilter) {
        for (const auto& k : interceptedKeys) {
            if (reservable({k}, heldElsewhere)) {
                state->interceptedKeys.push_back(k);
            }
        }
    }
    taps_.push_back(state);
    return std::make_unique<Tap>(*this, state);
}

bool FakeEventTaps::deliver(const InputEvent& event) {
    // Head insertions run newest first, then tail appends oldest first.
    std::vector<std::shared_ptr<TapState>> order;
    for (auto it = taps_.rbegin(); it != taps_.rend(); ++it) {
        if ((*it)->placement == TapPlacement::headInsert) {
            order.push_back(*it);
        }
    }
    for (const auto& t : taps_) {
        if (t->placement == TapPlacement::tailAppend) {
            order.push_back(t);
        }
    }
    for (const auto& t : order) {
        const bool wanted = event.type < 64 && (t->mask & eventMaskBit(event.type)) != 0;
        if (t->released || !t->enabled || !t->attached || !wanted) {
            continue;
        }
        // Copied: the callback may release its own tap.
        auto callback = t->callback;
        const TapDecision decision = callback(event.type, event);
        if (decision == TapDecision::consume && t->options == TapOptions::defaultFilter) {
            return true;
        }
    }
    return false;
}

void FakeEventTaps::disableTap(std::size_t index, std::uint32_t type) {
    auto t = taps_.at(index);
    t->enabled = false;
    InputEvent event;
    event.type = type;
    auto callback = t->callback;
    callback(type, event);
}

void FakeEventTaps::endTaps() {
    const auto taps = taps_; // callbacks may make or release taps
    for (const auto& t : taps) {
        if (t->released || !t->attached) {
            continue;
        }
        t->enabled = false;
        InputEvent event;
        event.type = event_type::tapEnded;
        auto callback = t->callback;
        callback(event.type, event);
    }
}

std::size_t FakeEventTaps::liveTapCount() const {
    return static_cast<std::size_t>(
        std::count_if(taps_.begin(), taps_.end(), [](const auto& t) { return !t->released; }));
}

InputEvent FakeEventTaps::keyDown(std::int64_t keyCode, std::uint64_t flags, std::string text) {
    InputEvent e;
    e.type = event_type::keyDown;
    e.keyCode = keyCode;
    e.flags = flags;
    e.unicodeString = std::move(text);
    return e;
}

InputEvent FakeEventTaps::flagsChanged(std::int64_t keyCode, std::uint64_t flags) {
    InputEvent e;
    e.type = event_type::flagsChanged;
    e.keyCode = keyCode;
    e.flags = flags;
    return e;
}

InputEvent FakeEventTaps::mouse(std::uint32_t type, Point location, std::int64_t clickState) {
    InputEvent e;
    e.type = type;
    e.location = location;
    e.clickState = clickState;
    return e;
}

InputEvent FakeEventTaps::scroll(Point location, double axis1, double axis2) {
    InputEvent e;
    e.type = event_type::scrollWheel;
    e.location = location;
    e.scrollDeltaAxis1 = axis1;
    e.scrollDeltaAxis2 = axis2;
    return e;
}

} // namespace kestro::platform::fake
