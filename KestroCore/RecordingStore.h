#pragma once

#include "KestroCore/Recording.h"

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace kestro {

// Recordings on disk: one folder per recording, named by its id, holding "recording.json" and the
// "frames" folder of key frames. Folders are open to their owner alone, stored files too.
class RecordingStore {
public:
    static constexpr const char* documentFileName = "recording.json";

    // Keeps its recordings in Paths::recordings(), looked up afresh at every call.
    RecordingStore() = default;
    // Keeps its recordings in `root`.
    explicit RecordingStore(std::filesystem::path root);

    std::filesystem::path root() const;

    // Refuses, like save(), a recording folder or frames folder that is a symbolic link.
    std::filesystem::path prepareFramesDirectory(const Uuid& id) const;
    std::filesystem::path framesDirectory(const Uuid& id) const;
    // `relativePath` inside the recording's folder. A path that could leave it (an absolute
    // path, a ".." component) or that names the folder itself is never used: it throws
    // std::filesystem::filesystem_error. Touches nothing on disk.
    std::filesystem::path frameURL(const Uuid& id, std::string_view relativePath) const;
    // Refuses to write through a recording folder that is a symbolic link.
    void save(const Recording& recording) const;
    // Nothing when the document is missing, unreadable, refused or malformed.
    std::optional<Recording> load(const Uuid& id) const;
    // Every loadable recording, latest start first.
    std::vector<Recording> loadAll() const;
    void remove(const Uuid& id) const;

    std::filesystem::path folder(const Uuid& id) const;

private:
    std::optional<std::filesystem::path> root_;
};

} // namespace kestro
