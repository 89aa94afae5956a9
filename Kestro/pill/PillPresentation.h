#pragma once

#include <optional>
#include <string>

namespace kestro {

// What the pill draws is decided afresh from these values whenever one of them changes.
struct PillInputs {
    enum class State { idle, recording, synthesizing, casting };
    enum class Status { idle, creating, success, failure };

    State state = State::idle;
    Status status = Status::idle;
    std::string successName; // the created skill's name while the status is success
    bool skillsEmpty = true;
    bool showCallSkillTip = false;
    bool tipsDismissed = false;

    friend bool operator==(const PillInputs&, const PillInputs&) = default;
};

namespace PillPresentation {

inline constexpr const char* firstSkillTip = "Double-tap Control to finish training your skill";
inline constexpr const char* callSkillTip = "Press ctrl + / to call your skill";

// The tip beside the pill, if any; none while the pill is open or once tips are dismissed.
std::optional<std::string> currentTip(const PillInputs& in, bool expanded);

// The one presentation of the pill's cluster, by precedence: creation feedback, then the cast,
// then the open pill, then the resting one.
enum class Cluster { creating, success, failure, casting, expanded, collapsed };
Cluster cluster(const PillInputs& in, bool expanded);

} // namespace PillPresentation
} // namespace kestro
