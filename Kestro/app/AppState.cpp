#include "Kestro/app/AppState.h"

#include "Kestro/program/SystemLog.h"
#include "KestroCore/Paths.h"
#include "KestroCore/Secrets.h"
#include "platform/Cancellation.h"

#include <QSettings>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <set>
#include <system_error>
#include <utility>

namespace kestro {

namespace {

std::string inQuotes(const std::string& name) {
    return "\"" + name + "\"";
}

} // namespace

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

// MARK: recording road

void AppState::toggleRecording() {
    switch (state_.kind) {
    case KestroState::Kind::idle:
        startRecording();
        break;
    case KestroState::Kind::recording:
        stopRecording();
        break;
    case KestroState::Kind::synthesizing:
    case KestroState::Kind::casting:
        break;
    }
}

void AppState::startRecording() {
    // The state machine never gets here while a stop waits for its screenshots; the recorder
    // would ignore it, and the state would claim a recording that does not run.
    if (stopping_) {
        return;
    }
    if (!permissions_->allGranted()) {
        surfaces_.showOnboarding(*permissions_);
        return;
    }
    setState(KestroState::recording());
    // The recorder's start asks the window system and the accessibility bus for a while: the
    // frame is drawn first.
    recorderPending_ = true;
    const Weak weak = self_;
    surfaces_.afterOverlayShown([weak] {
        if (auto self = weak.lock()) {
            (*self)->startRecorder();
        }
    });
}

void AppState::startRecorder() {
    if (!std::exchange(recorderPending_, false)) {
        return;
    }
    if (!recorder_->start()) {
        setState(KestroState::idle());
        systemLog("Kestro: recording could not start \u2014 the input tap was refused",
                  LogPriority::error);
    }
}

void AppState::stopRecording() {
    if (recorderPending_ && ending_) {
        // Ending before the recorder ever ran: there is no recording to keep.
        recorderPending_ = false;
        recordingStopped(std::nullopt);
        return;
    }
    // A stop before the frame was drawn still stops a recording that ran, not the last one.
    startRecorder();
    if (state_.kind != KestroState::Kind::recording) {
        return;
    }
    setState(KestroState::synthesizing());
    setCreationStatus(SkillCreationStatus::creating());
    stopping_ = true;
    const Weak weak = self_;
    recorder_->stop([weak](std::optional<Recording> recording) {
        if (auto self = weak.lock()) {
            (*self)->recordingStopped(std::move(recording));
        }
    });
}

void AppState::endFromOutside(std::function<void()> ended) {
    if (ending_) {
        return;
    }
    ending_ = true;
    if (mcpTask_) {
        mcpTask_->stop.request_stop();
    }
    runner_->abort();
    if (state_.kind == KestroState::Kind::recording) {
        ended_ = std::move(ended);
        stopRecording();
        return;
    }
    if (stopping_) {
        ended_ = std::move(ended);
        return;
    }
    ended();
}

void AppState::displayLost() {
    const bool under = recorder_->isRecording() || stopping_;
    recorderPending_ = false;
    ending_ = true;
    displayGone_ = true;
    // Logged here rather than through the recorder's interruption, which a stop under way
    // does not report.
    recorder_->onInterrupted = nullptr;
    recorder_->interrupt();
    logDisplayLoss(under && recorder_->lastRecording() ? &*recorder_->lastRecording() : nullptr);
}

void AppState::logDisplayLoss(const Recording* saved) {
    if (!lossLogged_) {
        lossLogged_ = true;
        if (saved) {
            systemLog("Kestro: the display server went away; recording " + saved->id.uuidString() +
                          " saved (" + std::to_string(saved->events.size()) +
                          " events) without synthesis",
                      LogPriority::warning);
        } else {
            systemLog("Kestro: the display server went away", LogPriority::warning);
        }
    }
    if (onDisplayLost) {
        auto lost = onDisplayLost;
        lost();
    }
}

void AppState::recordingStopped(std::optional<Recording> recording) {
    stopping_ = false;
    if (ending_) {
        if (recording && !displayGone_) {
            systemLog("Kestro: ending; recording " + recording->id.uuidString() + " saved (" +
                      std::to_string(recording->events.size()) + " events) without synthesis");
        }
        if (auto ended = std::exchange(ended_, nullptr)) {
            ended();
        }
        return;
    }
    if (!recording || recording->events.empty()) {
        setState(KestroState::idle());
        setCreationStatus(SkillCreationStatus::idle());
        return;
    }
    const std::string id = recording->id.uuidString();
    if (const auto& saveError = recorder_->lastSaveError()) {
        // Neither the no-key promise ("recording saved") nor a skill pointing at this recording
        // would be true.
        systemLog("Kestro: synthesis failed for recording " + id + ": " + *saveError,
                  LogPriority::error);
        finishSynthesis(std::nullopt);
        return;
    }
    const std::optional<std::string> apiKey = Secrets::anthropicAPIKey();
    if (!apiKey) {
        systemLog(
            "Kestro: recorded " + std::to_string(recording->events.size()) + " events \u2192 " +
                id + ", but no Anthropic API key found (set ANTHROPIC_API_KEY or write " +
                Secrets::anthropicKeyFileURL().string() + "). Skipping synthesis; recording saved.",
            LogPriority::warning);
        finishSynthesis(std::nullopt);
        return;
    }
    const Weak weak = self_;
    AnthropicClient client = modelClient(*apiKey);
    workers_.run([weak, &queue = platform_.queue, synthesizer = &synthesizer_,
                  rec = std::move(*recording),
                  modelClient = std::move(client)](std::stop_token stop) {
        std::optional<Skill> made;
        std::string error;
        try {
            made = synthesizer->synthesize(rec, modelClient, stop);
        } catch (const std::exception& e) {
            error = e.what();
        }
        queue.post([weak, rec, made, error] {
            if (auto self = weak.lock()) {
                (*self)->synthesisEnded(rec, made, error);
            }
        });
    });
}

void AppState::synthesisEnded(const Recording& recording, std::optional<Skill> skill,
                              const std::string& error) {
    const std::string failed =
        "Kestro: synthesis failed for recording " + recording.id.uuidString() + ": ";
    if (!skill) {
        systemLog(failed + error, LogPriority::error);
        finishSynthesis(std::nullopt);
        return;
    }
    try {
        store_.save(*skill);
    } catch (const std::exception& e) {
        // The id is fresh, so the folder holds only what this save wrote: a half-written skill
        // must not be listed after a reported failure.
        std::error_code ignored;
        std::filesystem::remove_all(Paths::skill(skill->id), ignored);
        systemLog(failed + e.what(), LogPriority::error);
        finishSynthesis(std::nullopt);
        return;
    }
    systemLog("Kestro: synthesized skill " + inQuotes(skill->name) + " (" +
              std::to_string(skill->plan.size()) + " steps, " +
              std::to_string(skill->parameters.size()) + " parameters) \u2192 " +
              skill->id.uuidString());
    finishSynthesis(skill->name);
}

void AppState::finishSynthesis(std::optional<std::string> name) {
    setState(KestroState::idle());
    if (name) {
        reloadSkills();
        if (skills_->size() == 1) {
            setShowCallSkillTip(true);
        }
        setCreationStatus(SkillCreationStatus::success(*name));
    } else {
        setCreationStatus(SkillCreationStatus::failure());
    }
    scheduleCreationReset();
}

void AppState::scheduleCreationReset() {
    const Weak weak = self_;
    platform_.queue.postAfter(creationResetDelay, [weak] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        const auto kind = (*self)->creationStatus_.kind;
        if (kind == SkillCreationStatus::Kind::success ||
            kind == SkillCreationStatus::Kind::failure) {
            (*self)->setCreationStatus(SkillCreationStatus::idle());
        }
    });
}

// MARK: cast road

void AppState::openPalette() {
    setPaletteOpen(true);
    setShowCallSkillTip(false);
    surfaces_.setPillHidden(true);
    // Opening a palette over an open one closes that one first; its callback must not bring
    // the pill back or mark the palette closed while the new one is open.
    const std::uint64_t opening = ++paletteOpening_;
    const Weak weak = self_;
    surfaces_.showPalette(*this, [weak, opening] {
        auto self = weak.lock();
        if (!self || (*self)->paletteOpening_ != opening) {
            return;
        }
        (*self)->surfaces_.setPillHidden(false);
        (*self)->setPaletteOpen(false);
    });
}

std::map<std::string, std::string>
AppState::filledParameters(const Skill& skill, std::map<std::string, std::string> parameters) {
    for (const Parameter& parameter : skill.parameters) {
        auto it = parameters.find(parameter.name);
        if (it == parameters.end() || it->second.empty()) {
            parameters[parameter.name] = parameter.exampleValue;
        }
    }
    return parameters;
}

std::vector<std::string> AppState::bundleIDs(const Skill& skill) {
    std::vector<std::string> ids;
    std::set<std::string> seen;
    auto add = [&](const std::string& id) {
        if (seen.insert(id).second) {
            ids.push_back(id);
        }
    };
    for (const std::string& id : skill.appScope) {
        add(id);
    }
    for (const PlanStep& step : skill.plan) {
        if (step.target && step.target->appBundleID) {
            add(*step.target->appBundleID);
        }
    }
    return ids;
}

std::string AppState::bundleArrayText(const std::vector<std::string>& ids) {
    static const char* hex = "0123456789abcdef";
    std::string out = "[";
    for (std::size_t i = 0; i < ids.size(); ++i) {
        if (i > 0) {
            out += ", ";
        }
        out += '"';
        for (const char c : ids[i]) {
            const auto u = static_cast<unsigned char>(c);
            switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (u < 0x20 || u == 0x7f) {
                    out += "\\u{";
                    if (u >= 0x10) {
                        out += hex[u >> 4];
                    }
                    out += hex[u & 0xf];
                    out += "}";
                } else {
                    out += c;
                }
            }
        }
        out += '"';
    }
    return out + "]";
}

std::string AppState::mcpInstruction(const Skill& skill,
                                     const std::map<std::string, std::string>& parameters) {
    std::vector<std::string> lines = {
        "Complete this task using the available tools. Act directly; do not ask for "
        "confirmation.",
        "Task: " + skill.name + "."};
    if (!skill.summary.empty()) {
        lines.push_back(skill.summary);
    }
    if (!skill.plan.empty()) {
        std::vector<const PlanStep*> steps;
        for (const PlanStep& step : skill.plan) {
            steps.push_back(&step);
        }
        std::stable_sort(steps.begin(), steps.end(),
                         [](const PlanStep* a, const PlanStep* b) { return a->index < b->index; });
        lines.push_back("Steps demonstrated:");
        for (const PlanStep* step : steps) {
            lines.push_back("- " + step->intent);
        }
    }
    if (!parameters.empty()) {
        // The skill's own order first, then any other names in name order.
        lines.push_back("Parameters:");
        std::set<std::string> listed;
        for (const Parameter& parameter : skill.parameters) {
            auto it = parameters.find(parameter.name);
            if (it != parameters.end() && listed.insert(it->first).second) {
                lines.push_back("- " + it->first + ": " + it->second);
            }
        }
        for (const auto& [name, value] : parameters) {
            if (!listed.count(name)) {
                lines.push_back("- " + name + ": " + value);
            }
        }
    }
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) {
            text += '\n';
        }
        text += lines[i];
    }
    return text;
}

std::string AppState::leadingCharacters(const std::string& text, int count) {
    const QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, s);
    qsizetype end = 0;
    for (int n = 0; n < count; ++n) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0) {
            return text;
        }
        end = next;
    }
    if (end >= s.size()) {
        return text;
    }
    return s.left(end).toStdString();
}

void AppState::cast(const Skill& skill, std::map<std::string, std::string> parameters) {
    if (!(state_ == KestroState::idle())) {
        return;
    }
    const auto values = filledParameters(skill, std::move(parameters));
    std::vector<MCPServer> servers = mcp_.connectedServers(bundleIDs(skill));
    std::optional<std::string> apiKey = Secrets::anthropicAPIKey();
    if (apiKey && !servers.empty()) {
        setState(KestroState::casting(skill.name));
        castViaMCP(skill, values, std::move(servers), std::move(*apiKey));
        return;
    }
    systemLog("Kestro: can't run " + inQuotes(skill.name) + " \u2014 no connected tool for " +
                  bundleArrayText(bundleIDs(skill)) +
                  ". Connect the app's MCP server to run this skill.",
              LogPriority::warning);
}

void AppState::castViaMCP(const Skill& skill, const std::map<std::string, std::string>& parameters,
                          std::vector<MCPServer> servers, std::string apiKey) {
    std::string instruction = mcpInstruction(skill, parameters);
    const std::uint64_t generation = ++castGeneration_;
    std::stop_source stop;
    mcpTask_ = CastHandle{stop, generation};

    std::string via;
    for (std::size_t i = 0; i < servers.size(); ++i) {
        via += (i > 0 ? ", " : "") + servers[i].name;
    }
    AnthropicClient client = modelClient(std::move(apiKey));
    const Weak weak = self_;
    workers_.run(
        [weak, &queue = platform_.queue, modelClient = std::move(client),
         text = std::move(instruction), connected = std::move(servers), name = inQuotes(skill.name),
         via, generation](std::stop_token token) {
            std::string line;
            LogPriority priority = LogPriority::notice;
            try {
                const std::string result =
                    modelClient.runWithMCP(text, connected, castMaxTokens, castMaxTurns, token);
                line = "Kestro: ran " + name + " via " + via + " \u2192 " +
                       leadingCharacters(result, ranResultLength);
            } catch (const platform::CancellationError&) {
                line = "Kestro: run " + name + " aborted";
            } catch (const std::exception& e) {
                line = "Kestro: run " + name + " failed: " + e.what();
                priority = LogPriority::error;
            }
            queue.post([weak, generation, line, priority] {
                if (auto self = weak.lock()) {
                    (*self)->castEnded(generation, line, priority);
                }
            });
        },
        stop);
}

void AppState::castEnded(std::uint64_t generation, const std::string& line, LogPriority priority) {
    systemLog(line, priority);
    // A cast aborted earlier, or replaced by a newer one, leaves the present state alone.
    if (mcpTask_ && mcpTask_->generation == generation) {
        mcpTask_.reset();
        setState(KestroState::idle());
    }
}

void AppState::panic() {
    if (mcpTask_) {
        mcpTask_->stop.request_stop();
        mcpTask_.reset();
    }
    runner_->abort();
    // Escape reaches here through the main queue: by then the cast may have ended and a
    // recording begun, which an abort must not end.
    if (state_.isCasting()) {
        setState(KestroState::idle());
    }
}

} // namespace kestro
