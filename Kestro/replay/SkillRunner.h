#pragma once

#include "KestroCore/KestroState.h"
#include "KestroCore/Skill.h"
#include "platform/AppActivator.h"
#include "platform/Clock.h"
#include "platform/MainQueue.h"
#include "platform/SyntheticInput.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kestro {

class StepConfirmer;

// The replay engine: performs a skill's plan with synthetic mouse and keyboard input, one step
// at a time at a fixed pace, bringing each step's application to the front, asking before a
// destructive step, and recording an audit entry for every step it performs.
//
// The walk is a chain of steps on the main thread: every wait is a delayed post to the main
// queue, so the thread stays free for the user interface and for abort() meanwhile. The abort
// flag is looked at only before a step and again after its application was brought forward;
// a wait in progress runs to its end. The pause after a step starts once the input layer has
// posted all of the step's events, which for a long text can take a moment; an abort, or the
// runner going away mid-run, drops what of them the input layer still holds back, so that none
// of it is typed into whatever window is in front afterwards.
class SkillRunner final {
public:
    // The pace of a run, in seconds.
    static constexpr double startDelay = 0.5;
    static constexpr double activationDelay = 0.35;
    static constexpr double stepDelay = 0.5;

    SkillRunner(platform::MainQueue& queue, const platform::Clock& clock,
                platform::SyntheticInput& input, platform::AppActivator& activator,
                StepConfirmer& confirmer);
    ~SkillRunner();
    SkillRunner(const SkillRunner&) = delete;
    SkillRunner& operator=(const SkillRunner&) = delete;

    // Called on the main thread when a run ends, however it ends.
    std::function<void()> onFinish;

    bool isRunning() const { return task_ != nullptr; }

    // Starts a replay of the context's skill with its parameter values and returns at once.
    // Ignored while a run is in progress (the new context is not kept).
    void run(std::shared_ptr<RunContext> context);
    // Aborts the current run's context, if it still exists, and drops the input still held back
    // for the run in progress; the run stops at its next check.
    void abort();

    // The audit text of a step: the typed text as stored, else its location, else its target.
    static std::string detail(const PlanStep& step);

private:
    struct Task;

    void beginStep(const std::shared_ptr<Task>& task);
    void performStep(const std::shared_ptr<Task>& task);
    void finish(const std::shared_ptr<Task>& task);
    void after(double seconds, std::function<void(SkillRunner&)> next);

    void perform(const PlanStep& step, const RunContext& context);
    void click(Point point, bool right, int clicks);
    void type(const std::string& text);
    void key(std::uint16_t code, std::uint64_t flags);

    platform::MainQueue& queue_;
    const platform::Clock& clock_;
    platform::SyntheticInput& input_;
    platform::AppActivator& activator_;
    StepConfirmer& confirmer_;

    std::shared_ptr<Task> task_;
    std::weak_ptr<RunContext> context_;
    // Posted steps hold this weakly, so none runs on a runner that is gone.
    std::shared_ptr<SkillRunner*> self_;
};

} // namespace kestro
