#include "KestroCore/SkillStore.h"

#include "KestroBase/FileIO.h"
#include "KestroBase/Text.h"
#include "KestroCore/Paths.h"
#include "KestroCore/SkillJson.h"
#include "KestroCore/SkillMarkdown.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace kestro {

namespace fs = std::filesystem;

SkillStore::SkillStore(fs::path root) : root_(std::move(root)) {}

fs::path SkillStore::root() const {
    return root_ ? *root_ : Paths::skills();
}

fs::path SkillStore::folder(const Skill& skill) const {
    return Paths::existingFolder(root(), skill.id);
}

void SkillStore::save(const Skill& skill) const {
    if (root_) {
        createPrivateDirectories(*root_);
    } else {
        Paths::ensureDirectories();
    }
    // Encode everything first so that a value JSON cannot hold leaves the folder untouched.
    const std::string markdown = SkillMarkdown::render(skill);
    const std::string plan = encodeExecutionPlan({skill.parameters, skill.plan});
    const fs::path dir = folder(skill);
    const bool created = createPrivateDirectories(dir, true);
    try {
        writeFileAtomically(dir / markdownFileName, markdown);
        writeFileAtomically(dir / planFileName, plan);
        if (skill.sourceRecordingID) {
            writeFileAtomically(dir / recordingRefFileName, skill.sourceRecordingID->uuidString());
        }
    } catch (...) {
        if (created) {
            // Nobody else knows of the folder yet: what is in it is this save's alone.
            std::error_code ignored;
            fs::remove_all(dir, ignored);
        }
        throw;
    }
}

namespace {

// A skill from the files of `folder`, whose last name component is `name`; `read(file)` and
// `readIfPresent(file)` read one of its files. Throws fs::filesystem_error when SKILL.md cannot
// be read as UTF-8 text.
template <typename Read, typename ReadIfPresent>
Skill loadSkill(const fs::path& folder, std::string_view name, Read read,
                ReadIfPresent readIfPresent) {
    const std::string markdown = read(SkillStore::markdownFileName);
    if (!text::isValidUtf8(markdown)) {
        throw fs::filesystem_error("the file is not UTF-8 text",
                                   folder / SkillStore::markdownFileName,
                                   std::make_error_code(std::errc::illegal_byte_sequence));
    }
    const std::optional<Uuid> id = Uuid::parse(name);
    Skill skill = id ? SkillMarkdown::parse(markdown, *id) : SkillMarkdown::parse(markdown);
    if (auto bytes = readIfPresent(SkillStore::planFileName)) {
        try {
            ExecutionPlanDocument document = decodeExecutionPlan(*bytes);
            skill.parameters = std::move(document.parameters);
            skill.plan = std::move(document.plan);
        } catch (const json::DecodingError&) {
            // A damaged plan loads as no plan at all, never as part of one.
        }
    }
    if (auto bytes = readIfPresent(SkillStore::recordingRefFileName);
        bytes && text::isValidUtf8(*bytes)) {
        skill.sourceRecordingID = Uuid::parse(text::trimWhitespaceAndNewlines(*bytes));
    }
    return skill;
}

// Says once per process that the folder `passed` is passed over for `kept`: a library that
// keeps both would say it again at every reload.
void reportPassedOver(const fs::path& passed, const fs::path& kept) {
    static std::mutex mutex;
    static std::unordered_set<std::string> reported;
    {
        std::lock_guard lock(mutex);
        if (!reported.insert(passed.native()).second) {
            return;
        }
    }
    storageLog("skill folder " + passed.string() + " passed over: " + kept.string() +
               " holds the skill with the same id");
}

} // namespace

Skill SkillStore::load(const fs::path& dir) const {
    // The last component of the folder's name, also when it is written with a trailing "/".
    const fs::path name = dir.has_filename() ? dir.filename() : dir.parent_path().filename();
    return loadSkill(
        dir, name.native(), [&](const char* file) { return readFile(dir / file); },
        [&](const char* file) { return readFileIfPresent(dir / file); });
}

std::vector<Skill> SkillStore::loadAll() const {
    const fs::path dir = root();
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    if (ec) {
        return {};
    }
    for (fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) {
            break;
        }
        std::error_code statusError;
        fs::file_status status = it->symlink_status(statusError);
        if (!statusError && fs::is_directory(status)) {
            names.push_back(it->path().filename().native());
        }
    }
    std::optional<OpenFolder> open;
    try {
        // Files are read relative to the open folder, which spares walking the whole path of
        // each of them.
        open.emplace(dir);
    } catch (const fs::filesystem_error&) {
        return {};
    }

    std::vector<std::optional<Skill>> loaded(names.size());
    // Loads the folders [begin, end); anything but an unreadable SKILL.md ends the share and is
    // kept for the caller.
    auto loadShare = [&](std::size_t begin, std::size_t end, std::exception_ptr& failure) {
        std::string relative;
        try {
            for (std::size_t i = begin; i < end; ++i) {
                const std::string& name = names[i];
                auto inFolder = [&](const char* file) -> const std::string& {
                    relative.assign(name).append(1, '/').append(file);
                    return relative;
                };
                try {
                    loaded[i] = loadSkill(
                        dir / name, name,
                        [&](const char* file) { return open->readFile(inFolder(file)); },
                        [&](const char* file) { return open->readFileIfPresent(inFolder(file)); });
                } catch (const fs::filesystem_error&) {
                    // A folder without a readable SKILL.md is not a skill.
                }
            }
        } catch (...) {
            failure = std::current_exception();
        }
    };
    // Most of the time goes into system calls, so a large library is read on a few threads, each
    // taking one run of folders; a small one is read on the calling thread alone.
    constexpr std::size_t foldersPerThread = 128;
    const std::size_t shares =
        std::clamp<std::size_t>((names.size() + foldersPerThread - 1) / foldersPerThread, 1,
                                std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4));
    std::vector<std::exception_ptr> failures(shares);
    std::vector<std::thread> threads;
    auto shareBegin = [&](std::size_t share) { return names.size() * share / shares; };
    for (std::size_t share = 1; share < shares; ++share) {
        try {
            threads.emplace_back(loadShare, shareBegin(share), shareBegin(share + 1),
                                 std::ref(failures[share]));
        } catch (const std::system_error&) {
            // No thread to be had: this share is read here instead.
            loadShare(shareBegin(share), shareBegin(share + 1), failures[share]);
        }
    }
    loadShare(0, shareBegin(1), failures[0]);
    for (std::thread& thread : threads) {
        thread.join();
    }
    // What a single pass in folder order would have thrown first.
    for (const std::exception_ptr& failure : failures) {
        if (failure) {
            std::rethrow_exception(failure);
        }
    }

    // Ids are read from folder names without regard to case, so skills/<ID> and skills/<id> are
    // one skill: the first name in byte order is kept (the upper-case one, when it is there, as
    // Paths::existingFolder finds it), the others are left on disk as they are.
    std::unordered_map<Uuid, std::size_t> kept;
    for (std::size_t i = 0; i < loaded.size(); ++i) {
        if (loaded[i]) {
            auto [at, fresh] = kept.emplace(loaded[i]->id, i);
            if (!fresh && names[i] < names[at->second]) {
                at->second = i;
            }
        }
    }
    std::vector<Skill> skills;
    skills.reserve(kept.size());
    for (std::size_t i = 0; i < loaded.size(); ++i) {
        if (!loaded[i]) {
            continue;
        }
        if (const std::size_t keep = kept.at(loaded[i]->id); keep != i) {
            reportPassedOver(dir / names[i], dir / names[keep]);
            continue;
        }
        skills.push_back(std::move(*loaded[i]));
    }
    std::stable_sort(skills.begin(), skills.end(),
                     [](const Skill& a, const Skill& b) { return a.createdAt > b.createdAt; });
    return skills;
}

void SkillStore::remove(const Skill& skill) const {
    const fs::path dir = folder(skill);
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(dir, ec))) {
        throw fs::filesystem_error("no such skill folder", dir,
                                   std::make_error_code(std::errc::no_such_file_or_directory));
    }
    fs::remove_all(dir);
}

fs::path SkillStore::markdownURL(const Skill& skill) const {
    return folder(skill) / markdownFileName;
}

} // namespace kestro
