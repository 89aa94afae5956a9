#include "KestroCore/AXTarget.h"

#include "KestroCore/GeometryJson.h"

namespace kestro {

std::string AXTarget::humanLabel() const {
    // Presence decides, not emptiness: an empty title still names the element.
    std::string label = axTitle ? *axTitle : axValue ? *axValue : axRole ? *axRole : "element";
    if (appName) {
        label += " in " + *appName;
    }
    return label;
}

json::Value toJson(const AXTarget& t) {
    json::Value v = json::Value::object();
    json::setOptional(v, "appBundleID", t.appBundleID);
    json::setOptional(v, "appName", t.appName);
    json::setOptional(v, "windowTitle", t.windowTitle);
    json::setOptional(v, "axRole", t.axRole);
    json::setOptional(v, "axSubrole", t.axSubrole);
    json::setOptional(v, "axTitle", t.axTitle);
    json::setOptional(v, "axValue", t.axValue);
    json::setOptional(v, "axIdentifier", t.axIdentifier);
    if (t.frameInWindow) {
        v["frameInWindow"] = toJson(*t.frameInWindow);
    }
    v["isSecure"] = t.isSecure;
    return v;
}

AXTarget axTargetFromJson(const json::Value& value) {
    json::ObjectReader r(value, "AXTarget");
    AXTarget t;
    t.appBundleID = r.optionalString("appBundleID");
    t.appName = r.optionalString("appName");
    t.windowTitle = r.optionalString("windowTitle");
    t.axRole = r.optionalString("axRole");
    t.axSubrole = r.optionalString("axSubrole");
    t.axTitle = r.optionalString("axTitle");
    t.axValue = r.optionalString("axValue");
    t.axIdentifier = r.optionalString("axIdentifier");
    if (const json::Value* frame = r.optional("frameInWindow")) {
        t.frameInWindow = rectFromJson(*frame);
    }
    t.isSecure = r.requiredBool("isSecure");
    return t;
}

} // namespace kestro

std::size_t std::hash<kestro::AXTarget>::operator()(const kestro::AXTarget& t) const noexcept {
    auto text = [](const std::optional<std::string>& s) {
        return s ? std::hash<std::string>{}(*s) : std::size_t{0x51ed};
    };
    std::size_t seed = text(t.appBundleID);
    for (const auto* field : {&t.appName, &t.windowTitle, &t.axRole, &t.axSubrole, &t.axTitle,
                              &t.axValue, &t.axIdentifier}) {
        kestro::hashCombine(seed, text(*field));
    }
    kestro::hashCombine(seed, t.frameInWindow ? std::hash<kestro::Rect>{}(*t.frameInWindow) : 7);
    kestro::hashCombine(seed, std::hash<bool>{}(t.isSecure));
    return seed;
}
