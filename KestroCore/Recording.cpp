#include "KestroCore/Recording.h"

#include "KestroCore/GeometryJson.h"
#include "KestroCore/StoredReader.h"

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
    FrameRef f{.id = r.requiredUuid("id")};
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
    Recording rec{.id = r.requiredUuid("id")};
    rec.startedAt = r.requiredDate("startedAt");
    rec.endedAt = r.optionalDate("endedAt");
    rec.displays = r.requiredList<DisplayInfo>("displays", displayInfoFromJson);
    rec.events = r.requiredList<ActionEvent>("events", actionEventFromJson);
    rec.frames = r.requiredList<FrameRef>("frames", frameRefFromJson);
    rec.appContexts = r.requiredList<AppContextSnapshot>("appContexts", appContextSnapshotFromJson);
    return rec;
}

namespace {

void writeStored(json::StoredWriter& out, const FrameRef& f) {
    out.beginObject();
    out.key("displayID");
    out.unsignedInteger(f.displayID);
    out.key("id");
    out.uuid(f.id);
    out.key("pixelSize");
    writeStored(out, f.pixelSize);
    out.key("redactedRegions");
    out.beginArray();
    for (const Rect& region : f.redactedRegions) {
        writeStored(out, region);
    }
    out.endArray();
    out.key("relativePath");
    out.string(f.relativePath);
    out.key("timeOffset");
    out.number(f.timeOffset);
    out.endObject();
}

void writeOptional(json::StoredWriter& out, std::string_view key,
                   const std::optional<std::string>& text) {
    if (text) {
        out.key(key);
        out.string(*text);
    }
}

void writeStored(json::StoredWriter& out, const AppContextSnapshot& c) {
    out.beginObject();
    writeOptional(out, "appName", c.appName);
    writeOptional(out, "bundleID", c.bundleID);
    out.key("timeOffset");
    out.number(c.timeOffset);
    writeOptional(out, "windowTitle", c.windowTitle);
    out.endObject();
}

template <typename T>
void writeArray(json::StoredWriter& out, std::string_view key, const std::vector<T>& items) {
    out.key(key);
    out.beginArray();
    for (const T& item : items) {
        writeStored(out, item);
    }
    out.endArray();
}

constexpr std::array<std::string_view, 6> kFrameKeys = {
    "id", "timeOffset", "relativePath", "displayID", "pixelSize", "redactedRegions"};
constexpr std::array<std::string_view, 4> kContextKeys = {"timeOffset", "bundleID", "appName",
                                                          "windowTitle"};
constexpr std::array<std::string_view, 7> kRecordingKeys = {
    "id", "startedAt", "endedAt", "displays", "events", "frames", "appContexts"};

FrameRef frameRefFromStored(json::Element value) {
    json::StoredObject r(value, kFrameKeys, "FrameRef");
    FrameRef f{.id = r.requiredUuid(0)};
    f.timeOffset = r.requiredDouble(1);
    f.relativePath = r.requiredString(2);
    f.displayID = r.requiredInt<std::uint32_t>(3);
    f.pixelSize = sizeFromStored(r.required(4));
    f.redactedRegions = r.requiredList<Rect>(5, rectFromStored);
    return f;
}

AppContextSnapshot appContextSnapshotFromStored(json::Element value) {
    json::StoredObject r(value, kContextKeys, "AppContextSnapshot");
    AppContextSnapshot c;
    c.timeOffset = r.requiredDouble(0);
    c.bundleID = r.optionalString(1);
    c.appName = r.optionalString(2);
    c.windowTitle = r.optionalString(3);
    return c;
}

Recording recordingFromStored(json::Element value) {
    json::StoredObject r(value, kRecordingKeys, "Recording");
    Recording rec{.id = r.requiredUuid(0)};
    rec.startedAt = r.requiredDate(1);
    rec.endedAt = r.optionalDate(2);
    rec.displays = r.requiredList<DisplayInfo>(3, displayInfoFromStored);
    rec.events = r.requiredList<ActionEvent>(4, actionEventFromStored);
    rec.frames = r.requiredList<FrameRef>(5, frameRefFromStored);
    rec.appContexts = r.requiredList<AppContextSnapshot>(6, appContextSnapshotFromStored);
    return rec;
}

} // namespace

std::string encodeRecording(const Recording& r) {
    std::string bytes;
    // Each event takes about a kilobyte; growing from there copies less.
    bytes.reserve(4096 + r.events.size() * 1024 + r.frames.size() * 512);
    json::StoredWriter out(bytes);
    out.beginObject();
    writeArray(out, "appContexts", r.appContexts);
    writeArray(out, "displays", r.displays);
    if (r.endedAt) {
        out.key("endedAt");
        out.date(*r.endedAt);
    }
    writeArray(out, "events", r.events);
    writeArray(out, "frames", r.frames);
    out.key("id");
    out.uuid(r.id);
    out.key("startedAt");
    out.date(r.startedAt);
    out.endObject();
    return bytes;
}

Recording decodeRecording(std::string_view bytes) {
    if (auto recording = json::readStored(bytes, recordingFromStored)) {
        return std::move(*recording);
    }
    return recordingFromJson(json::parse(bytes));
}

} // namespace kestro
