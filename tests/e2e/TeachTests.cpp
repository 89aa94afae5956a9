// Teaching a skill as a user does: a double tap of Control, a click and some typing in an
// application, a password typed into a GTK dialog, a second double tap, and the skill the model
// service drafts arriving in the library and on screen.

#include "tests/support/e2e/EndToEndTest.h"

#include "KestroCore/Json.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <regex>

using namespace kestro::testing::e2e;
namespace fs = std::filesystem;
namespace json = kestro::json;

namespace {

constexpr const char* apiKey = "sk-e2e-teach";
constexpr const char* password = "Tr0ub4dor&3-e2e";
constexpr const char* skillName = "Sign in to the fixture";

std::string draft() {
    json::Value d = {{"name", skillName},
                     {"trigger", "sign in"},
                     {"summary", "Signs in to the fixture application."},
                     {"mode", "agentic"},
                     {"app_scope", {"com.linear"}},
                     {"parameters",
                      {{{"name", "user"},
                        {"type", "text"},
                        {"prompt", "Who signs in?"},
                        {"example_value", "Ada Lovelace"},
                        {"used_in_steps", {1}}}}},
                     {"plan",
                      {{{"index", 0},
                        {"intent", "Click Sign In"},
                        {"action", "click"},
                        {"is_destructive", false}},
                       {{"index", 1},
                        {"intent", "Type the name"},
                        {"action", "keystroke"},
                        {"text", "{{user}}"},
                        {"is_destructive", false}}}}};
    return d.dump();
}

class Teach : public EndToEndOnDesktops {
protected:
    // The share of the pill's bounding shape shown near-black. Without a compositing manager
    // what the pill leaves see-through shows black there; only its marks and text may be dark.
    double pillBlackShare() {
        const auto shape = pillShape();
        if (!shape || shape->width <= 0 || shape->height <= 0) {
            return 1;
        }
        const kestro::Image image = x().grab(shape->x, shape->y, shape->width, shape->height);
        int inside = 0, black = 0;
        for (int row = 0; row < image.height; ++row) {
            for (int col = 0; col < image.width; ++col) {
                const std::uint8_t* px = image.pixel(col, row);
                bool desktop = true;
                for (int c = 0; c < 3; ++c) {
                    desktop = desktop && std::abs(px[c] - UserDesktop::background[c]) <= 30;
                }
                if (desktop) {
                    continue; // inside the extents, outside the shape
                }
                ++inside;
                black += px[0] < 40 && px[1] < 40 && px[2] < 40 ? 1 : 0;
            }
        }
        return inside > 0 ? static_cast<double>(black) / inside : 1;
    }
    bool shaped() const { return GetParam().name == "plain"; }
};

TEST_P(Teach, ADoubleTapRecordsADemonstrationThatBecomesASkill) {
    setApiKey(apiKey);
    // The synthesis reply waits until the test has seen "Building…".
    model().stall(ModelStandIn::draftReply(draft()));
    const pid_t fixture = desk().startFixture();
    ASSERT_GT(fixture, 0);
    KestroProcess& kestro = startKestro();
    ASSERT_TRUE(waitForHotkeys()) << "Kestro's hotkeys did not start";

    // Recording: a frame round every monitor and the pill's red dot.
    double toMapped = 0;
    const auto toFrames = doubleTapUntilFrames(expectedFrames(), 20, &toMapped);
    ASSERT_TRUE(toFrames) <<
        [&] {
            std::string out;
            for (const auto& f : frames()) {
                out += std::to_string(f.width) + "x" + std::to_string(f.height) + "+" +
                       std::to_string(f.x) + "+" + std::to_string(f.y) + " reach " +
                       std::to_string(frameReach(f)) + "\n";
            }
            return out;
        }() << " for " << expectedFrames()
                          << " monitors";
    std::printf("[ figure ] second Control press to the frames on screen: %.0f ms (mapped at "
                "%.0f ms)\n",
                *toFrames * 1000, toMapped * 1000);
    RecordProperty("control_to_frames_ms", std::to_string(static_cast<int>(*toFrames * 1000)));
    EXPECT_TRUE(waitFor([&] { return pillRedPixels() > 4; }, 10)) << "no recording dot";
    screenshot(shot("teach-recording"));
    for (const XWindow& frame : frames()) {
        EXPECT_LE(frameReach(frame), 21) << "not the recording style";
    }

    // The demonstration: click "Sign In", type into the name field, then a password into a GTK
    // dialog.
    std::optional<AccessibleNode> button, name;
    ASSERT_TRUE(waitFor(
        [&] {
            for (const auto& node : accessibleTree(fixture)) {
                if (node.name == "Sign In" && node.role == "push button") {
                    button = node;
                } else if (node.name == "Name" && node.role == "text") {
                    name = node;
                }
            }
            return button && name;
        },
        20));
    x().click(button->x + button->width / 2, button->y + button->height / 2);
    settle(400);
    x().click(name->x + name->width - 10, name->y + name->height / 2);
    // Keys typed before the fixture has handled the click may be read as going elsewhere, and
    // a recording keeps no text it cannot place.
    ASSERT_TRUE(waitFor(
        [&] {
            for (const auto& node : accessibleTree(fixture)) {
                if (node.name == "Name" && node.role == "text") {
                    return node.focused;
                }
            }
            return false;
        },
        20))
        << "the name field did not take the focus";
    x().tap("End");
    x().type(" Lovelace");
    settle(400);
    const pid_t dialog = desk().startPasswordDialog("Unlock keyring");
    ASSERT_GT(dialog, 0) << "the GTK password dialog did not show";
    // Typed before the dialog holds the keyboard, the password would land in the fixture.
    // GTK gives the keyboard to a child of its window, which carries no process id itself.
    auto dialogFocused = [&] {
        for (unsigned long w = x().focusWindow(); w != 0; w = x().parentOf(w)) {
            if (x().windowPid(w) == dialog) {
                return true;
            }
        }
        return false;
    };
    ASSERT_TRUE(waitFor(dialogFocused, 20)) << "the password dialog did not take the keyboard";
    settle(200);
    x().type(password);
    settle(400);
    screenshot(shot("teach-password-dialog"));
    x().tap("Return");
    settle(600);

    // Stop: "Building…" while the service thinks; the frames go.
    x().doubleTapControl();
    ASSERT_TRUE(model().waitUntilHolding(std::chrono::seconds(60)))
        << "no synthesis request arrived"
        << (frames().empty() ? " (the recording stopped)" : " (it still records)");
    EXPECT_TRUE(waitFor([&] { return frames().empty(); }, 10)) << "the frames stayed";
    std::optional<XDesk::Extents> building;
    EXPECT_TRUE(waitFor(
        [&] { return (building = pillDrawn()) && building->height >= 34 && pillRedPixels() == 0; },
        10))
        << "the pill does not show \"Building\u2026\"";
    screenshot(shot("teach-building"));
    if (shaped()) {
        const double share = pillBlackShare();
        std::printf("[ figure ] \"Building\u2026\" near-black share: %.2f\n", share);
        EXPECT_LT(share, 0.25) << "\"Building\u2026\" shows black where it should be clear";
    }
    model().release();

    const auto line = kestro.waitForLog("Kestro: synthesized skill", 60);
    ASSERT_TRUE(line) << "no synthesized line";
    const auto skills = folders("skills");
    ASSERT_EQ(skills.size(), 1u);
    EXPECT_EQ(*line, std::string("Kestro: synthesized skill \"") + skillName +
                         "\" (2 steps, 1 parameters) \u2192 " + skills.front());
    for (const char* file : {"SKILL.md", "execution_plan.json", "recording.ref"}) {
        EXPECT_TRUE(fs::is_regular_file(support() / "skills" / skills.front() / file)) << file;
    }
    EXPECT_EQ(folders("recordings").size(), 1u);

    // What the service received: one structured request with the trace and the key frames.
    const auto received = model().received();
    ASSERT_EQ(received.size(), 1u);
    const auto& request = received.front();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/v1/messages");
    EXPECT_EQ(request.header("x-api-key"), apiKey);
    EXPECT_EQ(request.header("anthropic-version"), "2023-06-01");
    EXPECT_EQ(request.header("content-type"), "application/json");
    EXPECT_FALSE(request.has("anthropic-beta"));
    const json::Value body = json::Value::parse(request.body, nullptr, false);
    ASSERT_TRUE(body.is_object());
    EXPECT_EQ(body.value("model", ""), "claude-opus-4-8");
    EXPECT_NE(request.body.find("Sign In"), std::string::npos) << "the click is not in the trace\n"
                                                               << request.body.substr(0, 6000);
    // The typing, in one key run or several.
    std::string typed;
    const std::string trace = body["messages"][0]["content"][0].value("text", "");
    const std::regex typing("Type \"([^\"]*)\" on Name in kestro-fixture");
    for (std::sregex_iterator it(trace.begin(), trace.end(), typing), end; it != end; ++it) {
        typed += (*it)[1].str();
    }
    EXPECT_EQ(typed, " Lovelace") << trace;
    const RequestImages images = imagesIn(request.body);
    EXPECT_GE(images.count, 1);
    EXPECT_LE(images.count, 12);
    EXPECT_EQ(images.jpeg, images.count);

    // The main window grows to hold the new row; the call-skill tip follows the reset.
    EXPECT_TRUE(waitFor(
        [&] {
            const auto w = mainWindow();
            return w && w->width == 820 && w->height == 600;
        },
        10))
        << "the main window did not grow";
    EXPECT_TRUE(waitFor([&] { return hasAccessibleName(kestro.pid(), skillName); }, 10))
        << "no row for the new skill";
    screenshot(shot("teach-skill-row"));
    const std::string tipDismiss = "Don't show me again, I've got it now";
    auto tipShows = [&] {
        for (const auto& node : accessibleTree(kestro.pid())) {
            if (node.name == tipDismiss && node.showing) {
                return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(waitFor(tipShows, 15)) << "the call-skill tip did not show";
    screenshot(shot("teach-call-tip")); // while it fades in, when black showed most
    if (shaped()) {
        const double share = pillBlackShare();
        std::printf("[ figure ] call-skill tip near-black share: %.2f\n", share);
        EXPECT_LT(share, 0.25) << "the tip shows black where it should be clear";
    }

    // The password went nowhere: no file of the test's folders, no request.
    EXPECT_TRUE(filesContaining(password).empty()) << filesContaining(password).front();
    for (const auto& r : model().received()) {
        EXPECT_EQ(r.body.find(password), std::string::npos);
        for (const auto& [header, value] : r.headers) {
            EXPECT_EQ(value.find(password), std::string::npos) << header;
        }
    }
}

// The pill's states look different without a compositing manager (shaped) and with one
// (translucent).
INSTANTIATE_TEST_SUITE_P(Desktops, Teach, ::testing::ValuesIn(desktopKinds(true, false)),
                         Teach::testName);

} // namespace
