#pragma once

#include <atspi/atspi-constants.h>

#include <optional>
#include <string>

namespace kestro::platform::linux_x11 {

struct AXRoleNames {
    std::string role;
    std::optional<std::string> subrole;
};

// The one table from AT-SPI roles to the accessibility role names the core speaks. A text role
// depends on whether the field holds several lines; a generic container directly below its
// application is a window (a plain Qt window is a "filler"). Roles not in
// the table become "AX" and the AT-SPI role name in camel case ("tool bar" gives "AXToolBar").
AXRoleNames axRoleNames(AtspiRole role, bool multiLine, bool topLevel);

} // namespace kestro::platform::linux_x11
