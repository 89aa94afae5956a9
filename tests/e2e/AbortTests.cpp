// Escape during a cast whose model request stalls: idle at once, and the late end of that
// request leaves a recording started meanwhile alone.

#include "tests/support/e2e/EndToEndTest.h"

using namespace kestro::testing::e2e;

namespace {

class Abort : public EndToEndTest {};

TEST_F(Abort, EscapeEndsAStalledCastAtOnceAndItsLateEndTouchesNothing) {
    setApiKey("sk-e2e-abort");
    connectLinear("lin-e2e-token");
    storeSkill(weeklyReportSkill());
    model().stall(ModelStandIn::textReply("Filed late."));
    KestroProcess& kestro = startKestro();
    ASSERT_TRUE(waitForHotkeys()) << "Kestro's hotkeys did not start";

    ASSERT_TRUE(openPaletteWithFocus()) << "the palette did not take the keyboard";
    x().type("weekly");
    settle(300);
    x().tap("Return");
    ASSERT_TRUE(model().waitUntilHolding(std::chrono::seconds(30))) << "no cast request";
    ASSERT_TRUE(waitFor([&] { return framesDrawn(expectedFrames()); }, 10));
    settle(300);

    // Escape: the frames go at once, the aborted line follows.
    x().tap("Escape");
    const auto pressed = Clock::now();
    EXPECT_TRUE(waitFor([&] { return frames().empty(); }, 5, 5)) << "the frames stayed";
    std::printf("[ figure ] Escape to the frames gone: %.0f ms\n", secondsSince(pressed) * 1000);
    const auto aborted = kestro.waitForLog("Kestro: run ", 10);
    ASSERT_TRUE(aborted);
    EXPECT_EQ(*aborted, "Kestro: run \"File the weekly report\" aborted");
    EXPECT_LT(secondsSince(pressed), 5);
    EXPECT_TRUE(waitFor([&] { return pill().has_value(); }, 5));
    screenshot("abort-idle");

    // A recording starts at once; the stalled request ends meanwhile and changes nothing.
    ASSERT_TRUE(doubleTapUntilFrames(expectedFrames())) << "no recording after the abort";
    const std::size_t linesBefore = kestro.log().size();
    model().release();
    settle(1500);
    EXPECT_EQ(frames().size(), expectedFrames()) << "the recording was ended";
    for (const XWindow& frame : frames()) {
        EXPECT_LE(frameReach(frame), 21) << "not the recording style";
    }
    EXPECT_TRUE(waitFor([&] { return pillRedPixels() > 4; }, 5))
        << "the pill does not show the recording";
    EXPECT_EQ(kestro.log().size(), linesBefore) << kestro.log().back();
    EXPECT_EQ(model().received().size(), 1u);
    screenshot("abort-recording-after");
}

} // namespace
