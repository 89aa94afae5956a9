#include "Kestro/program/SelfTest.h"
#include "KestroCore/Paths.h"
#include "tests/support/TempDataDir.h"

#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace kestro;
namespace fs = std::filesystem;

namespace {

// The report of a run in which every check holds, byte for byte.
std::string golden() {
    std::ifstream in(std::string(KESTRO_TEST_DATA_DIR) + "/selftest-report.txt", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The report with each "  ✗ threw: <description>" line cut after "threw:", since the
// description is the file system's wording.
std::string withoutDescriptions(const std::string& report) {
    std::istringstream in(report);
    std::string out;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("  ✗ threw: ")) {
            line = "  ✗ threw:";
        }
        out += line + "\n";
    }
    return out;
}

// Everything below a folder, as relative paths.
std::vector<std::string> tree(const fs::path& root) {
    std::vector<std::string> out;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        out.push_back(fs::relative(entry.path(), root).string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Root passes every permission check through these capabilities; without them in this thread's
// effective set a read-only folder is read-only for root too. Nothing changes for other users.
class WithoutPermissionOverride {
public:
    WithoutPermissionOverride() {
        ::syscall(SYS_capget, &header_, saved_);
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
            reduced[cap / 32].effective &= ~(1u << (cap % 32));
        }
        ::syscall(SYS_capset, &header_, reduced);
    }
    ~WithoutPermissionOverride() { ::syscall(SYS_capset, &header_, saved_); }

private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2]{};
};

class SelfTestTest : public kestro::testing::DataFolderTest {};

} // namespace

TEST_F(SelfTestTest, GoldenReportAndNothingLeftBehind) {
    // A skill and a recording of the user's own, which the self-test must not touch.
    const Skill own = SelfTest::sampleSkill();
    kestro::testing::writeFile(Paths::skill(own.id) / "SKILL.md", "---\nname: Mine\n---\n");
    kestro::testing::writeFile(Paths::recordings() / "ABC" / "recording.json", "{}");
    Paths::ensureDirectories();
    const auto before = tree(Paths::support());

    for (int run = 0; run < 2; ++run) {
        std::ostringstream out;
        EXPECT_EQ(SelfTest::run(out), 0);
        EXPECT_EQ(out.str(), golden());
        EXPECT_EQ(tree(Paths::support()), before);
    }
}

TEST_F(SelfTestTest, FirstRunCreatesTheDataFoldersOnly) {
    std::ostringstream out;
    EXPECT_EQ(SelfTest::run(out), 0);
    EXPECT_EQ(out.str(), golden());
    EXPECT_EQ(tree(Paths::support()), (std::vector<std::string>{"logs", "recordings", "skills"}));
}

TEST_F(SelfTestTest, ReadOnlyDataFolderFailsBothStoresAndLeavesNoFolder) {
    Paths::ensureDirectories();
    const auto before = tree(Paths::support());
    for (const fs::path& p : {Paths::support(), Paths::skills(), Paths::recordings()}) {
        ::chmod(p.c_str(), 0555);
    }
    std::ostringstream out;
    int status = 0;
    {
        WithoutPermissionOverride guard;
        status = SelfTest::run(out);
    }
    for (const fs::path& p : {Paths::support(), Paths::skills(), Paths::recordings()}) {
        ::chmod(p.c_str(), 0755);
    }
    EXPECT_EQ(status, 1);
    EXPECT_EQ(withoutDescriptions(out.str()), "Kestro self-test\n"
                                              "\n"
                                              "SkillStore round-trip:\n"
                                              "  ✗ threw:\n"
                                              "\n"
                                              "SKILL.md render/parse:\n"
                                              "  ✓ has front-matter\n"
                                              "  ✓ has Steps heading\n"
                                              "  ✓ destructive step marked ⚠️\n"
                                              "  ✓ reparse name\n"
                                              "  ✓ reparse mode\n"
                                              "\n"
                                              "FuzzyMatch:\n"
                                              "  ✓ subsequence match found\n"
                                              "  ✓ prefix beats mid-word\n"
                                              "  ✓ empty query keeps order\n"
                                              "  ✓ no match → empty\n"
                                              "\n"
                                              "RunContext parameter fill:\n"
                                              "  ✓ fills slot\n"
                                              "  ✓ abort flag flips\n"
                                              "\n"
                                              "RecordingStore round-trip:\n"
                                              "  ✗ threw:\n"
                                              "\n"
                                              "Synthesizer schema:\n"
                                              "  ✓ serializes to JSON\n"
                                              "  ✓ declares strict object\n"
                                              "  ✓ requires plan + parameters\n"
                                              "  ✓ system prompt non-empty\n"
                                              "\n"
                                              "FAIL — 2 check(s) failed\n");
    EXPECT_NE(out.str().find("  ✗ threw: "), std::string::npos);
    EXPECT_EQ(tree(Paths::support()), before);
}

TEST_F(SelfTestTest, SampleFoldersGoEvenWhenTheirSaveFailsPartWay) {
    // The save of each sample fails after its folder was made: a folder stands where the
    // execution plan, and where the recording document, would be written.
    const Skill skill = SelfTest::sampleSkill();
    const Recording recording = SelfTest::sampleRecording();
    fs::create_directories(Paths::skill(skill.id) / "execution_plan.json");
    fs::create_directories(Paths::recording(recording.id) / "recording.json");

    std::ostringstream out;
    EXPECT_EQ(SelfTest::run(out, skill, recording), 1);
    const std::string report = withoutDescriptions(out.str());
    EXPECT_NE(report.find("SkillStore round-trip:\n  ✗ threw:\n\n"), std::string::npos) << report;
    EXPECT_NE(report.find("RecordingStore round-trip:\n  ✗ threw:\n\n"), std::string::npos)
        << report;
    EXPECT_TRUE(report.ends_with("\nFAIL — 2 check(s) failed\n"));
    EXPECT_FALSE(fs::exists(Paths::skill(skill.id)));
    EXPECT_FALSE(fs::exists(Paths::recording(recording.id)));
}

TEST(SelfTestSwitch, OnlyTheExactWordAnywhereAfterTheProgramCounts) {
    struct Case {
        std::vector<const char*> argv;
        bool selfTest;
    };
    const Case cases[] = {
        {{"kestro", "--selftest"}, true},
        {{"kestro", "-v", "--selftest", "x"}, true},
        {{"kestro"}, false},
        {{"kestro", "--SELFTEST"}, false},
        {{"kestro", "--selftest=1"}, false},
        {{"kestro", "-selftest"}, false},
        {{"kestro", "selftest"}, false},
        {{"kestro", "--selftest "}, false},
        {{"kestro", " --selftest"}, false},
        {{"--selftest"}, false}, // the program's own path
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const char* a : c.argv) {
            shown += std::string(a) + " ";
        }
        EXPECT_EQ(SelfTest::requested(static_cast<int>(c.argv.size()), c.argv.data()), c.selfTest)
            << shown;
    }
}
