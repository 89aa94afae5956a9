#include "Kestro/replay/SkillRunner.h"
#include "Kestro/replay/StepConfirmation.h"
#include "KestroBase/Text.h"
#include "platform/fake/FakeAppActivator.h"
#include "platform/fake/FakeSyntheticInput.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/ManualQueue.h"
#include "tests/app/AppTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <sstream>

using namespace kestro;
using platform::InputEvent;
namespace type = platform::event_type;

namespace {

// Everything the runner does, in order: its waits, the events it posts, the applications it
// brings forward, the questions it asks and its end.
using Journal = std::vector<std::string>;

std::string describe(const InputEvent& e) {
    std::ostringstream out;
    auto at = [&] { out << ' ' << e.location.x << ',' << e.location.y; };
    switch (e.type) {
    case type::mouseMoved:
        out << "move";
        at();
        break;
    case type::leftMouseDown:
    case type::leftMouseUp:
    case type::rightMouseDown:
    case type::rightMouseUp:
        out << (e.type == type::leftMouseDown    ? "down"
                : e.type == type::leftMouseUp    ? "up"
                : e.type == type::rightMouseDown ? "rdown"
                                                 : "rup")
            << e.clickState;
        at();
        break;
    case type::keyDown:
    case type::keyUp:
        out << (e.type == type::keyDown ? "key↓ " : "key↑ ");
        if (!e.unicodeString.empty()) {
            out << '"' << e.unicodeString << '"';
        } else {
            out << e.keyCode << " 0x" << std::hex << e.flags;
        }
        break;
    default:
        out << "type " << e.type;
    }
    return out.str();
}

// A queue that notes every wait asked of it in the journal.
class JournalQueue final : public platform::MainQueue {
public:
    JournalQueue(platform::fake::ManualQueue& queue, Journal& journal)
        : queue_(queue), journal_(journal) {}
    void post(Work work) override { queue_.post(std::move(work)); }
    void postAfter(double seconds, Work work) override {
        std::ostringstream s;
        s << "wait " << seconds;
        journal_.push_back(s.str());
        queue_.postAfter(seconds, std::move(work));
    }
    std::unique_ptr<Token> repeat(double seconds, Work work) override {
        return queue_.repeat(seconds, std::move(work));
    }
    std::unique_ptr<Token> watch(int fd, FdEvents events, Work ready) override {
        return queue_.watch(fd, events, std::move(ready));
    }
    bool isMainThread() const override { return queue_.isMainThread(); }

private:
    platform::fake::ManualQueue& queue_;
    Journal& journal_;
};

class ScriptedConfirmer final : public StepConfirmer {
public:
    explicit ScriptedConfirmer(Journal& journal) : journal_(journal) {}
    bool confirm(const std::string& intent) override {
        journal_.push_back("confirm " + intent);
        if (answers.empty()) {
            return true;
        }
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::deque<bool> answers;

private:
    Journal& journal_;
};

struct RunnerTest : ::testing::Test {
    Journal journal;
    platform::fake::ManualClock clock;
    platform::fake::ManualQueue manual{clock};
    JournalQueue queue{manual, journal};
    platform::fake::FakeSyntheticInput input;
    platform::fake::FakeAppActivator activator;
    ScriptedConfirmer confirmer{journal};
    std::unique_ptr<SkillRunner> runner =
        std::make_unique<SkillRunner>(queue, clock, input, activator, confirmer);
    int finished = 0;

    RunnerTest() {
        input.onPost = [this](const InputEvent& e) { journal.push_back(describe(e)); };
        activator.onActivate = [this](const std::string& id) {
            journal.push_back("activate " + id);
        };
        runner->onFinish = [this] {
            journal.push_back("finish");
            ++finished;
        };
    }

    static std::shared_ptr<RunContext> context(std::vector<PlanStep> plan,
                                               std::map<std::string, std::string> values = {}) {
        Skill skill;
        skill.name = "Test skill";
        skill.plan = std::move(plan);
        return std::make_shared<RunContext>(std::move(skill), std::move(values));
    }

    // Lets time pass one second at a time until the run has ended; `each` runs after every
    // second.
    void runToEnd(const std::function<void()>& each = {}) {
        for (int i = 0; i < 200 && runner->isRunning(); ++i) {
            manual.advance(1.0);
            if (each) {
                each();
            }
        }
        EXPECT_FALSE(runner->isRunning());
    }

    // The journal without the waits and the end: what reached the desktop.
    Journal effects() const {
        Journal out;
        for (const auto& line : journal) {
            if (!line.starts_with("wait ") && line != "finish") {
                out.push_back(line);
            }
        }
        return out;
    }
};

AXTarget targetIn(const std::string& bundleID) {
    return AXTarget{.appBundleID = bundleID, .appName = "App", .axTitle = "OK"};
}

} // namespace

TEST_F(RunnerTest, EachActionPostsItsEvents) {
    struct Case {
        const char* name;
        PlanStep step;
        std::map<std::string, std::string> values;
        Journal effects;
    };
    const Point p{412, 308};
    Journal date;
    for (char c : std::string("2026-06-06")) {
        date.push_back(std::string("key↓ \"") + c + "\"");
        date.push_back(std::string("key↑ \"") + c + "\"");
    }
    const std::vector<Case> cases = {
        {"click",
         {.action = ActionType::click, .location = p},
         {},
         {"move 412,308", "down1 412,308", "up1 412,308"}},
        {"right click",
         {.action = ActionType::rightClick, .location = p},
         {},
         {"move 412,308", "rdown1 412,308", "rup1 412,308"}},
        {"double click",
         {.action = ActionType::doubleClick, .location = p},
         {},
         {"move 412,308", "down1 412,308", "up1 412,308", "down2 412,308", "up2 412,308"}},
        {"unchanged fractional point",
         {.action = ActionType::click, .location = Point{100.7, -3.2}},
         {},
         {"move 100.7,-3.2", "down1 100.7,-3.2", "up1 100.7,-3.2"}},
        {"click without a location", {.action = ActionType::click}, {}, {}},
        {"not-a-number coordinate",
         {.action = ActionType::click, .location = Point{NAN, 5}},
         {},
         {}},
        {"infinite coordinate",
         {.action = ActionType::doubleClick, .location = Point{5, -INFINITY}},
         {},
         {}},
        {"coordinate beyond any screen",
         {.action = ActionType::rightClick, .location = Point{1e300, 5}},
         {},
         {}},
        {"typed text with its slot filled",
         {.action = ActionType::keystroke, .text = "{{week_ending}}"},
         {{"week_ending", "2026-06-06"}},
         date},
        {"a character outside the Basic Multilingual Plane is one pair",
         {.action = ActionType::keystroke, .text = "é𝄞"},
         {},
         {"key↓ \"é\"", "key↑ \"é\"", "key↓ \"𝄞\"", "key↑ \"𝄞\""}},
        {"empty text uses the key with its flags",
         {.action = ActionType::keystroke, .text = "", .keyCode = 36, .modifierFlags = 0x100000},
         {},
         {"key↓ 36 0x100000", "key↑ 36 0x100000"}},
        {"a key without flags",
         {.action = ActionType::keystroke, .keyCode = 48},
         {},
         {"key↓ 48 0x0", "key↑ 48 0x0"}},
        {"text that fills to nothing posts nothing, not even the key",
         {.action = ActionType::keystroke, .text = "{{empty}}", .keyCode = 36},
         {{"empty", ""}},
         {}},
        {"a keystroke with neither", {.action = ActionType::keystroke}, {}, {}},
        {"drag", {.action = ActionType::drag, .location = p}, {}, {}},
        {"scroll", {.action = ActionType::scroll, .location = p}, {}, {}},
        {"wait", {.action = ActionType::wait}, {}, {}},
        {"application switch without a target", {.action = ActionType::appSwitch}, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        journal.clear();
        auto ctx = context({c.step}, c.values);
        runner->run(ctx);
        runToEnd();
        EXPECT_EQ(effects(), c.effects);
        // Posted or not, the step is recorded and paced.
        ASSERT_EQ(ctx->auditLog().size(), 1u);
        EXPECT_EQ(ctx->auditLog()[0].action, c.step.action);
        EXPECT_FALSE(ctx->auditLog()[0].agentic);
        EXPECT_EQ(journal.back(), "finish");
        EXPECT_EQ(journal[journal.size() - 2], "wait 0.5");
    }
}

TEST_F(RunnerTest, SwitchStepsActivateTheirApplicationWithoutWaitingAgain) {
    activator.running = {"org.example.Mail"};
    auto ctx = context({
        {.index = 0,
         .intent = "Go to mail",
         .action = ActionType::appSwitch,
         .target = targetIn("org.example.Mail")},
        {.index = 1,
         .intent = "Focus notes",
         .action = ActionType::windowFocus,
         .target = targetIn("org.example.NotRunning")},
    });
    runner->run(ctx);
    runToEnd();
    // Brought forward once before the step (with its wait), once by the step itself.
    EXPECT_EQ(journal,
              (Journal{"wait 0.5", "activate org.example.Mail", "wait 0.35",
                       "activate org.example.Mail", "wait 0.5", "activate org.example.NotRunning",
                       "activate org.example.NotRunning", "wait 0.5", "finish"}));
}

TEST_F(RunnerTest, PaceAndOrderOfARun) {
    activator.running = {"org.example.Sheet"};
    auto ctx = context({
        {.index = 2, .intent = "two", .action = ActionType::keystroke, .keyCode = 36},
        {.index = 0,
         .intent = "zero",
         .action = ActionType::click,
         .target = targetIn("org.example.Sheet"),
         .location = Point{1, 2}},
        {.index = 1,
         .intent = "one",
         .action = ActionType::wait,
         .target = targetIn("org.example.Gone")},
        {.index = 1, .intent = "one again", .action = ActionType::wait},
    });
    const double start = clock.monotonicSeconds();
    runner->run(ctx);
    EXPECT_TRUE(runner->isRunning());
    EXPECT_EQ(journal, Journal{"wait 0.5"}) << "run returns at once";
    runToEnd();
    EXPECT_EQ(journal, (Journal{
                           "wait 0.5",
                           "activate org.example.Sheet",
                           "wait 0.35",
                           "move 1,2",
                           "down1 1,2",
                           "up1 1,2",
                           "wait 0.5",
                           // Not running: performed at once, without the activation wait.
                           "activate org.example.Gone",
                           "wait 0.5",
                           "wait 0.5",
                           "key↓ 36 0x0",
                           "key↑ 36 0x0",
                           "wait 0.5",
                           "finish",
                       }));
    std::vector<std::string> intents;
    for (const AuditEntry& e : ctx->auditLog()) {
        intents.push_back(e.intent);
    }
    // Sorted by index; equal indices keep their stored order.
    EXPECT_EQ(intents, (std::vector<std::string>{"zero", "one", "one again", "two"}));
    // Each entry is stamped when its step was performed, on the runner's clock.
    const auto log = ctx->auditLog();
    for (std::size_t i = 1; i < log.size(); ++i) {
        EXPECT_LT(log[i - 1].timestamp, log[i].timestamp);
    }
    EXPECT_GE(clock.monotonicSeconds() - start, 0.5 + 0.35 + 4 * 0.5);
    EXPECT_EQ(finished, 1);
}

TEST_F(RunnerTest, AbortDuringEachWaitStopsBeforeTheNextStep) {
    activator.running = {"org.example.App"};
    const std::vector<PlanStep> plan = {
        {.index = 0,
         .intent = "first",
         .action = ActionType::click,
         .target = targetIn("org.example.App"),
         .location = Point{5, 5}},
        {.index = 1, .intent = "second", .action = ActionType::keystroke, .text = "x"},
    };
    struct Case {
        const char* wait;
        std::size_t occurrence; // abort while the n-th wait of this kind runs
        Journal expected;
        std::size_t recorded;
    };
    const std::vector<Case> cases = {
        {"wait 0.5", 1, {"wait 0.5", "finish"}, 0},
        // The application stays in front; its step is neither performed nor recorded.
        {"wait 0.35", 1, {"wait 0.5", "activate org.example.App", "wait 0.35", "finish"}, 0},
        {"wait 0.5",
         2,
         {"wait 0.5", "activate org.example.App", "wait 0.35", "move 5,5", "down1 5,5", "up1 5,5",
          "wait 0.5", "finish"},
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.wait) + " #" + std::to_string(c.occurrence));
        journal.clear();
        finished = 0;
        auto ctx = context(plan);
        runner->run(ctx);
        auto aborting = [&] {
            if (std::count(journal.begin(), journal.end(), c.wait) ==
                static_cast<long>(c.occurrence)) {
                runner->abort();
            }
        };
        aborting();
        runToEnd(aborting);
        EXPECT_EQ(journal, c.expected);
        EXPECT_EQ(ctx->auditLog().size(), c.recorded);
        EXPECT_TRUE(ctx->aborted());
        EXPECT_EQ(finished, 1);
    }
}

TEST_F(RunnerTest, DestructiveStepsAreConfirmedAndCancelAbortsTheRest) {
    const std::vector<PlanStep> plan = {
        {.index = 0, .intent = "Fill", .action = ActionType::keystroke, .text = "a"},
        {.index = 1,
         .intent = "Click Submit",
         .action = ActionType::click,
         .location = Point{9, 9},
         .isDestructive = true},
        {.index = 2, .intent = "Close", .action = ActionType::keystroke, .keyCode = 53},
    };
    // Cancel: neither that step nor any later one is performed or recorded.
    confirmer.answers = {false};
    auto declined = context(plan);
    runner->run(declined);
    runToEnd();
    EXPECT_EQ(effects(), (Journal{"key↓ \"a\"", "key↑ \"a\"", "confirm Click Submit"}));
    EXPECT_EQ(journal.back(), "finish");
    EXPECT_EQ(declined->auditLog().size(), 1u);
    EXPECT_TRUE(declined->aborted());
    EXPECT_EQ(finished, 1);

    journal.clear();
    confirmer.answers = {true};
    auto proceeded = context(plan);
    runner->run(proceeded);
    runToEnd();
    EXPECT_EQ(effects(), (Journal{"key↓ \"a\"", "key↑ \"a\"", "confirm Click Submit", "move 9,9",
                                  "down1 9,9", "up1 9,9", "key↓ 53 0x0", "key↑ 53 0x0"}));
    EXPECT_EQ(proceeded->auditLog().size(), 3u);
    EXPECT_FALSE(proceeded->aborted());
}

TEST_F(RunnerTest, RunWhileRunningIsIgnoredAndAnEmptyPlanOnlyWaits) {
    auto first = context({{.intent = "first", .action = ActionType::keystroke, .text = "1"}});
    auto second = context({{.intent = "second", .action = ActionType::keystroke, .text = "2"}});
    runner->run(first);
    runner->run(second);
    manual.advance(1.0);
    runner->run(second);
    // The abort reaches the run in progress, never the ignored one.
    runner->abort();
    runToEnd();
    EXPECT_EQ(effects(), (Journal{"key↓ \"1\"", "key↑ \"1\""}));
    EXPECT_TRUE(first->aborted());
    EXPECT_FALSE(second->aborted());
    EXPECT_TRUE(second->auditLog().empty());
    EXPECT_EQ(finished, 1);

    // onFinish may start the next run.
    journal.clear();
    auto empty = context({});
    runner->onFinish = [&] {
        journal.push_back("finish");
        if (++finished == 2) {
            runner->run(second);
        }
    };
    runner->run(empty);
    runToEnd();
    EXPECT_EQ(journal, (Journal{"wait 0.5", "finish", "wait 0.5", "key↓ \"2\"", "key↑ \"2\"",
                                "wait 0.5", "finish"}));
    EXPECT_TRUE(empty->auditLog().empty());
    EXPECT_EQ(second->auditLog().size(), 1u);
}

// A long text can still be going out after perform returns; the pause must not start before it
// is out, or the next step's activation would send the rest of the text to another window.
TEST_F(RunnerTest, ThePauseAfterAStepStartsOnceItsEventsAreOut) {
    activator.running = {"org.example.Other"};
    const std::vector<PlanStep> plan = {
        {.index = 0, .intent = "Type", .action = ActionType::keystroke, .text = "ab"},
        {.index = 1,
         .intent = "Elsewhere",
         .action = ActionType::keystroke,
         .target = targetIn("org.example.Other"),
         .keyCode = 36},
    };
    input.holdBack = true;
    auto ctx = context(plan);
    runner->run(ctx);
    for (int i = 0; i < 5; ++i) {
        manual.advance(1.0);
    }
    EXPECT_EQ(journal,
              (Journal{"wait 0.5", "key↓ \"a\"", "key↑ \"a\"", "key↓ \"b\"", "key↑ \"b\""}));
    EXPECT_EQ(ctx->auditLog().size(), 1u);
    input.releaseHeld();
    runToEnd();
    EXPECT_EQ(journal, (Journal{"wait 0.5", "key↓ \"a\"", "key↑ \"a\"", "key↓ \"b\"", "key↑ \"b\"",
                                "wait 0.5", "activate org.example.Other", "wait 0.35",
                                "key↓ 36 0x0", "key↑ 36 0x0", "wait 0.5", "finish"}));

    // An abort meanwhile is seen after the pause; a runner gone meanwhile is never called.
    journal.clear();
    input.holdBack = true;
    auto aborted = context(plan);
    runner->run(aborted);
    manual.advance(1.0);
    runner->abort();
    input.releaseHeld();
    runToEnd();
    EXPECT_EQ(effects(), (Journal{"key↓ \"a\"", "key↑ \"a\"", "key↓ \"b\"", "key↑ \"b\""}));
    EXPECT_EQ(aborted->auditLog().size(), 1u);

    input.holdBack = true;
    runner->run(context(plan));
    manual.advance(1.0);
    runner.reset();
    input.releaseHeld();
    manual.advance(5.0);
}

// Text the input layer still holds back when a run stops would otherwise go on being typed into
// whatever window is in front by then.
TEST_F(RunnerTest, AStopMidRunDropsTheInputStillHeldBack) {
    const std::vector<PlanStep> plan = {
        {.index = 0, .intent = "Type", .action = ActionType::keystroke, .text = "ab"},
        {.index = 1, .intent = "Enter", .action = ActionType::keystroke, .keyCode = 36},
    };
    struct Case {
        const char* name;
        std::function<void()> stop;
        bool runnerGone;
    };
    const std::vector<Case> cases = {
        {"abort", [&] { runner->abort(); }, false},
        {"runner destroyed", [&] { runner.reset(); }, true},
    };
    auto again = [&] {
        journal.clear();
        finished = 0;
        input.posted.clear();
        input.cancels.clear();
        if (!runner) {
            runner = std::make_unique<SkillRunner>(queue, clock, input, activator, confirmer);
            runner->onFinish = [this] { ++finished; };
        }
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        again();
        input.holdBack = true;
        auto ctx = context(plan);
        runner->run(ctx);
        manual.advance(1.0);
        ASSERT_EQ(input.posted.size(), 4u);
        EXPECT_TRUE(input.cancels.empty());
        c.stop();
        EXPECT_EQ(input.cancels, std::vector<std::size_t>{4}) << "dropped as the run stops";
        for (int i = 0; i < 5; ++i) {
            manual.advance(1.0);
        }
        EXPECT_EQ(effects(), (Journal{"key↓ \"a\"", "key↑ \"a\"", "key↓ \"b\"", "key↑ \"b\""}));
        EXPECT_EQ(ctx->auditLog().size(), 1u);
        // The wait for the dropped input ends: a live runner finishes after its pause.
        EXPECT_EQ(finished, c.runnerGone ? 0 : 1);
        if (runner) {
            EXPECT_FALSE(runner->isRunning());
        }
        EXPECT_EQ(input.cancels.size(), 1u);
    }

    // A run that ends by itself, or a stop with no run, leaves the input layer alone.
    again();
    input.holdBack = false;
    runner->run(context(plan));
    runToEnd();
    runner->abort();
    EXPECT_EQ(input.posted.size(), 6u);
    EXPECT_TRUE(input.cancels.empty());
}

TEST_F(RunnerTest, AbortWithoutARunAndARunnerGoneMeanwhile) {
    runner->abort();
    {
        auto done = context({});
        runner->run(done);
        runToEnd();
    }
    runner->abort(); // its context is gone

    auto ctx = context({{.action = ActionType::keystroke, .text = "late"}});
    runner->run(ctx);
    runner.reset();
    for (int i = 0; i < 5; ++i) {
        manual.advance(1.0);
    }
    EXPECT_TRUE(input.posted.empty());
    EXPECT_TRUE(ctx->auditLog().empty());
}

TEST(SkillRunnerDetail, DescribesWhatTheStepDid) {
    struct Case {
        PlanStep step;
        const char* detail;
    };
    const AXTarget button{.appName = "Safari", .axRole = "AXButton", .axTitle = "Submit"};
    const Case cases[] = {
        {{.location = Point{1, 2}, .text = "{{week_ending}}"}, "type \"{{week_ending}}\""},
        {{.location = Point{100.7, -3.2}}, "at (100, -3)"},
        {{.location = Point{-0.9, 0.9}, .text = ""}, "at (0, 0)"},
        {{.location = Point{NAN, 5}}, "at (nan, 5)"},
        {{.location = Point{INFINITY, -INFINITY}}, "at (inf, -inf)"},
        {{.location = Point{1e300, 9.3e18}}, "at (1e+300, 9.3e+18)"},
        {{.location = Point{-9223372036854775808.0, 4611686018427387904.0}},
         "at (-9223372036854775808, 4611686018427387904)"},
        {{.target = button}, "Submit in Safari"},
        {{.target = AXTarget{}}, "element"},
        {{}, "\u2014"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SkillRunner::detail(c.step), c.detail);
    }
}

class RunnerInAppTest : public kestro::testing::AppFixture {};

TEST_F(RunnerInAppTest, EscapesPanicAbortsTheReplayInProgress) {
    AppState& app = make();
    Skill skill;
    skill.plan = {{.index = 0, .action = ActionType::keystroke, .text = "a"},
                  {.index = 1, .action = ActionType::keystroke, .text = "b"}};
    auto ctx = std::make_shared<RunContext>(skill, std::map<std::string, std::string>{});
    app.runner().run(ctx);
    queue_.advance(SkillRunner::startDelay);
    EXPECT_EQ(ctx->auditLog().size(), 1u);
    app.panic();
    EXPECT_TRUE(ctx->aborted());
    for (int i = 0; i < 5; ++i) {
        queue_.advance(1.0);
    }
    EXPECT_FALSE(app.runner().isRunning());
    EXPECT_EQ(ctx->auditLog().size(), 1u);
    EXPECT_EQ(input_.posted.size(), 2u) << "only the first step's key went out";
    EXPECT_EQ(input_.cancels, std::vector<std::size_t>{2}) << "what was held back is dropped";
}
