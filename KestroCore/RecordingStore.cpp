#include "KestroCore/RecordingStore.h"

#include "KestroBase/FileIO.h"
#include "KestroCore/Paths.h"
#include "KestroCore/RecordingJson.h"

#include <algorithm>
#include <set>
#include <system_error>

namespace kestro {

namespace fs = std::filesystem;

RecordingStore::RecordingStore(fs::path root) : root_(std::move(root)) {}

fs::path RecordingStore::root() const {
    return root_ ? *root_ : Paths::recordings();
}

fs::path RecordingStore::folder(const Uuid& id) const {
    return Paths::existingFolder(root(), id);
}

fs::path RecordingStore::prepareFramesDirectory(const Uuid& id) const {
    createPrivateDirectories(root());
    createPrivateDirectories(folder(id), true);
    fs::path frames = framesDirectory(id);
    createPrivateDirectories(frames, true);
    return frames;
}

fs::path RecordingStore::framesDirectory(const Uuid& id) const {
    return folder(id) / "frames";
}

fs::path RecordingStore::frameURL(const Uuid& id, std::string_view relativePath) const {
    // The path comes from a stored document, which anyone may have written.
    const fs::path relative(relativePath);
    const fs::path normal = relative.lexically_normal();
    bool inside =
        relative.is_relative() && !relative.has_root_path() && !normal.empty() && normal != ".";
    for (const fs::path& part : relative) {
        inside = inside && part != "..";
    }
    if (!inside) {
        throw fs::filesystem_error("a frame path must stay inside its recording folder",
                                   fs::path(relativePath),
                                   std::make_error_code(std::errc::invalid_argument));
    }
    return folder(id) / relative;
}

void RecordingStore::save(const Recording& recording) const {
    // Encoded first, so that a recording JSON cannot hold leaves no folder behind.
    const std::string bytes = encodeRecording(recording);
    createPrivateDirectories(root());
    const fs::path dir = folder(recording.id);
    createPrivateDirectories(dir, true);
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
    fs::directory_iterator it(root(), ec);
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
