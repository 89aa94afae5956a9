#include "Kestro/program/SelfTest.h"

#include "Kestro/text/FuzzyMatch.h"
#include "KestroCore/KestroState.h"
#include "KestroCore/Paths.h"
#include "KestroCore/RecordingStore.h"
#include "KestroCore/SkillMarkdown.h"
#include "KestroCore/SkillStore.h"
#include "KestroCore/Synthesizer.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string_view>
#include <system_error>

namespace kestro::SelfTest {

namespace {

Date secondsSince1970(std::int64_t seconds) {
    return Date(std::chrono::seconds(seconds));
}

class Report {
public:
    explicit Report(std::ostream& out) : out_(out) { out_ << "Kestro self-test\n\n"; }

    void heading(std::string_view text) {
        if (groups_++ > 0) {
            out_ << '\n';
        }
        out_ << text << '\n';
    }
    void check(std::string_view name, bool holds) {
        out_ << (holds ? "  \u2713 " : "  \u2717 ") << name << '\n';
        if (!holds) {
            ++failures_;
        }
    }
    // A failure line of its own, counted once.
    void fail(std::string_view line) {
        out_ << "  \u2717 " << line << '\n';
        ++failures_;
    }
    int finish() {
        out_ << '\n';
        if (failures_ == 0) {
            out_ << "PASS \u2014 all checks green\n";
        } else {
            out_ << "FAIL \u2014 " << failures_ << " check(s) failed\n";
        }
        out_.flush();
        return failures_ == 0 ? 0 : 1;
    }

private:
    std::ostream& out_;
    int groups_ = 0;
    int failures_ = 0;
};

void removeQuietly(const std::filesystem::path& folder) {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

void skillStoreGroup(Report& report, const Skill& sample) {
    report.heading("SkillStore round-trip:");
    try {
        const SkillStore store;
        store.save(sample);
        const Skill loaded = store.load(Paths::skill(sample.id));
        report.check("name preserved", loaded.name == sample.name);
        report.check("trigger preserved", loaded.trigger == sample.trigger);
        report.check("mode preserved", loaded.mode == sample.mode);
        report.check("app_scope preserved", loaded.appScope == sample.appScope);
        report.check("parameter count", loaded.parameters.size() == sample.parameters.size());
        report.check("plan step count", loaded.plan.size() == sample.plan.size());
        report.check("templated text preserved",
                     std::any_of(loaded.plan.begin(), loaded.plan.end(),
                                 [](const PlanStep& s) { return s.text == "{{week_ending}}"; }));
        report.check("source recording ref", loaded.sourceRecordingID == sample.sourceRecordingID);
        try {
            store.remove(loaded);
        } catch (const std::exception&) {
        }
    } catch (const std::exception& e) {
        report.fail(std::string("threw: ") + e.what());
    } catch (...) {
        report.fail("threw: unknown error");
    }
    // A sample left in the library would be listed and castable like a real skill, so it goes
    // however the group ended.
    removeQuietly(Paths::skill(sample.id));
}

void markdownGroup(Report& report, const Skill& sample) {
    report.heading("SKILL.md render/parse:");
    const std::string text = SkillMarkdown::render(sample);
    report.check("has front-matter", text.starts_with("---"));
    report.check("has Steps heading", text.find("## Steps") != std::string::npos);
    report.check("destructive step marked \u26A0\uFE0F",
                 text.find("\u26A0\uFE0F") != std::string::npos);
    try {
        const Skill parsed = SkillMarkdown::parse(text);
        report.check("reparse name", parsed.name == sample.name);
        report.check("reparse mode", parsed.mode == ExecutionMode::agentic);
    } catch (...) {
        report.fail("parse threw");
    }
}

void fuzzyGroup(Report& report) {
    report.heading("FuzzyMatch:");
    const std::vector<std::string> items = {"File weekly report", "Reconcile invoices",
                                            "Open Reaper"};
    auto ranked = [&](std::string_view query) {
        return FuzzyMatch::rank(items, query, [](const std::string& item) {
            return std::array<std::string_view, 1>{item};
        });
    };
    const auto fwr = ranked("fwr");
    report.check("subsequence match found", !fwr.empty() && fwr.front() == "File weekly report");
    const auto rec = ranked("rec");
    report.check("prefix beats mid-word", !rec.empty() && rec.front() == "Reconcile invoices");
    report.check("empty query keeps order", ranked("") == items);
    report.check("no match \u2192 empty", ranked("zzzz").empty());
}

void runContextGroup(Report& report, const Skill& sample) {
    report.heading("RunContext parameter fill:");
    RunContext context(sample, {{"week_ending", "2026-06-06"}});
    report.check("fills slot", context.fill("date is {{week_ending}}") == "date is 2026-06-06");
    context.abort();
    report.check("abort flag flips", context.aborted());
}

void recordingStoreGroup(Report& report, const Recording& sample) {
    report.heading("RecordingStore round-trip:");
    try {
        const RecordingStore store;
        store.save(sample);
        if (const std::optional<Recording> loaded = store.load(sample.id)) {
            report.check("event count", loaded->events.size() == sample.events.size());
            report.check("frame count", loaded->frames.size() == sample.frames.size());
            report.check(
                "secure text dropped",
                std::all_of(loaded->events.begin(), loaded->events.end(), [](const ActionEvent& e) {
                    return !(e.target && e.target->isSecure) || !e.typedText;
                }));
            report.check("redacted region preserved",
                         !loaded->frames.empty() &&
                             !loaded->frames.front().redactedRegions.empty());
            report.check("display info preserved",
                         loaded->displays.size() == sample.displays.size());
        } else {
            report.fail("load returned nil");
        }
        try {
            store.remove(sample.id);
        } catch (const std::exception&) {
        }
    } catch (const std::exception& e) {
        report.fail(std::string("threw: ") + e.what());
    } catch (...) {
        report.fail("threw: unknown error");
    }
    removeQuietly(Paths::recording(sample.id));
}

void schemaGroup(Report& report) {
    report.heading("Synthesizer schema:");
    const json::Value schema = Synthesizer::schema();
    std::optional<std::string> serialized;
    try {
        serialized = schema.dump();
    } catch (const std::exception&) {
    }
    report.check("serializes to JSON", schema.is_object() && serialized.has_value());
    std::optional<json::Value> parsed;
    if (serialized) {
        try {
            parsed = json::Value::parse(*serialized);
        } catch (const std::exception&) {
        }
    }
    if (!parsed || !parsed->is_object()) {
        report.fail("schema did not round-trip");
    } else {
        const auto strict = parsed->find("additionalProperties");
        report.check("declares strict object",
                     strict != parsed->end() && strict->is_boolean() && !strict->get<bool>());
        std::vector<std::string> required;
        if (const auto list = parsed->find("required"); list != parsed->end() && list->is_array()) {
            for (const auto& name : *list) {
                if (!name.is_string()) {
                    required.clear();
                    break;
                }
                required.push_back(name.get<std::string>());
            }
        }
        auto requires_ = [&](std::string_view name) {
            return std::find(required.begin(), required.end(), name) != required.end();
        };
        report.check("requires plan + parameters", requires_("plan") && requires_("parameters"));
    }
    report.check("system prompt non-empty", !Synthesizer::systemPrompt().empty());
}

} // namespace

bool requested(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        if (argv[i] && std::string_view(argv[i]) == "--selftest") {
            return true;
        }
    }
    return false;
}

Skill sampleSkill() {
    Skill skill;
    skill.name = "File the weekly reefer LTL report";
    skill.trigger = "file weekly reefer report";
    skill.summary = "Logs in, opens the LTL form, fills the week, submits.";
    skill.mode = ExecutionMode::agentic;
    skill.parameters = {Parameter{.name = "week_ending",
                                  .type = ParameterType::date,
                                  .prompt = "Which week's report?",
                                  .exampleValue = "2026-06-06",
                                  .usedInSteps = {1}}};
    skill.plan = {
        PlanStep{.index = 0,
                 .intent = "Click the LTL Reports tab",
                 .action = ActionType::click,
                 .target = AXTarget{.appBundleID = "com.apple.Safari",
                                    .appName = "Safari",
                                    .axRole = "AXButton",
                                    .axTitle = "LTL Reports"},
                 .location = Point{412, 308}},
        PlanStep{.index = 1,
                 .intent = "Type the week ending date",
                 .action = ActionType::keystroke,
                 .target = AXTarget{.axRole = "AXTextField", .axTitle = "Week"},
                 .text = "{{week_ending}}"},
        PlanStep{.index = 2,
                 .intent = "Click Submit",
                 .action = ActionType::click,
                 .target = AXTarget{.axRole = "AXButton", .axTitle = "Submit"},
                 .isDestructive = true},
    };
    skill.appScope = {"com.apple.Safari", "com.microsoft.Excel"};
    skill.createdAt = secondsSince1970(1749402240);
    skill.sourceRecordingID = Uuid::random();
    return skill;
}

Recording sampleRecording() {
    Recording recording;
    recording.startedAt = secondsSince1970(1749402240);
    recording.endedAt = secondsSince1970(1749402252);
    recording.displays = {DisplayInfo{1, Rect::make(0, 0, 1920, 1080), 2.0, true}};
    recording.events = {
        ActionEvent{.timeOffset = 0.5,
                    .type = ActionType::click,
                    .location = Point{100, 200},
                    .target = AXTarget{.axRole = "AXButton", .axTitle = "Login"},
                    .frameIndex = 0},
        ActionEvent{.timeOffset = 1.2,
                    .type = ActionType::keystroke,
                    .target = AXTarget{.axRole = "AXSecureTextField",
                                       .axSubrole = "AXSecureTextField",
                                       .isSecure = true}},
    };
    recording.frames = {FrameRef{.timeOffset = 0.5,
                                 .relativePath = "frames/000001.png",
                                 .displayID = 1,
                                 .pixelSize = Size{3840, 2160},
                                 .redactedRegions = {Rect::make(200, 300, 240, 44)}}};
    recording.appContexts = {AppContextSnapshot{.timeOffset = 0,
                                                .bundleID = "com.apple.Safari",
                                                .appName = "Safari",
                                                .windowTitle = "Login"}};
    return recording;
}

int run() {
    return run(std::cout);
}

int run(std::ostream& out) {
    return run(out, sampleSkill(), sampleRecording());
}

int run(std::ostream& out, const Skill& skill, const Recording& recording) {
    Report report(out);
    skillStoreGroup(report, skill);
    markdownGroup(report, skill);
    fuzzyGroup(report);
    runContextGroup(report, skill);
    recordingStoreGroup(report, recording);
    schemaGroup(report);
    return report.finish();
}

} // namespace kestro::SelfTest
