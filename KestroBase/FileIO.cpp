#include "KestroBase/FileIO.h"

#include "KestroBase/Uuid.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
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

} // namespace

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
}

namespace {

// Only regular files are read: opening a FIFO would wait for a writer, and a device such as
// /dev/zero never ends.
void checkReadable(const struct stat& info, const fs::path& path, std::size_t maxBytes) {
    if (S_ISDIR(info.st_mode)) {
        fail("cannot read", path, EISDIR);
    }
    if (!S_ISREG(info.st_mode)) {
        fail("not a regular file", path, EINVAL);
    }
    if (info.st_size < 0 || static_cast<std::uintmax_t>(info.st_size) > maxBytes) {
        fail("the file is too large", path, EFBIG);
    }
}

} // namespace

std::string readFile(const fs::path& path, std::size_t maxBytes) {
    struct stat info {};
    // Looked at before opening, so that nothing but a regular file is ever opened.
    if (::stat(path.c_str(), &info) != 0) {
        fail("cannot open", path, errno);
    }
    checkReadable(info, path, maxBytes);
    // Non-blocking in case the name was swapped for a FIFO in between; the check below refuses it.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) {
        fail("cannot open", path, errno);
    }
    if (::fstat(fd.get(), &info) != 0) {
        fail("cannot read", path, errno);
    }
    checkReadable(info, path, maxBytes);
    std::string out;
    out.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail("cannot read", path, errno);
        }
        if (n == 0) {
            break;
        }
        // Files whose size is not known up front (those of /proc) or that grow while read.
        if (static_cast<std::size_t>(n) > maxBytes - out.size()) {
            fail("the file is too large", path, EFBIG);
        }
        out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
}

std::optional<std::string> readFileIfPresent(const fs::path& path, std::size_t maxBytes) {
    try {
        return readFile(path, maxBytes);
    } catch (const fs::filesystem_error&) {
        return std::nullopt;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

namespace {

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
    if (::mkdir(parent.c_str(), 0700) != 0 && errno != EEXIST) {
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
            return true;
        }
        if (errno != EEXIST || attempt > 0) {
            fail("cannot create a folder", path, errno);
        }
        // Made by someone else in between: look at what is there now.
    }
}

} // namespace kestro
