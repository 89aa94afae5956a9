#pragma once

#include "KestroCore/AXTarget.h"
#include "KestroCore/GeometryJson.h"

namespace kestro {

json::Value toJson(const AXTarget& target);
AXTarget axTargetFromJson(const json::Value& value);
void writeStored(json::StoredWriter& out, const AXTarget& target);
AXTarget axTargetFromStored(json::Element value);

} // namespace kestro

template <> struct kestro::json::Fields<kestro::AXTarget> {
    static constexpr std::string_view name = "AXTarget";
    static constexpr auto members = std::tuple{
        field("appBundleID", &AXTarget::appBundleID),
        field("appName", &AXTarget::appName),
        field("windowTitle", &AXTarget::windowTitle),
        field("axRole", &AXTarget::axRole),
        field("axSubrole", &AXTarget::axSubrole),
        field("axTitle", &AXTarget::axTitle),
        field("axValue", &AXTarget::axValue),
        field("axIdentifier", &AXTarget::axIdentifier),
        field("frameInWindow", &AXTarget::frameInWindow),
        field("isSecure", &AXTarget::isSecure),
    };
};
