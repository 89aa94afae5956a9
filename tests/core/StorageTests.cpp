#include "KestroBase/FileIO.h"
#include "KestroCore/Paths.h"
#include "KestroCore/RecordingJson.h"
#include "KestroCore/RecordingStore.h"
#include "KestroCore/Secrets.h"
#include "KestroCore/SkillJson.h"
#include "KestroCore/SkillMarkdown.h"
#include "KestroCore/SkillStore.h"
#include "tests/support/StorageWatch.h"
#include "tests/support/TempDataDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

using namespace kestro;
using kestro::testing::DataFolderTest;
using kestro::testing::FolderSyncWatch;
using kestro::testing::StorageLogCapture;
using kestro::testing::writeFile;
namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& p) {
    return readFile(p);
}

std::vector<std::string> entries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

Skill sampleSkill() {
    using namespace std::chrono;
    Skill s;
    s.name = "File the weekly reefer LTL report";
    s.trigger = "file weekly reefer report";
    s.summary = "Logs in, opens the LTL form, fills the week, submits.";
    s.mode = ExecutionMode::replay;
    s.appScope = {"org.mozilla.firefox", "org.gnome.TextEditor"};
    s.createdAt = Date(seconds(1780738200)) + milliseconds(250);
    s.sourceRecordingID = Uuid::random();
    s.parameters = {Parameter{.name = "week_ending",
                              .type = ParameterType::date,
                              .prompt = "Which week's report?",
                              .exampleValue = "2026-06-06",
                              .usedInSteps = {1}}};
    s.plan = {PlanStep{.index = 0,
                       .intent = "Open the form",
                       .action = ActionType::click,
                       .target = AXTarget{.axRole = "AXButton"},
                       .location = Point{10, 20}},
              PlanStep{.index = 1,
                       .intent = "Type the week",
                       .action = ActionType::keystroke,
                       .text = "{{week_ending}}"},
              PlanStep{.index = 2,
                       .intent = "Submit",
                       .action = ActionType::keystroke,
                       .keyCode = 36,
                       .modifierFlags = 0x100,
                       .isDestructive = true}};
    return s;
}

// Makes a folder read-only for the duration of a test step (root ignores permissions, so
// callers check `effective()` first).
struct ReadOnly {
    explicit ReadOnly(const fs::path& p) : path(p) { ::chmod(path.c_str(), 0555); }
    ~ReadOnly() { ::chmod(path.c_str(), 0755); }
    static bool effective() { return ::geteuid() != 0; }
    fs::path path;
};

} // namespace

class PathsTest : public DataFolderTest {};

TEST_F(PathsTest, FoldersFollowXdgDataHome) {
    EXPECT_EQ(Paths::support(), data_.dataHome() / "Kestro");
    EXPECT_EQ(Paths::skills(), data_.dataHome() / "Kestro" / "skills");
    auto id = *Uuid::parse("6ba7b810-9dad-11d1-80b4-00c04fd430c8");
    EXPECT_EQ(Paths::recording(id).filename(), "6BA7B810-9DAD-11D1-80B4-00C04FD430C8");
    EXPECT_EQ(Secrets::anthropicKeyFileURL(), Paths::support() / "anthropic_key.txt");

    ::setenv("XDG_DATA_HOME", "relative/path", 1); // not absolute: ignored
    EXPECT_EQ(Paths::support(), data_.home() / ".local" / "share" / "Kestro");
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(Paths::support(), data_.home() / ".local" / "share" / "Kestro");
}

TEST_F(PathsTest, EnsureDirectoriesCreatesInOrderAndStopsAtTheFirstFailure) {
    Paths::ensureDirectories();
    Paths::ensureDirectories();
    EXPECT_EQ(entries(Paths::support()),
              (std::vector<std::string>{"logs", "recordings", "skills"}));

    fs::remove_all(Paths::support());
    writeFile(Paths::skills(), "a file where the folder should be");
    EXPECT_THROW(Paths::ensureDirectories(), fs::filesystem_error);
    EXPECT_TRUE(fs::is_directory(Paths::recordings()));
    EXPECT_FALSE(fs::exists(Paths::logs()));
}

TEST_F(PathsTest, ApiKeyLookup) {
    struct Case {
        const char* env;  // nullptr: unset
        const char* file; // nullptr: no file
        std::optional<std::string> key;
    } cases[] = {
        {"  sk-env \n", "sk-file", "sk-env"},     {" \t\n", "sk-file\n", "sk-file"},
        {"", "\u2028 sk-file \u00A0", "sk-file"}, {nullptr, "sk-file\r\n", "sk-file"},
        {nullptr, "   \n", std::nullopt},         {nullptr, "", std::nullopt},
        {nullptr, "sk-\xFF", std::nullopt},       {nullptr, nullptr, std::nullopt},
    };
    for (const auto& c : cases) {
        if (c.env) {
            ::setenv("ANTHROPIC_API_KEY", c.env, 1);
        } else {
            ::unsetenv("ANTHROPIC_API_KEY");
        }
        fs::remove(Secrets::anthropicKeyFileURL());
        if (c.file) {
            writeFile(Secrets::anthropicKeyFileURL(), c.file);
        }
        EXPECT_EQ(Secrets::anthropicAPIKey(), c.key) << (c.env ? c.env : "(unset)");
        EXPECT_EQ(Secrets::hasAnthropicKey(), c.key.has_value());
    }
    ::unsetenv("ANTHROPIC_API_KEY");
}

TEST(FileIO, AtomicWriteReplacesWholeAndLeavesNoTemporaryFile) {
    kestro::testing::TempDataDir data;
    const fs::path file = data.root() / "doc.json";
    writeFileAtomically(file, "first");
    writeFileAtomically(file, "second, longer");
    EXPECT_EQ(slurp(file), "second, longer");
    EXPECT_EQ(entries(data.root()), (std::vector<std::string>{"data", "doc.json", "home"}));
    EXPECT_THROW(writeFileAtomically(data.root() / "missing" / "doc.json", "x"),
                 fs::filesystem_error);
    if (ReadOnly::effective()) {
        ReadOnly guard(data.root());
        EXPECT_THROW(writeFileAtomically(file, "third"), fs::filesystem_error);
        EXPECT_EQ(slurp(file), "second, longer");
    }
}

TEST(FileIO, AFailedRenameRemovesTheTemporaryFile) {
    kestro::testing::TempDataDir data;
    const fs::path target = data.root() / "taken";
    fs::create_directories(target / "child"); // rename over a non-empty folder fails
    EXPECT_THROW(writeFileAtomically(target, "x"), fs::filesystem_error);
    EXPECT_TRUE(fs::is_directory(target / "child"));
    for (const auto& name : entries(data.root())) {
        EXPECT_FALSE(isTemporaryFile(name)) << name;
    }
}

TEST(FileIO, AtomicWritesNeverLiftTheProcessUmask) {
    // Frames are written from worker threads while other threads create files: no writer may
    // open a window in which the process umask is lifted. The kernel shows the umask as it
    // stands, so sample it while a writer runs.
    const int status = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    char buffer[4096];
    auto umaskNow = [&]() -> std::string {
        const ssize_t n = ::pread(status, buffer, sizeof buffer - 1, 0);
        buffer[n > 0 ? n : 0] = 0;
        const char* line = std::strstr(buffer, "Umask:\t");
        return line ? std::string(line + 7, 4) : std::string();
    };
    if (status < 0 || umaskNow().empty()) {
        GTEST_SKIP() << "this kernel does not show the umask";
    }
    kestro::testing::TempDataDir data;
    const mode_t saved = ::umask(022);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 1000; ++i) {
            writeFileAtomically(data.root() / "doc", "x");
        }
        done = true;
    });
    int unmasked = 0;
    while (!done) {
        unmasked += umaskNow() != "0022";
    }
    writer.join();
    ::umask(saved);
    ::close(status);
    EXPECT_EQ(unmasked, 0);
    struct stat info {};
    ASSERT_EQ(::stat((data.root() / "doc").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// Once renamed, the new file is what every reader sees: a folder that cannot be flushed after
// that is said, and undoes nothing.
TEST(FileIO, AFolderThatCannotBeFlushedAfterTheRenameLeavesTheWriteStanding) {
    kestro::testing::TempDataDir data;
    const fs::path file = data.root() / "doc.json";
    writeFileAtomically(file, "first");
    StorageLogCapture log;
    {
        FolderSyncWatch failing(data.root());
        EXPECT_NO_THROW(writeFileAtomically(file, "second"));
        EXPECT_EQ(failing.synced(), (std::vector<fs::path>{data.root()}));
    }
    EXPECT_EQ(slurp(file), "second");
    EXPECT_EQ(entries(data.root()), (std::vector<std::string>{"data", "doc.json", "home"}));
    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                               "saved " + file.string() +
                               ", but its folder could not be flushed (Input/output error); a "
                               "power loss may undo the save"}));
}

// Lines come from whichever thread saves: once a sink is replaced, no line is still going into
// it (a capture on a test's stack is gone right after).
TEST(FileIO, AReplacedStorageLogSinkIsNoLongerRunning) {
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool released = false;
    bool replaced = false;
    setStorageLog([&](const std::string&) {
        std::unique_lock lock(mutex);
        entered = true;
        changed.notify_all();
        changed.wait(lock, [&] { return released; });
    });
    std::thread logging([] { storageLog("a line"); });
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return entered; });
    }
    std::thread replacing([&] {
        setStorageLog({});
        std::lock_guard lock(mutex);
        replaced = true;
        changed.notify_all();
    });
    bool replacedWhileRunning = false;
    {
        std::unique_lock lock(mutex);
        // Ample for a replacement that does not wait for the line.
        replacedWhileRunning =
            changed.wait_for(lock, std::chrono::milliseconds(500), [&] { return replaced; });
        released = true;
        changed.notify_all();
    }
    logging.join();
    replacing.join();
    EXPECT_FALSE(replacedWhileRunning);
}

// A new folder is an entry of the folder above it: that one is flushed once the folder is made,
// for every folder the stores make, and a flush that fails is said while the folder stands.
TEST(FileIO, EveryNewFolderIsFlushedIntoTheFolderAboveIt) {
    struct Case {
        const char* what;
        // Makes its folders and returns those whose parents must have been flushed.
        std::function<std::vector<fs::path>()> make;
    };
    const Case cases[] = {
        {"a folder and the missing ones above it",
         [] {
             const fs::path deep = Paths::support() / "a" / "b";
             EXPECT_TRUE(createPrivateDirectories(deep));
             return std::vector<fs::path>{Paths::support(), Paths::support() / "a", deep};
         }},
        {"a new skill",
         [] {
             Paths::ensureDirectories();
             const Skill skill = sampleSkill();
             SkillStore().save(skill);
             return std::vector<fs::path>{Paths::skill(skill.id)};
         }},
        {"a new recording",
         [] {
             Paths::ensureDirectories();
             Recording recording;
             RecordingStore().save(recording);
             return std::vector<fs::path>{Paths::recording(recording.id)};
         }},
        {"the frames of a new recording",
         [] {
             Paths::ensureDirectories();
             const Uuid id = Uuid::random();
             const fs::path frames = RecordingStore().prepareFramesDirectory(id);
             return std::vector<fs::path>{Paths::recording(id), frames};
         }},
    };
    for (const bool fails : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (fails ? ", the flush failing" : ""));
            kestro::testing::TempDataDir data;
            StorageLogCapture log;
            std::vector<fs::path> made;
            std::vector<fs::path> synced;
            {
                FolderSyncWatch watch(fails ? data.root() : fs::path());
                made = c.make();
                synced = watch.synced();
            }
            for (const fs::path& folder : made) {
                EXPECT_TRUE(fs::is_directory(folder)) << folder;
                EXPECT_TRUE(std::find(synced.begin(), synced.end(), folder.parent_path()) !=
                            synced.end())
                    << folder.parent_path() << " was never flushed";
                const std::string line = "made the folder " + folder.string() +
                                         ", but the folder above it could not be flushed "
                                         "(Input/output error); a power loss may undo it";
                const auto lines = log.lines();
                EXPECT_EQ(std::count(lines.begin(), lines.end(), line), fails ? 1 : 0);
            }
        }
    }
    // A folder that was there already is neither made nor flushed again.
    kestro::testing::TempDataDir data;
    FolderSyncWatch watch;
    EXPECT_FALSE(createPrivateDirectories(data.root()));
    EXPECT_TRUE(watch.synced().empty());
}

class SkillStoreTest : public DataFolderTest {
protected:
    SkillStore store;
};

TEST_F(SkillStoreTest, SaveAndLoadRoundTrip) {
    Skill s = sampleSkill();
    store.save(s);
    const fs::path dir = Paths::skill(s.id);
    EXPECT_EQ(entries(dir),
              (std::vector<std::string>{"SKILL.md", "execution_plan.json", "recording.ref"}));
    EXPECT_EQ(slurp(dir / "recording.ref"), s.sourceRecordingID->uuidString());
    EXPECT_EQ(slurp(dir / "execution_plan.json").find("\"parameters\""),
              slurp(dir / "execution_plan.json").find('"'));

    Skill back = store.load(dir);
    EXPECT_EQ(back.id, s.id);
    EXPECT_EQ(back.name, s.name);
    EXPECT_EQ(back.trigger, s.trigger);
    EXPECT_EQ(back.summary, s.summary);
    EXPECT_EQ(back.mode, ExecutionMode::replay);
    EXPECT_EQ(back.appScope, s.appScope);
    EXPECT_EQ(back.createdAt, truncatedToSeconds(s.createdAt));
    EXPECT_EQ(back.sourceRecordingID, s.sourceRecordingID);
    ASSERT_EQ(back.parameters.size(), 1u);
    EXPECT_EQ(back.parameters[0].id, s.parameters[0].id);
    EXPECT_EQ(back.parameters[0].usedInSteps, (std::vector<std::int64_t>{1}));
    ASSERT_EQ(back.plan.size(), 3u);
    EXPECT_EQ(back.plan[0].target, s.plan[0].target);
    EXPECT_EQ(back.plan[0].location, (Point{10, 20}));
    EXPECT_EQ(back.plan[1].text, "{{week_ending}}");
    EXPECT_EQ(back.plan[2].keyCode, 36);
    EXPECT_TRUE(back.plan[2].isDestructive);
    EXPECT_EQ(store.markdownURL(s), dir / "SKILL.md");
    // A folder location written with its trailing separator names the same folder.
    EXPECT_EQ(store.load(dir / "").id, s.id);
}

TEST_F(SkillStoreTest, SavingWithoutSourceLeavesAnEarlierReference) {
    Skill s = sampleSkill();
    store.save(s);
    const Uuid old = *s.sourceRecordingID;
    s.sourceRecordingID.reset();
    store.save(s);
    EXPECT_EQ(store.load(Paths::skill(s.id)).sourceRecordingID, old);
}

TEST_F(SkillStoreTest, IllFormedUtf8IsReplacedNotLost) {
    // SKILL.md must read back as UTF-8 text, or the skill drops out of the library.
    Skill s = sampleSkill();
    s.name = "Caf\xE9 run";
    s.summary = "Ends \xFF here.";
    s.plan[0].intent = "Open \xC3";
    store.save(s);
    auto all = store.loadAll();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].id, s.id);
    EXPECT_EQ(all[0].name, "Caf\uFFFD run");
    EXPECT_EQ(all[0].summary, "Ends \uFFFD here.");
    EXPECT_EQ(all[0].plan.size(), 3u);
}

TEST_F(SkillStoreTest, RecordingReferenceForms) {
    Skill s = sampleSkill();
    store.save(s);
    const fs::path ref = Paths::skill(s.id) / "recording.ref";
    const std::string upper = s.sourceRecordingID->uuidString();
    std::string lower = upper;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    struct Case {
        std::string content;
        bool found;
    } cases[] = {{lower, true}, {upper + "\n", true}, {"  " + upper + "\r\n", true},
                 {"", false},   {upper + "x", false}, {"\xFF" + upper, false}};
    for (const auto& c : cases) {
        writeFile(ref, c.content);
        EXPECT_EQ(store.load(Paths::skill(s.id)).sourceRecordingID.has_value(), c.found)
            << c.content;
    }
}

TEST_F(SkillStoreTest, ADamagedPlanLoadsAsNoPlanAtAll) {
    Skill s = sampleSkill();
    store.save(s);
    const fs::path plan = Paths::skill(s.id) / "execution_plan.json";
    const std::string good = slurp(plan);
    json::Value v = json::parse(good);
    json::Value badStep = v;
    badStep["plan"][1]["action"] = "Click";
    json::Value noPlan = v;
    noPlan.erase("plan");
    json::Value noDestructive = v;
    noDestructive["plan"][2].erase("isDestructive");
    for (const std::string& damaged :
         {json::writeStored(badStep), json::writeStored(noPlan), json::writeStored(noDestructive),
          good.substr(0, good.size() / 2), std::string("\xFF\xFE")}) {
        writeFile(plan, damaged);
        Skill back = store.load(Paths::skill(s.id));
        EXPECT_TRUE(back.parameters.empty());
        EXPECT_TRUE(back.plan.empty());
        EXPECT_EQ(back.name, s.name);
    }
}

TEST_F(SkillStoreTest, LoadAllSkipsWhatIsNotASkillAndSortsNewestFirst) {
    using namespace std::chrono;
    Skill older = sampleSkill();
    older.createdAt = Date(seconds(1000));
    Skill newer = sampleSkill();
    newer.createdAt = Date(seconds(5000));
    store.save(older);
    store.save(newer);
    writeFile(Paths::skills() / ".DS_Store", "x");
    fs::create_directories(Paths::skills() / "empty-folder");
    writeFile(Paths::skills() / "undated" / "SKILL.md", "no front matter\n");
    writeFile(Paths::skills() / "binary" / "SKILL.md", "---\nname: \xC3\x28\n---\n");
    fs::create_symlink(Paths::skill(newer.id), Paths::skills() / "link-to-skill");

    auto all = store.loadAll();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].id, newer.id);
    EXPECT_EQ(all[1].id, older.id);
    EXPECT_EQ(all[2].name, "Untitled skill"); // dated 1970: sorts last
    EXPECT_EQ(all[2].summary, "no front matter");
    EXPECT_THROW(store.load(Paths::skills() / "empty-folder"), fs::filesystem_error);
    EXPECT_THROW(store.load(Paths::skills() / "binary"), fs::filesystem_error);
    // A folder not named by a UUID gets a new id at every load.
    EXPECT_NE(store.load(Paths::skills() / "undated").id,
              store.load(Paths::skills() / "undated").id);

    fs::remove_all(Paths::skills());
    EXPECT_TRUE(store.loadAll().empty());
}

TEST_F(SkillStoreTest, ALargeLibraryLoadsAsItsFoldersDoOneByOne) {
    // Enough folders to be read on several threads, broken ones spread among them, and dates
    // shared by many skills, so that their order comes from the folder listing.
    using namespace std::chrono;
    const fs::path root = Paths::skills();
    for (int i = 0; i < 700; ++i) {
        Skill s = sampleSkill();
        s.name = "Skill " + std::to_string(i);
        s.createdAt = Date(seconds(1000 + i % 7));
        const fs::path dir = root / s.id.uuidString();
        fs::create_directories(dir);
        switch (i % 50) {
        case 3: // no SKILL.md
            break;
        case 17:
            writeFile(dir / "SKILL.md", "---\nname: \xC3\x28\n---\n");
            break;
        case 41:
            fs::create_directories(dir / "SKILL.md");
            break;
        default:
            writeFile(dir / "SKILL.md", SkillMarkdown::render(s));
        }
        writeFile(dir / "execution_plan.json", i % 50 == 29
                                                   ? std::string("{\"plan\": [")
                                                   : encodeExecutionPlan({s.parameters, s.plan}));
        if (i % 2 == 0) {
            writeFile(dir / "recording.ref", s.sourceRecordingID->uuidString());
        }
    }

    std::vector<Skill> expected;
    for (const fs::directory_entry& entry : fs::directory_iterator(root)) {
        try {
            expected.push_back(store.load(entry.path()));
        } catch (const fs::filesystem_error&) {
        }
    }
    std::stable_sort(expected.begin(), expected.end(),
                     [](const Skill& a, const Skill& b) { return a.createdAt > b.createdAt; });
    ASSERT_EQ(expected.size(), 700u - 3 * 14);

    const std::vector<Skill> all = store.loadAll();
    ASSERT_EQ(all.size(), expected.size());
    for (std::size_t i = 0; i < all.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(all[i].id, expected[i].id);
        EXPECT_EQ(all[i].name, expected[i].name);
        EXPECT_EQ(all[i].createdAt, expected[i].createdAt);
        EXPECT_EQ(all[i].plan.size(), expected[i].plan.size());
        EXPECT_EQ(all[i].parameters.size(), expected[i].parameters.size());
        EXPECT_EQ(all[i].sourceRecordingID, expected[i].sourceRecordingID);
    }
}

TEST_F(SkillStoreTest, DeleteRemovesTheFolderAndAMissingOneThrows) {
    Skill s = sampleSkill();
    store.save(s);
    store.remove(s);
    EXPECT_FALSE(fs::exists(Paths::skill(s.id)));
    EXPECT_THROW(store.remove(s), fs::filesystem_error);
}

TEST_F(SkillStoreTest, LowerCaseFolderIsFoundForEditAndDelete) {
    Skill s = sampleSkill();
    store.save(s);
    std::string lower = s.id.uuidString();
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    fs::rename(Paths::skill(s.id), Paths::skills() / lower);

    auto all = store.loadAll();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].id, s.id);
    EXPECT_EQ(store.markdownURL(all[0]), Paths::skills() / lower / "SKILL.md");
    store.save(all[0]); // saved where it lives, not into a second folder
    EXPECT_EQ(entries(Paths::skills()), (std::vector<std::string>{lower}));
    store.remove(all[0]);
    EXPECT_TRUE(entries(Paths::skills()).empty());
}

// Folder names are read as ids without regard to case, so two spellings of one folder are one
// skill: the first name in byte order is loaded whichever was made first, the others stay on
// disk as they are and are said once.
TEST_F(SkillStoreTest, TwoSpellingsOfOneFolderLoadAsOneSkill) {
    auto spelt = [](const Uuid& id, const std::string& which) {
        std::string name = id.uuidString();
        for (std::size_t i = 0; i < name.size(); ++i) {
            const bool lower = which == "lower" || (which == "mixed" && i % 2 == 0);
            name[i] = static_cast<char>(lower ? std::tolower(name[i]) : name[i]);
        }
        return name;
    };
    struct Case {
        std::vector<std::string> made; // the spellings in the order they are made
        std::string loaded;
    };
    const Case cases[] = {
        {{"upper", "lower"}, "upper"},          {{"lower", "upper"}, "upper"},
        {{"lower", "mixed"}, "mixed"},          {{"mixed", "lower"}, "mixed"},
        {{"lower", "mixed", "upper"}, "upper"},
    };
    // Letters at even and odd places, so that every spelling differs; one id per case, as each
    // folder is said once per process.
    char last = '0';
    for (const Case& c : cases) {
        SCOPED_TRACE(c.made.front() + " made first, of " + std::to_string(c.made.size()));
        fs::remove_all(Paths::skills());
        StorageLogCapture log;
        Skill skill = sampleSkill();
        skill.id = *Uuid::parse(std::string("6BA7B810-9DAD-11D1-80B4-00C04FD430C") + last++);
        std::map<std::string, std::string> markdown; // folder name to its SKILL.md
        for (const std::string& which : c.made) {
            skill.name = "Spelt " + which;
            const fs::path dir = Paths::skills() / spelt(skill.id, which);
            writeFile(dir / "SKILL.md", SkillMarkdown::render(skill));
            markdown[dir.filename().string()] = SkillMarkdown::render(skill);
        }
        Skill other = sampleSkill();
        store.save(other);

        for (int load = 0; load < 2; ++load) {
            const std::vector<Skill> all = store.loadAll();
            ASSERT_EQ(all.size(), 2u);
            const Skill& one = all[0].id == skill.id ? all[0] : all[1];
            EXPECT_EQ(one.id, skill.id);
            EXPECT_EQ(one.name, "Spelt " + c.loaded);
            // Edits and deletes go to the folder that is shown.
            EXPECT_EQ(store.folder(one), Paths::skills() / spelt(skill.id, c.loaded));
        }
        std::vector<std::string> expected;
        for (const auto& [name, bytes] : markdown) {
            EXPECT_EQ(slurp(Paths::skills() / name / "SKILL.md"), bytes) << name;
            if (name != spelt(skill.id, c.loaded)) {
                expected.push_back(
                    "skill folder " + (Paths::skills() / name).string() +
                    " passed over: " + (Paths::skills() / spelt(skill.id, c.loaded)).string() +
                    " holds the skill with the same id");
            }
        }
        std::vector<std::string> lines = log.lines();
        std::sort(lines.begin(), lines.end());
        EXPECT_EQ(lines, expected);
    }
}

TEST_F(SkillStoreTest, AFailedSaveKeepsThePreviousFiles) {
    Skill s = sampleSkill();
    store.save(s);
    const fs::path dir = Paths::skill(s.id);
    const std::string markdown = slurp(dir / "SKILL.md");
    Skill broken = s;
    broken.name = "Renamed";
    broken.plan[0].location = Point{std::nan(""), 0};
    EXPECT_THROW(store.save(broken), json::EncodingError);
    EXPECT_EQ(slurp(dir / "SKILL.md"), markdown); // nothing half-written
    if (ReadOnly::effective()) {
        ReadOnly guard(dir);
        broken.plan[0].location = Point{1, 1};
        EXPECT_THROW(store.save(broken), fs::filesystem_error);
        EXPECT_EQ(slurp(dir / "SKILL.md"), markdown);
    }
    EXPECT_EQ(entries(dir),
              (std::vector<std::string>{"SKILL.md", "execution_plan.json", "recording.ref"}));
}

class RecordingStoreTest : public DataFolderTest {
protected:
    Recording sample(long long startSeconds) {
        Recording r;
        r.startedAt = Date(std::chrono::seconds(startSeconds)) + std::chrono::milliseconds(700);
        r.endedAt = r.startedAt + std::chrono::seconds(3);
        r.frames = {FrameRef{.relativePath = "frames/000001.png", .pixelSize = Size{4, 4}}};
        return r;
    }
    RecordingStore store;
};

TEST_F(RecordingStoreTest, SaveCreatesEveryFolderAndLoadsBack) {
    Recording r = sample(36000);
    const fs::path frames = store.prepareFramesDirectory(r.id);
    EXPECT_EQ(frames, Paths::recording(r.id) / "frames");
    writeFile(frames / "000001.png", "png");
    store.save(r);
    store.save(r); // replaces the document, leaves the frames
    EXPECT_EQ(entries(Paths::recording(r.id)),
              (std::vector<std::string>{"frames", "recording.json"}));
    EXPECT_TRUE(fs::exists(frames / "000001.png"));
    auto back = store.load(r.id);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->startedAt, Date(std::chrono::seconds(36000)));
    EXPECT_EQ(store.frameURL(r.id, back->frames[0].relativePath), frames / "000001.png");
    EXPECT_EQ(store.frameURL(r.id, "frames/000099.png"), frames / "000099.png");
    EXPECT_FALSE(fs::exists(store.framesDirectory(Uuid::random())));
}

TEST_F(RecordingStoreTest, UnreadableDocumentsAreMissing) {
    Recording r = sample(1000);
    store.save(r);
    const fs::path doc = Paths::recording(r.id) / "recording.json";
    json::Value v = json::parse(slurp(doc));
    v["startedAt"] = "1970-01-01T00:16:40.700Z";
    writeFile(doc, json::writeStored(v));
    EXPECT_FALSE(store.load(r.id));
    writeFile(doc, "{");
    EXPECT_FALSE(store.load(r.id));
    EXPECT_FALSE(store.load(Uuid::random()));
    EXPECT_THROW(store.remove(Uuid::random()), fs::filesystem_error);
    EXPECT_TRUE(store.loadAll().empty());
}

TEST_F(RecordingStoreTest, LoadAllTakesUuidFoldersNewestFirst) {
    Recording a = sample(1000), b = sample(3000), c = sample(2000);
    for (const auto* r : {&a, &b, &c}) {
        store.save(*r);
    }
    writeFile(Paths::recordings() / ".hidden", "x");
    writeFile(Paths::recordings() / Uuid::random().uuidString(), "a plain file");
    std::string lower = c.id.uuidString();
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    fs::rename(Paths::recording(c.id), Paths::recordings() / lower);

    auto all = store.loadAll();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].id, b.id);
    EXPECT_EQ(all[1].id, c.id);
    EXPECT_EQ(all[2].id, a.id);
    store.remove(c.id);
    EXPECT_FALSE(fs::exists(Paths::recordings() / lower));
    fs::remove_all(Paths::recordings());
    EXPECT_TRUE(store.loadAll().empty());
}
