#include "KestroCore/FileIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
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

} // namespace

bool isTemporaryFile(const fs::path& path) {
    return path.filename().string().rfind(temporaryFilePrefix, 0) == 0;
}

void writeFileAtomically(const fs::path& path, std::string_view bytes) {
    fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    std::string pattern =
        (folder / (std::string(temporaryFilePrefix) + path.filename().string() + ".XXXXXX"))
            .string();
    FileDescriptor fd(::mkstemp(pattern.data()));
    if (fd.get() < 0) {
        fail("cannot create a temporary file", path, errno);
    }
    const fs::path temporary = pattern;
    auto abandon = [&](const char* what, int error) {
        ::close(fd.release());
        ::unlink(temporary.c_str());
        fail(what, path, error);
    };
    // mkstemp makes the file private; stored files get the usual permissions.
    mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(fd.get(), 0666 & ~mask) != 0) {
        abandon("cannot set permissions", errno);
    }
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

std::string readFile(const fs::path& path) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        fail("cannot open", path, errno);
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        fail("cannot read", path, errno);
    }
    if (S_ISDIR(info.st_mode)) {
        fail("cannot read", path, EISDIR);
    }
    std::string out;
    if (info.st_size > 0) {
        out.reserve(static_cast<std::size_t>(info.st_size));
    }
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
        out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
}

std::optional<std::string> readFileIfPresent(const fs::path& path) {
    try {
        return readFile(path);
    } catch (const fs::filesystem_error&) {
        return std::nullopt;
    }
}

} // namespace kestro
