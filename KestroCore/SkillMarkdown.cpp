#include "KestroCore/SkillMarkdown.h"

#include "KestroBase/Text.h"

#include <cstdint>

namespace kestro::SkillMarkdown {

namespace {

// Front-matter values and the heading are single lines: a line break from model output must not
// end the front matter early or smuggle in another key.
std::string singleLine(std::string_view value) {
    bool clean = true;
    for (unsigned char c : value) {
        if (c == '\n' || c == '\r' || c >= 0x80) {
            clean = false;
            break;
        }
    }
    if (clean) {
        return std::string(value);
    }
    std::u32string scalars = text::decodeUtf8(value);
    for (char32_t& c : scalars) {
        if (c == U'\r' || c == U'\n' || c == 0x0085 || c == 0x2028 || c == 0x2029) {
            c = U' ';
        }
    }
    return text::encodeUtf8(scalars);
}

std::string yamlLine(std::string_view value) {
    return yaml(singleLine(value));
}

// The index plus one, also for the largest index a plan may hold (where the sum would overflow).
std::string stepNumber(std::int64_t index) {
    if (index < 0) {
        return std::to_string(index + 1);
    }
    return std::to_string(static_cast<std::uint64_t>(index) + 1);
}

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            lines.push_back(text.substr(start));
            return lines;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

} // namespace

std::string yaml(std::string_view value) {
    const bool needsQuotes = value.find_first_of(":#,[") != std::string_view::npos ||
                             (!value.empty() && value.front() == ' ');
    if (!needsQuotes) {
        return std::string(value);
    }
    std::string out = "\"";
    for (char c : value) {
        if (c == '"') {
            out += "\\\"";
        } else {
            out.push_back(c);
        }
    }
    out.push_back('"');
    return out;
}

std::string iso(Date date) {
    return formatIsoDate(date);
}

std::optional<Date> parseISO(const std::optional<std::string>& text) {
    if (!text) {
        return std::nullopt;
    }
    return parseIsoDate(*text);
}

std::string render(const Skill& skill) {
    std::string out;
    out.reserve(512 + skill.plan.size() * 64);
    out += "---\n";
    out += "name: " + yamlLine(skill.name) + "\n";
    out += "trigger: " + yamlLine(skill.trigger) + "\n";
    out += "mode: " + std::string(rawValue(skill.mode)) + "\n";
    out += "created: " + iso(skill.createdAt) + "\n";
    out += "app_scope: [";
    for (std::size_t i = 0; i < skill.appScope.size(); ++i) {
        if (i > 0) {
            out += ", ";
        }
        out += yamlLine(skill.appScope[i]);
    }
    out += "]\n";
    if (!skill.parameters.empty()) {
        out += "parameters:\n";
        for (const Parameter& p : skill.parameters) {
            out += "  - name: " + yamlLine(p.name) + "\n";
            out += "    type: " + std::string(rawValue(p.type)) + "\n";
            out += "    prompt: " + yamlLine(p.prompt) + "\n";
            out += "    example: " + yamlLine(p.exampleValue) + "\n";
        }
    }
    out += "---\n\n";
    out += "# " + singleLine(skill.name) + "\n\n";
    out += skill.summary + "\n\n";
    out += "## Steps\n\n";
    for (const PlanStep& step : skill.plan) {
        out += stepNumber(step.index) + ". " + step.intent;
        if (step.precondition) {
            out += " _(precondition: " + *step.precondition + ")_";
        }
        if (step.isDestructive) {
            out += " \u26A0\uFE0F";
        }
        out += "\n";
    }
    // The file must read back as UTF-8 text: a stray byte would drop the skill from the library.
    if (!text::isValidUtf8(out)) {
        return text::sanitizeUtf8(out);
    }
    return out;
}

std::string stripQuotes(std::string_view value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        return std::string(value.substr(1, value.size() - 2));
    }
    return std::string(value);
}

FrontMatter splitFrontMatter(std::string_view text) {
    FrontMatter result;
    if (text.substr(0, 3) != "---") {
        result.body = std::string(text);
        return result;
    }
    std::vector<std::string_view> lines = splitLines(text);
    std::size_t i = 1;
    bool closed = false;
    for (; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        if (text::trimWhitespace(line) == "---") {
            closed = true;
            break;
        }
        if (!line.empty() && line.front() == ' ') {
            continue;
        }
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            continue;
        }
        std::string key = text::trimWhitespace(line.substr(0, colon));
        std::string value = text::trimWhitespace(line.substr(colon + 1));
        if (value.empty()) {
            continue;
        }
        result.fields[key] = stripQuotes(value);
    }
    if (closed) {
        for (std::size_t k = i + 1; k < lines.size(); ++k) {
            if (k > i + 1) {
                result.body.push_back('\n');
            }
            result.body.append(lines[k]);
        }
    }
    return result;
}

std::vector<std::string> parseList(std::string_view value) {
    std::string trimmed = text::trimWhitespace(value);
    std::string_view v = trimmed;
    if (!v.empty() && v.front() == '[') {
        v.remove_prefix(1);
    }
    if (!v.empty() && v.back() == ']') {
        v.remove_suffix(1);
    }
    std::vector<std::string> items;
    std::size_t start = 0;
    while (start <= v.size()) {
        std::size_t comma = v.find(',', start);
        std::string_view piece = v.substr(
            start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        if (!piece.empty()) {
            std::string item = stripQuotes(text::trimWhitespace(piece));
            if (!item.empty()) {
                items.push_back(std::move(item));
            }
        }
        if (comma == std::string_view::npos) {
            break;
        }
        start = comma + 1;
    }
    return items;
}

namespace {

void fillFromMarkdown(Skill& skill, std::string_view text) {
    FrontMatter fm = splitFrontMatter(text);
    auto field = [&](const char* key) -> std::optional<std::string> {
        auto it = fm.fields.find(key);
        if (it == fm.fields.end()) {
            return std::nullopt;
        }
        return it->second;
    };
    skill.name = field("name").value_or("Untitled skill");
    skill.trigger = field("trigger").value_or(skill.name);
    skill.mode = executionModeFromRawValue(field("mode").value_or("agentic"))
                     .value_or(ExecutionMode::agentic);
    skill.createdAt = parseISO(field("created")).value_or(Date{});
    if (auto scope = field("app_scope")) {
        skill.appScope = parseList(*scope);
    }
    for (std::string_view line : splitLines(fm.body)) {
        std::string trimmed = text::trimWhitespace(line);
        if (!trimmed.empty() && line.front() != '#') {
            skill.summary = std::move(trimmed);
            break;
        }
    }
}

} // namespace

Skill parse(std::string_view text) {
    Skill skill;
    fillFromMarkdown(skill, text);
    return skill;
}

Skill parse(std::string_view text, const Uuid& id) {
    Skill skill{id};
    fillFromMarkdown(skill, text);
    return skill;
}

} // namespace kestro::SkillMarkdown
