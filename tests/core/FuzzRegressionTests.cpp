#include "KestroBase/FileIO.h"
#include "fuzz/FuzzChecks.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace fs = std::filesystem;

// Every seed and every input a fuzzer once crashed on, replayed through the same checks.
TEST(FuzzRegressions, KeptInputsStayClean) {
    const std::pair<const char*, std::function<void(std::string_view)>> targets[] = {
        {"FuzzRecording", kestro::fuzz::checkRecording},
        {"FuzzExecutionPlan", kestro::fuzz::checkExecutionPlan},
        {"FuzzSkillMarkdown", kestro::fuzz::checkSkillMarkdown},
    };
    int replayed = 0;
    for (const auto& [name, check] : targets) {
        const fs::path folder = fs::path(KESTRO_TEST_DATA_DIR) / "fuzz" / name;
        ASSERT_TRUE(fs::is_directory(folder)) << folder;
        for (const auto& entry : fs::directory_iterator(folder)) {
            SCOPED_TRACE(entry.path().string());
            check(kestro::readFile(entry.path()));
            ++replayed;
        }
    }
    EXPECT_GT(replayed, 0);
}
