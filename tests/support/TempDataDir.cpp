#include "tests/support/TempDataDir.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace kestro::testing {

namespace fs = std::filesystem;

namespace {
std::optional<std::string> getEnv(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::optional<std::string>(v) : std::nullopt;
}
void restoreEnv(const char* name, const std::optional<std::string>& value) {
    if (value) {
        ::setenv(name, value->c_str(), 1);
    } else {
        ::unsetenv(name);
    }
}
} // namespace

TempDataDir::TempDataDir() {
    std::string pattern = (fs::temp_directory_path() / "kestro-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    root_ = pattern;
    fs::create_directories(home());
    fs::create_directories(dataHome());
    savedHome_ = getEnv("HOME");
    savedDataHome_ = getEnv("XDG_DATA_HOME");
    ::setenv("HOME", home().c_str(), 1);
    ::setenv("XDG_DATA_HOME", dataHome().c_str(), 1);
}

TempDataDir::~TempDataDir() {
    restoreEnv("HOME", savedHome_);
    restoreEnv("XDG_DATA_HOME", savedDataHome_);
    std::error_code ec;
    // Tests may have removed permissions to provoke failures; give them back before removal.
    for (auto it = fs::recursive_directory_iterator(root_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(root_, ec);
}

void writeFile(const fs::path& path, std::string_view bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

} // namespace kestro::testing
