#pragma once

#include "KestroBase/Geometry.h"
#include "KestroBase/IsoDate.h"
#include "KestroBase/Uuid.h"
#include "KestroCore/ActionEvent.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestro {

// One saved key frame of a recording.
struct FrameRef {
    Uuid id = Uuid::random();
    double timeOffset = 0;
    std::string relativePath;
    std::uint32_t displayID = 0;
    Size pixelSize{0, 0};
    std::vector<Rect> redactedRegions;
};

// The front application and window noted at one moment of a recording.
struct AppContextSnapshot {
    double timeOffset = 0;
    std::optional<std::string> bundleID;
    std::optional<std::string> appName;
    std::optional<std::string> windowTitle;
};

// The stored result of one demonstration.
struct Recording {
    Uuid id = Uuid::random();
    Date startedAt;
    std::optional<Date> endedAt;
    std::vector<DisplayInfo> displays;
    std::vector<ActionEvent> events;
    std::vector<FrameRef> frames;
    std::vector<AppContextSnapshot> appContexts;

    // Seconds from start to end, 0 while unfinished; not clamped.
    double duration() const;
};

} // namespace kestro
