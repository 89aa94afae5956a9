// What the stores and readers do with hostile or careless things on disk: who may read what they
// write, files that are not plain files or are far too large, frame paths that point elsewhere,
// folders that are links, and saves that fail half-way.
#include "KestroBase/FileIO.h"
#include "KestroBase/Image.h"
#include "KestroCore/MCPRegistry.h"
#include "KestroCore/Paths.h"
#include "KestroCore/RecordingStore.h"
#include "KestroCore/Secrets.h"
#include "KestroCore/SkillJson.h"
#include "KestroCore/SkillMarkdown.h"
#include "KestroCore/SkillStore.h"
#include "tests/support/TempDataDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <future>
#include <map>

using namespace kestro;
using kestro::testing::DataFolderTest;
using kestro::testing::writeFile;
namespace fs = std::filesystem;

namespace {

unsigned modeOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

// Every folder and file below `root`, with its permission bits.
std::map<std::string, unsigned> modesBelow(const fs::path& root) {
    std::map<std::string, unsigned> modes;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        modes[fs::relative(entry.path(), root).string()] = modeOf(entry.path());
    }
    return modes;
}

Skill sampleSkill() {
    Skill skill;
    skill.name = "Send the weekly report";
    skill.sourceRecordingID = Uuid::random();
    skill.plan = {PlanStep{.index = 0, .intent = "Open", .action = ActionType::click}};
    return skill;
}

Recording sampleRecording() {
    Recording recording;
    recording.endedAt = recording.startedAt + std::chrono::seconds(3);
    recording.frames = {FrameRef{.relativePath = "frames/000001.png", .pixelSize = Size{2, 2}}};
    return recording;
}

// Runs `call` on another thread and reports whether it came back within a generous time. A call
// stuck opening `fifo` is released by opening its other end, so a failing test still ends.
bool returnsPromptly(const std::function<void()>& call, const fs::path& fifo) {
    auto done = std::async(std::launch::async, call);
    if (done.wait_for(std::chrono::seconds(20)) == std::future_status::ready) {
        done.get();
        return true;
    }
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (writer >= 0) {
        ::close(writer);
    }
    done.wait();
    return false;
}

// Lowers the largest file this process may write, so that a write fails the way a full disk
// makes it fail.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved_;
        lowered.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = SIG_DFL;
};

class StoredFileSafetyTest : public DataFolderTest {
protected:
    StoredFileSafetyTest() : savedUmask_(::umask(022)) {}
    ~StoredFileSafetyTest() override { ::umask(savedUmask_); }

    const mode_t savedUmask_;
};

} // namespace

TEST_F(StoredFileSafetyTest, DataIsOpenToItsOwnerAlone) {
    // Folders as a careless earlier version or another tool left them.
    fs::create_directories(Paths::skills());
    ::chmod(Paths::support().c_str(), 0755);
    ::chmod(Paths::skills().c_str(), 0777);
    const Skill skill = sampleSkill();
    fs::create_directories(Paths::skill(skill.id));
    ::chmod(Paths::skill(skill.id).c_str(), 0775);
    writeFile(Paths::skill(skill.id) / "SKILL.md", "an old, world-readable copy");
    ::chmod((Paths::skill(skill.id) / "SKILL.md").c_str(), 0644);

    SkillStore().save(skill);
    const Recording recording = sampleRecording();
    const RecordingStore recordings;
    const fs::path frames = recordings.prepareFramesDirectory(recording.id);
    ImageCodec::writePNG(Image(2, 2), frames / "000001.png");
    recordings.save(recording);

    const std::string skillFolder = "skills/" + skill.id.uuidString();
    const std::string recordingFolder = "recordings/" + recording.id.uuidString();
    EXPECT_EQ(modesBelow(Paths::support()), (std::map<std::string, unsigned>{
                                                {"logs", 0700},
                                                {"recordings", 0700},
                                                {recordingFolder, 0700},
                                                {recordingFolder + "/frames", 0700},
                                                {recordingFolder + "/frames/000001.png", 0600},
                                                {recordingFolder + "/recording.json", 0600},
                                                {"skills", 0700},
                                                {skillFolder, 0700},
                                                {skillFolder + "/SKILL.md", 0600},
                                                {skillFolder + "/execution_plan.json", 0600},
                                                {skillFolder + "/recording.ref", 0600},
                                            }));
    EXPECT_EQ(modeOf(Paths::support()), 0700u);
}

TEST_F(StoredFileSafetyTest, AFolderMadeReadOnlyStaysReadOnly) {
    // Tightening takes from group and others only; it never gives the owner more.
    Paths::ensureDirectories();
    ::chmod(Paths::skills().c_str(), 0555);
    Paths::ensureDirectories();
    EXPECT_EQ(modeOf(Paths::skills()), 0500u);
    ::chmod(Paths::skills().c_str(), 0700);
}

TEST_F(StoredFileSafetyTest, SettingsFilesOthersMayReadStillServe) {
    Paths::ensureDirectories();
    writeFile(Secrets::anthropicKeyFileURL(), "sk-shared\n");
    writeFile(Paths::support() / MCPRegistry::overrideFileName,
              R"([{"name":"x","url":"u","bundleIDs":["a"],"authToken":"t"}])");
    for (const fs::path& file :
         {Secrets::anthropicKeyFileURL(), Paths::support() / MCPRegistry::overrideFileName}) {
        ::chmod(file.c_str(), 0644);
    }
    ::unsetenv("ANTHROPIC_API_KEY");
    EXPECT_EQ(Secrets::anthropicAPIKey(), "sk-shared");
    EXPECT_EQ(MCPRegistry().connectedServers({"a"}).size(), 1u);
    // The user's own files keep the modes the user gave them.
    EXPECT_EQ(modeOf(Secrets::anthropicKeyFileURL()), 0644u);
}

TEST_F(StoredFileSafetyTest, ReadersRefuseWhatIsNotAPlainFileOfSensibleSize) {
    // Sparse files take no room on disk, whatever size they claim.
    auto sparse = [](const fs::path& path, off_t size) {
        fs::create_directories(path.parent_path());
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, size), 0) << "this file system cannot hold a sparse " << size;
        ::close(fd);
    };
    struct Case {
        const char* what;
        std::function<void(const fs::path&)> make;
    };
    const Case cases[] = {
        {"a FIFO", [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }},
        {"a link to /dev/zero", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); }},
        {"a sparse 200 GiB file", [&](const fs::path& p) { sparse(p, off_t{200} << 30); }},
        {"a file one byte over 64 MiB",
         [&](const fs::path& p) { sparse(p, (off_t{64} << 20) + 1); }},
        {"a folder", [](const fs::path& p) { fs::create_directory(p); }},
    };
    ::unsetenv("ANTHROPIC_API_KEY");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(Paths::support());
        Paths::ensureDirectories();
        // One skill that loads, beside one whose SKILL.md is the hostile entry.
        const Skill good = sampleSkill();
        SkillStore().save(good);
        const fs::path badSkill = Paths::skills() / Uuid::random().uuidString();
        fs::create_directories(badSkill);
        c.make(badSkill / "SKILL.md");
        const Uuid badRecording = Uuid::random();
        fs::create_directories(Paths::recording(badRecording));
        c.make(Paths::recording(badRecording) / "recording.json");
        c.make(Secrets::anthropicKeyFileURL());
        c.make(Paths::support() / MCPRegistry::overrideFileName);

        std::vector<Skill> skills;
        EXPECT_TRUE(
            returnsPromptly([&] { skills = SkillStore().loadAll(); }, badSkill / "SKILL.md"));
        ASSERT_EQ(skills.size(), 1u);
        EXPECT_EQ(skills[0].id, good.id);
        EXPECT_TRUE(returnsPromptly(
            [&] { EXPECT_THROW(SkillStore().load(badSkill), fs::filesystem_error); },
            badSkill / "SKILL.md"));
        EXPECT_TRUE(returnsPromptly([&] { EXPECT_FALSE(RecordingStore().load(badRecording)); },
                                    Paths::recording(badRecording) / "recording.json"));
        EXPECT_TRUE(returnsPromptly([&] { EXPECT_FALSE(Secrets::anthropicAPIKey()); },
                                    Secrets::anthropicKeyFileURL()));
        EXPECT_TRUE(returnsPromptly([&] { EXPECT_EQ(MCPRegistry().servers().size(), 2u); },
                                    Paths::support() / MCPRegistry::overrideFileName));
    }
}

TEST_F(StoredFileSafetyTest, SizeLimitsOfTheReaders) {
    ::unsetenv("ANTHROPIC_API_KEY");
    const std::string key = "sk-" + std::string(4093, 'k');
    writeFile(Secrets::anthropicKeyFileURL(), key); // 4096 bytes: the most a key file may hold
    EXPECT_EQ(Secrets::anthropicAPIKey(), key);
    writeFile(Secrets::anthropicKeyFileURL(), key + "\n");
    EXPECT_FALSE(Secrets::anthropicAPIKey());

    // Files that do not say their size up front are cut off while they are read.
    EXPECT_NE(readFile("/proc/self/status").find("Pid:"), std::string::npos);
    EXPECT_THROW(readFile("/proc/self/status", 16), fs::filesystem_error);
    EXPECT_FALSE(readFileIfPresent("/proc/self/status", 16));
}

TEST_F(StoredFileSafetyTest, FramePathsStayInsideTheirRecordingFolder) {
    const RecordingStore store;
    const Uuid id = Uuid::random();
    const fs::path folder = Paths::recording(id);
    struct Case {
        const char* path;
        std::optional<fs::path> resolved;
    };
    const Case cases[] = {
        {"frames/000001.png", folder / "frames" / "000001.png"},
        {"./frames/000002.png", folder / "." / "frames" / "000002.png"},
        {"/etc/passwd", std::nullopt},
        {"//etc/passwd", std::nullopt},
        {"../other/frames/000001.png", std::nullopt},
        {"frames/../../other/frames/000001.png", std::nullopt},
        {"frames/..", std::nullopt},
        {"..", std::nullopt},
        {"", std::nullopt},
        {".", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        if (c.resolved) {
            EXPECT_EQ(store.frameURL(id, c.path), *c.resolved);
        } else {
            EXPECT_THROW(store.frameURL(id, c.path), fs::filesystem_error);
        }
    }
}

TEST_F(StoredFileSafetyTest, LinkedFoldersAreNeverWrittenThrough) {
    const fs::path elsewhere = data_.root() / "elsewhere";
    fs::create_directories(elsewhere / "frames");
    Paths::ensureDirectories();

    const Skill skill = sampleSkill();
    fs::create_directory_symlink(elsewhere, Paths::skill(skill.id));
    EXPECT_THROW(SkillStore().save(skill), fs::filesystem_error);

    const Recording recording = sampleRecording();
    fs::create_directory_symlink(elsewhere, Paths::recording(recording.id));
    EXPECT_THROW(RecordingStore().save(recording), fs::filesystem_error);
    EXPECT_THROW(RecordingStore().prepareFramesDirectory(recording.id), fs::filesystem_error);

    // The frames folder of a real recording folder, linked elsewhere.
    const Recording second = sampleRecording();
    fs::create_directories(Paths::recording(second.id));
    fs::create_directory_symlink(elsewhere / "frames", Paths::recording(second.id) / "frames");
    EXPECT_THROW(RecordingStore().prepareFramesDirectory(second.id), fs::filesystem_error);

    EXPECT_EQ(modesBelow(elsewhere), (std::map<std::string, unsigned>{{"frames", 0755}}));
}

TEST_F(StoredFileSafetyTest, AFailedSaveLeavesNoNewFolderBehind) {
    Paths::ensureDirectories();
    Skill skill = sampleSkill();
    {
        FileSizeLimit limit(8); // SKILL.md is far longer
        EXPECT_THROW(SkillStore().save(skill), fs::filesystem_error);
    }
    EXPECT_TRUE(fs::is_empty(Paths::skills()));

    // The plan fails after SKILL.md was written: still nothing left of the new skill.
    skill.plan.assign(100, skill.plan[0]);
    ASSERT_GT(encodeExecutionPlan({skill.parameters, skill.plan}).size(),
              SkillMarkdown::render(skill).size());
    {
        FileSizeLimit limit(SkillMarkdown::render(skill).size());
        EXPECT_THROW(SkillStore().save(skill), fs::filesystem_error);
    }
    EXPECT_TRUE(fs::is_empty(Paths::skills()));

    // An existing skill keeps its folder whatever a later save does.
    skill.plan.resize(1);
    SkillStore().save(skill);
    {
        FileSizeLimit limit(8);
        EXPECT_THROW(SkillStore().save(skill), fs::filesystem_error);
    }
    EXPECT_EQ(SkillStore().loadAll().size(), 1u);
}

TEST_F(StoredFileSafetyTest, StoresKeepToTheRootTheyAreGiven) {
    const fs::path root = data_.root() / "elsewhere";
    const SkillStore skills(root / "skills");
    const RecordingStore recordings(root / "recordings");
    const Skill skill = sampleSkill();
    const Recording recording = sampleRecording();

    skills.save(skill);
    recordings.prepareFramesDirectory(recording.id);
    recordings.save(recording);
    EXPECT_FALSE(fs::exists(Paths::support()));
    EXPECT_EQ(skills.markdownURL(skill), root / "skills" / skill.id.uuidString() / "SKILL.md");
    EXPECT_EQ(recordings.frameURL(recording.id, "frames/000001.png"),
              root / "recordings" / recording.id.uuidString() / "frames" / "000001.png");
    ASSERT_EQ(skills.loadAll().size(), 1u);
    EXPECT_EQ(skills.loadAll()[0].id, skill.id);
    ASSERT_EQ(recordings.loadAll().size(), 1u);
    EXPECT_TRUE(recordings.load(recording.id));
    EXPECT_TRUE(SkillStore().loadAll().empty());
    EXPECT_TRUE(RecordingStore().loadAll().empty());
    EXPECT_EQ(modeOf(root / "skills"), 0700u);

    skills.remove(skill);
    recordings.remove(recording.id);
    EXPECT_TRUE(fs::is_empty(root / "skills"));
    EXPECT_TRUE(fs::is_empty(root / "recordings"));
}
