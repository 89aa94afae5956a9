// The recording road: a double tap starts the recorder, the next one stops it, and the recording
// goes to the model service to become a skill.
#include "Kestro/app/AppState.h"

#include "Kestro/app/SystemLog.h"
#include "Kestro/text/LogText.h"
#include "KestroCore/Paths.h"
#include "KestroCore/Secrets.h"

#include <system_error>
#include <utility>

namespace kestro {

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
    if (state_.kind != KestroState::Kind::recording && !stopping_) {
        ended();
        return;
    }
    ended_ = std::move(ended);
    if (state_.kind == KestroState::Kind::recording) {
        stopRecording();
    }
    if (stopping_) {
        // Whoever ends the session kills soon after asking: a screenshot still out is not
        // waited for, the recording is saved now.
        recorder_->interrupt();
    }
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
        // The process ends without its destructors: a screenshot given up on must first let
        // go of its file, or a frame the saved recording does not name stays beside it. With
        // the server gone it fails fast; the bound is for a worker that is merely slow.
        recorder_->settleCaptures(captureSettleLimit);
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

} // namespace kestro
