#include "KestroCore/Recording.h"

#include "KestroCore/GeometryJson.h"

#include <chrono>

namespace kestro {

double Recording::duration() const {
    if (!endedAt) {
        return 0;
    }
    // Subtracting the time points would count nanoseconds in 64 bits, which overflows for dates
    // more than 292 years apart (both can come from a stored document): take whole seconds and
    // the fractions apart.
    using namespace std::chrono;
    const auto endSeconds = floor<seconds>(*endedAt);
    const auto startSeconds = floor<seconds>(startedAt);
    const auto fraction = (*endedAt - endSeconds) - (startedAt - startSeconds);
    return static_cast<double>((endSeconds - startSeconds).count()) +
           std::chrono::duration<double>(fraction).count();
}

json::Value toJson(const FrameRef& f) {
    json::Value regions = json::Value::array();
    for (const Rect& r : f.redactedRegions) {
        regions.push_back(toJson(r));
    }
    return json::Value{{"id", json::uuidValue(f.id)},      {"timeOffset", f.timeOffset},
                       {"relativePath", f.relativePath},   {"displayID", f.displayID},
                       {"pixelSize", toJson(f.pixelSize)}, {"redactedRegions", std::move(regions)}};
}

json::Value toJson(const AppContextSnapshot& c) {
    json::Value v = json::Value::object();
    v["timeOffset"] = c.timeOffset;
    json::setOptional(v, "bundleID", c.bundleID);
    json::setOptional(v, "appName", c.appName);
    json::setOptional(v, "windowTitle", c.windowTitle);
    return v;
}

namespace {
template <typename T> json::Value arrayOf(const std::vector<T>& items) {
    json::Value a = json::Value::array();
    for (const T& item : items) {
        a.push_back(toJson(item));
    }
    return a;
}
} // namespace

json::Value toJson(const Recording& r) {
    json::Value v = json::Value::object();
    v["id"] = json::uuidValue(r.id);
    v["startedAt"] = json::dateValue(r.startedAt);
    if (r.endedAt) {
        v["endedAt"] = json::dateValue(*r.endedAt);
    }
    v["displays"] = arrayOf(r.displays);
    v["events"] = arrayOf(r.events);
    v["frames"] = arrayOf(r.frames);
    v["appContexts"] = arrayOf(r.appContexts);
    return v;
}

FrameRef frameRefFromJson(const json::Value& value) {
    json::ObjectReader r(value, "FrameRef");
    FrameRef f;
    f.id = r.requiredUuid("id");
    f.timeOffset = r.requiredDouble("timeOffset");
    f.relativePath = r.requiredString("relativePath");
    f.displayID = r.requiredInt<std::uint32_t>("displayID");
    f.pixelSize = sizeFromJson(r.required("pixelSize"));
    f.redactedRegions = r.requiredList<Rect>("redactedRegions", rectFromJson);
    return f;
}

AppContextSnapshot appContextSnapshotFromJson(const json::Value& value) {
    json::ObjectReader r(value, "AppContextSnapshot");
    AppContextSnapshot c;
    c.timeOffset = r.requiredDouble("timeOffset");
    c.bundleID = r.optionalString("bundleID");
    c.appName = r.optionalString("appName");
    c.windowTitle = r.optionalString("windowTitle");
    return c;
}

Recording recordingFromJson(const json::Value& value) {
    json::ObjectReader r(value, "Recording");
    Recording rec;
    rec.id = r.requiredUuid("id");
    rec.startedAt = r.requiredDate("startedAt");
    rec.endedAt = r.optionalDate("endedAt");
    rec.displays = r.requiredList<DisplayInfo>("displays", displayInfoFromJson);
    rec.events = r.requiredList<ActionEvent>("events", actionEventFromJson);
    rec.frames = r.requiredList<FrameRef>("frames", frameRefFromJson);
    rec.appContexts = r.requiredList<AppContextSnapshot>("appContexts", appContextSnapshotFromJson);
    return rec;
}

std::string encodeRecording(const Recording& recording) {
    return json::writeStored(toJson(recording));
}

Recording decodeRecording(std::string_view bytes) {
    return recordingFromJson(json::parse(bytes));
}

} // namespace kestro
