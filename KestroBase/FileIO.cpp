#include "KestroBase/FileIO.h"

#include "KestroBase/Uuid.h"

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

// A fresh name beside `path` for its temporary file, created with the usual permissions: open
// applies the process umask itself, so nothing here has to read or change it (that would be a
// window in which files created by other threads escape the umask).
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
        int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
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
