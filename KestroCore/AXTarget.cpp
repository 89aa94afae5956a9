#include "KestroCore/AXTarget.h"

#include "KestroCore/GeometryJson.h"
#include "KestroCore/StoredReader.h"

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

namespace {

void writeOptional(json::StoredWriter& out, std::string_view key,
                   const std::optional<std::string>& text) {
    if (text) {
        out.key(key);
        out.string(*text);
    }
}

constexpr std::array<std::string_view, 10> kTargetKeys = {
    "appBundleID", "appName", "windowTitle",  "axRole",        "axSubrole",
    "axTitle",     "axValue", "axIdentifier", "frameInWindow", "isSecure"};

} // namespace

void writeStored(json::StoredWriter& out, const AXTarget& t) {
    out.beginObject();
    writeOptional(out, "appBundleID", t.appBundleID);
    writeOptional(out, "appName", t.appName);
    writeOptional(out, "axIdentifier", t.axIdentifier);
    writeOptional(out, "axRole", t.axRole);
    writeOptional(out, "axSubrole", t.axSubrole);
    writeOptional(out, "axTitle", t.axTitle);
    writeOptional(out, "axValue", t.axValue);
    if (t.frameInWindow) {
        out.key("frameInWindow");
        writeStored(out, *t.frameInWindow);
    }
    out.key("isSecure");
    out.boolean(t.isSecure);
    writeOptional(out, "windowTitle", t.windowTitle);
    out.endObject();
}

AXTarget axTargetFromStored(json::Element value) {
    json::StoredObject r(value, kTargetKeys, "AXTarget");
    AXTarget t;
    t.appBundleID = r.optionalString(0);
    t.appName = r.optionalString(1);
    t.windowTitle = r.optionalString(2);
    t.axRole = r.optionalString(3);
    t.axSubrole = r.optionalString(4);
    t.axTitle = r.optionalString(5);
    t.axValue = r.optionalString(6);
    t.axIdentifier = r.optionalString(7);
    if (auto frame = r.optional(8)) {
        t.frameInWindow = rectFromStored(*frame);
    }
    t.isSecure = r.requiredBool(9);
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
