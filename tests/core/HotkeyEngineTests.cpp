#include "KestroCore/HotkeyEngine.h"
#include "KestroCore/InputMonitor.h"
#include "platform/fake/FakeEventTaps.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/ManualQueue.h"

#include <gtest/gtest.h>

using namespace kestro;
using platform::fake::FakeEventTaps;
namespace flag = platform::event_flag;

namespace {

constexpr std::int64_t leftControl = 59, rightControl = 62, shiftKey = 56, slash = 44, escape = 53,
                       letterC = 8;

struct EngineFixture : ::testing::Test {
    platform::fake::ManualClock clock{5000.0};
    platform::fake::ManualQueue queue{clock};
    FakeEventTaps taps;
    HotkeyEngine engine{taps, queue, clock};
    std::vector<HotkeyEngine::Event> events;

    void SetUp() override {
        engine.onEvent = [this](HotkeyEngine::Event e) { events.push_back(e); };
        ASSERT_TRUE(engine.start());
    }
    bool send(const platform::InputEvent& e) { return taps.deliver(e); }
    int toggles() {
        queue.drain();
        return static_cast<int>(
            std::count(events.begin(), events.end(), HotkeyEngine::Event::toggleRecording));
    }
};

// One step of a key sequence: wait `after` seconds, then send the event.
struct Step {
    double after;
    platform::InputEvent event;
};
Step press(double after, std::int64_t code = leftControl, std::uint64_t flags = flag::control) {
    return {after, FakeEventTaps::flagsChanged(code, flags)};
}
Step release(double after, std::int64_t code = leftControl, std::uint64_t flags = 0) {
    return {after, FakeEventTaps::flagsChanged(code, flags)};
}
Step key(double after, std::int64_t code, std::uint64_t flags = 0) {
    return {after, FakeEventTaps::keyDown(code, flags)};
}

// A fresh engine state for the next case of a table: well after the previous one, with a tap
// that a key broke.
void startFresh(EngineFixture& f) {
    f.clock.advance(10);
    f.send(press(0).event);
    f.send(key(0, 0).event);
    f.send(release(0).event);
    f.events.clear();
}

} // namespace

TEST_F(EngineFixture, DoubleTapTiming) {
    struct Case {
        const char* name;
        std::vector<Step> steps;
        int toggles;
    } cases[] = {
        {"two taps inside the window", {press(0), release(0.05), press(0.1), release(0.05)}, 1},
        {"held long, window is press to press", {press(0), release(0.28), press(0.01)}, 1},
        {"just under the window", {press(0), release(0.1), press(0.199)}, 1},
        {"just over the window", {press(0), release(0.1), press(0.2001)}, 0},
        {"too slow", {press(0), release(0.2), press(0.3)}, 0},
        {"a letter between", {press(0), release(0.05), key(0.02, 0), press(0.05)}, 0},
        {"control-c between",
         {press(0), key(0.05, letterC, flag::control), release(0.02), press(0.05)},
         0},
        {"an auto-repeat between",
         {press(0), release(0.05), key(0.02, 0), key(0.03, 0), press(0.05)},
         0},
        {"shift between does not count",
         {press(0), release(0.05), press(0.02, shiftKey, flag::shift), release(0.02, shiftKey),
          press(0.05)},
         1},
        {"right control counts",
         {press(0, rightControl), release(0.05, rightControl), press(0.1)},
         1},
        {"holding left and pressing right is no second edge",
         {press(0), press(0.05, rightControl, flag::control),
          release(0.05, rightControl, flag::control)},
         0},
        {"three quick presses toggle once",
         {press(0), release(0.02), press(0.02), release(0.02), press(0.02), release(0.02)},
         1},
        {"four quick presses toggle twice",
         {press(0), release(0.02), press(0.02), release(0.02), press(0.02), release(0.02),
          press(0.02), release(0.02)},
         2},
        {"key before the first tap does not matter",
         {key(0, 0), press(0.01), release(0.02), press(0.02)},
         1},
    };
    for (const auto& c : cases) {
        startFresh(*this);
        for (const auto& s : c.steps) {
            clock.advance(s.after);
            EXPECT_FALSE(send(s.event)) << c.name << ": control changes are never consumed";
        }
        EXPECT_EQ(toggles(), c.toggles) << c.name;
    }
}

// The display server's times of the presses decide where it gives them: the main thread may read
// them long after they were made, and a stall can hand over slow taps all at once.
TEST_F(EngineFixture, DoubleTapTimingGoesByTheServersTimes) {
    struct Stamped {
        double after;
        bool down;
        std::uint32_t stamp;
    };
    struct Case {
        const char* name;
        std::vector<Stamped> steps;
        int toggles;
    } cases[] = {
        {"pressed quickly, the second read late",
         {{0, true, 1000}, {0.01, false, 1050}, {0.6, true, 1110}},
         1},
        {"pressed slowly, read together after a stall",
         {{0, true, 1000}, {0, false, 1100}, {0, true, 2000}},
         0},
        {"just under the window", {{0, true, 1000}, {0.01, false, 1100}, {0.01, true, 1299}}, 1},
        {"just over the window", {{0, true, 1000}, {0.01, false, 1100}, {0.01, true, 1300}}, 0},
        {"across the server clock's wrap",
         {{0, true, 0xffffff00u}, {0.05, false, 0xffffff80u}, {0.05, true, 0x10u}},
         1},
    };
    for (const auto& c : cases) {
        startFresh(*this);
        for (const auto& s : c.steps) {
            clock.advance(s.after);
            auto e = s.down ? press(0).event : release(0).event;
            e.timestamp = s.stamp;
            send(e);
        }
        EXPECT_EQ(toggles(), c.toggles) << c.name;
    }
}

TEST_F(EngineFixture, ConsumesControlSlashAlwaysAndEscapeOnlyWhileCasting) {
    struct Case {
        platform::InputEvent event;
        bool casting;
        bool consumed;
        std::vector<HotkeyEngine::Event> events;
    } cases[] = {
        {FakeEventTaps::keyDown(slash, flag::control),
         false,
         true,
         {HotkeyEngine::Event::openPalette}},
        {FakeEventTaps::keyDown(slash, flag::control | flag::shift),
         false,
         true,
         {HotkeyEngine::Event::openPalette}},
        {FakeEventTaps::keyDown(slash, flag::control | flag::option),
         false,
         true,
         {HotkeyEngine::Event::openPalette}},
        {FakeEventTaps::keyDown(slash, flag::control | flag::command), false, false, {}},
        {FakeEventTaps::keyDown(slash, 0), false, false, {}},
        {FakeEventTaps::keyDown(slash, flag::control),
         true,
         true,
         {HotkeyEngine::Event::openPalette}},
        {FakeEventTaps::keyDown(escape, 0), false, false, {}},
        {FakeEventTaps::keyDown(escape, 0), true, true, {HotkeyEngine::Event::panic}},
        {FakeEventTaps::keyDown(escape, flag::control | flag::command),
         true,
         true,
         {HotkeyEngine::Event::panic}},
        {FakeEventTaps::keyDown(letterC, flag::control), true, false, {}},
        // Key releases are outside the mask: they pass untouched.
        {[] {
             auto e = FakeEventTaps::keyDown(slash, flag::control);
             e.type = platform::event_type::keyUp;
             return e;
         }(),
         false,
         false,
         {}},
    };
    for (const auto& c : cases) {
        engine.setCasting(c.casting);
        events.clear();
        EXPECT_EQ(send(c.event), c.consumed) << c.event.keyCode << " flags " << c.event.flags;
        queue.drain();
        EXPECT_EQ(events, c.events) << c.event.keyCode << " flags " << c.event.flags;
    }
}

TEST_F(EngineFixture, ReservedKeysFollowCasting) {
    // What is typed after Control-/ waits for the palette.
    const platform::KeyChord controlSlash{44, flag::control, flag::command, true};
    const platform::KeyChord anyEscape{53, 0, 0};
    const auto& tap = *taps.taps()[0];
    EXPECT_EQ(tap.placement, platform::TapPlacement::headInsert);
    EXPECT_EQ(tap.options, platform::TapOptions::defaultFilter);
    EXPECT_EQ(tap.mask, 0x1400u);
    EXPECT_EQ(tap.interceptedKeys, std::vector<platform::KeyChord>{controlSlash});
    engine.setCasting(true);
    EXPECT_EQ(tap.interceptedKeys, (std::vector<platform::KeyChord>{controlSlash, anyEscape}));
    engine.setCasting(false);
    EXPECT_EQ(tap.interceptedKeys, std::vector<platform::KeyChord>{controlSlash});

    // Started while casting: Escape is reserved from the start.
    engine.stop();
    engine.setCasting(true);
    ASSERT_TRUE(engine.start());
    EXPECT_EQ(taps.taps().back()->interceptedKeys,
              (std::vector<platform::KeyChord>{controlSlash, anyEscape}));
}

TEST(HotkeyEngine, ControlSlashHeldElsewhereLeavesTheOtherHotkeysWorking) {
    platform::fake::ManualClock clock{5000.0};
    platform::fake::ManualQueue queue{clock};
    FakeEventTaps taps;
    const platform::KeyChord controlSlash{slash, flag::control, flag::command, true};
    taps.heldElsewhere = {controlSlash};
    HotkeyEngine engine{taps, queue, clock};
    std::vector<HotkeyEngine::Event> events;
    engine.onEvent = [&](HotkeyEngine::Event e) { events.push_back(e); };
    ASSERT_TRUE(engine.start());
    EXPECT_TRUE(engine.isRunning());
    EXPECT_TRUE(engine.isPaletteHotkeyTaken());
    EXPECT_TRUE(taps.taps()[0]->interceptedKeys.empty());

    using E = HotkeyEngine::Event;
    // Control-/ belongs to the other program: passed on, no palette.
    EXPECT_FALSE(taps.deliver(FakeEventTaps::keyDown(slash, flag::control)));
    clock.advance(1);
    taps.deliver(FakeEventTaps::flagsChanged(leftControl, flag::control));
    taps.deliver(FakeEventTaps::flagsChanged(leftControl, 0));
    clock.advance(0.1);
    taps.deliver(FakeEventTaps::flagsChanged(leftControl, flag::control));
    engine.setCasting(true);
    EXPECT_TRUE(taps.deliver(FakeEventTaps::keyDown(escape)));
    queue.drain();
    EXPECT_EQ(events, (std::vector<E>{E::toggleRecording, E::panic}));

    // Once the other program lets it go, a later start takes it.
    taps.heldElsewhere.clear();
    EXPECT_TRUE(engine.start());
    EXPECT_FALSE(engine.isPaletteHotkeyTaken());
    events.clear();
    EXPECT_TRUE(taps.deliver(FakeEventTaps::keyDown(slash, flag::control)));
    queue.drain();
    EXPECT_EQ(events, (std::vector<E>{E::openPalette}));
    EXPECT_EQ(taps.taps().size(), 1u);
}

TEST_F(EngineFixture, ConsumedHotkeysNeverReachAListenTapBehindIt) {
    InputMonitor monitor{taps, queue};
    std::vector<std::uint16_t> keys;
    monitor.onSignal = [&](const InputMonitor::Signal& s) {
        if (auto* k = std::get_if<InputMonitor::Key>(&s)) {
            keys.push_back(k->keyCode);
        }
    };
    ASSERT_TRUE(monitor.start());
    engine.setCasting(true);
    send(FakeEventTaps::keyDown(slash, flag::control));
    send(FakeEventTaps::keyDown(escape));
    send(FakeEventTaps::keyDown(slash, flag::control | flag::command));
    engine.setCasting(false);
    send(FakeEventTaps::keyDown(escape));
    queue.drain();
    EXPECT_EQ(keys, (std::vector<std::uint16_t>{44, 53}));
}

TEST_F(EngineFixture, DeliveryReadsTheCallbackLateAndStopKeepsTheDetector) {
    send(press(0).event);
    send(release(0.05).event);
    clock.advance(0.1);
    send(press(0).event);
    engine.onEvent = nullptr;
    queue.drain();
    EXPECT_TRUE(events.empty()) << "a callback cleared before delivery receives nothing";

    engine.onEvent = [this](HotkeyEngine::Event e) { events.push_back(e); };
    send(release(0.01).event);
    clock.advance(0.5);
    send(press(0).event);
    send(release(0.01).event);
    engine.stop();
    ASSERT_TRUE(engine.start());
    clock.advance(0.1);
    send(press(0).event);
    EXPECT_EQ(toggles(), 1) << "the first press before the restart still counts";
}

TEST_F(EngineFixture, ADisabledTapIsEnabledAgain) {
    taps.disableTap(0, platform::event_type::tapDisabledByTimeout);
    EXPECT_TRUE(taps.taps()[0]->enabled);
    taps.disableTap(0, platform::event_type::tapDisabledByUserInput);
    EXPECT_TRUE(taps.taps()[0]->enabled);
    queue.drain();
    EXPECT_TRUE(events.empty());
}

TEST(HotkeyEngine, AnEngineGoneBeforeDeliveryDropsItsEvents) {
    platform::fake::ManualClock clock;
    platform::fake::ManualQueue queue{clock};
    FakeEventTaps taps;
    int calls = 0;
    {
        HotkeyEngine engine{taps, queue, clock};
        engine.onEvent = [&](HotkeyEngine::Event) { ++calls; };
        ASSERT_TRUE(engine.start());
        taps.deliver(FakeEventTaps::keyDown(slash, flag::control));
    }
    EXPECT_EQ(taps.liveTapCount(), 0u);
    queue.drain();
    EXPECT_EQ(calls, 0);
}

TEST_F(EngineFixture, TheKeyPressTimeIsReadableWhileTheHotkeyIsDelivered) {
    std::vector<std::uint32_t> times;
    engine.onEvent = [this, &times](HotkeyEngine::Event) {
        times.push_back(engine.eventTimestamp());
    };
    auto controlSlash = FakeEventTaps::keyDown(slash, flag::control);
    controlSlash.timestamp = 123456;
    send(controlSlash);
    engine.setCasting(true);
    auto esc = FakeEventTaps::keyDown(escape);
    esc.timestamp = 123999;
    send(esc);
    queue.drain();
    EXPECT_EQ(times, (std::vector<std::uint32_t>{123456, 123999}));
    EXPECT_EQ(engine.eventTimestamp(), 0u);
}
