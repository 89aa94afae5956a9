#include "KestroBase/FileIO.h"
#include "KestroCore/Paths.h"
#include "KestroCore/Recorder.h"
#include "platform/fake/FakeAccessibility.h"
#include "platform/fake/FakeDisplaySource.h"
#include "platform/fake/FakeEventTaps.h"
#include "platform/fake/FakeScreenCapture.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/ManualQueue.h"
#include "tests/support/TempDataDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <thread>

using namespace kestro;
using platform::AXElementRef;
using platform::fake::FakeAccessibility;
using platform::fake::FakeApplications;
using platform::fake::FakeDisplaySource;
using platform::fake::FakeElement;
using platform::fake::FakeEventTaps;
using platform::fake::FakeScreenCapture;
using platform::fake::ManualClock;
using platform::fake::ManualQueue;
namespace ax = platform::ax;
namespace type = platform::event_type;
namespace fs = std::filesystem;

namespace {

constexpr int editorPID = 100;
constexpr int browserPID = 200;
constexpr std::uint64_t command = 0x100000;
constexpr std::uint64_t control = 0x40000;
constexpr std::uint64_t shift = 0x20000;

class RecorderTest : public kestro::testing::DataFolderTest {
public:
    RecorderTest() {
        setDisplays({{1, Rect::make(0, 0, 320, 200), true}});
        apps_.add(editorPID, "org.example.Editor", "Editor");
        apps_.add(browserPID, "org.example.Browser", "Browser");
        apps_.frontmost = editorPID;
        editor_ = access_.element("editor", editorPID);
        access_.applicationElements[editorPID] = editor_;
        window_ = access_.element("window", editorPID);
        window_->set(ax::title, std::string("Login")).setFrame(Rect::make(0, 0, 320, 200));
        editor_->set(ax::focusedWindow, AXElementRef(window_));
        // A plain field and a password field that share role, identifier and title, as
        // toolkits often make them.
        name_ = field("name", Rect::make(10, 10, 100, 20), false);
        password_ = field("password", Rect::make(10.5, 40.25, 100, 20), true);
        button_ = access_.element("button", editorPID);
        button_->set(ax::role, std::string("AXButton"))
            .set(ax::title, std::string("Sign in"))
            .set(ax::window, AXElementRef(window_))
            .setFrame(Rect::make(10, 80, 60, 20));
        window_->addChild(name_).addChild(password_).addChild(button_);
        access_.hitAreas.emplace_back(Rect::make(10, 10, 100, 20), name_);
        access_.hitAreas.emplace_back(Rect::make(10, 40, 100, 20), password_);
        access_.hitAreas.emplace_back(Rect::make(10, 80, 60, 20), button_);

        auto browserWindow = access_.element("browserWindow", browserPID);
        browserWindow->set(ax::title, std::string("Docs"));
        link_ = access_.element("link", browserPID);
        link_->set(ax::role, std::string("AXLink")).set(ax::window, AXElementRef(browserWindow));
        access_.hitAreas.emplace_back(Rect::make(200, 150, 50, 20), link_);
        focus(name_);
        recorder_ = std::make_unique<Recorder>(
            Recorder::Platform{taps_, queue_, clock_, displays_, access_, apps_, capture_});
    }

    ~RecorderTest() override {
        capture_.setHeld(false);
        recorder_.reset();
    }

    // Input as the user gives it; each event is delivered and the main queue drained.

    std::shared_ptr<FakeElement> field(const std::string& name, Rect frame, bool secure) {
        auto e = access_.element(name, editorPID);
        e->set(ax::role, std::string("AXTextField")).set(ax::window, AXElementRef(window_));
        if (secure) {
            e->set(ax::subrole, std::string(ax::secureTextField));
        }
        e->setFrame(frame);
        return e;
    }

    struct DisplaySpec {
        std::uint32_t id;
        Rect frame;
        bool isMain;
        double scale = 1.0;
    };
    void setDisplays(const std::vector<DisplaySpec>& specs) {
        displays_.displays.clear();
        displays_.screenList.clear();
        for (const auto& d : specs) {
            displays_.displays.push_back({d.id, d.frame, d.isMain});
            displays_.screenList.push_back({d.id, d.scale});
            capture_.addDisplay(d.id, static_cast<int>(d.frame.size.width * d.scale),
                                static_cast<int>(d.frame.size.height * d.scale));
        }
    }

    void focus(const std::shared_ptr<FakeElement>& e) {
        access_.systemWideElement->set(ax::focusedUIElement, AXElementRef(e));
    }
    void send(const platform::InputEvent& event) {
        taps_.deliver(event);
        queue_.drain();
    }
    void press(double x, double y, int clicks = 1, bool right = false) {
        send(FakeEventTaps::mouse(right ? type::rightMouseDown : type::leftMouseDown, {x, y},
                                  clicks));
    }
    void release(double x, double y, bool right = false) {
        send(FakeEventTaps::mouse(right ? type::rightMouseUp : type::leftMouseUp, {x, y}));
    }
    void drag(double x, double y) { send(FakeEventTaps::mouse(type::leftMouseDragged, {x, y})); }
    void click(double x, double y) {
        press(x, y);
        release(x, y);
    }
    void key(std::uint16_t code, std::uint64_t flags = 0, std::string text = {}) {
        send(FakeEventTaps::keyDown(code, flags, std::move(text)));
    }
    void type(const std::string& letters) {
        for (char c : letters) {
            key(0, 0, std::string(1, c));
        }
    }
    void scroll(double x, double y, double dy, double dx = 0) {
        send(FakeEventTaps::scroll({x, y}, dy, dx));
    }
    void later(double seconds) { queue_.advance(seconds); }

    // Stops and runs the main queue until the recording comes back.
    std::optional<Recording> stop() {
        bool done = false;
        std::optional<Recording> result;
        recorder_->stop([&](std::optional<Recording> r) {
            result = std::move(r);
            done = true;
        });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done && std::chrono::steady_clock::now() < deadline) {
            queue_.drain();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_TRUE(done) << "stop() never completed";
        return result;
    }
    void waitForScreenshots(std::size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (capture_.calls().size() < count && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_GE(capture_.calls().size(), count);
    }

    static std::vector<ActionType> types(const Recording& r) {
        std::vector<ActionType> out;
        for (const auto& e : r.events) {
            out.push_back(e.type);
        }
        return out;
    }

    ManualClock clock_;
    ManualQueue queue_{clock_};
    FakeEventTaps taps_;
    FakeDisplaySource displays_;
    FakeAccessibility access_;
    FakeApplications apps_;
    FakeScreenCapture capture_;
    std::shared_ptr<FakeElement> editor_, window_, name_, password_, button_, link_;
    std::unique_ptr<Recorder> recorder_;
};

} // namespace

TEST_F(RecorderTest, MouseGestures) {
    using T = ActionType;
    struct Case {
        const char* what;
        std::function<void(RecorderTest&)> act;
        std::vector<T> expected;
    } cases[] = {
        {"click", [](RecorderTest& t) { t.click(20, 20); }, {T::click}},
        {"double click",
         [](RecorderTest& t) {
             t.click(20, 20);
             t.press(20, 20, 2);
             t.release(20, 20);
         },
         {T::click, T::doubleClick}},
        {"triple click",
         [](RecorderTest& t) {
             t.click(20, 20);
             for (int n : {2, 3}) {
                 t.press(20, 20, n);
                 t.release(20, 20);
             }
         },
         {T::click, T::doubleClick, T::doubleClick}},
        {"right click ignores the click count",
         [](RecorderTest& t) {
             t.press(20, 20, 2, true);
             t.release(20, 20, true);
         },
         {T::rightClick}},
        {"drag of exactly 6 points is a click",
         [](RecorderTest& t) {
             t.press(20, 20);
             t.drag(40, 40);
             t.release(26, 20);
         },
         {T::click}},
        {"drag of 6.01 points",
         [](RecorderTest& t) {
             t.press(20, 20);
             t.drag(23, 20);
             t.release(26.01, 20);
         },
         {T::drag}},
        {"moved without drag signals is a click",
         [](RecorderTest& t) {
             t.press(20, 20);
             t.release(120, 20);
         },
         {T::click}},
        {"right press during a left gesture",
         [](RecorderTest& t) {
             t.press(20, 20);
             t.press(20, 20, 1, true);
             t.release(20, 20);
             t.release(20, 20, true);
         },
         {T::rightClick}},
        {"press never released", [](RecorderTest& t) { t.press(20, 20); }, {}},
    };
    for (const auto& c : cases) {
        recorder_->start();
        c.act(*this);
        auto r = stop();
        ASSERT_TRUE(r) << c.what;
        EXPECT_EQ(types(*r), c.expected) << c.what;
    }
}

TEST_F(RecorderTest, GestureEventsCarryPressPointTargetAndDragEnd) {
    recorder_->start();
    later(1);
    press(20, 15);
    later(0.5);
    drag(60, 15);
    release(70, 90);
    auto r = stop();
    ASSERT_TRUE(r);
    ASSERT_EQ(r->events.size(), 1u);
    const ActionEvent& e = r->events[0];
    EXPECT_EQ(e.type, ActionType::drag);
    EXPECT_DOUBLE_EQ(e.timeOffset, 1.0);
    EXPECT_EQ(e.location, (Point{20, 15}));
    EXPECT_EQ(e.endLocation, (Point{70, 90}));
    ASSERT_TRUE(e.target);
    EXPECT_EQ(e.target->axRole, "AXTextField");
    EXPECT_EQ(e.target->appBundleID, "org.example.Editor");
    EXPECT_EQ(e.frameIndex, 0);
}

TEST_F(RecorderTest, TypedRunsPerElement) {
    recorder_->start();
    later(1);
    type("ab");
    later(1);
    type("c");
    focus(button_);
    type("x");
    access_.systemWideElement->attributes.erase(std::string(ax::focusedUIElement));
    type("yz");
    click(20, 85);
    auto r = stop();
    ASSERT_TRUE(r);
    ASSERT_EQ(types(*r), (std::vector<ActionType>{ActionType::keystroke, ActionType::keystroke,
                                                  ActionType::keystroke, ActionType::keystroke,
                                                  ActionType::click}));
    EXPECT_EQ(r->events[0].typedText, "abc");
    EXPECT_DOUBLE_EQ(r->events[0].timeOffset, 1.0);
    EXPECT_EQ(r->events[0].target->axRole, "AXTextField");
    EXPECT_FALSE(r->events[0].keyCode);
    EXPECT_EQ(r->events[1].typedText, "x");
    // Without a focused element every character is a run of its own.
    EXPECT_EQ(r->events[2].typedText, "y");
    EXPECT_EQ(r->events[3].typedText, "z");
    EXPECT_FALSE(r->events[3].target);
}

TEST_F(RecorderTest, PasswordsAreNeverStoredEvenWhenFieldsLookAlike) {
    recorder_->start();
    type("ada");
    // Focus moves to the password field without any event that would end the run.
    focus(password_);
    type("hunter22");
    // A secure run takes every key up to the next key without text, whatever is read
    // meanwhile: a reading elsewhere may have been made after a Tab typed at once behind them.
    focus(name_);
    type("b");
    key(36);
    type("c");
    auto r = stop();
    ASSERT_TRUE(r);
    ASSERT_EQ(r->events.size(), 4u);
    EXPECT_EQ(r->events[0].typedText, "ada");
    EXPECT_FALSE(r->events[1].typedText);
    ASSERT_TRUE(r->events[1].target);
    EXPECT_TRUE(r->events[1].target->isSecure);
    EXPECT_FALSE(r->events[1].keyCode);
    EXPECT_EQ(r->events[2].keyCode, 36);
    EXPECT_EQ(r->events[3].typedText, "c");
    const std::string stored = readFile(Paths::recording(r->id) / "recording.json");
    EXPECT_EQ(stored.find("hunter"), std::string::npos);
    EXPECT_NE(stored.find("ada"), std::string::npos);
}

TEST_F(RecorderTest, ShortcutsAndSpecialKeysAreSingleKeystrokes) {
    recorder_->start();
    type("ab");
    key(0, command, "a");    // Command-A
    key(8, control, "\x03"); // Control-C
    type("A");               // Shift-A arrives as text
    key(56, shift, "B");     // a Shift letter is text
    for (std::uint16_t special :
         {36, 48, 53, 51, 117, 123, 124, 125, 126, 115, 116, 119, 121, 76}) {
        key(special, 0, "\r");
    }
    key(49, 0, " ");    // space is text
    key(18, 0, "\x01"); // a control character is not
    auto r = stop();
    ASSERT_TRUE(r);
    ASSERT_EQ(r->events.size(), 2u + 1 + 1 + 14 + 1 + 1);
    EXPECT_EQ(r->events[0].typedText, "ab");
    EXPECT_EQ(r->events[1].keyCode, 0);
    EXPECT_EQ(r->events[1].modifierFlags, command);
    EXPECT_FALSE(r->events[1].typedText);
    EXPECT_EQ(r->events[2].keyCode, 8);
    EXPECT_EQ(r->events[2].modifierFlags, control);
    EXPECT_EQ(r->events[3].typedText, "AB");
    for (std::size_t i = 4; i < 18; ++i) {
        EXPECT_TRUE(r->events[i].keyCode) << i;
        EXPECT_FALSE(r->events[i].typedText) << i;
    }
    EXPECT_EQ(r->events[18].typedText, " ");
    EXPECT_EQ(r->events[19].keyCode, 18);
}

TEST_F(RecorderTest, ScrollRunsAndTheirOrderAgainstTypedRuns) {
    recorder_->start();
    later(1);
    scroll(100, 100, -3, 1);
    later(1);
    type("hi");
    scroll(50, 50, -2, 0.5); // still the same run: typing does not end it
    later(1);
    click(20, 85);
    scroll(60, 60, 4);
    key(36); // ends the second run
    auto r = stop();
    ASSERT_TRUE(r);
    ASSERT_EQ(types(*r),
              (std::vector<ActionType>{ActionType::keystroke, ActionType::scroll, ActionType::click,
                                       ActionType::scroll, ActionType::keystroke}));
    const ActionEvent& run = r->events[1];
    EXPECT_DOUBLE_EQ(run.timeOffset, 1.0);
    EXPECT_EQ(run.location, (Point{100, 100}));
    EXPECT_EQ(run.scrollDelta, (Size{1.5, -5}));
    EXPECT_LT(run.timeOffset, r->events[0].timeOffset);
    EXPECT_EQ(r->events[3].scrollDelta, (Size{0, 4}));
}

TEST_F(RecorderTest, FrameGap) {
    struct Case {
        double gap;
        bool framed;
    } cases[] = {{0.2, false}, {0.3, true}, {0.4, true}};
    for (const auto& c : cases) {
        recorder_->start();
        click(20, 20);
        later(c.gap);
        click(20, 85);
        auto r = stop();
        ASSERT_TRUE(r);
        ASSERT_EQ(r->events.size(), 2u);
        EXPECT_EQ(r->events[0].frameIndex, 0);
        EXPECT_EQ(r->events[1].frameIndex.has_value(), c.framed) << c.gap;
        EXPECT_EQ(r->frames.size(), c.framed ? 2u : 1u);
        if (c.framed) {
            EXPECT_EQ(r->frames[1].relativePath, "frames/000002.png");
            EXPECT_DOUBLE_EQ(r->frames[1].timeOffset, r->events[1].timeOffset);
        }
    }
}

TEST_F(RecorderTest, WithoutDisplaysNoFrameAndNoNumberIsUsedUp) {
    setDisplays({});
    recorder_->start();
    click(20, 20);
    setDisplays({{1, Rect::make(0, 0, 320, 200), true}});
    auto r = stop();
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->events[0].frameIndex);
    EXPECT_TRUE(r->frames.empty());
    EXPECT_TRUE(capture_.calls().empty());
}

TEST_F(RecorderTest, DisplayChoiceAndPixelSizes) {
    // Main display at the origin, a second one to its left at a negative origin.
    setDisplays({{7, Rect::make(0, 0, 683.25, 200), true, 2.0},
                 {9, Rect::make(-320, 0, 320, 200), false, 1.0}});
    password_->setFrame(Rect::make(-100, 50, 200, 30)); // straddles both displays
    recorder_->start();
    key(36); // no pointer seen yet: the main display
    later(1);
    press(-50, 60); // on the left display
    release(-50, 60);
    later(1);
    press(5000, 5000); // outside every display: the main one
    release(5000, 5000);
    auto r = stop();
    ASSERT_TRUE(r);
    ASSERT_EQ(r->frames.size(), 3u);
    const auto calls = capture_.calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].displayID, 7u);
    EXPECT_EQ(calls[0].configuration.width, 1367); // 1366.5 rounds away from zero
    EXPECT_EQ(calls[0].configuration.height, 400);
    EXPECT_EQ(calls[1].displayID, 9u);
    EXPECT_EQ(calls[2].displayID, 7u);
    EXPECT_EQ(r->frames[0].displayID, 7u);
    EXPECT_EQ(r->frames[0].redactedRegions, (std::vector<Rect>{Rect::make(0, 100, 200, 60)}));
    EXPECT_EQ(r->frames[1].displayID, 9u);
    EXPECT_EQ(r->frames[1].redactedRegions, (std::vector<Rect>{Rect::make(220, 50, 100, 30)}));
    EXPECT_EQ(r->frames[1].pixelSize, (Size{320, 200}));
}

TEST_F(RecorderTest, KeyFramesAreWrittenWithTheSecureFieldBlackedOut) {
    recorder_->start();
    click(20, 20);
    auto r = stop();
    ASSERT_TRUE(r);
    ASSERT_EQ(r->frames.size(), 1u);
    EXPECT_EQ(r->frames[0].redactedRegions, (std::vector<Rect>{Rect::make(10.5, 40.25, 100, 20)}));
    auto image = ImageCodec::readPNG(RecordingStore().frameURL(r->id, r->frames[0].relativePath));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 320);
    for (auto [x, y] : {std::pair{10, 40}, {110, 60}, {60, 50}}) {
        const std::uint8_t* p = image->pixel(x, y);
        EXPECT_EQ(p[0] + p[1] + p[2], 0) << x << "," << y;
    }
    EXPECT_NE(image->pixel(9, 39)[0] + image->pixel(9, 39)[1] + image->pixel(9, 39)[2], 0);
}

TEST_F(RecorderTest, SecureFieldsAreSearchedOffTheMainThreadWhenTheFrameIsTaken) {
    // The first frame's search waits until the test lets it go; the second cannot read the tree.
    std::promise<void> letGo;
    std::shared_future<void> released = letGo.get_future().share();
    std::mutex mutex;
    std::vector<std::string> windows;
    std::vector<std::thread::id> threads;
    access_.search = [&, released](const std::string& window) {
        std::size_t call = 0;
        {
            std::lock_guard lock(mutex);
            call = windows.size();
            windows.push_back(window);
            threads.push_back(std::this_thread::get_id());
        }
        released.wait_for(std::chrono::seconds(10));
        return call == 0 ? std::optional(std::vector<Rect>{Rect::make(10.5, 40.25, 100, 20)})
                         : std::nullopt;
    };
    recorder_->start();
    const auto start = std::chrono::steady_clock::now();
    click(20, 20);
    later(0.4);
    click(20, 85);
    // The input handling never waited for the search.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    letGo.set_value();
    auto r = stop();
    ASSERT_TRUE(r);
    ASSERT_EQ(r->frames.size(), 1u);
    EXPECT_EQ(r->frames[0].redactedRegions, (std::vector<Rect>{Rect::make(10.5, 40.25, 100, 20)}));
    auto image = ImageCodec::readPNG(RecordingStore().frameURL(r->id, r->frames[0].relativePath));
    ASSERT_TRUE(image);
    const std::uint8_t* p = image->pixel(60, 50);
    EXPECT_EQ(p[0] + p[1] + p[2], 0);
    // A frame whose secure fields could not be read is not written.
    ASSERT_EQ(r->events.size(), 2u);
    EXPECT_EQ(r->events[0].frameIndex, 0);
    EXPECT_FALSE(r->events[1].frameIndex);
    EXPECT_FALSE(fs::exists(Paths::recording(r->id) / "frames" / "000002.png"));

    EXPECT_EQ(windows, (std::vector<std::string>{"window", "window"}));
    for (std::thread::id t : threads) {
        EXPECT_NE(t, std::this_thread::get_id());
    }
    // The window was searched as a whole, not walked attribute by attribute.
    for (const std::string& read : access_.reads) {
        EXPECT_NE(read, "window.AXChildren");
    }
}

TEST_F(RecorderTest, AFailedCaptureLeavesAGapAndRenumbers) {
    // Waits until the capture answer of the last click is back on the main queue.
    auto settle = [this](std::size_t screenshots) {
        waitForScreenshots(screenshots);
        for (int i = 0; i < 1000 && queue_.drain() == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    };
    recorder_->start();
    click(20, 20);
    settle(1);
    capture_.setScreenshotFails(true);
    later(0.4);
    click(20, 85);
    settle(2);
    capture_.setScreenshotFails(false);
    later(0.4);
    click(200, 160);
    auto r = stop();
    ASSERT_TRUE(r);
    ASSERT_EQ(r->frames.size(), 2u);
    EXPECT_EQ(r->frames[0].relativePath, "frames/000001.png");
    EXPECT_EQ(r->frames[1].relativePath, "frames/000003.png");
    EXPECT_EQ(r->events[0].frameIndex, 0);
    EXPECT_FALSE(r->events[1].frameIndex);
    EXPECT_EQ(r->events[2].frameIndex, 1);
    const fs::path frames = Paths::recording(r->id) / "frames";
    EXPECT_TRUE(fs::exists(frames / "000001.png"));
    EXPECT_FALSE(fs::exists(frames / "000002.png"));
    EXPECT_TRUE(fs::exists(frames / "000003.png"));
}

TEST_F(RecorderTest, AStuckCaptureCannotHangTheStop) {
    capture_.setHeld(true);
    recorder_->start();
    // Three more frames queue up behind the stuck one.
    for (int i = 0; i < 4; ++i) {
        click(20, 20);
        later(0.5);
    }
    waitForScreenshots(1);
    bool done = false;
    std::optional<Recording> result;
    recorder_->stop([&](std::optional<Recording> r) {
        result = std::move(r);
        done = true;
    });
    queue_.drain();
    EXPECT_FALSE(done);
    later(Recorder::captureWaitLimit - 0.1);
    EXPECT_FALSE(done);
    later(0.2);
    EXPECT_TRUE(done);
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->frames.empty());
    ASSERT_EQ(result->events.size(), 4u);
    for (const ActionEvent& e : result->events) {
        EXPECT_FALSE(e.frameIndex);
    }
    capture_.setHeld(false); // the late answers change nothing
    for (int i = 0; i < 100; ++i) {
        queue_.drain();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(recorder_->lastRecording()->frames.empty());
    // Nor does the late screenshot leave a file of a frame that counts as failed; those
    // queued behind it are not taken at all.
    EXPECT_TRUE(fs::is_empty(Paths::recording(result->id) / "frames"));
    EXPECT_EQ(capture_.calls().size(), 1u);
}

TEST_F(RecorderTest, AStopUnderWayAnswersASecondStopAtOnceAndCompletesOnce) {
    capture_.setHeld(true);
    recorder_->start();
    click(20, 20);
    waitForScreenshots(1);
    int firstCalls = 0;
    std::optional<Recording> first;
    recorder_->stop([&](std::optional<Recording> r) {
        ++firstCalls;
        first = std::move(r);
    });
    int secondCalls = 0;
    bool secondGotOne = true;
    recorder_->stop([&](std::optional<Recording> r) {
        ++secondCalls;
        secondGotOne = r.has_value();
    });
    queue_.drain();
    EXPECT_EQ(secondCalls, 1);
    EXPECT_FALSE(secondGotOne); // no recording had been completed before
    EXPECT_EQ(firstCalls, 0);

    capture_.setHeld(false);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (firstCalls == 0 && std::chrono::steady_clock::now() < deadline) {
        queue_.drain();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(firstCalls, 1);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->frames.size(), 1u);
    EXPECT_EQ(first->events[0].frameIndex, 0);
    later(2 * Recorder::captureWaitLimit); // the wait's time limit passes: nothing more
    EXPECT_EQ(firstCalls, 1);
    EXPECT_EQ(secondCalls, 1);
}

TEST_F(RecorderTest, ACaptureThatEndsAfterTheRecorderIsGoneChangesNothing) {
    capture_.setHeld(true);
    recorder_->start();
    click(20, 20);
    waitForScreenshots(1);
    int calls = 0;
    recorder_->stop([&](std::optional<Recording>) { ++calls; });
    queue_.drain();
    // The capture comes back only once the recorder is gone; its answer and the stop's time
    // limit are still queued.
    capture_.setHeld(false);
    recorder_.reset();
    queue_.drain();
    later(2 * Recorder::captureWaitLimit);
    EXPECT_EQ(calls, 0);
}

TEST_F(RecorderTest, OffsetsFollowTheMonotonicClock) {
    recorder_->start();
    later(1);
    click(20, 20);
    clock_.shiftWallClock(-std::chrono::hours(1)); // the user sets the clock back
    later(0.5);
    click(20, 85);
    auto r = stop();
    ASSERT_TRUE(r);
    EXPECT_DOUBLE_EQ(r->events[0].timeOffset, 1.0);
    EXPECT_DOUBLE_EQ(r->events[1].timeOffset, 1.5);
    EXPECT_EQ(r->events[1].frameIndex, 1); // the frame gap is still measured correctly
}

TEST_F(RecorderTest, ApplicationContexts) {
    recorder_->start(); // the focused field's application
    click(20, 85);      // same application: nothing new
    window_->set(ax::title, std::string("Another window"));
    click(20, 15);   // another window of the same application: nothing new
    click(210, 155); // another application
    focus(name_);
    type("x"); // back to the editor
    auto r = stop();
    ASSERT_TRUE(r);
    ASSERT_EQ(r->appContexts.size(), 3u);
    EXPECT_EQ(r->appContexts[0].bundleID, "org.example.Editor");
    EXPECT_EQ(r->appContexts[0].windowTitle, "Login");
    EXPECT_EQ(r->appContexts[1].bundleID, "org.example.Browser");
    EXPECT_EQ(r->appContexts[1].windowTitle, "Docs");
    EXPECT_EQ(r->appContexts[2].bundleID, "org.example.Editor");
}

TEST_F(RecorderTest, LifecycleAndStorage) {
    EXPECT_FALSE(stop()); // no recording ever made
    recorder_->start();
    ASSERT_TRUE(recorder_->isRecording());
    click(20, 20);
    const Date started = clock_.now();
    later(2);
    recorder_->start(); // while recording: nothing changes
    click(20, 85);
    auto first = stop();
    ASSERT_TRUE(first);
    EXPECT_FALSE(recorder_->isRecording());
    EXPECT_EQ(first->events.size(), 2u);
    EXPECT_EQ(first->startedAt, started);
    EXPECT_DOUBLE_EQ(first->duration(), 2.0);
    auto second = stop();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->id, first->id);
    click(20, 20); // no tap while idle
    EXPECT_EQ(recorder_->lastRecording()->events.size(), 2u);

    auto stored = RecordingStore().load(first->id);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->events.size(), 2u);
    EXPECT_EQ(stored->frames.size(), first->frames.size());
    EXPECT_EQ(stored->displays, first->displays);

    recorder_->start();
    auto empty = stop();
    ASSERT_TRUE(empty);
    EXPECT_NE(empty->id, first->id);
    EXPECT_TRUE(empty->events.empty());
}

TEST_F(RecorderTest, ARefusedTapStartsNoRecording) {
    taps_.refuseTaps = true;
    EXPECT_FALSE(recorder_->start());
    EXPECT_FALSE(recorder_->isRecording());
    EXPECT_FALSE(fs::exists(Paths::recordings()) && !fs::is_empty(Paths::recordings()))
        << "a recording that never began left a folder behind";
    click(20, 20);
    EXPECT_FALSE(stop()); // nothing was ever recorded

    taps_.refuseTaps = false;
    EXPECT_TRUE(recorder_->start());
    EXPECT_TRUE(recorder_->isRecording());
    EXPECT_TRUE(recorder_->start()); // already recording: still true, nothing changes
    click(20, 20);
    auto r = stop();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->events.size(), 1u);
}

namespace {

// A keystroke event as "text:<typed>", "key:<code>", or for one without either what it went
// into: "secure", "plain", or "unknown" without a target.
std::vector<std::string> keystrokes(const Recording& r) {
    std::vector<std::string> out;
    for (const ActionEvent& e : r.events) {
        if (e.type != ActionType::keystroke) {
            out.push_back(std::string(rawValue(e.type)));
        } else if (e.typedText) {
            out.push_back("text:" + *e.typedText);
        } else if (e.keyCode) {
            out.push_back("key:" + std::to_string(*e.keyCode));
        } else {
            out.push_back(!e.target ? "unknown" : e.target->isSecure ? "secure" : "plain");
        }
    }
    return out;
}

} // namespace

TEST_F(RecorderTest, KeysTypedAtOnceAfterAFocusMoveFollowIt) {
    struct Case {
        const char* what;
        std::function<void(RecorderTest&)> moveFocus;
        std::vector<std::string> expected;
    } cases[] = {
        {"click",
         [](RecorderTest& t) { t.click(20, 50); },
         {"text:ada", "click", "secure", "key:36"}},
        {"Tab", [](RecorderTest& t) { t.key(48); }, {"text:ada", "key:48", "secure", "key:36"}},
    };
    for (const auto& c : cases) {
        focus(name_);
        ASSERT_TRUE(recorder_->start());
        type("ada");
        // The application moves the focus at once; it reports the move only when asked afresh.
        access_.pendingFocus = password_;
        c.moveFocus(*this);
        type("pw9");
        key(36);
        auto r = stop();
        ASSERT_TRUE(r) << c.what;
        EXPECT_EQ(keystrokes(*r), c.expected) << c.what;
        if (c.expected[1] == "key:48") {
            EXPECT_FALSE(r->events[1].target->isSecure) << "Tab was pressed in the name field";
        }
        const std::string stored = readFile(Paths::recording(r->id) / "recording.json");
        EXPECT_EQ(stored.find("pw9"), std::string::npos) << c.what;
    }
}

TEST_F(RecorderTest, KeysWhoseFocusCannotBeToldKeepNoText) {
    struct Case {
        const char* what;
        std::function<void(RecorderTest&)> act;
        std::vector<std::string> expected;
    } cases[] = {
        {"the application stops answering in a plain run, then answers again",
         [](RecorderTest& t) {
             t.type("ada");
             t.access_.unresponsive = {editorPID};
             t.type("pw9");
             t.access_.unresponsive.clear();
             t.type("b");
         },
         {"text:ada", "unknown", "text:b"}},
        {"an open secure run goes on when the application stops answering",
         [](RecorderTest& t) {
             t.focus(t.password_);
             t.type("pw");
             t.access_.unresponsive = {editorPID};
             t.type("9x");
         },
         {"secure"}},
        {"the focus cannot be brought up to date after a click",
         [](RecorderTest& t) {
             t.access_.pendingFocus = t.password_;
             t.access_.focusUpdateFails = true;
             t.click(20, 50);
             t.type("pw");
             t.access_.focusUpdateFails = false;
             t.type("9x"); // now known: the same secure run, with its field
         },
         {"click", "secure"}},
        {"the secure marker goes unanswered",
         [](RecorderTest& t) {
             t.focus(t.password_);
             t.password_->unanswered = {std::string(ax::subrole)};
             t.type("pw9");
             t.password_->unanswered.clear();
         },
         {"unknown"}},
        {"no accessibility at all",
         [](RecorderTest& t) {
             t.access_.trusted = false;
             t.type("pw9");
             t.access_.trusted = true;
         },
         {"unknown"}},
        {"the application in front is not found over accessibility, after a plain run",
         [](RecorderTest& t) {
             t.type("ada");
             t.access_.systemWideElement->attributes.erase(std::string(ax::focusedUIElement));
             t.access_.applicationElements.erase(editorPID);
             t.type("pw9");
         },
         {"text:ada", "unknown"}},
        {"an open secure run goes on when the application in front cannot be found",
         [](RecorderTest& t) {
             t.focus(t.password_);
             t.type("pw");
             t.access_.systemWideElement->attributes.erase(std::string(ax::focusedUIElement));
             t.access_.applicationElements.erase(editorPID);
             t.type("9x");
         },
         {"secure"}},
        {"the application in front answers that nothing has the focus: kept, a run per key",
         [](RecorderTest& t) {
             t.access_.systemWideElement->attributes.erase(std::string(ax::focusedUIElement));
             t.type("ab");
         },
         {"text:a", "text:b"}},
    };
    for (const auto& c : cases) {
        access_.unresponsive.clear();
        access_.applicationElements[editorPID] = editor_;
        focus(name_);
        ASSERT_TRUE(recorder_->start());
        c.act(*this);
        auto r = stop();
        ASSERT_TRUE(r) << c.what;
        EXPECT_EQ(keystrokes(*r), c.expected) << c.what;
        const std::string stored = readFile(Paths::recording(r->id) / "recording.json");
        EXPECT_EQ(stored.find("pw"), std::string::npos) << c.what;
        EXPECT_EQ(stored.find("9x"), std::string::npos) << c.what;
    }
}

// A terminal is an ordinary text area to accessibility, at a password prompt too; its echo tells.
TEST_F(RecorderTest, TypingInATerminalKeepsTextOnlyWhileItEchoes) {
    using platform::TerminalEcho;
    struct Case {
        const char* what;
        std::function<void(RecorderTest&)> act;
        std::vector<std::string> expected;
    } cases[] = {
        {"a command at a prompt that echoes",
         [](RecorderTest& t) {
             t.name_->echo = TerminalEcho::echoes;
             t.type("ls");
         },
         {"text:ls"}},
        {"a prompt with echo off, then the command line again",
         [](RecorderTest& t) {
             t.name_->echo = TerminalEcho::echoes;
             t.type("sudo");
             t.key(36);
             t.name_->echo = TerminalEcho::silent;
             t.type("pw9");
             t.key(36);
             t.name_->echo = TerminalEcho::echoes;
             t.type("ls");
         },
         {"text:sudo", "key:36", "unknown", "key:36", "text:ls"}},
        {"echo goes off in the middle of a run: what came before may be part of the secret",
         [](RecorderTest& t) {
             t.name_->echo = TerminalEcho::echoes;
             t.type("ab");
             t.name_->echo = TerminalEcho::silent;
             t.type("pw9x");
         },
         {"unknown"}},
        {"echo read on again before the line has ended: read late, after its Return",
         [](RecorderTest& t) {
             t.name_->echo = TerminalEcho::silent;
             t.type("pw9");
             t.name_->echo = TerminalEcho::echoes;
             t.type("9x");
             t.key(36);
             t.type("ls");
         },
         {"unknown", "key:36", "text:ls"}},
        {"keys handled once later input was already seen: echo may have been read late",
         [](RecorderTest& t) {
             t.name_->echo = TerminalEcho::echoes;
             for (const char* letter : {"p", "w"}) {
                 t.taps_.deliver(FakeEventTaps::keyDown(0, 0, letter));
             }
             t.taps_.deliver(FakeEventTaps::keyDown(36, 0, {}));
             t.queue_.drain();
             t.type("ls");
         },
         {"unknown", "key:36", "text:ls"}},
        {"a run that echoed, then a key with a Return already seen: echo may have gone off and "
         "on again since the run began",
         [](RecorderTest& t) {
             t.name_->echo = TerminalEcho::echoes;
             t.type("l");
             t.taps_.deliver(FakeEventTaps::keyDown(0, 0, "s"));
             t.taps_.deliver(FakeEventTaps::keyDown(36, 0, {}));
             t.queue_.drain();
         },
         {"unknown", "key:36"}},
        {"later keys that only type text change nothing",
         [](RecorderTest& t) {
             t.name_->echo = TerminalEcho::echoes;
             for (const char* letter : {"l", "s"}) {
                 t.taps_.deliver(FakeEventTaps::keyDown(0, 0, letter));
             }
             t.queue_.drain();
         },
         {"text:ls"}},
        {"echo cannot be read from the first key",
         [](RecorderTest& t) {
             t.name_->echo = TerminalEcho::silent;
             t.type("pw9x");
         },
         {"unknown"}},
        {"nothing has the focus, and a terminal of the application in front does not echo",
         [](RecorderTest& t) {
             t.access_.systemWideElement->attributes.erase(std::string(ax::focusedUIElement));
             t.editor_->echo = TerminalEcho::silent;
             t.type("pw9x");
         },
         {"unknown"}},
        {"nothing has the focus, and the terminals of the application in front echo",
         [](RecorderTest& t) {
             t.access_.systemWideElement->attributes.erase(std::string(ax::focusedUIElement));
             t.editor_->echo = TerminalEcho::echoes;
             t.type("ls");
         },
         {"text:l", "text:s"}},
    };
    for (const auto& c : cases) {
        focus(name_);
        ASSERT_TRUE(recorder_->start());
        c.act(*this);
        name_->echo = TerminalEcho::notATerminal;
        editor_->echo = TerminalEcho::notATerminal;
        auto r = stop();
        ASSERT_TRUE(r) << c.what;
        EXPECT_EQ(keystrokes(*r), c.expected) << c.what;
        const std::string stored = readFile(Paths::recording(r->id) / "recording.json");
        EXPECT_EQ(stored.find("pw9"), std::string::npos) << c.what;
        EXPECT_EQ(stored.find("9x"), std::string::npos) << c.what;
    }
}

// A key's focus and echo are read only when the key is handled, and by then the application may
// have handled the keys typed after it. What came since is read after the reading: a key or press
// among it that may move the focus or end a line leaves the key, and the rest of its run, no text.
TEST_F(RecorderTest, ReadingsThatInputTypedSinceMayHaveOvertakenKeepNoText) {
    using platform::TerminalEcho;
    namespace flag = platform::event_flag;
    const auto keyDown = [](std::uint16_t code, std::uint64_t flags, std::string text) {
        return FakeEventTaps::keyDown(code, flags, std::move(text));
    };
    struct Later {
        const char* what;
        platform::InputEvent event;
    } moves[] = {
        {"Tab", keyDown(48, 0, "\t")},
        {"Shift-Tab", keyDown(48, shift, "\t")},
        {"Return", keyDown(36, 0, "\r")},
        {"Escape", keyDown(53, 0, "\x1b")},
        {"a click", FakeEventTaps::mouse(type::leftMouseDown, {20, 85}, 1)},
        {"Control-L", keyDown(37, control, "\x0c")},
        {"Alt-S", keyDown(1, flag::option, "s")},
    };
    for (const Later& move : moves) {
        focus(name_);
        ASSERT_TRUE(recorder_->start());
        type("ok");
        // "pw9" and the move were typed at once; the application took all of them before the
        // first key is handled, and the focus is wherever the move took it.
        focus(button_);
        taps_.arrivingWhileRead = [&] {
            taps_.deliver(keyDown(0, 0, "w"));
            taps_.deliver(keyDown(0, 0, "9"));
            taps_.deliver(move.event);
        };
        key(0, 0, "p");
        auto r = stop();
        ASSERT_TRUE(r) << move.what;
        const std::vector<std::string> events = keystrokes(*r);
        ASSERT_GE(events.size(), 2u) << move.what;
        EXPECT_EQ(events[0], "text:ok") << move.what;
        EXPECT_EQ(events[1], "unknown") << move.what;
        const std::string stored = readFile(Paths::recording(r->id) / "recording.json");
        EXPECT_EQ(stored.find("pw"), std::string::npos) << move.what;
        EXPECT_EQ(stored.find("w9"), std::string::npos) << move.what;
        EXPECT_EQ(stored.find("\"p\""), std::string::npos) << move.what;
    }

    struct Case {
        const char* what;
        std::function<void(RecorderTest&)> act;
        std::vector<std::string> expected;
    } cases[] = {
        {"only text typed since: the reading stands",
         [](RecorderTest& t) {
             t.taps_.arrivingWhileRead = [&t] {
                 t.taps_.deliver(FakeEventTaps::keyDown(0, 0, "k"));
             };
             t.type("o");
         },
         {"text:ok"}},
        {"what came since cannot be read: nothing is kept",
         [](RecorderTest& t) {
             t.taps_.waitingInputUnreadable = true;
             t.type("pw9");
             t.taps_.waitingInputUnreadable = false;
             t.key(36);
             t.type("ok");
         },
         {"unknown", "key:36", "text:ok"}},
        {"a password read in its field, the rest after the Tab typed behind it had moved the focus",
         [](RecorderTest& t) {
             t.focus(t.password_);
             t.type("p");
             t.focus(t.button_);
             t.type("w9");
             t.key(48);
             t.type("ok");
         },
         {"secure", "key:48", "text:ok"}},
        {"a prompt that had its password and turned echo back on when the first key is handled",
         [](RecorderTest& t) {
             t.name_->echo = TerminalEcho::echoes;
             t.taps_.arrivingWhileRead = [&t] {
                 t.taps_.deliver(FakeEventTaps::keyDown(0, 0, "w"));
                 t.taps_.deliver(FakeEventTaps::keyDown(0, 0, "9"));
                 t.taps_.deliver(FakeEventTaps::keyDown(36, 0, "\r"));
             };
             t.type("p");
             t.type("ls");
         },
         {"unknown", "key:36", "text:ls"}},
        {"an Alt mnemonic moves the focus: the key after it is read once the application has it",
         [](RecorderTest& t) {
             t.type("ok");
             t.access_.pendingFocus = t.password_;
             t.key(35, platform::event_flag::option, "p");
             t.type("w9");
             t.key(36);
         },
         {"text:okp", "secure", "key:36"}},
    };
    for (const auto& c : cases) {
        focus(name_);
        ASSERT_TRUE(recorder_->start());
        c.act(*this);
        name_->echo = TerminalEcho::notATerminal;
        taps_.arrivingWhileRead = nullptr;
        auto r = stop();
        ASSERT_TRUE(r) << c.what;
        EXPECT_EQ(keystrokes(*r), c.expected) << c.what;
        const std::string stored = readFile(Paths::recording(r->id) / "recording.json");
        EXPECT_EQ(stored.find("pw"), std::string::npos) << c.what;
        EXPECT_EQ(stored.find("w9"), std::string::npos) << c.what;
    }
}

TEST_F(RecorderTest, AFrameWhoseSecureFieldsCannotBeReadIsNotTaken) {
    ASSERT_TRUE(recorder_->start());
    window_->unanswered = {std::string(ax::children)};
    click(20, 20);
    window_->unanswered.clear();
    later(0.4);
    click(20, 85);
    auto r = stop();
    ASSERT_TRUE(r);
    ASSERT_EQ(r->events.size(), 2u);
    EXPECT_FALSE(r->events[0].frameIndex);
    EXPECT_EQ(r->events[1].frameIndex, 0);
    ASSERT_EQ(r->frames.size(), 1u);
    EXPECT_EQ(r->frames[0].relativePath, "frames/000002.png");
    EXPECT_EQ(capture_.calls().size(), 1u);
    EXPECT_FALSE(fs::exists(Paths::recording(r->id) / "frames" / "000001.png"));
}

TEST_F(RecorderTest, AKeyFrameIsWrittenOnlyWhenTheFrontWindowCouldBeAsked) {
    struct Case {
        const char* what;
        std::function<void(RecorderTest&)> arrange;
        bool written;
    } cases[] = {
        {"the focused-window read goes unanswered",
         [](RecorderTest& t) { t.editor_->unanswered = {std::string(ax::focusedWindow)}; }, false},
        {"no focused window, and the main-window read goes unanswered",
         [](RecorderTest& t) {
             t.editor_->attributes.erase(std::string(ax::focusedWindow));
             t.editor_->unanswered = {std::string(ax::mainWindow)};
         },
         false},
        {"the application in front is not found over accessibility",
         [](RecorderTest& t) { t.access_.applicationElements.erase(editorPID); }, false},
        {"the application answers that it has no window",
         [](RecorderTest& t) { t.editor_->attributes.erase(std::string(ax::focusedWindow)); },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        editor_->set(ax::focusedWindow, AXElementRef(window_));
        editor_->unanswered.clear();
        access_.applicationElements[editorPID] = editor_;
        const std::size_t screenshotsBefore = capture_.calls().size();
        ASSERT_TRUE(recorder_->start());
        c.arrange(*this);
        click(300, 10); // on no element: only the window choice decides
        auto r = stop();
        ASSERT_TRUE(r);
        ASSERT_EQ(r->events.size(), 1u);
        const fs::path png = Paths::recording(r->id) / "frames" / "000001.png";
        if (c.written) {
            ASSERT_EQ(r->frames.size(), 1u);
            EXPECT_TRUE(r->frames[0].redactedRegions.empty());
            EXPECT_EQ(r->events[0].frameIndex, 0);
            EXPECT_TRUE(fs::exists(png));
        } else {
            EXPECT_TRUE(r->frames.empty());
            EXPECT_FALSE(r->events[0].frameIndex);
            EXPECT_FALSE(fs::exists(png));
            EXPECT_EQ(capture_.calls().size(), screenshotsBefore) << "a screenshot was taken";
        }
    }
}

TEST_F(RecorderTest, WithoutItsFramesFolderARecordingTakesNoFrames) {
    // Something that is not a folder stands where the recordings go.
    fs::remove_all(Paths::recordings());
    kestro::testing::writeFile(Paths::recordings(), "not a folder");
    ASSERT_TRUE(recorder_->start());
    click(20, 20);
    later(0.4);
    type("ada");
    // The obstacle goes away while recording: frames still are not written.
    fs::remove(Paths::recordings());
    later(0.4);
    click(20, 85);
    auto r = stop();
    ASSERT_TRUE(r);
    EXPECT_EQ(keystrokes(*r), (std::vector<std::string>{"click", "text:ada", "click"}));
    EXPECT_TRUE(r->frames.empty());
    for (const ActionEvent& e : r->events) {
        EXPECT_FALSE(e.frameIndex);
    }
    EXPECT_TRUE(capture_.calls().empty()) << "no screenshot is taken for a frame with no folder";
    EXPECT_FALSE(fs::exists(Paths::recording(r->id) / "frames"));
}

TEST_F(RecorderTest, LosingTheDisplaySavesWhatWasRecorded) {
    std::optional<Recording> interrupted;
    recorder_->onInterrupted = [&](const Recording& r) { interrupted = r; };
    ASSERT_TRUE(recorder_->start());
    click(20, 20);
    type("ada");
    auto waitForAnswers = [this] {
        for (int i = 0; i < 1000 && queue_.drain() == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    };
    waitForScreenshots(1);
    waitForAnswers();
    capture_.setHeld(true); // the next screenshot never comes back while the server dies
    later(0.4);
    click(20, 85);
    waitForScreenshots(2);

    taps_.endTaps();
    EXPECT_FALSE(recorder_->isRecording());
    ASSERT_TRUE(interrupted) << "the recording was not finished at once";
    EXPECT_EQ(keystrokes(*interrupted), (std::vector<std::string>{"click", "text:ada", "click"}));
    ASSERT_EQ(interrupted->frames.size(), 1u);
    EXPECT_FALSE(interrupted->events[2].frameIndex);
    auto stored = RecordingStore().load(interrupted->id);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->events.size(), 3u);
    EXPECT_EQ(recorder_->lastRecording()->id, interrupted->id);

    // The stuck screenshot coming back late writes no file for its failed frame.
    capture_.setHeld(false);
    for (int i = 0; i < 100; ++i) {
        queue_.drain();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_FALSE(fs::exists(Paths::recording(interrupted->id) / "frames" / "000002.png"));
    EXPECT_EQ(taps_.liveTapCount(), 0u);
}

TEST_F(RecorderTest, AnInterruptedStopEndsAtOnceWithTheFramesStillOutFailed) {
    ASSERT_TRUE(recorder_->start());
    click(20, 20);
    waitForScreenshots(1);
    for (int i = 0; i < 1000 && queue_.drain() == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    capture_.setHeld(true);
    later(0.4);
    click(20, 85);
    waitForScreenshots(2);

    // The stop waits for the held screenshot; the process then has to end.
    std::optional<Recording> stopped;
    recorder_->stop([&](std::optional<Recording> r) { stopped = std::move(r); });
    queue_.drain();
    EXPECT_FALSE(stopped);
    recorder_->interrupt();
    ASSERT_TRUE(stopped) << "the stop did not end at once";
    EXPECT_EQ(keystrokes(*stopped), (std::vector<std::string>{"click", "click"}));
    ASSERT_EQ(stopped->frames.size(), 1u);
    EXPECT_FALSE(stopped->events[1].frameIndex);
    auto stored = RecordingStore().load(stopped->id);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->events.size(), 2u);
    // Nothing further is under way.
    recorder_->interrupt();
    capture_.setHeld(false);
    for (int i = 0; i < 100; ++i) {
        queue_.drain();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_FALSE(fs::exists(Paths::recording(stopped->id) / "frames" / "000002.png"));
}
