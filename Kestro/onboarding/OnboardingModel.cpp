#include "Kestro/onboarding/OnboardingModel.h"

#include <algorithm>

namespace kestro {

namespace OnboardingModel {

std::size_t currentIndex(const std::map<Permission, PermissionStatus>& statuses) {
    for (std::size_t i = 0; i < allPermissions.size(); ++i) {
        auto it = statuses.find(allPermissions[i]);
        if (it == statuses.end() || it->second != PermissionStatus::granted) {
            return i;
        }
    }
    return allPermissions.size();
}

Step step(std::size_t index) {
    const std::size_t shown = std::min(index, allPermissions.size() - 1);
    Step s;
    s.counter =
        "Step " + std::to_string(shown + 1) + " of " + std::to_string(allPermissions.size());
    switch (allPermissions[shown]) {
    case Permission::screenRecording:
        s.heading = "Kestro needs to see your screen.";
        s.button = "Give access to screen recording";
        s.explanation = "Kestro takes screenshots through the X server. This needs an X11 "
                        "session (not Wayland alone) whose server offers Composite and MIT-SHM.";
        break;
    case Permission::accessibility:
        s.heading = "Kestro needs to control your screen.";
        s.button = "Give access to accessibility";
        s.explanation = "The button switches accessibility on for this session, so applications "
                        "started afterwards describe their buttons and fields to Kestro. "
                        "Applications already running may need a restart.";
        break;
    case Permission::inputMonitoring:
        s.heading = "Kestro needs to read your shortcuts.";
        s.button = "Give access to input monitoring";
        s.explanation = "Kestro watches the keyboard and mouse through the X server's input "
                        "extensions. This needs an X11 session whose server offers XInput 2.2 "
                        "and RECORD.";
        break;
    }
    return s;
}

} // namespace OnboardingModel

} // namespace kestro
