#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

namespace kestro::testing {

// A private temporary folder that HOME and XDG_DATA_HOME point at while it lives, so no test
// ever touches the real data folders. The previous values come back when it is destroyed.
class TempDataDir {
public:
    TempDataDir();
    ~TempDataDir();
    TempDataDir(const TempDataDir&) = delete;
    TempDataDir& operator=(const TempDataDir&) = delete;

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path dataHome() const { return root_ / "data"; }
    std::filesystem::path home() const { return root_ / "home"; }

private:
    std::filesystem::path root_;
    std::optional<std::string> savedHome_;
    std::optional<std::string> savedDataHome_;
};

// A fixture for tests that use the data folders.
class DataFolderTest : public ::testing::Test {
protected:
    TempDataDir data_;
};

// Writes a file, creating its folder; for building fixtures on disk.
void writeFile(const std::filesystem::path& path, std::string_view bytes);

} // namespace kestro::testing
