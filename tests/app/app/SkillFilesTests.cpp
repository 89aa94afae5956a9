#include "Kestro/app/SkillFiles.h"
#include "KestroBase/FileIO.h"
#include "KestroBase/Text.h"
#include "KestroCore/Paths.h"
#include "tests/support/TempDataDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <vector>

using namespace kestro;
using kestro::testing::DataFolderTest;
namespace fs = std::filesystem;

namespace {

class SkillFilesTest : public DataFolderTest {
protected:
    SkillFilesTest() {
        skill_.name = "Send weekly report";
        store_.save(skill_);
        downloads_ = data_.root() / "Downloads";
        fs::create_directories(downloads_);
    }

    SkillFiles::Log log() {
        return [this](const std::string& line) { lines_.push_back(line); };
    }
    std::string markdown() { return readFile(store_.markdownURL(skill_)); }

    SkillStore store_;
    Skill skill_;
    fs::path downloads_;
    std::vector<std::string> lines_;
};

TEST_F(SkillFilesTest, ExportTakesTheFirstFreeNameAndNeverWritesThroughWhatIsThere) {
    struct Case {
        const char* name;
        std::vector<std::string> taken; // entries made before the export
        bool danglingLink;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"free first name", {}, false, "send-weekly-report.md"},
        {"first taken", {"send-weekly-report.md"}, false, "send-weekly-report-2.md"},
        {"two taken",
         {"send-weekly-report.md", "send-weekly-report-2.md"},
         false,
         "send-weekly-report-3.md"},
        {"a gap", {"send-weekly-report-2.md"}, false, "send-weekly-report.md"},
        {"a folder", {"send-weekly-report.md/"}, false, "send-weekly-report-2.md"},
        {"a dangling link", {}, true, "send-weekly-report-2.md"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(downloads_);
        fs::create_directories(downloads_);
        for (const auto& entry : c.taken) {
            if (entry.back() == '/') {
                fs::create_directory(downloads_ / entry.substr(0, entry.size() - 1));
            } else {
                kestro::testing::writeFile(downloads_ / entry, "mine");
            }
        }
        const fs::path target = data_.root() / "elsewhere.txt";
        fs::remove(target);
        if (c.danglingLink) {
            fs::create_symlink(target, downloads_ / "send-weekly-report.md");
        }
        auto exported = SkillFiles::exportTo(store_, skill_, downloads_, log());
        ASSERT_TRUE(exported);
        EXPECT_EQ(exported->filename(), c.expected);
        EXPECT_EQ(readFile(*exported), markdown());
        EXPECT_FALSE(fs::exists(target)) << "wrote through a link";
        for (const auto& entry : c.taken) {
            if (entry.back() != '/') {
                EXPECT_EQ(readFile(downloads_ / entry), "mine");
            }
        }
    }
    EXPECT_TRUE(lines_.empty());
}

TEST_F(SkillFilesTest, ExportOfALongNameFitsOneFileName) {
    skill_.name = std::string(200, 'a') + " " + std::string(60, 'b');
    // Two-byte letters so a cut in the middle of a character would show.
    for (int i = 0; i < 40; ++i) {
        skill_.name += "\u00e9";
    }
    store_.save(skill_);
    auto first = SkillFiles::exportTo(store_, skill_, downloads_, log());
    auto second = SkillFiles::exportTo(store_, skill_, downloads_, log());
    ASSERT_TRUE(first && second) << (lines_.empty() ? "" : lines_.back());
    EXPECT_LE(first->filename().string().size(), 255u);
    EXPECT_LE(second->filename().string().size(), 255u);
    EXPECT_TRUE(text::isValidUtf8(first->filename().string()));
    EXPECT_NE(*first, *second);
}

TEST(SkillFilesNames, FittedBaseNameCutsBetweenCharacters) {
    EXPECT_EQ(SkillFiles::fittedBaseName("short", 1), "short");
    EXPECT_EQ(SkillFiles::fittedBaseName(std::string(300, 'x'), 1).size(), 252u);
    EXPECT_EQ(SkillFiles::fittedBaseName(std::string(300, 'x'), 12).size(), 249u);
    std::string accents;
    for (int i = 0; i < 200; ++i) {
        accents += "\u00e9";
    }
    EXPECT_EQ(SkillFiles::fittedBaseName(accents, 1).size(), 252u);
    EXPECT_EQ(SkillFiles::fittedBaseName(accents, 2).size(), 250u);
    EXPECT_EQ(SkillFiles::fittedBaseName(accents, 12).size(), 248u); // 249 would split a letter
}

TEST_F(SkillFilesTest, ExportWithoutSkillMarkdownLogsTheNoFileLine) {
    fs::remove(store_.markdownURL(skill_));
    EXPECT_FALSE(SkillFiles::exportTo(store_, skill_, downloads_, log()));
    ASSERT_EQ(lines_.size(), 1u);
    EXPECT_EQ(lines_[0], "Kestro: export failed \u2014 no SKILL.md for \"Send weekly report\"");
    EXPECT_TRUE(fs::is_empty(downloads_));
}

TEST_F(SkillFilesTest, ExportIntoAnUnwritableFolderLogsTheFailure) {
    if (geteuid() == 0) {
        // Root writes anywhere; a missing folder fails the same way.
        fs::remove_all(downloads_);
    } else {
        fs::permissions(downloads_, fs::perms::owner_read | fs::perms::owner_exec);
    }
    EXPECT_FALSE(SkillFiles::exportTo(store_, skill_, downloads_, log()));
    ASSERT_EQ(lines_.size(), 1u);
    EXPECT_EQ(lines_[0].rfind("Kestro: export failed: ", 0), 0u) << lines_[0];
}

TEST_F(SkillFilesTest, SaveReplacesTheWholeFileAtomically) {
    ASSERT_TRUE(SkillFiles::save(store_, skill_, "---\nname: Renamed\n---\n", log()));
    EXPECT_EQ(markdown(), "---\nname: Renamed\n---\n");
    EXPECT_TRUE(lines_.empty());
    for (const auto& entry : fs::directory_iterator(store_.folder(skill_))) {
        EXPECT_FALSE(isTemporaryFile(entry.path())) << entry.path();
    }
}

TEST_F(SkillFilesTest, AFailedSaveKeepsWhatWasThereAndIsLogged) {
    // A folder where the temporary file would be renamed onto makes the rename fail.
    fs::remove(store_.markdownURL(skill_));
    fs::create_directory(store_.markdownURL(skill_));
    EXPECT_FALSE(SkillFiles::save(store_, skill_, "new", log()));
    ASSERT_EQ(lines_.size(), 1u);
    EXPECT_EQ(lines_[0].rfind("Kestro: save FAILED for \"Send weekly report\" (" +
                                  skill_.id.uuidString() + "): ",
                              0),
              0u)
        << lines_[0];
    EXPECT_TRUE(fs::is_directory(store_.markdownURL(skill_)));
}

TEST_F(SkillFilesTest, SavingADeletedSkillNeverRecreatesItsFolder) {
    const fs::path folder = store_.folder(skill_);
    fs::remove_all(folder);
    EXPECT_FALSE(SkillFiles::save(store_, skill_, "text", log()));
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_EQ(lines_.size(), 1u);
}

TEST_F(SkillFilesTest, SavingThroughALinkedFolderIsRefused) {
    const fs::path folder = store_.folder(skill_);
    const fs::path real = data_.root() / "real-folder";
    fs::rename(folder, real);
    fs::create_directory_symlink(real, folder);
    const std::string before = readFile(real / SkillStore::markdownFileName);
    EXPECT_FALSE(SkillFiles::save(store_, skill_, "text", log()));
    EXPECT_EQ(readFile(real / SkillStore::markdownFileName), before);
}

TEST_F(SkillFilesTest, TheEditorReadsTextAndRefusesToSaveOverWhatItCouldNotRead) {
    auto good = SkillFiles::read(store_, skill_);
    EXPECT_EQ(good.text, markdown());
    EXPECT_TRUE(good.canSave);

    kestro::testing::writeFile(store_.markdownURL(skill_), "name: \xff\xfe broken");
    auto notUtf8 = SkillFiles::read(store_, skill_);
    EXPECT_EQ(notUtf8.text, "");
    EXPECT_FALSE(notUtf8.canSave);
    EXPECT_NE(notUtf8.problem.find("not UTF-8"), std::string::npos);

    fs::remove(store_.markdownURL(skill_));
    auto missing = SkillFiles::read(store_, skill_);
    EXPECT_EQ(missing.text, "");
    EXPECT_TRUE(missing.canSave);
}

TEST_F(SkillFilesTest, DeleteLogsTheDeletedOrTheFailedLine) {
    ASSERT_TRUE(SkillFiles::remove(store_, skill_, log()));
    EXPECT_FALSE(fs::exists(store_.folder(skill_)));
    EXPECT_FALSE(SkillFiles::remove(store_, skill_, log()));
    ASSERT_EQ(lines_.size(), 2u);
    const std::string who = "\"Send weekly report\" (" + skill_.id.uuidString() + ")";
    EXPECT_EQ(lines_[0], "Kestro: deleted skill " + who);
    EXPECT_EQ(lines_[1].rfind("Kestro: delete FAILED for " + who + ": ", 0), 0u) << lines_[1];
}

} // namespace
