#pragma once

#include "KestroCore/AnthropicClient.h"
#include "KestroCore/Recording.h"
#include "KestroCore/RecordingStore.h"
#include "KestroCore/Skill.h"
#include "KestroCore/SynthesizerSchema.h"

#include <filesystem>
#include <memory>
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
    // Sends through the transport the application installs (platform::HttpTransport::shared())
    // to the service's address, and finds frames in the standing recordings folder.
    Synthesizer() = default;
    // Sends through `transport` to `endpoint` and finds frames through `store`.
    explicit Synthesizer(std::shared_ptr<platform::HttpTransport> transport,
                         std::string endpoint = std::string(AnthropicClient::defaultEndpoint),
                         RecordingStore store = {});

    int maxImageLongEdge() const { return maxImageLongEdge_; }
    int maxFrames() const { return maxFrames_; }
    const RecordingStore& store() const { return store_; }
    const std::shared_ptr<platform::HttpTransport>& transport() const { return transport_; }
    const std::string& endpoint() const { return endpoint_; }

    static const std::string& systemPrompt();
    // A fresh copy on every call.
    static json::Value schema();

    // Sends through `client`. Errors of the request and of decoding the answer pass out
    // unchanged; frames that cannot be read, or whose stored path leaves the recording's folder,
    // are left out silently.
    Skill synthesize(const Recording& recording, const AnthropicClient& client,
                     std::stop_token stop = {}) const;
    // Sends through a client made with the key, the model and the synthesizer's transport and
    // endpoint.
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
    // Empty: the shared transport at the time of the request.
    const std::shared_ptr<platform::HttpTransport> transport_;
    const std::string endpoint_ = std::string(AnthropicClient::defaultEndpoint);
    const RecordingStore store_{};
};

} // namespace kestro
