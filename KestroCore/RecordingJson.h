#pragma once

#include "KestroCore/ActionEventJson.h"
#include "KestroCore/GeometryJson.h"
#include "KestroCore/Recording.h"

#include <string>
#include <string_view>

namespace kestro {

json::Value toJson(const FrameRef& frame);
json::Value toJson(const AppContextSnapshot& context);
json::Value toJson(const Recording& recording);

FrameRef frameRefFromJson(const json::Value& value);
AppContextSnapshot appContextSnapshotFromJson(const json::Value& value);
Recording recordingFromJson(const json::Value& value);

// The bytes of "recording.json", and back; decoding throws json::DecodingError.
std::string encodeRecording(const Recording& recording);
Recording decodeRecording(std::string_view bytes);

} // namespace kestro

template <> struct kestro::json::Fields<kestro::FrameRef> {
    static constexpr std::string_view name = "FrameRef";
    static constexpr auto members = std::tuple{
        field("id", &FrameRef::id),
        field("timeOffset", &FrameRef::timeOffset),
        field("relativePath", &FrameRef::relativePath),
        field("displayID", &FrameRef::displayID),
        field("pixelSize", &FrameRef::pixelSize),
        field("redactedRegions", &FrameRef::redactedRegions),
    };
};

template <> struct kestro::json::Fields<kestro::AppContextSnapshot> {
    static constexpr std::string_view name = "AppContextSnapshot";
    static constexpr auto members = std::tuple{
        field("timeOffset", &AppContextSnapshot::timeOffset),
        field("bundleID", &AppContextSnapshot::bundleID),
        field("appName", &AppContextSnapshot::appName),
        field("windowTitle", &AppContextSnapshot::windowTitle),
    };
};

template <> struct kestro::json::Fields<kestro::Recording> {
    static constexpr std::string_view name = "Recording";
    static constexpr auto members = std::tuple{
        field("id", &Recording::id),
        field("startedAt", &Recording::startedAt),
        field("endedAt", &Recording::endedAt),
        field("displays", &Recording::displays),
        field("events", &Recording::events),
        field("frames", &Recording::frames),
        field("appContexts", &Recording::appContexts),
    };
};
