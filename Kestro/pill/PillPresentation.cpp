#include "Kestro/pill/PillPresentation.h"

namespace kestro::PillPresentation {

std::optional<std::string> currentTip(const PillInputs& in, bool expanded) {
    if (expanded || in.tipsDismissed) {
        return std::nullopt;
    }
    if (in.state == PillInputs::State::recording && in.skillsEmpty) {
        return std::string(firstSkillTip);
    }
    if (in.showCallSkillTip && in.status == PillInputs::Status::idle &&
        in.state == PillInputs::State::idle) {
        return std::string(callSkillTip);
    }
    return std::nullopt;
}

Cluster cluster(const PillInputs& in, bool expanded) {
    switch (in.status) {
    case PillInputs::Status::creating:
        return Cluster::creating;
    case PillInputs::Status::success:
        return Cluster::success;
    case PillInputs::Status::failure:
        return Cluster::failure;
    case PillInputs::Status::idle:
        break;
    }
    if (in.state == PillInputs::State::casting) {
        return Cluster::casting;
    }
    return expanded ? Cluster::expanded : Cluster::collapsed;
}

} // namespace kestro::PillPresentation
