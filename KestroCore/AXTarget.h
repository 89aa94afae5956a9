#pragma once

#include "KestroBase/Geometry.h"

#include <optional>
#include <string>

namespace kestro {

// The accessibility description of the element an action touched.
struct AXTarget {
    std::optional<std::string> appBundleID;
    std::optional<std::string> appName;
    std::optional<std::string> windowTitle;
    std::optional<std::string> axRole;
    std::optional<std::string> axSubrole;
    std::optional<std::string> axTitle;
    std::optional<std::string> axValue;
    std::optional<std::string> axIdentifier;
    std::optional<Rect> frameInWindow;
    bool isSecure = false;

    std::string humanLabel() const;

    friend bool operator==(const AXTarget&, const AXTarget&) = default;
};

} // namespace kestro

template <> struct std::hash<kestro::AXTarget> {
    std::size_t operator()(const kestro::AXTarget& t) const noexcept;
};
