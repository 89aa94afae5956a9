#include "KestroBase/FileIO.h"

#include "KestroBase/Uuid.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>
#include <system_error>

namespace kestro {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const char* what, const fs::path& path, int error) {
    throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// A fresh name beside `path` for its temporary file, open to its owner alone. Open applies the
// process umask itself, so nothing here has to read or change it (that would be a window in
// which files created by other threads escape the umask).
int createTemporary(const fs::path& path, fs::path& temporary) {
    static constexpr char alphabet[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    const std::string stem = std::string(temporaryFilePrefix) + path.filename().string() + ".";
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto random = Uuid::random().bytes(); // the first six bytes are all random
        std::string name = stem;
        for (std::size_t i = 0; i < 6; ++i) {
            name.push_back(alphabet[random[i] % (sizeof alphabet - 1)]);
        }
        temporary = folder / name;
        int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

std::mutex storageLogMutex;
StorageLog storageLogSink;

std::atomic<FolderSync> folderSync{nullptr};

// Syncs the entries of `folder`, so that what was renamed or made in it survives a power loss.
// Returns 0 or an errno value. A folder that cannot be opened for reading is not ours to sync,
// and a file system that cannot sync folders (EINVAL) keeps its own promises.
int syncFolder(const fs::path& folder) {
    FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) {
        return 0;
    }
    const FolderSync sync = folderSync.load();
    if ((sync ? sync(fd.get(), folder) : ::fsync(fd.get())) != 0 && errno != EINVAL) {
        return errno;
    }
    return 0;
}

std::string errnoText(int error) {
    return std::generic_category().message(error);
}

} // namespace

void setStorageLog(StorageLog sink) {
    std::lock_guard lock(storageLogMutex);
    storageLogSink = std::move(sink);
}

void storageLog(const std::string& line) {
    // Called under the lock, as the system log calls its sink: once setStorageLog returns, the
    // sink it replaced is no longer running on another thread, and may go.
    std::lock_guard lock(storageLogMutex);
    if (storageLogSink) {
        storageLogSink(line);
    }
}

void setFolderSyncForTesting(FolderSync sync) {
    folderSync.store(sync);
}

bool isTemporaryFile(const fs::path& path) {
    return path.filename().string().rfind(temporaryFilePrefix, 0) == 0;
}

void writeFileAtomically(const fs::path& path, std::string_view bytes) {
    fs::path temporary;
    FileDescriptor fd(createTemporary(path, temporary));
    if (fd.get() < 0) {
        fail("cannot create a temporary file", path, errno);
    }
    auto abandon = [&](const char* what, int error) {
        ::close(fd.release());
        ::unlink(temporary.c_str());
        fail(what, path, error);
    };
    std::size_t written = 0;
    while (written < bytes.size()) {
        ssize_t n = ::write(fd.get(), bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            abandon("cannot write", errno);
        }
        written += static_cast<std::size_t>(n);
    }
    if (::fsync(fd.get()) != 0) {
        abandon("cannot flush", errno);
    }
    if (::close(fd.release()) != 0) {
        int error = errno;
        ::unlink(temporary.c_str());
        fail("cannot close", path, error);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        int error = errno;
        ::unlink(temporary.c_str());
        fail("cannot replace", path, error);
    }
    // The rename lives in the folder's entries: until they reach the disk, a power loss can
    // bring back the old file, or none. The new file is in place all the same, and a caller told
    // of a failure now would undo a save that every reader already sees.
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    if (const int error = syncFolder(folder)) {
        storageLog("saved " + path.string() + ", but its folder could not be flushed (" +
                   errnoText(error) + "); a power loss may undo the save");
    }
}

namespace {

// The file being read: `name` relative to the open folder `folder` (AT_FDCWD for the working
// folder). Its full path is put together only for an error.
struct FileAt {
    int folder;
    const char* name;
    const fs::path* folderPath;

    fs::path path() const { return folderPath ? *folderPath / name : fs::path(name); }
};

[[noreturn]] void fail(const char* what, const FileAt& file, int error) {
    fail(what, file.path(), error);
}

// Only regular files are read: opening a FIFO would wait for a writer, and a device such as
// /dev/zero never ends.
void checkReadable(const struct stat& info, const FileAt& file, std::size_t maxBytes) {
    if (S_ISDIR(info.st_mode)) {
        fail("cannot read", file, EISDIR);
    }
    if (!S_ISREG(info.st_mode)) {
        fail("not a regular file", file, EINVAL);
    }
    if (info.st_size < 0 || static_cast<std::uintmax_t>(info.st_size) > maxBytes) {
        fail("the file is too large", file, EFBIG);
    }
}

std::string readFileAt(const FileAt& file, std::size_t maxBytes) {
    struct stat info {};
    // Looked at before opening, so that nothing but a regular file is ever opened.
    if (::fstatat(file.folder, file.name, &info, 0) != 0) {
        fail("cannot open", file, errno);
    }
    checkReadable(info, file, maxBytes);
    // Non-blocking in case the name was swapped for a FIFO in between; the check below refuses it.
    FileDescriptor fd(
        ::openat(file.folder, file.name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) {
        fail("cannot open", file, errno);
    }
    if (::fstat(fd.get(), &info) != 0) {
        fail("cannot read", file, errno);
    }
    checkReadable(info, file, maxBytes);
    // Read straight into the result. One byte more than the stated size lets the end show in the
    // first read; files whose size is not known up front (those of /proc) or that grow while read
    // get more room as they need it, never more than one byte past the limit.
    std::string out(static_cast<std::size_t>(info.st_size) + 1, '\0');
    std::size_t size = 0;
    for (;;) {
        if (size == out.size()) {
            const std::size_t left = maxBytes - size;
            out.resize(size + (left < 65536 ? left + 1 : 65536));
        }
        ssize_t n = ::read(fd.get(), out.data() + size, out.size() - size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail("cannot read", file, errno);
        }
        if (n == 0) {
            break;
        }
        size += static_cast<std::size_t>(n);
        if (size > maxBytes) {
            fail("the file is too large", file, EFBIG);
        }
    }
    out.resize(size);
    return out;
}

template <typename Read> std::optional<std::string> readIfPresent(Read read) {
    try {
        return read();
    } catch (const fs::filesystem_error&) {
        return std::nullopt;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

} // namespace

std::string readFile(const fs::path& path, std::size_t maxBytes) {
    return readFileAt(FileAt{AT_FDCWD, path.c_str(), nullptr}, maxBytes);
}

std::optional<std::string> readFileIfPresent(const fs::path& path, std::size_t maxBytes) {
    return readIfPresent([&] { return readFile(path, maxBytes); });
}

OpenFolder::OpenFolder(const fs::path& path)
    : path_(path), fd_(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ < 0) {
        fail("cannot open the folder", path, errno);
    }
}

OpenFolder::~OpenFolder() {
    ::close(fd_);
}

std::string OpenFolder::readFile(const std::string& relative, std::size_t maxBytes) const {
    return readFileAt(FileAt{fd_, relative.c_str(), &path_}, maxBytes);
}

std::optional<std::string> OpenFolder::readFileIfPresent(const std::string& relative,
                                                         std::size_t maxBytes) const {
    return readIfPresent([&] { return readFile(relative, maxBytes); });
}

namespace {

// A new folder is an entry of the folder above it, which is synced like the folder of a renamed
// file.
void syncParentOf(const fs::path& made) {
    if (const int error =
            syncFolder(made.parent_path().empty() ? fs::path(".") : made.parent_path())) {
        storageLog("made the folder " + made.string() +
                   ", but the folder above it could not be flushed (" + errnoText(error) +
                   "); a power loss may undo it");
    }
}

// Existing folders above a private folder are left as they are; missing ones are made private.
void createMissingParents(const fs::path& path) {
    const fs::path parent = path.parent_path();
    if (parent.empty() || parent == path) {
        return;
    }
    struct stat info {};
    if (::stat(parent.c_str(), &info) == 0) {
        if (!S_ISDIR(info.st_mode)) {
            fail("cannot create a folder", parent, ENOTDIR);
        }
        return;
    }
    if (errno != ENOENT) {
        fail("cannot create a folder", parent, errno);
    }
    createMissingParents(parent);
    if (::mkdir(parent.c_str(), 0700) == 0) {
        syncParentOf(parent);
    } else if (errno != EEXIST) {
        fail("cannot create a folder", parent, errno);
    }
}

} // namespace

bool createPrivateDirectories(const fs::path& given, bool refuseLink) {
    // "a/b/" names the folder "a/b".
    const fs::path path = given.has_filename() ? given : given.parent_path();
    for (int attempt = 0;; ++attempt) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) == 0) {
            if (S_ISLNK(info.st_mode)) {
                if (refuseLink) {
                    fail("refusing to write through a symbolic link", path, ELOOP);
                }
                if (::stat(path.c_str(), &info) != 0) {
                    fail("cannot create a folder", path, errno);
                }
            }
            if (!S_ISDIR(info.st_mode)) {
                fail("cannot create a folder", path, EEXIST);
            }
            if (info.st_uid == ::geteuid() && (info.st_mode & 077) != 0) {
                // Best effort: a folder that cannot be changed (a read-only mount) still serves.
                // Owner bits are kept, so a folder made read-only stays read-only.
                (void)::chmod(path.c_str(), info.st_mode & 0700);
            }
            return false;
        }
        if (errno != ENOENT) {
            fail("cannot create a folder", path, errno);
        }
        createMissingParents(path);
        if (::mkdir(path.c_str(), 0700) == 0) {
            syncParentOf(path);
            return true;
        }
        if (errno != EEXIST || attempt > 0) {
            fail("cannot create a folder", path, errno);
        }
        // Made by someone else in between: look at what is there now.
    }
}

} // namespace kestro
