#include "KestroCore/SkillStore.h"

#include "KestroBase/FileIO.h"
#include "KestroBase/Text.h"
#include "KestroCore/Paths.h"
#include "KestroCore/SkillMarkdown.h"
#include "KestroCore/StoredReader.h"

#include <algorithm>
#include <system_error>

namespace kestro {

namespace fs = std::filesystem;

json::Value toJson(const ExecutionPlanDocument& document) {
    json::Value parameters = json::Value::array();
    for (const Parameter& p : document.parameters) {
        parameters.push_back(toJson(p));
    }
    json::Value plan = json::Value::array();
    for (const PlanStep& s : document.plan) {
        plan.push_back(toJson(s));
    }
    return json::Value{{"parameters", std::move(parameters)}, {"plan", std::move(plan)}};
}

ExecutionPlanDocument executionPlanDocumentFromJson(const json::Value& value) {
    json::ObjectReader r(value, "ExecutionPlanDocument");
    return ExecutionPlanDocument{r.requiredList<Parameter>("parameters", parameterFromJson),
                                 r.requiredList<PlanStep>("plan", planStepFromJson)};
}

std::string encodeExecutionPlan(const ExecutionPlanDocument& document) {
    std::string bytes;
    json::StoredWriter out(bytes);
    out.beginObject();
    out.key("parameters");
    out.beginArray();
    for (const Parameter& p : document.parameters) {
        writeStored(out, p);
    }
    out.endArray();
    out.key("plan");
    out.beginArray();
    for (const PlanStep& s : document.plan) {
        writeStored(out, s);
    }
    out.endArray();
    out.endObject();
    return bytes;
}

namespace {
constexpr std::array<std::string_view, 2> kPlanKeys = {"parameters", "plan"};

ExecutionPlanDocument executionPlanDocumentFromStored(json::Element value) {
    json::StoredObject r(value, kPlanKeys, "ExecutionPlanDocument");
    auto parameters = r.requiredList<Parameter>(0, parameterFromStored);
    return ExecutionPlanDocument{std::move(parameters),
                                 r.requiredList<PlanStep>(1, planStepFromStored)};
}
} // namespace

ExecutionPlanDocument decodeExecutionPlan(std::string_view bytes) {
    if (auto document = json::readStored(bytes, executionPlanDocumentFromStored)) {
        return std::move(*document);
    }
    return executionPlanDocumentFromJson(json::parse(bytes));
}

SkillStore::SkillStore(fs::path root) : root_(std::move(root)) {}

fs::path SkillStore::root() const {
    return root_ ? *root_ : Paths::skills();
}

fs::path SkillStore::folder(const Skill& skill) const {
    return Paths::existingFolder(root(), skill.id);
}

void SkillStore::save(const Skill& skill) const {
    if (root_) {
        createPrivateDirectories(*root_);
    } else {
        Paths::ensureDirectories();
    }
    // Encode everything first so that a value JSON cannot hold leaves the folder untouched.
    const std::string markdown = SkillMarkdown::render(skill);
    const std::string plan = encodeExecutionPlan({skill.parameters, skill.plan});
    const fs::path dir = folder(skill);
    const bool created = createPrivateDirectories(dir, true);
    try {
        writeFileAtomically(dir / markdownFileName, markdown);
        writeFileAtomically(dir / planFileName, plan);
        if (skill.sourceRecordingID) {
            writeFileAtomically(dir / recordingRefFileName, skill.sourceRecordingID->uuidString());
        }
    } catch (...) {
        if (created) {
            // Nobody else knows of the folder yet: what is in it is this save's alone.
            std::error_code ignored;
            fs::remove_all(dir, ignored);
        }
        throw;
    }
}

Skill SkillStore::load(const fs::path& dir) const {
    const fs::path markdownPath = dir / markdownFileName;
    std::string markdown = readFile(markdownPath);
    if (!text::isValidUtf8(markdown)) {
        throw fs::filesystem_error("the file is not UTF-8 text", markdownPath,
                                   std::make_error_code(std::errc::illegal_byte_sequence));
    }
    Skill skill = SkillMarkdown::parse(markdown);
    // The last component of the folder's name, also when it is written with a trailing "/".
    const fs::path name = dir.has_filename() ? dir.filename() : dir.parent_path().filename();
    if (auto id = Uuid::parse(name.string())) {
        skill.id = *id;
    }
    if (auto bytes = readFileIfPresent(dir / planFileName)) {
        try {
            ExecutionPlanDocument document = decodeExecutionPlan(*bytes);
            skill.parameters = std::move(document.parameters);
            skill.plan = std::move(document.plan);
        } catch (const json::DecodingError&) {
            // A damaged plan loads as no plan at all, never as part of one.
        }
    }
    if (auto bytes = readFileIfPresent(dir / recordingRefFileName);
        bytes && text::isValidUtf8(*bytes)) {
        skill.sourceRecordingID = Uuid::parse(text::trimWhitespaceAndNewlines(*bytes));
    }
    return skill;
}

std::vector<Skill> SkillStore::loadAll() const {
    std::vector<Skill> skills;
    std::error_code ec;
    fs::directory_iterator it(root(), ec);
    if (ec) {
        return skills;
    }
    for (fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) {
            break;
        }
        std::error_code statusError;
        fs::file_status status = it->symlink_status(statusError);
        if (statusError || !fs::is_directory(status)) {
            continue;
        }
        try {
            skills.push_back(load(it->path()));
        } catch (const fs::filesystem_error&) {
            // A folder without a readable SKILL.md is not a skill.
        }
    }
    std::stable_sort(skills.begin(), skills.end(),
                     [](const Skill& a, const Skill& b) { return a.createdAt > b.createdAt; });
    return skills;
}

void SkillStore::remove(const Skill& skill) const {
    const fs::path dir = folder(skill);
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(dir, ec))) {
        throw fs::filesystem_error("no such skill folder", dir,
                                   std::make_error_code(std::errc::no_such_file_or_directory));
    }
    fs::remove_all(dir);
}

fs::path SkillStore::markdownURL(const Skill& skill) const {
    return folder(skill) / markdownFileName;
}

} // namespace kestro
