#pragma once

#include "KestroCore/Recording.h"

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace kestro {

// Recordings on disk: one folder per recording, named by its id, holding "recording.json" and the
// "frames" folder of key frames.
class RecordingStore {
public:
    static constexpr const char* documentFileName = "recording.json";

    std::filesystem::path prepareFramesDirectory(const Uuid& id) const;
    std::filesystem::path framesDirectory(const Uuid& id) const;
    std::filesystem::path frameURL(const Uuid& id, std::string_view relativePath) const;
    void save(const Recording& recording) const;
    // Nothing when the document is missing, unreadable or malformed.
    std::optional<Recording> load(const Uuid& id) const;
    // Every loadable recording, latest start first.
    std::vector<Recording> loadAll() const;
    void remove(const Uuid& id) const;

    std::filesystem::path folder(const Uuid& id) const;
};

} // namespace kestro
