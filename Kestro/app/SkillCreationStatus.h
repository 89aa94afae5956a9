#pragma once

#include <string>

namespace kestro {

// How the last attempt to turn a recording into a skill ended.
struct SkillCreationStatus {
    enum class Kind { success, idle, creating, failure };

    Kind kind = Kind::idle;
    // The new skill's name; empty for every other kind, so that equality stays exact.
    std::string name;

    static SkillCreationStatus idle() { return {}; }
    static SkillCreationStatus creating() { return {Kind::creating, {}}; }
    static SkillCreationStatus failure() { return {Kind::failure, {}}; }
    static SkillCreationStatus success(std::string name) {
        return {Kind::success, std::move(name)};
    }

    bool operator==(const SkillCreationStatus&) const = default;
};

} // namespace kestro
