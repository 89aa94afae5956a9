#include "KestroCore/InputMonitor.h"
#include "platform/fake/FakeEventTaps.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/ManualQueue.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace kestro;
using platform::fake::FakeEventTaps;
namespace et = platform::event_type;

namespace {

std::string describe(const InputMonitor::Signal& signal) {
    std::ostringstream out;
    auto button = [](InputMonitor::MouseButton b) {
        return b == InputMonitor::MouseButton::left ? "left" : "right";
    };
    std::visit(
        [&](const auto& s) {
            using S = std::decay_t<decltype(s)>;
            if constexpr (std::is_same_v<S, InputMonitor::MouseDown>) {
                out << "down " << s.point.x << "," << s.point.y << " " << button(s.button) << " "
                    << s.clickCount;
            } else if constexpr (std::is_same_v<S, InputMonitor::MouseUp>) {
                out << "up " << s.point.x << "," << s.point.y << " " << button(s.button);
            } else if constexpr (std::is_same_v<S, InputMonitor::MouseDragged>) {
                out << "drag " << s.point.x << "," << s.point.y;
            } else if constexpr (std::is_same_v<S, InputMonitor::Scroll>) {
                out << "scroll " << s.point.x << "," << s.point.y << " dx " << s.deltaX << " dy "
                    << s.deltaY;
            } else {
                out << "key " << s.keyCode << " flags " << std::hex << s.flags << std::dec
                    << " chars " << (s.characters ? "\"" + *s.characters + "\"" : "absent");
            }
        },
        signal);
    return out.str();
}

struct MonitorFixture : ::testing::Test {
    platform::fake::ManualClock clock;
    platform::fake::ManualQueue queue{clock};
    FakeEventTaps taps;
    InputMonitor monitor{taps, queue};
    std::vector<std::string> seen;

    void SetUp() override {
        monitor.onSignal = [this](const InputMonitor::Signal& s) { seen.push_back(describe(s)); };
    }
};

} // namespace

TEST_F(MonitorFixture, EachObservedTypeBecomesItsSignalInOrder) {
    ASSERT_TRUE(monitor.start());
    ASSERT_EQ(taps.taps().size(), 1u);
    const auto& tap = *taps.taps()[0];
    EXPECT_EQ(tap.mask, 0x40045Eu);
    EXPECT_EQ(tap.options, platform::TapOptions::listenOnly);
    EXPECT_EQ(tap.placement, platform::TapPlacement::tailAppend);

    const Point p{12.5, -3};
    struct Case {
        platform::InputEvent event;
        const char* expected; // nullptr: no signal
    } cases[] = {
        {FakeEventTaps::mouse(et::leftMouseDown, p, 1), "down 12.5,-3 left 1"},
        {FakeEventTaps::mouse(et::leftMouseUp, p, 1), "up 12.5,-3 left"},
        {FakeEventTaps::mouse(et::leftMouseDown, p, 2), "down 12.5,-3 left 2"},
        {FakeEventTaps::mouse(et::rightMouseDown, p, 1), "down 12.5,-3 right 1"},
        {FakeEventTaps::mouse(et::rightMouseUp, p), "up 12.5,-3 right"},
        {FakeEventTaps::mouse(et::leftMouseDragged, Point{40, 50}), "drag 40,50"},
        {FakeEventTaps::scroll(p, 3, -2), "scroll 12.5,-3 dx -2 dy 3"},
        {FakeEventTaps::scroll(p, 0, 0), "scroll 12.5,-3 dx 0 dy 0"},
        {FakeEventTaps::keyDown(0, 0x20000, "A"), "key 0 flags 20000 chars \"A\""},
        {FakeEventTaps::keyDown(123, 0x840100), "key 123 flags 840100 chars absent"},
        // Not in the mask, or not in the table: nothing.
        {FakeEventTaps::mouse(et::mouseMoved, p), nullptr},
        {FakeEventTaps::mouse(et::rightMouseDragged, p), nullptr},
        {FakeEventTaps::mouse(25, p), nullptr},
        {FakeEventTaps::flagsChanged(56, 0x20000), nullptr},
        {[] {
             auto e = FakeEventTaps::keyDown(0);
             e.type = et::keyUp;
             return e;
         }(),
         nullptr},
    };
    std::vector<std::string> expected;
    for (const auto& c : cases) {
        EXPECT_FALSE(taps.deliver(c.event)); // never consumed
        if (c.expected) {
            expected.push_back(c.expected);
        }
    }
    EXPECT_TRUE(seen.empty()) << "signals are delivered by a later work item";
    queue.drain();
    EXPECT_EQ(seen, expected);
}

TEST_F(MonitorFixture, KeyCodeIsSixteenBitAndTextIsCutToEightUtf16Units) {
    ASSERT_TRUE(monitor.start());
    struct Case {
        std::int64_t keyCode;
        std::string text;
        const char* expected;
    } cases[] = {
        {0x10005, "", "key 5 flags 0 chars absent"},
        {1, "\xC3\xA9\xE2\x82\xAC", "key 1 flags 0 chars \"\xC3\xA9\xE2\x82\xAC\""}, // é€
        {2, "abcdefghij", "key 2 flags 0 chars \"abcdefgh\""},
        // Seven units then a character needing two: it is left out whole.
        {3, "abcdefg\xF0\x9F\x98\x80", "key 3 flags 0 chars \"abcdefg\""},
        {4, "\xF0\x9F\x98\x80", "key 4 flags 0 chars \"\xF0\x9F\x98\x80\""},
    };
    for (const auto& c : cases) {
        taps.deliver(FakeEventTaps::keyDown(c.keyCode, 0, c.text));
    }
    queue.drain();
    ASSERT_EQ(seen.size(), std::size(cases));
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i], cases[i].expected);
    }
}

TEST_F(MonitorFixture, CallbackIsReadWhenTheWorkItemRuns) {
    ASSERT_TRUE(monitor.start());
    taps.deliver(FakeEventTaps::keyDown(1));
    monitor.onSignal = nullptr; // cleared before delivery: dropped
    queue.drain();
    EXPECT_TRUE(seen.empty());

    std::vector<std::string> replaced;
    taps.deliver(FakeEventTaps::keyDown(2));
    monitor.onSignal = [&](const InputMonitor::Signal& s) { replaced.push_back(describe(s)); };
    queue.drain();
    EXPECT_EQ(replaced, std::vector<std::string>{"key 2 flags 0 chars absent"});

    // A callback clearing itself while it runs, then a second queued signal: dropped, no crash.
    int calls = 0;
    monitor.onSignal = [&](const InputMonitor::Signal&) {
        ++calls;
        monitor.onSignal = nullptr;
    };
    taps.deliver(FakeEventTaps::keyDown(3));
    taps.deliver(FakeEventTaps::keyDown(4));
    queue.drain();
    EXPECT_EQ(calls, 1);

    // Signals queued before stop() still arrive while the callback is set.
    monitor.onSignal = [&](const InputMonitor::Signal& s) { seen.push_back(describe(s)); };
    taps.deliver(FakeEventTaps::keyDown(5));
    monitor.stop();
    queue.drain();
    EXPECT_EQ(seen, std::vector<std::string>{"key 5 flags 0 chars absent"});
}

TEST(InputMonitor, AMonitorGoneBeforeDeliveryDropsItsSignals) {
    platform::fake::ManualClock clock;
    platform::fake::ManualQueue queue{clock};
    FakeEventTaps taps;
    int calls = 0;
    {
        InputMonitor monitor{taps, queue};
        monitor.onSignal = [&](const InputMonitor::Signal&) { ++calls; };
        ASSERT_TRUE(monitor.start());
        taps.deliver(FakeEventTaps::keyDown(1));
    }
    EXPECT_EQ(taps.liveTapCount(), 0u) << "destroying the monitor removes its tap";
    queue.drain();
    EXPECT_EQ(calls, 0);
}

TEST_F(MonitorFixture, StartStopAndRefusal) {
    monitor.stop(); // without start: nothing happens
    EXPECT_TRUE(taps.taps().empty());

    taps.refuseTaps = true;
    EXPECT_FALSE(monitor.start());
    EXPECT_FALSE(monitor.isRunning());
    monitor.stop();
    taps.refuseTaps = false;

    EXPECT_TRUE(monitor.start());
    EXPECT_TRUE(monitor.start());
    EXPECT_EQ(taps.taps().size(), 1u) << "a second start installs no second tap";
    EXPECT_TRUE(taps.taps()[0]->enabled);
    EXPECT_TRUE(taps.taps()[0]->attached);

    monitor.stop();
    EXPECT_EQ(taps.liveTapCount(), 0u);
    taps.deliver(FakeEventTaps::keyDown(1));
    queue.drain();
    EXPECT_TRUE(seen.empty());

    EXPECT_TRUE(monitor.start());
    EXPECT_EQ(taps.taps().size(), 2u) << "a restart creates a new tap";
    taps.deliver(FakeEventTaps::keyDown(1));
    queue.drain();
    EXPECT_EQ(seen.size(), 1u);
}

TEST_F(MonitorFixture, ADisabledTapIsEnabledAgainWithoutASignal) {
    ASSERT_TRUE(monitor.start());
    for (std::uint32_t type : {et::tapDisabledByTimeout, et::tapDisabledByUserInput}) {
        taps.disableTap(0, type);
        EXPECT_TRUE(taps.taps()[0]->enabled);
    }
    queue.drain();
    EXPECT_TRUE(seen.empty());
}
