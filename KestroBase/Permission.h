#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace kestro {

enum class Permission { screenRecording, accessibility, inputMonitoring };

enum class PermissionStatus { granted, denied, notDetermined };

inline constexpr std::array<Permission, 3> allPermissions = {
    Permission::screenRecording, Permission::accessibility, Permission::inputMonitoring};

std::string_view rawValue(Permission permission);
std::optional<Permission> permissionFromRawValue(std::string_view raw);

// Identity for lists of permissions: the raw value.
inline std::string_view id(Permission permission) {
    return rawValue(permission);
}
std::string_view title(Permission permission);
std::string_view rationale(Permission permission);

// The settings location prefix followed directly by the pane suffix. The platform's URL opener
// turns it into the desktop's own settings for that facility.
std::string settingsURL(Permission permission);
inline constexpr std::string_view settingsURLPrefix = "x-kestro-settings:privacy?";
std::string_view settingsPane(Permission permission);

} // namespace kestro
