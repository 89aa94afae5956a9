// The skill file operations of the application object, kept apart from its roads.

#include "Kestro/app/AppState.h"
#include "Kestro/app/SystemLog.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

namespace kestro {

namespace {

void failureLog(const std::string& line) {
    systemLog(line, LogPriority::error);
}

std::filesystem::path downloadsFolder() {
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (!downloads.isEmpty() && QFileInfo(downloads).isDir()) {
        return downloads.toStdString();
    }
    return QDir::homePath().toStdString();
}

// Through the desktop's file manager, selecting the file; a plain open of its folder where no
// file manager answers. Never through a shell.
void revealInFileManager(const std::filesystem::path& file) {
    const QUrl url = QUrl::fromLocalFile(QString::fromStdString(file.string()));
    QDBusInterface manager("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                           "org.freedesktop.FileManager1", QDBusConnection::sessionBus());
    if (manager.isValid()) {
        auto reply = manager.call("ShowItems", QStringList{url.toString()}, QString());
        if (reply.type() != QDBusMessage::ErrorMessage) {
            return;
        }
    }
    QDesktopServices::openUrl(
        QUrl::fromLocalFile(QString::fromStdString(file.parent_path().string())));
}

} // namespace

SkillFiles::MarkdownText AppState::skillMarkdown(const Skill& skill) const {
    return SkillFiles::read(store_, skill);
}

void AppState::saveSkillMarkdown(const Skill& skill, const std::string& text) {
    // Saving and exporting log only why they failed.
    SkillFiles::save(store_, skill, text, failureLog);
    reloadSkills();
}

void AppState::deleteSkill(const Skill& skill) {
    // The one line says either way; which it was is known once the deletion returns.
    std::vector<std::string> lines;
    const bool deleted =
        SkillFiles::remove(store_, skill, [&](const std::string& line) { lines.push_back(line); });
    for (const std::string& line : lines) {
        systemLog(line, deleted ? LogPriority::notice : LogPriority::error);
    }
    if (!deleted) {
        return;
    }
    reloadSkills();
    systemLog("Kestro: skills now = " + std::to_string(skills_->size()));
}

void AppState::exportSkill(const Skill& skill) {
    const auto folder = exportFolder_ ? exportFolder_() : downloadsFolder();
    if (auto file = SkillFiles::exportTo(store_, skill, folder, failureLog)) {
        if (revealFile_) {
            revealFile_(*file);
        } else {
            revealInFileManager(*file);
        }
    }
}

void AppState::setExportFolder(std::function<std::filesystem::path()> folder) {
    exportFolder_ = std::move(folder);
}

void AppState::setRevealFile(std::function<void(const std::filesystem::path&)> reveal) {
    revealFile_ = std::move(reveal);
}

} // namespace kestro
