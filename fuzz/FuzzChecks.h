#pragma once

// The properties each fuzz target checks, shared with the regression suite that replays every
// input kept under tests/data/fuzz. A broken property aborts.

#include "KestroCore/RecordingJson.h"
#include "KestroCore/SkillJson.h"
#include "KestroCore/SkillMarkdown.h"
#include "KestroCore/SkillStore.h"

#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace kestro::fuzz {

// The stored bytes a reader makes of bytes once they are written again, or nothing when it
// refuses them.
template <typename Decode, typename Encode>
std::optional<std::string> rewritten(std::string_view bytes, Decode decode, Encode encode) {
    try {
        return encode(decode(bytes));
    } catch (const json::DecodingError&) {
        return std::nullopt;
    }
}

inline std::optional<std::string> recordingViaTypedReader(std::string_view bytes) {
    return rewritten(bytes, decodeRecording, encodeRecording);
}

// Through a Value and its generic writer: the reference for the typed reader and writer.
inline std::optional<std::string> recordingViaValue(std::string_view bytes) {
    return rewritten(
        bytes, [](std::string_view b) { return recordingFromJson(json::parse(b)); },
        [](const Recording& r) { return json::writeStored(toJson(r)); });
}

inline std::optional<std::string> planViaTypedReader(std::string_view bytes) {
    return rewritten(bytes, decodeExecutionPlan, encodeExecutionPlan);
}

inline std::optional<std::string> planViaValue(std::string_view bytes) {
    return rewritten(
        bytes, [](std::string_view b) { return executionPlanDocumentFromJson(json::parse(b)); },
        [](const ExecutionPlanDocument& d) { return json::writeStored(toJson(d)); });
}

// The typed reader and writer agree with the Value path on every input; whatever decodes must
// encode, and read back to the very same bytes.
inline void checkRecording(std::string_view bytes) {
    const std::optional<std::string> again = recordingViaTypedReader(bytes);
    if (again != recordingViaValue(bytes)) {
        std::abort();
    }
    if (again && recordingViaTypedReader(*again) != again) {
        std::abort();
    }
}

inline void checkExecutionPlan(std::string_view bytes) {
    const std::optional<std::string> again = planViaTypedReader(bytes);
    if (again != planViaValue(bytes)) {
        std::abort();
    }
    if (again && planViaTypedReader(*again) != again) {
        std::abort();
    }
}

// Any text parses; a rendered skill reads back with the same mode and date.
inline void checkSkillMarkdown(std::string_view text) {
    Skill skill = SkillMarkdown::parse(text);
    (void)skill.slashCommand();
    Skill back = SkillMarkdown::parse(SkillMarkdown::render(skill));
    if (back.mode != skill.mode || back.createdAt != skill.createdAt) {
        std::abort();
    }
}

} // namespace kestro::fuzz
