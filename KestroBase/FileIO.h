#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kestro {

// The largest file the readers below take unless told otherwise: every stored document, frame
// and settings file is far smaller.
inline constexpr std::size_t maxStoredFileBytes = std::size_t{64} << 20;

// Writes through a temporary file in the same folder and renames it into place, so readers see
// the old file or the new one, never a torn one; the folder is synced after the rename, so the
// new file survives a power loss once this returns. The file is readable and writable by its owner
// alone: stored files hold typed text, window titles and screenshots. On failure the temporary
// file is removed, the previous file is left as it was, and std::filesystem::filesystem_error is
// thrown. Once renamed the file is in place: a folder that cannot be synced after that goes to
// the storage log, and the write stands.
void writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// Temporary files of writeFileAtomically carry this prefix; loaders pass over them.
inline constexpr std::string_view temporaryFilePrefix = ".kestro-tmp-";
bool isTemporaryFile(const std::filesystem::path& path);

// The whole of a regular file (a symbolic link to one is followed). Anything else (a folder, a
// FIFO, a device, a socket) is refused without waiting on it, and so is a file of more than
// `maxBytes` bytes, also one that grows past it while it is read. Throws
// std::filesystem::filesystem_error when the file cannot be read or is refused.
std::string readFile(const std::filesystem::path& path, std::size_t maxBytes = maxStoredFileBytes);
// The whole file, or nothing when it cannot be read or is refused for any reason.
std::optional<std::string> readFileIfPresent(const std::filesystem::path& path,
                                             std::size_t maxBytes = maxStoredFileBytes);

// A folder held open, whose files are read by names relative to it (also "sub/file"), so that
// reading many of them does not walk the whole path for each one. The rules of readFile apply;
// errors name the folder's path joined with the relative name.
class OpenFolder {
public:
    // Throws std::filesystem::filesystem_error when `path` cannot be opened as a folder.
    explicit OpenFolder(const std::filesystem::path& path);
    ~OpenFolder();
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;

    std::string readFile(const std::string& relative,
                         std::size_t maxBytes = maxStoredFileBytes) const;
    std::optional<std::string> readFileIfPresent(const std::string& relative,
                                                 std::size_t maxBytes = maxStoredFileBytes) const;

private:
    std::filesystem::path path_;
    int fd_;
};

// Makes `path` a folder that only its owner may enter (mode 0700), creating it and every missing
// folder above it with that mode. An existing folder at `path` that is ours and open to group or
// others is tightened to 0700; folders above it that already exist are left alone. With
// `refuseLink`, a symbolic link at `path` is refused instead of followed, so nothing is written
// through it. Returns whether `path` was created by this call. Throws
// std::filesystem::filesystem_error. Each folder made here is synced into the folder above it;
// when that sync fails the folder stands and the failure goes to the storage log.
bool createPrivateDirectories(const std::filesystem::path& path, bool refuseLink = false);

// What the storage code has to say that no caller is told of: a write or folder that stands
// although it could not be synced to the disk, a stored folder that is passed over. Lines go to
// the sink set last, one at a time; until one is set they are dropped. Any thread; a sink does
// not log here itself.
using StorageLog = std::function<void(const std::string& line)>;
void setStorageLog(StorageLog sink);
void storageLog(const std::string& line);

// Tests only: folders are synced through `sync` in place of fsync (returning 0, or -1 with errno
// set, as fsync does); nullptr restores fsync.
using FolderSync = int (*)(int fd, const std::filesystem::path& folder);
void setFolderSyncForTesting(FolderSync sync);

} // namespace kestro
