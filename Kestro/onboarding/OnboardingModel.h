#pragma once

#include "KestroBase/Permission.h"

#include <cstddef>
#include <map>
#include <string>

namespace kestro {

// What the onboarding shows, decided without widgets.
namespace OnboardingModel {

// Index of the first permission in display order that is not granted; 3 when all are.
// A permission without a status counts as not granted.
std::size_t currentIndex(const std::map<Permission, PermissionStatus>& statuses);

struct Step {
    std::string counter;
    std::string heading;
    std::string button;
    // What the step asks of the user on this desktop.
    std::string explanation;
};
Step step(std::size_t index);

inline constexpr const char* successTitle = "You're all set";
inline constexpr const char* successText =
    "Double-tap Control (\u2303\u2303) to record a task, and press \u2303/ to cast a skill.";

} // namespace OnboardingModel

} // namespace kestro
