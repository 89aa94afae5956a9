#include "Kestro/replay/SkillRunner.h"

#include "Kestro/replay/StepConfirmation.h"
#include "KestroBase/Text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace kestro {

namespace type = platform::event_type;

struct SkillRunner::Task {
    std::shared_ptr<RunContext> context;
    std::vector<PlanStep> plan;
    std::size_t next = 0;
};

namespace {

// An audit coordinate: truncated toward zero while that is an integer, otherwise written as it is
// ("nan", "inf", "1e+300"), which only a hand-edited plan can hold.
std::string coordinate(double value) {
    constexpr double limit = 9223372036854775808.0; // 2^63
    if (std::isfinite(value)) {
        const double truncated = std::trunc(value);
        if (truncated >= -limit && truncated < limit) {
            return std::to_string(static_cast<std::int64_t>(truncated));
        }
        char buffer[32];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        return std::string(buffer, result.ptr);
    }
    return std::isnan(value) ? "nan" : value < 0 ? "-inf" : "inf";
}

// Where a click can go: a point the input layer can be given. A coordinate that is not finite or
// lies beyond any screen is no location at all.
bool postable(Point p) {
    constexpr double limit = std::numeric_limits<std::int32_t>::max();
    return std::isfinite(p.x) && std::isfinite(p.y) && std::abs(p.x) <= limit &&
           std::abs(p.y) <= limit;
}

std::optional<std::string> bundleID(const PlanStep& step) {
    if (step.target && step.target->appBundleID) {
        return step.target->appBundleID;
    }
    return std::nullopt;
}

} // namespace

SkillRunner::SkillRunner(platform::MainQueue& queue, const platform::Clock& clock,
                         platform::SyntheticInput& input, platform::AppActivator& activator,
                         StepConfirmer& confirmer)
    : queue_(queue), clock_(clock), input_(input), activator_(activator), confirmer_(confirmer),
      self_(std::make_shared<SkillRunner*>(this)) {}

SkillRunner::~SkillRunner() {
    // Nothing posted for a run can run on a runner that is going; the rest of its input is let go.
    self_.reset();
    if (task_) {
        input_.cancelPending();
    }
}

void SkillRunner::run(std::shared_ptr<RunContext> context) {
    if (task_ || !context) {
        return;
    }
    context_ = context;
    auto task = std::make_shared<Task>();
    task->plan = context->skill().plan;
    std::stable_sort(task->plan.begin(), task->plan.end(),
                     [](const PlanStep& a, const PlanStep& b) { return a.index < b.index; });
    task->context = std::move(context);
    task_ = task;
    after(startDelay, [task](SkillRunner& runner) { runner.beginStep(task); });
}

void SkillRunner::abort() {
    if (auto context = context_.lock()) {
        context->abort();
    }
    // The step's whenPosted wait ends at once, so the run ends after the usual pause.
    if (task_) {
        input_.cancelPending();
    }
}

void SkillRunner::after(double seconds, std::function<void(SkillRunner&)> next) {
    queue_.postAfter(seconds, [self = std::weak_ptr<SkillRunner*>(self_), next = std::move(next)] {
        if (auto runner = self.lock()) {
            next(**runner);
        }
    });
}

void SkillRunner::beginStep(const std::shared_ptr<Task>& task) {
    RunContext& context = *task->context;
    if (task->next >= task->plan.size() || context.aborted()) {
        finish(task);
        return;
    }
    const PlanStep& step = task->plan[task->next];
    if (const auto id = bundleID(step); id && activator_.activate(*id)) {
        after(activationDelay, [task](SkillRunner& runner) { runner.performStep(task); });
        return;
    }
    performStep(task);
}

void SkillRunner::performStep(const std::shared_ptr<Task>& task) {
    RunContext& context = *task->context;
    if (context.aborted()) {
        finish(task);
        return;
    }
    const PlanStep& step = task->plan[task->next];
    if (step.isDestructive && !confirmer_.confirm(step.intent)) {
        context.abort();
        finish(task);
        return;
    }
    perform(step, context);
    context.record(AuditEntry{.timestamp = clock_.now(),
                              .intent = step.intent,
                              .action = step.action,
                              .detail = detail(step),
                              .agentic = false});
    ++task->next;
    // A long text may still be going out; the pause after the step starts once all of it is.
    input_.whenPosted([self = std::weak_ptr<SkillRunner*>(self_), task] {
        if (auto runner = self.lock()) {
            (*runner)->after(stepDelay, [task](SkillRunner& r) { r.beginStep(task); });
        }
    });
}

void SkillRunner::finish(const std::shared_ptr<Task>& task) {
    if (task_ == task) {
        task_.reset();
    }
    if (onFinish) {
        onFinish();
    }
}

void SkillRunner::perform(const PlanStep& step, const RunContext& context) {
    const bool hasPoint = step.location && postable(*step.location);
    switch (step.action) {
    case ActionType::click:
        if (hasPoint) {
            click(*step.location, false, 1);
        }
        break;
    case ActionType::rightClick:
        if (hasPoint) {
            click(*step.location, true, 1);
        }
        break;
    case ActionType::doubleClick:
        if (hasPoint) {
            click(*step.location, false, 2);
        }
        break;
    case ActionType::keystroke:
        if (step.text && !step.text->empty()) {
            type(context.fill(*step.text));
        } else if (step.keyCode) {
            key(*step.keyCode, step.modifierFlags.value_or(0));
        }
        break;
    case ActionType::appSwitch:
    case ActionType::windowFocus:
        if (const auto id = bundleID(step)) {
            activator_.activate(*id);
        }
        break;
    case ActionType::drag:
    case ActionType::scroll:
    case ActionType::wait:
        break;
    }
}

void SkillRunner::click(Point point, bool right, int clicks) {
    platform::InputEvent move;
    move.type = type::mouseMoved;
    move.location = point;
    input_.post(move);
    for (int i = 1; i <= clicks; ++i) {
        for (bool down : {true, false}) {
            platform::InputEvent e;
            e.type = right ? (down ? type::rightMouseDown : type::rightMouseUp)
                           : (down ? type::leftMouseDown : type::leftMouseUp);
            e.location = point;
            e.clickState = i;
            input_.post(e);
        }
    }
}

void SkillRunner::type(const std::string& text) {
    for (char32_t scalar : text::decodeUtf8(text)) {
        std::string one;
        text::appendUtf8(one, scalar);
        for (std::uint32_t eventType : {type::keyDown, type::keyUp}) {
            platform::InputEvent e;
            e.type = eventType;
            e.keyCode = 0;
            e.unicodeString = one;
            input_.post(e);
        }
    }
}

void SkillRunner::key(std::uint16_t code, std::uint64_t flags) {
    for (std::uint32_t eventType : {type::keyDown, type::keyUp}) {
        platform::InputEvent e;
        e.type = eventType;
        e.keyCode = code;
        e.flags = flags;
        input_.post(e);
    }
}

std::string SkillRunner::detail(const PlanStep& step) {
    if (step.text && !step.text->empty()) {
        return "type \"" + *step.text + "\"";
    }
    if (step.location) {
        return "at (" + coordinate(step.location->x) + ", " + coordinate(step.location->y) + ")";
    }
    if (step.target) {
        return step.target->humanLabel();
    }
    return "\u2014";
}

} // namespace kestro
