#include "Kestro/app/SkillFiles.h"

#include "KestroBase/FileIO.h"
#include "KestroBase/Text.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <system_error>

namespace fs = std::filesystem;

namespace kestro::SkillFiles {

namespace {

std::string quoted(const Skill& skill) {
    return "\"" + skill.name + "\" (" + skill.id.uuidString() + ")";
}

std::string errnoText(int error) {
    return std::generic_category().message(error);
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace

MarkdownText read(const SkillStore& store, const Skill& skill) {
    const fs::path path = store.markdownURL(skill);
    std::string bytes;
    try {
        bytes = readFile(path);
    } catch (const fs::filesystem_error& error) {
        std::error_code ec;
        if (fs::symlink_status(path, ec).type() == fs::file_type::not_found) {
            return {};
        }
        return {.canSave = false,
                .problem = "SKILL.md could not be read (" + error.code().message() +
                           "), so saving here would replace it."};
    }
    if (!text::isValidUtf8(bytes)) {
        return {.canSave = false,
                .problem = "SKILL.md is not UTF-8 text, so saving here would replace it."};
    }
    return {.text = std::move(bytes)};
}

bool save(const SkillStore& store, const Skill& skill, std::string_view text, const Log& log) {
    const fs::path path = store.markdownURL(skill);
    std::error_code ec;
    // A link in place of the folder is not ours to write through, and a missing folder means
    // the skill was deleted.
    if (fs::symlink_status(path.parent_path(), ec).type() != fs::file_type::directory) {
        log("Kestro: save FAILED for " + quoted(skill) + ": " +
            errnoText(ec ? ec.value() : ENOENT));
        return false;
    }
    try {
        writeFileAtomically(path, text);
        return true;
    } catch (const fs::filesystem_error& error) {
        log("Kestro: save FAILED for " + quoted(skill) + ": " + error.code().message());
        return false;
    }
}

bool remove(const SkillStore& store, const Skill& skill, const Log& log) {
    try {
        store.remove(skill);
    } catch (const std::exception& error) {
        const auto* fsError = dynamic_cast<const fs::filesystem_error*>(&error);
        log("Kestro: delete FAILED for " + quoted(skill) + ": " +
            (fsError ? fsError->code().message() : std::string(error.what())));
        return false;
    }
    log("Kestro: deleted skill " + quoted(skill));
    return true;
}

std::string fittedBaseName(std::string_view base, unsigned long counter) {
    std::size_t suffix = 3; // ".md"
    if (counter > 1) {
        suffix += 1 + std::to_string(counter).size();
    }
    const std::size_t limit = NAME_MAX > suffix ? NAME_MAX - suffix : 0;
    if (base.size() <= limit) {
        return std::string(base);
    }
    std::size_t cut = limit;
    // Back off continuation bytes so the cut falls between characters.
    while (cut > 0 && (static_cast<unsigned char>(base[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return std::string(base.substr(0, cut));
}

std::optional<fs::path> exportTo(const SkillStore& store, const Skill& skill,
                                 const fs::path& folder, const Log& log) {
    std::string text;
    try {
        text = readFile(store.markdownURL(skill));
    } catch (const std::exception&) {
        log("Kestro: export failed \u2014 no SKILL.md for \"" + skill.name + "\"");
        return std::nullopt;
    }
    if (!text::isValidUtf8(text)) {
        log("Kestro: export failed \u2014 no SKILL.md for \"" + skill.name + "\"");
        return std::nullopt;
    }
    const std::string base = skill.slashCommand().substr(1);
    for (unsigned long counter = 1;; ++counter) {
        std::string name = fittedBaseName(base, counter);
        if (counter > 1) {
            name.append("-").append(std::to_string(counter));
        }
        name += ".md";
        const fs::path candidate = folder / name;
        int fd =
            ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            log("Kestro: export failed: " + errnoText(errno));
            return std::nullopt;
        }
        bool written = writeAll(fd, text);
        int writeError = errno;
        if (::close(fd) != 0 && written) {
            written = false;
            writeError = errno;
        }
        if (!written) {
            ::unlink(candidate.c_str());
            log("Kestro: export failed: " + errnoText(writeError));
            return std::nullopt;
        }
        return candidate;
    }
}

} // namespace kestro::SkillFiles
