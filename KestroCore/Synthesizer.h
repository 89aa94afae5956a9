#pragma once

#include "KestroCore/AnthropicClient.h"
#include "KestroCore/Recording.h"
#include "KestroCore/RecordingStore.h"
#include "KestroCore/Skill.h"
#include "KestroCore/SynthesizerSchema.h"

#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace kestro {

// Turns a finished recording into a skill with one structured-completion request: the recording
// as a plain-text trace plus up to twelve downscaled key frames. Holds no state between calls.
// synthesize() blocks for the whole request, so callers run it off the main thread; every frame
// is read and encoded (a few at once, on threads of its own that it joins) before anything is
// sent.
class Synthesizer {
public:
    Synthesizer() = default;

    int maxImageLongEdge() const { return maxImageLongEdge_; }
    int maxFrames() const { return maxFrames_; }
    const RecordingStore& store() const { return store_; }

    static const std::string& systemPrompt();
    // A fresh copy on every call.
    static json::Value schema();

    // Uses a client on the shared transport. Errors of the request and of decoding the answer
    // pass out unchanged; frames that cannot be read are left out silently.
    Skill synthesize(const Recording& recording, const std::string& apiKey,
                     const std::string& model = std::string(AnthropicClient::Model::opus),
                     std::stop_token stop = {}) const;

private:
    std::string traceDescription(const Recording& recording) const;
    static std::string describe(const ActionEvent& event);
    std::vector<AnthropicClient::ContentBlock> frameBlocks(const Recording& recording) const;
    std::optional<std::string> downscaledJPEG(const std::filesystem::path& file) const;
    static Skill assemble(const SkillDraft& draft, const Recording& recording);

    const int maxImageLongEdge_ = 2576;
    const int maxFrames_ = 12;
    const RecordingStore store_{};
};

} // namespace kestro
