#pragma once

#include "KestroBase/IsoDate.h"
#include "KestroCore/ActionEvent.h"
#include "KestroCore/Skill.h"

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace kestro {

// What the application is doing right now.
struct KestroState {
    enum class Kind { idle, recording, synthesizing, casting };

    Kind kind = Kind::idle;
    // The cast skill's name; empty for every other kind, so that equality stays exact.
    std::string skillName;

    static KestroState idle() { return {}; }
    static KestroState recording() { return {Kind::recording, {}}; }
    static KestroState synthesizing() { return {Kind::synthesizing, {}}; }
    static KestroState casting(std::string skill) { return {Kind::casting, std::move(skill)}; }

    // The screen frame shows while recording and while casting.
    bool showsOverlay() const { return kind == Kind::recording || kind == Kind::casting; }
    // Escape aborts only while this is true.
    bool isCasting() const { return kind == Kind::casting; }

    bool operator==(const KestroState&) const = default;
};

// One performed step of a replay.
struct AuditEntry {
    Date timestamp;
    std::string intent;
    ActionType action = ActionType::click;
    std::string detail;
    bool agentic = false;

    bool operator==(const AuditEntry&) const = default;
};

// The state of one replay run, shared by whoever starts the run and the runner. The abort flag
// may be read from any thread at any time; abort() and record() may be called from any thread.
class RunContext final {
public:
    RunContext(Skill skill, std::map<std::string, std::string> parameters);
    RunContext(const RunContext&) = delete;
    RunContext& operator=(const RunContext&) = delete;

    const Skill& skill() const { return skill_; }
    const std::map<std::string, std::string>& parameters() const { return parameters_; }

    // Once set, never cleared. Idempotent.
    void abort();
    bool aborted() const { return aborted_.load(); }

    void record(const AuditEntry& entry);
    // A copy of the entries recorded so far, in call order.
    std::vector<AuditEntry> auditLog() const;

    // The text with every "{{name}}" of a known parameter replaced by its value, one name after
    // the other in name order. Names match exactly (case and spaces count); unknown slots stay.
    // Within one name's pass inserted values are not searched again.
    std::string fill(const std::string& text) const;

private:
    const Skill skill_;
    const std::map<std::string, std::string> parameters_;
    std::atomic<bool> aborted_{false};
    mutable std::mutex lock_;
    std::vector<AuditEntry> auditLog_;
};

} // namespace kestro
