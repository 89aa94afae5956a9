#include "KestroCore/RecordingStore.h"

#include "KestroBase/FileIO.h"
#include "KestroCore/Paths.h"

#include <algorithm>
#include <set>
#include <system_error>

namespace kestro {

namespace fs = std::filesystem;

fs::path RecordingStore::folder(const Uuid& id) const {
    return Paths::existingFolder(Paths::recordings(), id);
}

fs::path RecordingStore::prepareFramesDirectory(const Uuid& id) const {
    fs::path frames = framesDirectory(id);
    fs::create_directories(frames);
    return frames;
}

fs::path RecordingStore::framesDirectory(const Uuid& id) const {
    return folder(id) / "frames";
}

fs::path RecordingStore::frameURL(const Uuid& id, std::string_view relativePath) const {
    // Appended as it stands: a leading "/" must not turn it into a path outside the folder.
    while (!relativePath.empty() && relativePath.front() == '/') {
        relativePath.remove_prefix(1);
    }
    return folder(id) / fs::path(relativePath);
}

void RecordingStore::save(const Recording& recording) const {
    const fs::path dir = folder(recording.id);
    fs::create_directories(dir);
    const std::string bytes = encodeRecording(recording);
    writeFileAtomically(dir / documentFileName, bytes);
}

std::optional<Recording> RecordingStore::load(const Uuid& id) const {
    auto bytes = readFileIfPresent(folder(id) / documentFileName);
    if (!bytes) {
        return std::nullopt;
    }
    try {
        return decodeRecording(*bytes);
    } catch (const json::DecodingError&) {
        return std::nullopt;
    }
}

std::vector<Recording> RecordingStore::loadAll() const {
    std::vector<Recording> recordings;
    std::error_code ec;
    fs::directory_iterator it(Paths::recordings(), ec);
    if (ec) {
        return recordings;
    }
    std::set<Uuid> seen;
    for (fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) {
            break;
        }
        auto id = Uuid::parse(it->path().filename().string());
        if (!id || !seen.insert(*id).second) {
            continue;
        }
        if (auto recording = load(*id)) {
            recordings.push_back(std::move(*recording));
        }
    }
    std::stable_sort(
        recordings.begin(), recordings.end(),
        [](const Recording& a, const Recording& b) { return a.startedAt > b.startedAt; });
    return recordings;
}

void RecordingStore::remove(const Uuid& id) const {
    const fs::path dir = folder(id);
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(dir, ec))) {
        throw fs::filesystem_error("no such recording folder", dir,
                                   std::make_error_code(std::errc::no_such_file_or_directory));
    }
    fs::remove_all(dir);
}

} // namespace kestro
