#pragma once

#include "Kestro/app/SkillCreationStatus.h"
#include "Kestro/app/SkillFiles.h"
#include "Kestro/app/SkillListData.h"
#include "Kestro/app/Surfaces.h"
#include "Kestro/app/SystemLog.h"
#include "Kestro/app/Workers.h"
#include "Kestro/replay/SkillRunner.h"
#include "Kestro/replay/StepConfirmation.h"
#include "KestroCore/AnthropicClient.h"
#include "KestroCore/HotkeyEngine.h"
#include "KestroCore/KestroState.h"
#include "KestroCore/MCPRegistry.h"
#include "KestroCore/PermissionsManager.h"
#include "KestroCore/Recorder.h"
#include "KestroCore/SkillStore.h"
#include "KestroCore/Synthesizer.h"
#include "platform/AppActivator.h"
#include "platform/HttpTransport.h"
#include "platform/Services.h"
#include "platform/SyntheticInput.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

class QSettings;

namespace kestro {

// The one application object: it owns every service, holds the values the windows show and
// drives the state machine through the recording road and the cast road. It lives on the main
// thread and every operation is called there; long work runs on its own workers and comes back
// through the main queue.
class AppState final : public QObject {
    Q_OBJECT

public:
    // The desktop services the application runs on; they must outlive it.
    using Platform = platform::Services;
    // Where model requests go.
    struct ModelService {
        std::shared_ptr<platform::HttpTransport> transport;
        std::string endpoint = std::string(AnthropicClient::defaultEndpoint);
        // In place of each road's own whole-request deadline (tests that cannot wait minutes).
        std::optional<double> requestDeadlineSeconds;
    };

    static constexpr double permissionPollInterval = 1.5;
    static constexpr double creationResetDelay = 3.4;
    static constexpr int castMaxTokens = 8000;
    static constexpr int castMaxTurns = 8;
    static constexpr int ranResultLength = 200;
    static constexpr const char* tipsDismissedKey = "kestro.tipsDismissed";
    // How long a lost display waits for screenshots still out before the process ends.
    static constexpr double captureSettleLimit = 1.5;

    // `settingsFile` is the INI file of the user settings; empty means the user's standard one.
    AppState(Platform platform, ModelService model, Surfaces& surfaces, QString settingsFile = {},
             QObject* parent = nullptr);
    // Stops the long work still running (see shutdown()).
    ~AppState() override;
    AppState(const AppState&) = delete;
    AppState& operator=(const AppState&) = delete;

    // Published values; each has its change signal, and changed() follows every change.
    const KestroState& state() const { return state_; }
    const std::vector<Skill>& skills() const { return *skills_; }
    // What the views derive from `skills`, made once per load (on a worker for a long list, so
    // for a moment it may still describe the previous load; skillDataChanged() follows it).
    const std::shared_ptr<const SkillListData>& skillData() const { return skillData_; }
    const SkillCreationStatus& creationStatus() const { return creationStatus_; }
    bool showCallSkillTip() const { return showCallSkillTip_; }
    bool tipsDismissed() const { return tipsDismissed_; }
    bool paletteOpen() const { return paletteOpen_; }

    PermissionsManager& permissions() { return *permissions_; }
    const PermissionsManager& permissions() const { return *permissions_; }
    bool hotkeysRunning() const { return hotkeys_->isRunning(); }
    // While a hotkey is handled: the display server's time of its key press, else 0.
    std::uint32_t hotkeyEventTimestamp() const { return hotkeys_->eventTimestamp(); }
    const MCPRegistry& mcp() const { return mcp_; }
    // The replay engine. Nothing in the application starts a replay; panic() aborts one.
    SkillRunner& runner() { return *runner_; }

    // "Ready", "Recording…", "Synthesizing skill…" or "Running: " and the skill's name.
    QString statusTitle() const;
    // Whether the pill shows a tip now.
    bool hasPillTip() const;

    void reloadSkills();

    // The skill's files, for the main window's rows and editor. Outcomes go to the log.
    SkillFiles::MarkdownText skillMarkdown(const Skill& skill) const;
    void saveSkillMarkdown(const Skill& skill, const std::string& text);
    void deleteSkill(const Skill& skill);
    // Into the Downloads folder, then shown in the file manager.
    void exportSkill(const Skill& skill);
    // Where exports go and how they are shown; tests point these elsewhere.
    void setExportFolder(std::function<std::filesystem::path()> folder);
    void setRevealFile(std::function<void(const std::filesystem::path&)> reveal);

    platform::MainQueue& mainQueue() { return platform_.queue; }
    // Refreshes the permissions and starts the hotkey tap when Input Monitoring or
    // Accessibility is granted.
    void activate();
    // Once, when the program has started: main window, pill, onboarding when a permission is
    // missing.
    void bootUI();
    void showMainWindow();
    void showOnboarding();
    void dismissTips();

    // Recording road.
    void toggleRecording();

    // Cast road.
    void openPalette();
    void cast(const Skill& skill, std::map<std::string, std::string> parameters = {});
    void panic();

    // Quitting: signals the cast and the synthesis still running and waits for them (a request
    // in flight ends at once). Nothing is saved; a recording under way is dropped.
    void shutdown();

    // Ending from outside (a termination signal): a recording under way, or a stop waiting for
    // its screenshots, is finished and saved at once without synthesis (screenshots still out
    // count as failed), a cast is aborted; then `ended` runs. A later call does nothing.
    void endFromOutside(std::function<void()> ended);
    // The display server is gone and the process with it: a recording under way (or a stop
    // waiting for its screenshots) is finished and saved at once, without synthesis, and the
    // loss is logged. Main thread.
    void displayLost();
    // Runs after the loss is logged, whoever noticed it (the recorder's input included); the
    // process is meant to end there.
    std::function<void()> onDisplayLost;

signals:
    void stateChanged();
    void skillsChanged();
    void skillDataChanged();
    void creationStatusChanged();
    void showCallSkillTipChanged();
    void tipsDismissedChanged();
    void paletteOpenChanged();
    // The permission statuses changed, whoever refreshed them.
    void permissionsChanged();
    void changed();

private:
    using Weak = std::weak_ptr<AppState*>;

    void setState(KestroState state);
    void setCreationStatus(SkillCreationStatus status);
    void setShowCallSkillTip(bool on);
    void setPaletteOpen(bool open);
    void permissionsMayHaveChanged();
    std::unique_ptr<QSettings> settings() const;
    AnthropicClient modelClient(std::string apiKey) const;

    void startRecording();
    void startRecorder();
    void stopRecording();
    void recordingStopped(std::optional<Recording> recording);
    void synthesisEnded(const Recording& recording, std::optional<Skill> skill,
                        const std::string& error);
    void finishSynthesis(std::optional<std::string> name);
    void scheduleCreationReset();

    void castViaMCP(const Skill& skill, const std::map<std::string, std::string>& parameters,
                    std::vector<MCPServer> servers, std::string apiKey);
    void castEnded(std::uint64_t generation, const std::string& line, LogPriority priority);

    Platform platform_;
    ModelService model_;
    Surfaces& surfaces_;
    QString settingsFile_;

    KestroState state_;
    std::shared_ptr<const std::vector<Skill>> skills_ =
        std::make_shared<const std::vector<Skill>>();
    std::shared_ptr<const SkillListData> skillData_ = SkillListData::make(skills_);
    SkillCreationStatus creationStatus_;
    bool showCallSkillTip_ = false;
    bool tipsDismissed_ = false;
    bool paletteOpen_ = false;

    // The services, declared in the order they are made.
    std::unique_ptr<PermissionsManager> permissions_;
    std::unique_ptr<HotkeyEngine> hotkeys_;
    SkillStore store_;
    std::unique_ptr<Recorder> recorder_;
    Synthesizer synthesizer_;
    MessageBoxConfirmer stepConfirmer_;
    std::unique_ptr<SkillRunner> runner_;
    MCPRegistry mcp_;

    // The running cast: cancelled through its stop source; its generation tells a late end of
    // an older cast from the end of this one.
    struct CastHandle {
        std::stop_source stop;
        std::uint64_t generation = 0;
    };
    std::optional<CastHandle> mcpTask_;
    std::uint64_t castGeneration_ = 0;
    // Counts palette openings; only the latest opening's close callback acts.
    std::uint64_t paletteOpening_ = 0;
    std::unique_ptr<platform::MainQueue::Token> pollTimer_;

    PermissionsManager::Subscription permissionWatch_;
    // The permission picture last seen here, to catch the change to all granted whoever made
    // the refresh.
    bool lastSeenAllGranted_ = false;
    // A stop is waiting for its screenshots: no recording may start before it ends.
    bool stopping_ = false;
    // The state says recording, and the recorder starts once the frame is drawn.
    bool recorderPending_ = false;
    // The process is ending: a stopped recording is kept, not synthesized; then `ended_` runs.
    bool ending_ = false;
    std::function<void()> ended_;
    bool displayGone_ = false;
    bool lossLogged_ = false;
    void logDisplayLoss(const Recording* saved);

    std::function<std::filesystem::path()> exportFolder_;
    std::function<void(const std::filesystem::path&)> revealFile_;

    Workers workers_;
    std::shared_ptr<AppState*> self_;
};

} // namespace kestro
