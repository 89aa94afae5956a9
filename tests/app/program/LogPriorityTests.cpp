#include "tests/app/AppTestSupport.h"

#include "KestroCore/SkillStore.h"

using namespace kestro;
using namespace kestro::testing;
namespace fs = std::filesystem;

namespace {

// Which lines of the roads reach the system log as failures and which as notices.
class LogPriorityTest : public AppFixture {
public:
    struct Line {
        std::string text;
        LogPriority priority;
    };

    LogPriorityTest() {
        setPriorityLogSink([this](const std::string& line, LogPriority priority) {
            std::lock_guard lock(mutex_);
            lines_.push_back({line, priority});
        });
    }

    std::vector<Line> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    void clearLines() {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }

    void record(AppState& app) {
        app.toggleRecording();
        click();
        app.toggleRecording();
        runUntil([&] {
            return app.state() == KestroState::idle() &&
                   app.creationStatus().kind != SkillCreationStatus::Kind::creating;
        });
    }
    static Skill editorSkill() {
        return Skill{.name = "Weekly report", .appScope = {"org.example.Editor"}};
    }
    void cast(AppState& app, int status, const std::string& body) {
        app.cast(editorSkill());
        castTransport_->answer({.status = status, .body = body});
        runUntil([&] { return app.state() == KestroState::idle(); });
    }

private:
    std::mutex mutex_;
    std::vector<Line> lines_;
};

TEST_F(LogPriorityTest, FailuresAreErrorsOrWarningsAndTheRestNotices) {
    struct Case {
        const char* what;
        std::function<void(LogPriorityTest&)> act;
        std::string begins;
        LogPriority priority;
    };
    const std::vector<Case> cases{
        {"input tap refused",
         [](LogPriorityTest& t) {
             t.grantAll();
             t.taps_.refuseTaps = true;
             t.make().toggleRecording();
         },
         "Kestro: recording could not start", LogPriority::error},
        {"no key",
         [](LogPriorityTest& t) {
             t.grantAll();
             t.record(t.make());
         },
         "Kestro: recorded 1 events", LogPriority::warning},
        {"skill synthesized",
         [](LogPriorityTest& t) {
             t.grantAll();
             t.setKey();
             t.synthesisTransport_->reply(200, modelReply(draftText()));
             t.record(t.make());
         },
         "Kestro: synthesized skill", LogPriority::notice},
        {"synthesis fails",
         [](LogPriorityTest& t) {
             t.grantAll();
             t.setKey();
             t.synthesisTransport_->reply(529, "overloaded");
             t.record(t.make());
         },
         "Kestro: synthesis failed for recording", LogPriority::error},
        {"display lost", [](LogPriorityTest& t) { t.make().displayLost(); },
         "Kestro: the display server went away", LogPriority::warning},
        {"no tool to cast with",
         [](LogPriorityTest& t) {
             t.setKey();
             t.make().cast(editorSkill());
         },
         "Kestro: can't run", LogPriority::warning},
        {"cast ran",
         [](LogPriorityTest& t) {
             t.setKey();
             t.connectEditorServer();
             t.cast(t.make(), 200, modelReply("done"));
         },
         "Kestro: ran", LogPriority::notice},
        {"cast failed",
         [](LogPriorityTest& t) {
             t.setKey();
             t.connectEditorServer();
             t.cast(t.make(), 500, "boom");
         },
         "Kestro: run \"Weekly report\" failed", LogPriority::error},
        {"skill deleted",
         [](LogPriorityTest& t) {
             const Skill skill{.name = "Old"};
             SkillStore().save(skill);
             t.make().deleteSkill(skill);
         },
         "Kestro: deleted skill", LogPriority::notice},
        {"export without SKILL.md",
         [](LogPriorityTest& t) { t.make().exportSkill(Skill{.name = "Never stored"}); },
         "Kestro: export failed", LogPriority::error},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.act(*this);
        const std::vector<Line> got = lines();
        ASSERT_FALSE(got.empty());
        EXPECT_EQ(got.front().text.rfind(c.begins, 0), 0u) << got.front().text;
        EXPECT_EQ(got.front().priority, c.priority) << got.front().text;

        app_.reset();
        clearLines();
        ::unsetenv("ANTHROPIC_API_KEY");
        taps_.refuseTaps = false;
        fs::remove_all(Paths::support());
        synthesisTransport_ = std::make_shared<platform::fake::FakeHttpTransport>();
        platform::HttpTransport::setShared(synthesisTransport_);
    }
}

} // namespace
