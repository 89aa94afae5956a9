// A demonstration recorded with no model-service key anywhere: the recording is kept, the log
// says where a key may be put, and the pill shows the failure until the status resets.

#include "tests/e2e/ScenarioSteps.h"

#include <cstdlib>

using namespace kestro::testing::e2e;
namespace steps = kestro::testing::e2e::steps;
namespace fs = std::filesystem;

namespace {

// The pill's failure mark is an orange triangle.
int pillOrangePixels(XDesk& x, const XWindow& pill) {
    return countColour(x.grab(pill.x, pill.y, pill.width, pill.height), 255, 149, 0, 40);
}

class NoKey : public EndToEndTest {};

TEST_F(NoKey, RecordingIsKeptTheLogNamesTheKeyFileAndThePillFailsThenRests) {
    ASSERT_EQ(std::getenv("ANTHROPIC_API_KEY"), nullptr);
    const fs::path keyFile = support() / "anthropic_key.txt";
    ASSERT_FALSE(fs::exists(keyFile));
    const pid_t fixture = desk().startFixture("Kestro Fixture", 80, 120);
    ASSERT_GT(fixture, 0) << "the fixture application did not show";
    KestroProcess& kestro = startKestro();
    ASSERT_TRUE(waitForHotkeys()) << "Kestro's hotkeys did not start";

    // Record: a click on the fixture's button and a few typed letters in its name field.
    x().doubleTapControl();
    ASSERT_TRUE(waitFor([&] { return !frames().empty(); }, 20)) << "recording did not start";
    const auto signIn = steps::waitForShowing(fixture, "Sign In", 20, "button");
    ASSERT_TRUE(signIn) << "the fixture has no Sign In button";
    steps::clickCentre(x(), *signIn);
    settle(400);
    x().type("abc");
    settle(400);
    screenshot("no-key-recording");
    x().doubleTapControl();

    const auto line = kestro.waitForLog("Kestro: recorded ", 30);
    ASSERT_TRUE(line) << "no line about the recording"
                      << (frames().empty() ? " (it stopped)" : " (it still records)");
    const auto seen = Clock::now();
    // "Kestro: recorded <N> events → <ID>, but no …"
    const std::string arrow = " events \u2192 ";
    const auto arrowAt = line->find(arrow);
    ASSERT_NE(arrowAt, std::string::npos) << *line;
    const std::string count = line->substr(17, arrowAt - 17);
    ASSERT_FALSE(count.empty());
    EXPECT_GE(std::stoi(count), 2) << "the click and the typing were not recorded: " << *line;
    const std::string id = line->substr(arrowAt + arrow.size(), 36);
    EXPECT_EQ(*line, "Kestro: recorded " + count + arrow + id +
                         ", but no Anthropic API key found (set ANTHROPIC_API_KEY or write " +
                         keyFile.string() + "). Skipping synthesis; recording saved.");

    // The pill shows the failure, then rests once the status resets (3.4 s later).
    std::optional<XWindow> failedPill;
    ASSERT_TRUE(waitFor(
        [&] {
            failedPill = pill();
            return failedPill && pillOrangePixels(x(), *failedPill) > 20;
        },
        10))
        << "the pill did not show the failure";
    const auto failedShape = pillShape();
    ASSERT_TRUE(failedShape);
    EXPECT_GT(failedShape->height, 25) << "the failure shows no caption under its mark";
    screenshot("no-key-failed");
    ASSERT_TRUE(waitFor(
        [&] {
            const auto p = pill();
            const auto shape = pillShape();
            return p && shape && pillOrangePixels(x(), *p) == 0 && shape->height <= 30;
        },
        15))
        << "the pill did not return to rest";
    const double shownFor = secondsSince(seen);
    std::printf("[ figure ] the failure showed for %.1f s\n", shownFor);
    // Timed from when the test saw the log line, which can trail on a loaded machine.
    EXPECT_GE(shownFor, 2.0) << "the failure left before its reset";
    EXPECT_TRUE(frames().empty());
    screenshot("no-key-rested");

    // The demonstration is kept; nothing went to the model service.
    EXPECT_EQ(folders("recordings"), std::vector<std::string>{id});
    EXPECT_TRUE(fs::exists(support() / "recordings" / id / "recording.json"));
    EXPECT_TRUE(folders("skills").empty());
    EXPECT_TRUE(model().received().empty());
    EXPECT_TRUE(kestro.running());
}

} // namespace
