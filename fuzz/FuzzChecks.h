#pragma once

// The properties each fuzz target checks, shared with the regression suite that replays every
// input kept under tests/data/fuzz. A broken property aborts.

#include "KestroCore/Recording.h"
#include "KestroCore/SkillMarkdown.h"
#include "KestroCore/SkillStore.h"

#include <cstdlib>
#include <string_view>

namespace kestro::fuzz {

// Whatever decodes must encode, and read back to the very same bytes.
inline void checkRecording(std::string_view bytes) {
    try {
        const std::string again = encodeRecording(decodeRecording(bytes));
        if (encodeRecording(decodeRecording(again)) != again) {
            std::abort();
        }
    } catch (const json::DecodingError&) {
    }
}

inline void checkExecutionPlan(std::string_view bytes) {
    try {
        const std::string again = encodeExecutionPlan(decodeExecutionPlan(bytes));
        if (encodeExecutionPlan(decodeExecutionPlan(again)) != again) {
            std::abort();
        }
    } catch (const json::DecodingError&) {
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
