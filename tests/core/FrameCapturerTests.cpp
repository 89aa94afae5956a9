#include "KestroCore/FrameCapturer.h"
#include "platform/fake/FakeScreenCapture.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/ManualQueue.h"
#include "tests/support/TempDataDir.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

using namespace kestro;
using platform::fake::FakeScreenCapture;
using platform::fake::ManualClock;
using platform::fake::ManualQueue;
namespace fs = std::filesystem;

namespace {

class FrameCapturerTest : public ::testing::Test {
protected:
    FrameCapturerTest() : queue_(clock_) {
        capture_.addDisplay(7, 200, 100);
        capture_.addDisplay(8, 50, 50);
        // A window of another process, and one of ours above it.
        capture_.addWindow({{11, 4242}, 7, 100, 0, 60, 60, {0, 200, 0}});
        capture_.addWindow({{12, static_cast<int>(::getpid())}, 7, 120, 10, 30, 30, {200, 0, 0}});
        // A window whose owner is unknown is never taken for ours.
        capture_.addWindow({{13, std::nullopt}, 8, 0, 0, 10, 10, {0, 0, 200}});
        capture_.setPointer(7, 5, 5);
    }

    // Runs the main queue until the completion has run.
    std::optional<Size> capture(std::uint32_t display, int width, int height,
                                std::vector<Rect> redact, const fs::path& to) {
        bool done = false;
        std::optional<Size> result;
        capturer_.captureAndSave(display, width, height, std::move(redact), to,
                                 [&](std::optional<Size> size) {
                                     EXPECT_TRUE(queue_.isMainThread());
                                     result = size;
                                     done = true;
                                 });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done && std::chrono::steady_clock::now() < deadline) {
            queue_.drain();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_TRUE(done) << "the capture never answered";
        return result;
    }

    kestro::testing::TempDataDir dir_;
    ManualClock clock_;
    ManualQueue queue_;
    FakeScreenCapture capture_;
    FrameCapturer capturer_{capture_, queue_};
};

bool isBlack(const Image& image, int x, int y) {
    const std::uint8_t* p = image.pixel(x, y);
    return p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 255;
}

} // namespace

TEST_F(FrameCapturerTest, WritesTheDisplayWithoutOwnWindowsWithPointerAndRedactions) {
    const fs::path file = dir_.root() / "000001.png";
    // Fractional on purpose: every pixel the rectangle touches is blacked out.
    const Rect field = Rect::make(10.5, 20.25, 30, 40);
    const Rect partlyOutside = Rect::make(190, 90, 50, 50);
    auto size = capture(7, 200, 100, {field, partlyOutside}, file);
    ASSERT_TRUE(size);
    EXPECT_EQ(*size, (Size{200, 100}));

    const auto calls = capture_.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].displayID, 7u);
    EXPECT_EQ(calls[0].excluded, std::vector<std::uint64_t>{12});
    EXPECT_EQ(calls[0].configuration.width, 200);
    EXPECT_EQ(calls[0].configuration.height, 100);
    EXPECT_TRUE(calls[0].configuration.showsCursor);
    EXPECT_NE(calls[0].thread, std::this_thread::get_id());

    auto image = ImageCodec::readPNG(file);
    ASSERT_TRUE(image);
    ASSERT_EQ(image->width, 200);
    ASSERT_EQ(image->height, 100);
    // The other process's window shows, ours does not (what lies beneath shows instead).
    EXPECT_EQ(image->pixel(105, 50)[1], 200);
    EXPECT_EQ(image->pixel(130, 20)[1], 200);
    EXPECT_EQ(image->pixel(130, 20)[0], 0);
    // The pointer.
    EXPECT_EQ(image->pixel(6, 6)[0], 255);
    EXPECT_EQ(image->pixel(6, 6)[2], 255);

    // Rounded outward: x 10..40 and y 20..60 inclusive, in top-left terms.
    struct Probe {
        int x, y;
        bool black;
    };
    const Probe probes[] = {
        {9, 30, false},
        {10, 30, true},
        {40, 30, true},
        {41, 30, false},
        {20, 19, false},
        {20, 20, true},
        {20, 60, true},
        {20, 61, false},
        {20, 70, false}, // where the band would lie if the rectangle were turned upside
                         // down
        {190, 90, true},
        {199, 99, true},
        {189, 95, false},
    };
    for (const Probe& p : probes) {
        EXPECT_EQ(isBlack(*image, p.x, p.y), p.black) << p.x << "," << p.y;
    }
}

TEST_F(FrameCapturerTest, ReportsTheCapturedSizeNotTheRequestedOne) {
    capture_.setDeliveredSize(std::make_pair(100, 40));
    const fs::path file = dir_.root() / "f.png";
    auto size = capture(7, 200, 100, {}, file);
    ASSERT_TRUE(size);
    EXPECT_EQ(*size, (Size{100, 40}));
    auto image = ImageCodec::readPNG(file);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 100);
    // Without redactions the screenshot is written unchanged.
    const auto bg = FakeScreenCapture::backgroundAt(50, 30);
    EXPECT_EQ(image->pixel(50, 30)[0], bg[0]);
    EXPECT_EQ(image->pixel(50, 30)[1], bg[1]);
    EXPECT_EQ(image->pixel(50, 30)[2], bg[2]);
}

TEST_F(FrameCapturerTest, EveryFailureGivesNoResultAndNoFile) {
    struct Case {
        const char* name;
        std::uint32_t display;
        int width, height;
        bool contentFails, screenshotFails;
        const char* file;
    };
    const Case cases[] = {
        {"content query fails", 7, 200, 100, true, false, "a.png"},
        {"display not shareable", 99, 200, 100, false, false, "b.png"},
        {"screenshot fails", 7, 200, 100, false, true, "c.png"},
        {"folder missing", 7, 200, 100, false, false, "missing/d.png"},
        {"no pixels", 7, 0, 100, false, false, "e.png"},
    };
    for (const Case& c : cases) {
        capture_.setContentFails(c.contentFails);
        capture_.setScreenshotFails(c.screenshotFails);
        const fs::path file = dir_.root() / c.file;
        EXPECT_FALSE(capture(c.display, c.width, c.height, {}, file)) << c.name;
        EXPECT_FALSE(fs::exists(file)) << c.name;
    }
    // And the worker is still serving after all of them.
    capture_.setContentFails(false);
    capture_.setScreenshotFails(false);
    EXPECT_TRUE(capture(8, 50, 50, {}, dir_.root() / "ok.png"));
}

TEST_F(FrameCapturerTest, CapturesRunOneAtATimeOnOneWorker) {
    constexpr int count = 6;
    int answered = 0;
    for (int i = 0; i < count; ++i) {
        capturer_.captureAndSave(8, 50, 50, {}, dir_.root() / (std::to_string(i) + ".png"),
                                 [&](std::optional<Size> size) {
                                     EXPECT_TRUE(size);
                                     ++answered;
                                 });
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (answered < count && std::chrono::steady_clock::now() < deadline) {
        queue_.drain();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(answered, count);
    const auto calls = capture_.calls();
    ASSERT_EQ(calls.size(), static_cast<std::size_t>(count));
    for (const auto& call : calls) {
        EXPECT_EQ(call.thread, calls[0].thread);
    }
    // Each capture asks for the shareable content afresh.
    EXPECT_EQ(capture_.contentQueries(), count);
}

TEST(FrameCapturerLifetime, QueuedCapturesAreAnsweredWhenTheCapturerGoes) {
    kestro::testing::TempDataDir dir;
    ManualClock clock;
    ManualQueue queue(clock);
    FakeScreenCapture capture;
    capture.addDisplay(1, 64, 64);
    constexpr int count = 30;
    int answered = 0;
    {
        FrameCapturer capturer(capture, queue);
        for (int i = 0; i < count; ++i) {
            capturer.captureAndSave(1, 64, 64, {}, dir.root() / (std::to_string(i) + ".png"),
                                    [&](std::optional<Size>) { ++answered; });
        }
    }
    queue.drain();
    EXPECT_EQ(answered, count);
}

TEST(FrameCapturerLifetime, GoingAwayDoesNotWaitForEverForAStuckScreenshot) {
    kestro::testing::TempDataDir dir;
    ManualClock clock;
    ManualQueue queue(clock);
    FakeScreenCapture capture;
    capture.addDisplay(1, 64, 64);
    capture.setHeld(true); // the display stops answering
    std::optional<std::optional<Size>> answer;
    const auto started = std::chrono::steady_clock::now();
    {
        FrameCapturer capturer(capture, queue);
        capturer.captureAndSave(1, 64, 64, {}, dir.root() / "1.png",
                                [&](std::optional<Size> s) { answer = s; });
        while (capture.calls().empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_LT(took, FrameCapturer::finishWaitLimit + 5);
    EXPECT_TRUE(capture.interrupted());
    queue.drain();
    ASSERT_TRUE(answer);
    EXPECT_FALSE(*answer);
    EXPECT_FALSE(fs::exists(dir.root() / "1.png"));
}

TEST_F(FrameCapturerTest, ACancelledCaptureKeepsNoFile) {
    // Cancelled while queued, while being taken, and after its file was written.
    capture_.setHeld(true);
    std::vector<std::optional<Size>> answers(3);
    std::vector<bool> answered(3, false);
    std::vector<FrameCapturer::Ticket> tickets;
    for (int i = 0; i < 3; ++i) {
        tickets.push_back(capturer_.captureAndSave(7, 200, 100, {},
                                                   dir_.root() / (std::to_string(i) + ".png"),
                                                   [&, i](std::optional<Size> s) {
                                                       answers[i] = s;
                                                       answered[i] = true;
                                                   }));
    }
    while (capture_.calls().empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    capturer_.cancel(tickets[1]); // still queued
    capturer_.cancel(tickets[0]); // under way
    capture_.setHeld(false);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!fs::exists(dir_.root() / "2.png") && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    capturer_.cancel(tickets[2]); // written, its answer not yet taken
    while (!(answered[0] && answered[1] && answered[2]) &&
           std::chrono::steady_clock::now() < deadline) {
        queue_.drain();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(answered[i]) << i;
        EXPECT_FALSE(answers[i]) << i;
        EXPECT_FALSE(fs::exists(dir_.root() / (std::to_string(i) + ".png"))) << i;
    }
    EXPECT_EQ(capture_.calls().size(), 2u) << "the queued one was taken all the same";
}

TEST_F(FrameCapturerTest, OnceIdleEveryFrameGivenUpOnHasLetGoOfItsFile) {
    // What a process that ends without its destructors waits for before it ends.
    capture_.setHeld(true);
    std::vector<FrameCapturer::Ticket> tickets;
    for (int i = 0; i < 3; ++i) {
        tickets.push_back(capturer_.captureAndSave(
            7, 200, 100, std::vector<Rect>{}, dir_.root() / (std::to_string(i) + ".png"),
            FrameCapturer::Completion{}));
    }
    while (capture_.calls().empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    capturer_.cancel(tickets[0]); // under way
    capturer_.cancel(tickets[1]); // queued
    EXPECT_FALSE(capturer_.waitUntilIdle(0.05)) << "idle while a screenshot was under way";
    capture_.setHeld(false);
    ASSERT_TRUE(capturer_.waitUntilIdle(10));
    EXPECT_FALSE(fs::exists(dir_.root() / "0.png"));
    EXPECT_FALSE(fs::exists(dir_.root() / "1.png"));
    EXPECT_TRUE(fs::exists(dir_.root() / "2.png")) << "the one still wanted was not waited for";
    queue_.drain();
}
