#include "KestroBase/Permission.h"

namespace kestro {

std::string_view rawValue(Permission p) {
    switch (p) {
    case Permission::screenRecording:
        return "screenRecording";
    case Permission::accessibility:
        return "accessibility";
    case Permission::inputMonitoring:
        return "inputMonitoring";
    }
    return {};
}

std::optional<Permission> permissionFromRawValue(std::string_view raw) {
    for (Permission p : allPermissions) {
        if (rawValue(p) == raw) {
            return p;
        }
    }
    return std::nullopt;
}

std::string_view title(Permission p) {
    switch (p) {
    case Permission::screenRecording:
        return "Screen Recording";
    case Permission::accessibility:
        return "Accessibility";
    case Permission::inputMonitoring:
        return "Input Monitoring";
    }
    return {};
}

std::string_view rationale(Permission p) {
    switch (p) {
    case Permission::screenRecording:
        return "Capture frames of what you're doing so a skill can see the screen.";
    case Permission::accessibility:
        return "Read the element under your cursor and click & type on your behalf when casting.";
    case Permission::inputMonitoring:
        return "Watch global hotkeys (\u2303\u2303 to record, \u2303/ to cast) and your input "
               "while "
               "recording.";
    }
    return {};
}

std::string_view settingsPane(Permission p) {
    switch (p) {
    case Permission::screenRecording:
        return "ScreenCapture";
    case Permission::accessibility:
        return "Accessibility";
    case Permission::inputMonitoring:
        return "ListenEvent";
    }
    return {};
}

std::string settingsURL(Permission p) {
    return std::string(settingsURLPrefix) + std::string(settingsPane(p));
}

} // namespace kestro
