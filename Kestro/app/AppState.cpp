#include "Kestro/app/AppState.h"

#include "Kestro/app/SystemLog.h"
#include "KestroBase/FileIO.h"
#include "KestroCore/Paths.h"

#include <QSettings>

#include <algorithm>
#include <utility>

namespace kestro {

AppState::AppState(Platform platform, ModelService model, Surfaces& surfaces, QString settingsFile,
                   QObject* parent)
    : QObject(parent), platform_(platform), model_(std::move(model)), surfaces_(surfaces),
      settingsFile_(std::move(settingsFile)),
      tipsDismissed_(settings()->value(tipsDismissedKey, false).toBool()),
      permissions_(
          std::make_unique<PermissionsManager>(platform.permissionChecks, platform.urlOpener)),
      hotkeys_(std::make_unique<HotkeyEngine>(platform.taps, platform.queue, platform.clock)),
      recorder_(std::make_unique<Recorder>(Recorder::Platform::of(platform))),
      runner_(std::make_unique<SkillRunner>(platform.queue, platform.clock, platform.input,
                                            platform.activator, stepConfirmer_)),
      self_(std::make_shared<AppState*>(this)) {
    const Weak weak = self_;
    lastSeenAllGranted_ = permissions_->allGranted();
    permissionWatch_ = permissions_->observeWillChange([weak, &queue = platform_.queue] {
        // Told before the new statuses are stored: look once they are.
        queue.post([weak] {
            if (auto self = weak.lock()) {
                Q_EMIT(*self)->permissionsChanged();
                Q_EMIT(*self)->changed();
                (*self)->permissionsMayHaveChanged();
            }
        });
    });

    // What the stores cannot hand back to a caller: a save that stands though its folder could
    // not be flushed, a skill folder passed over.
    setStorageLog(
        [](const std::string& line) { systemLog("Kestro: " + line, LogPriority::warning); });
    try {
        Paths::ensureDirectories();
    } catch (const std::exception&) {
        // Later file operations report their own failures.
    }
    reloadSkills();

    hotkeys_->onEvent = [weak](HotkeyEngine::Event event) {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        switch (event) {
        case HotkeyEngine::Event::toggleRecording:
            (*self)->toggleRecording();
            break;
        case HotkeyEngine::Event::openPalette:
            (*self)->openPalette();
            break;
        case HotkeyEngine::Event::panic:
            (*self)->panic();
            break;
        }
    };

    recorder_->onInterrupted = [weak](const Recording& recording) {
        if (auto self = weak.lock()) {
            (*self)->ending_ = true;
            (*self)->logDisplayLoss(&recording);
        }
    };

    pollTimer_ = platform_.queue.repeat(permissionPollInterval, [weak] {
        if (auto self = weak.lock()) {
            (*self)->permissions_->refresh();
            (*self)->permissionsMayHaveChanged();
            // A client that held Control-/ for a moment when the keys were reserved must not
            // cost the palette for the rest of the session.
            if ((*self)->hotkeys_->isPaletteHotkeyTaken() && !(*self)->ending_) {
                (*self)->hotkeys_->start();
            }
        }
    });
    platform_.queue.post([weak] {
        if (auto self = weak.lock()) {
            (*self)->activate();
        }
    });
}

AppState::~AppState() {
    shutdown();
}

void AppState::shutdown() {
    if (mcpTask_) {
        mcpTask_->stop.request_stop();
    }
    workers_.stopAll();
    pollTimer_.reset();
}

AnthropicClient AppState::modelClient(std::string apiKey) const {
    AnthropicClient client(std::move(apiKey), std::string(AnthropicClient::Model::opus),
                           model_.transport, model_.endpoint);
    return model_.requestDeadlineSeconds ? client.withDeadline(*model_.requestDeadlineSeconds)
                                         : client;
}

std::unique_ptr<QSettings> AppState::settings() const {
    if (settingsFile_.isEmpty()) {
        return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                           QStringLiteral("Kestro"), QStringLiteral("Kestro"));
    }
    return std::make_unique<QSettings>(settingsFile_, QSettings::IniFormat);
}

// MARK: values

void AppState::setState(KestroState state) {
    const bool differs = !(state == state_);
    state_ = std::move(state);
    hotkeys_->setCasting(state_.isCasting());
    if (state_.showsOverlay()) {
        surfaces_.showOverlay(state_.isCasting() ? OverlayStyle::casting : OverlayStyle::recording);
    } else {
        surfaces_.hideOverlay();
    }
    if (differs) {
        Q_EMIT stateChanged();
        Q_EMIT changed();
    }
}

void AppState::setCreationStatus(SkillCreationStatus status) {
    if (status == creationStatus_) {
        return;
    }
    creationStatus_ = std::move(status);
    Q_EMIT creationStatusChanged();
    Q_EMIT changed();
}

void AppState::setShowCallSkillTip(bool on) {
    if (on == showCallSkillTip_) {
        return;
    }
    showCallSkillTip_ = on;
    Q_EMIT showCallSkillTipChanged();
    Q_EMIT changed();
}

void AppState::setPaletteOpen(bool open) {
    if (open == paletteOpen_) {
        return;
    }
    paletteOpen_ = open;
    Q_EMIT paletteOpenChanged();
    Q_EMIT changed();
}

QString AppState::statusTitle() const {
    switch (state_.kind) {
    case KestroState::Kind::idle:
        return QStringLiteral("Ready");
    case KestroState::Kind::recording:
        return QString::fromUtf8("Recording\u2026");
    case KestroState::Kind::synthesizing:
        return QString::fromUtf8("Synthesizing skill\u2026");
    case KestroState::Kind::casting:
        return QStringLiteral("Running: ") + QString::fromStdString(state_.skillName);
    }
    return {};
}

bool AppState::hasPillTip() const {
    if (tipsDismissed_) {
        return false;
    }
    if (state_ == KestroState::recording() && skills_->empty()) {
        return true;
    }
    return showCallSkillTip_ && creationStatus_ == SkillCreationStatus::idle() &&
           state_ == KestroState::idle();
}

void AppState::reloadSkills() {
    skills_ = std::make_shared<const std::vector<Skill>>(store_.loadAll());
    if (skills_->size() <= SkillListData::inlineLimit) {
        skillData_ = SkillListData::make(skills_);
        Q_EMIT skillDataChanged();
    } else {
        const Weak weak = self_;
        workers_.run([weak, &queue = platform_.queue, skills = skills_](std::stop_token) {
            auto data = SkillListData::make(skills);
            queue.post([weak, data = std::move(data)] {
                auto self = weak.lock();
                // A later load has its own derivation under way.
                if (self && (*self)->skills_ == data->source()) {
                    (*self)->skillData_ = data;
                    Q_EMIT(*self)->skillDataChanged();
                }
            });
        });
    }
    Q_EMIT skillsChanged();
    Q_EMIT changed();
    surfaces_.adaptMainWindow(!skills_->empty());
}

void AppState::activate() {
    permissions_->refresh();
    lastSeenAllGranted_ = permissions_->allGranted();
    if (permissions_->status(Permission::inputMonitoring) == PermissionStatus::granted ||
        permissions_->status(Permission::accessibility) == PermissionStatus::granted) {
        hotkeys_->start();
    }
}

void AppState::permissionsMayHaveChanged() {
    const bool now = permissions_->allGranted();
    const bool before = std::exchange(lastSeenAllGranted_, now);
    if (!before && now) {
        activate();
    }
}

void AppState::bootUI() {
    showMainWindow();
    surfaces_.showPill(*this);
    if (!permissions_->allGranted()) {
        surfaces_.showOnboarding(*permissions_);
    }
}

void AppState::showMainWindow() {
    surfaces_.showMainWindow(*this);
}

void AppState::showOnboarding() {
    surfaces_.showOnboarding(*permissions_);
}

void AppState::dismissTips() {
    if (!tipsDismissed_) {
        tipsDismissed_ = true;
        Q_EMIT tipsDismissedChanged();
        Q_EMIT changed();
    }
    setShowCallSkillTip(false);
    auto store = settings();
    store->setValue(tipsDismissedKey, true);
    store->sync();
}

} // namespace kestro
