// Linked into every test executable: before any test runs, HOME and XDG_DATA_HOME point at a
// temporary folder of this process, so a test that forgets its own TempDataDir still never
// touches the user's real data. The folder is removed when the process ends.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

class IsolatedHome : public ::testing::Environment {
public:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kestro-home-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            std::abort();
        }
        root_ = pattern;
        std::filesystem::create_directories(root_ / "data");
        ::setenv("HOME", root_.c_str(), 1);
        ::setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
        ::unsetenv("ANTHROPIC_API_KEY");
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }

private:
    std::filesystem::path root_;
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new IsolatedHome);

} // namespace
