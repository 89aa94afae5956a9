#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

using Display = struct _XDisplay;

namespace kestro::platform::linux_x11 {

// An integer setting from XSETTINGS data (the _XSETTINGS_SETTINGS property); absent when it is
// not there, not an integer, or the data is malformed.
std::optional<std::int32_t> xsettingsInteger(const std::uint8_t* data, std::size_t size,
                                             std::string_view name);

// The same, read from the desktop's settings manager on the default screen.
std::optional<std::int32_t> readXSettingsInteger(Display* display, std::string_view name);

} // namespace kestro::platform::linux_x11
