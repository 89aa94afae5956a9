#include "KestroCore/Synthesizer.h"

#include "KestroCore/KeyConversion.h"

#include <chrono>

namespace kestro {

namespace {

using json::Value;

Value typed(const char* type) {
    Value v = Value::object();
    v["type"] = type;
    return v;
}

// Each call makes its own object, so no two properties share one.
Value nullableString() {
    Value v = Value::object();
    v["anyOf"] = Value::array({typed("string"), typed("null")});
    return v;
}

Value arrayOf(Value items) {
    Value v = typed("array");
    v["items"] = std::move(items);
    return v;
}

Value oneOf(std::initializer_list<const char*> values) {
    Value v = typed("string");
    Value list = Value::array();
    for (const char* s : values) {
        list.push_back(s);
    }
    v["enum"] = std::move(list);
    return v;
}

// A strict object schema: every property required, nothing else allowed.
Value objectSchema(std::vector<std::pair<const char*, Value>> properties) {
    Value v = typed("object");
    v["additionalProperties"] = false;
    Value required = Value::array();
    Value props = Value::object();
    for (auto& [name, schema] : properties) {
        required.push_back(name);
        props[name] = std::move(schema);
    }
    v["required"] = std::move(required);
    v["properties"] = std::move(props);
    return v;
}

TargetDraft targetDraftFromJson(const Value& value) {
    const json::ObjectReader r(value, "TargetDraft");
    return TargetDraft{.appBundleId = r.optionalString("appBundleId"),
                       .appName = r.optionalString("appName"),
                       .axRole = r.optionalString("axRole"),
                       .axTitle = r.optionalString("axTitle"),
                       .axIdentifier = r.optionalString("axIdentifier")};
}

StepDraft stepDraftFromJson(const Value& value) {
    const json::ObjectReader r(value, "StepDraft");
    StepDraft step;
    step.index = r.requiredInt<std::int64_t>("index");
    step.intent = r.requiredString("intent");
    step.action = r.requiredString("action");
    step.text = r.optionalString("text");
    step.precondition = r.optionalString("precondition");
    step.isDestructive = r.requiredBool("isDestructive");
    if (const Value* target = r.optional("target")) {
        step.target = targetDraftFromJson(*target);
    }
    return step;
}

ParamDraft paramDraftFromJson(const Value& value) {
    const json::ObjectReader r(value, "ParamDraft");
    ParamDraft param;
    param.name = r.requiredString("name");
    param.type = r.requiredString("type");
    param.prompt = r.requiredString("prompt");
    param.exampleValue = r.requiredString("exampleValue");
    param.usedInSteps = r.requiredList<std::int64_t>("usedInSteps", [&](const Value& e) {
        return json::integer<std::int64_t>(e, r.memberName("usedInSteps"));
    });
    return param;
}

// Counts the elements of a draft's lists without building anything.
struct ListSizes {
    std::size_t appScope = 0, parameters = 0, plan = 0;

    bool null() { return value(); }
    bool boolean(bool) { return value(); }
    bool number_integer(Value::number_integer_t) { return value(); }
    bool number_unsigned(Value::number_unsigned_t) { return value(); }
    bool number_float(Value::number_float_t, const std::string&) { return value(); }
    bool string(std::string&) { return value(); }
    bool binary(Value::binary_t&) { return value(); }
    bool start_object(std::size_t) {
        value();
        if (depth_ == 1) {
            counting_ = nullptr;
        }
        ++depth_;
        return true;
    }
    bool key(std::string& name) {
        if (depth_ == 1) {
            member_ = json::convertFromSnakeCase(name);
        }
        return true;
    }
    bool end_object() { return end(); }
    bool start_array(std::size_t) {
        value();
        if (depth_ == 1) {
            counting_ = member_ == "plan"         ? &plan
                        : member_ == "parameters" ? &parameters
                        : member_ == "appScope"   ? &appScope
                                                  : nullptr;
        }
        ++depth_;
        return true;
    }
    bool end_array() { return end(); }
    // The decoding parse reports it.
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
        return false;
    }

private:
    bool value() {
        if (depth_ == 2 && counting_) {
            ++*counting_;
        }
        return true;
    }
    bool end() {
        if (--depth_ == 1) {
            counting_ = nullptr;
        }
        return true;
    }

    int depth_ = 0;
    std::string member_;
    std::size_t* counting_ = nullptr;
};

} // namespace

const std::string& Synthesizer::systemPrompt() {
    // The recordings are made here, so the model is told which desktop it is looking at.
    static const std::string prompt =
        "You are Kestro's skill synthesizer. You convert a recording of a user "
        "performing a task on a Linux desktop — an ordered interaction trace plus key-frame "
        "screenshots — into a reusable, parameterized automation skill, in the spirit of "
        "an Anthropic SKILL.md.\n"
        "\n"
        "Produce a skill that another instance of you (or a deterministic replayer) "
        "could run again on a different day with different inputs. Specifically:\n"
        "- Give the skill a short imperative `name` and a natural `trigger` phrase "
        "a   user would type to invoke it.\n"
        "- Write a one-sentence `summary` of what the task accomplishes.\n"
        "- Detect every value that was specific to THIS run — dates, names, file "
        "paths,   search terms, amounts, IDs — and templatize it as a {{snake_case}} "
        "slot in   the relevant step's `text`, with a matching `parameters` entry (its "
        "`type`,   a human `prompt`, the `example_value` observed, and the "
        "`used_in_steps`   indices). Do not parameterize fixed UI navigation.\n"
        "- For each step write a clear `intent` (\"Click the LTL Reports tab\"), keep "
        "the   observed `action`, set a `precondition` when the runner should verify "
        "state   first (else null), and set `is_destructive` true for "
        "submit/send/delete/  overwrite/purchase actions.\n"
        "- Secure fields are already redacted in the trace and blacked out in frames "
        "—   never guess their contents; leave such steps' `text` null.\n"
        "- Choose `mode`: \"agentic\" by default (a Computer Use loop, robust to "
        "UI   change); \"replay\" only for a short, stable, internal-tool task.\n"
        "- List the bundle IDs touched in `app_scope`.\n"
        "Index steps from 0 in order. Return only the structured object.";
    return prompt;
}

json::Value Synthesizer::schema() {
    Value target = objectSchema({
        {"app_bundle_id", nullableString()},
        {"app_name", nullableString()},
        {"ax_role", nullableString()},
        {"ax_title", nullableString()},
        {"ax_identifier", nullableString()},
    });
    Value targetOrNull = Value::object();
    targetOrNull["anyOf"] = Value::array({std::move(target), typed("null")});

    Value step = objectSchema({
        {"index", typed("integer")},
        {"intent", typed("string")},
        {"action", oneOf({"click", "rightClick", "doubleClick", "drag", "keystroke", "scroll",
                          "appSwitch", "windowFocus", "wait"})},
        {"text", nullableString()},
        {"precondition", nullableString()},
        {"is_destructive", typed("boolean")},
        {"target", std::move(targetOrNull)},
    });
    Value parameter = objectSchema({
        {"name", typed("string")},
        {"type", oneOf({"text", "date", "number", "filePath", "searchTerm"})},
        {"prompt", typed("string")},
        {"example_value", typed("string")},
        {"used_in_steps", arrayOf(typed("integer"))},
    });
    return objectSchema({
        {"name", typed("string")},
        {"trigger", typed("string")},
        {"summary", typed("string")},
        {"mode", oneOf({"agentic", "replay"})},
        {"app_scope", arrayOf(typed("string"))},
        {"parameters", arrayOf(std::move(parameter))},
        {"plan", arrayOf(std::move(step))},
    });
}

SkillDraft decodeSkillDraft(std::string_view bytes) {
    json::checkForeignNesting(bytes);
    // The lists are decoded element by element as the parser finishes each, and the element is
    // dropped: a tree of a long plan would take many times the size of its text. The first
    // element that does not decode is reported once the members before its list have been read,
    // as a reader of the whole tree would.
    enum class List { none, appScope, parameters, plan };
    List list = List::none;
    std::string member;
    // Sized first: a growing vector holds its old and its new storage at once.
    ListSizes sizes;
    Value::sax_parse(bytes.begin(), bytes.end(), &sizes);
    std::vector<std::string> appScope;
    std::vector<ParamDraft> parameters;
    std::vector<StepDraft> plan;
    appScope.reserve(sizes.appScope);
    parameters.reserve(sizes.parameters);
    plan.reserve(sizes.plan);
    std::optional<std::string> appScopeError, parametersError, planError;
    using Event = nlohmann::json::parse_event_t;
    const Value::parser_callback_t keepOrDecode = [&](int depth, Event event, Value& parsed) {
        if (depth == 1) {
            if (event == Event::key) {
                member = json::convertFromSnakeCase(parsed.get_ref<const std::string&>());
            } else if (event == Event::array_start) {
                list = member == "plan"         ? List::plan
                       : member == "parameters" ? List::parameters
                       : member == "appScope"   ? List::appScope
                                                : List::none;
                // A repeated member replaces the one before, as in a tree.
                if (list == List::plan) {
                    plan.clear();
                    planError.reset();
                } else if (list == List::parameters) {
                    parameters.clear();
                    parametersError.reset();
                } else if (list == List::appScope) {
                    appScope.clear();
                    appScopeError.reset();
                }
            } else if (event == Event::array_end || event == Event::object_start) {
                list = List::none;
            }
            return true;
        }
        if (depth != 2 || list == List::none || event == Event::object_start ||
            event == Event::array_start) {
            return true;
        }
        // One whole element of a list.
        std::optional<std::string>& error = list == List::plan         ? planError
                                            : list == List::parameters ? parametersError
                                                                       : appScopeError;
        if (error) {
            return false;
        }
        try {
            if (list == List::appScope) {
                if (!parsed.is_string()) {
                    throw json::DecodingError(
                        "typeMismatch: expected a string: \"appScope\" in SkillDraft");
                }
                appScope.push_back(std::move(parsed.get_ref<std::string&>()));
            } else if (list == List::parameters) {
                parameters.push_back(paramDraftFromJson(json::convertingKeysFromSnakeCase(parsed)));
            } else {
                plan.push_back(stepDraftFromJson(json::convertingKeysFromSnakeCase(parsed)));
            }
        } catch (const json::DecodingError& e) {
            error = e.what();
        }
        return false;
    };
    Value parsed;
    try {
        parsed = Value::parse(bytes.begin(), bytes.end(), keepOrDecode);
    } catch (const nlohmann::json::exception& e) {
        json::failMalformed(e.what());
    }
    const Value document = json::convertingKeysFromSnakeCase(parsed);
    parsed = Value();
    const json::ObjectReader r(document, "SkillDraft");
    SkillDraft draft;
    draft.name = r.requiredString("name");
    draft.trigger = r.requiredString("trigger");
    draft.summary = r.requiredString("summary");
    draft.mode = r.requiredString("mode");
    // Each list is empty in the tree now: the reader checks that it is there and is a list.
    auto take = [&](std::string_view key, std::optional<std::string>& error, auto& decoded) {
        r.requiredArray(key);
        if (error) {
            throw json::DecodingError(*error);
        }
        return std::move(decoded);
    };
    draft.appScope = take("appScope", appScopeError, appScope);
    draft.parameters = take("parameters", parametersError, parameters);
    draft.plan = take("plan", planError, plan);
    return draft;
}

Skill Synthesizer::assemble(const SkillDraft& draft, const Recording& recording) {
    Skill skill;
    skill.name = draft.name;
    skill.trigger = draft.trigger;
    skill.summary = draft.summary;
    skill.mode = executionModeFromRawValue(draft.mode).value_or(ExecutionMode::agentic);
    for (const ParamDraft& p : draft.parameters) {
        skill.parameters.push_back(Parameter{
            .name = p.name,
            .type = parameterTypeFromRawValue(p.type).value_or(ParameterType::text),
            .prompt = p.prompt,
            .exampleValue = p.exampleValue,
            .usedInSteps = p.usedInSteps,
        });
    }
    // Steps pair with recorded events by position; the draft's own index plays no part.
    for (std::size_t i = 0; i < draft.plan.size(); ++i) {
        const StepDraft& d = draft.plan[i];
        const ActionEvent* event = i < recording.events.size() ? &recording.events[i] : nullptr;
        PlanStep step;
        step.index = static_cast<std::int64_t>(i);
        step.intent = d.intent;
        step.text = d.text;
        step.precondition = d.precondition;
        step.isDestructive = d.isDestructive;
        if (event && event->target) {
            step.target = event->target;
        } else if (d.target) {
            step.target = AXTarget{.appBundleID = d.target->appBundleId,
                                   .appName = d.target->appName,
                                   .axRole = d.target->axRole,
                                   .axTitle = d.target->axTitle,
                                   .axIdentifier = d.target->axIdentifier};
        }
        if (auto action = actionTypeFromRawValue(d.action)) {
            step.action = *action;
        } else {
            step.action = event ? event->type : ActionType::click;
        }
        if (event) {
            step.location = event->location;
            step.keyCode = event->keyCode;
            step.modifierFlags = event->modifierFlags;
        }
        skill.plan.push_back(std::move(step));
    }
    skill.appScope = draft.appScope;
    skill.createdAt = std::chrono::system_clock::now();
    skill.sourceRecordingID = recording.id;
    return skill;
}

} // namespace kestro
