#include "KestroCore/Synthesizer.h"

#include "KestroBase/Image.h"
#include "KestroBase/Text.h"
#include "KestroCore/Base64.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>

namespace kestro {

namespace {

using ContentBlock = AnthropicClient::ContentBlock;

constexpr int jpegQuality = 70;
// Frames decoded at once; each may hold a full-size screenshot in memory.
constexpr std::size_t frameWorkers = 4;

constexpr const char* jobSection =
    "\n## Your job\n"
    "Convert this into a reusable, parameterized skill. Identify which typed values are "
    "user-/task-specific (dates, names, file paths, search terms, amounts) and templatize "
    "them as {{snake_case}} slots with a `parameters` entry each. Write a clear one-line "
    "`intent` for every step, set a natural `precondition` where the runner should verify "
    "state first, and flag any destructive step (submit, send, delete, overwrite, "
    "purchase) as `is_destructive`. Secure fields are already redacted — never invent "
    "their contents. Choose `mode`: \"agentic\" (default; robust to UI change) or \"replay\" "
    "(only for a simple, stable, internal-tool task).";

// An evenly spaced subset of at most `max` items: the first always, the last only when the
// spacing lands on it.
template <typename T> std::vector<T> sample(const std::vector<T>& items, int max) {
    if (max <= 0 || static_cast<std::size_t>(max) >= items.size()) {
        return items;
    }
    const double step = static_cast<double>(items.size()) / static_cast<double>(max);
    std::vector<T> out;
    out.reserve(static_cast<std::size_t>(max));
    for (int i = 0; i < max; ++i) {
        out.push_back(items[static_cast<std::size_t>(static_cast<double>(i) * step)]);
    }
    return out;
}

} // namespace

Synthesizer::Synthesizer(std::shared_ptr<platform::HttpTransport> transport, std::string endpoint,
                         RecordingStore store)
    : transport_(std::move(transport)), endpoint_(std::move(endpoint)), store_(std::move(store)) {}

Skill Synthesizer::synthesize(const Recording& recording, const std::string& apiKey,
                              const std::string& model, std::stop_token stop) const {
    return synthesize(recording, AnthropicClient(apiKey, model, transport_, endpoint_),
                      std::move(stop));
}

Skill Synthesizer::synthesize(const Recording& recording, const AnthropicClient& client,
                              std::stop_token stop) const {
    std::vector<ContentBlock> content;
    content.push_back(ContentBlock::text(traceDescription(recording)));
    for (ContentBlock& block : frameBlocks(recording)) {
        content.push_back(std::move(block));
    }
    const std::string answer =
        client.structuredCompletion(systemPrompt(), content, schema(), 16000, std::move(stop));
    return assemble(decodeSkillDraft(answer), recording);
}

std::string Synthesizer::traceDescription(const Recording& recording) const {
    std::vector<std::string> lines;
    lines.emplace_back("# Recorded task");
    lines.push_back("Duration: " + text::formatOneDecimal(recording.duration()) + "s \u00B7 " +
                    std::to_string(recording.events.size()) + " interactions \u00B7 " +
                    std::to_string(recording.frames.size()) + " key frames.");
    if (!recording.appContexts.empty()) {
        lines.emplace_back("\n## Apps involved (in order of first use)");
        for (const AppContextSnapshot& app : recording.appContexts) {
            std::string line = "- " + app.appName.value_or(app.bundleID.value_or("unknown"));
            if (app.bundleID) {
                line += " (" + *app.bundleID + ")";
            }
            if (app.windowTitle) {
                line += " \u2014 window: \"" + *app.windowTitle + "\"";
            }
            lines.push_back(std::move(line));
        }
    }
    lines.emplace_back("\n## Interaction trace");
    for (std::size_t i = 0; i < recording.events.size(); ++i) {
        lines.push_back(std::to_string(i + 1) + ". " + describe(recording.events[i]));
    }
    lines.emplace_back(jobSection);

    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) {
            out.push_back('\n');
        }
        out += lines[i];
    }
    return out;
}

std::string Synthesizer::describe(const ActionEvent& event) {
    const std::string on = event.target ? " on " + event.target->humanLabel() : std::string();
    switch (event.type) {
    case ActionType::click:
        return "Click" + on;
    case ActionType::rightClick:
        return "Right-click" + on;
    case ActionType::doubleClick:
        return "Double-click" + on;
    case ActionType::drag:
        return "Drag" + on;
    case ActionType::keystroke:
        if (event.target && event.target->isSecure) {
            return "Type into a secure field" + on + " [redacted]";
        }
        if (event.typedText) {
            return "Type \"" + *event.typedText + "\"" + on;
        }
        if (event.keyCode) {
            return "Press key " + std::to_string(*event.keyCode) + on;
        }
        return "Keystroke" + on;
    case ActionType::scroll:
        return "Scroll" + on;
    case ActionType::appSwitch:
        return "Switch app" + on;
    case ActionType::windowFocus:
        return "Focus window" + on;
    case ActionType::wait:
        return "Wait";
    }
    return "Click" + on;
}

std::vector<ContentBlock> Synthesizer::frameBlocks(const Recording& recording) const {
    const std::vector<FrameRef> chosen = sample(recording.frames, maxFrames_);
    // Decoding and encoding dominate a synthesis; a few frames are worked on at once, and the
    // blocks keep the frames' order.
    std::vector<std::optional<std::string>> images(chosen.size());
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < chosen.size();) {
            // Nothing may escape a helper thread; a frame that fails on the way (out of memory
            // for its text, say) is left out like one that cannot be read.
            try {
                if (auto jpeg =
                        downscaledJPEG(store_.frameURL(recording.id, chosen[i].relativePath))) {
                    images[i] = base64Encode(*jpeg);
                }
            } catch (const std::exception&) {
                images[i].reset();
            }
        }
    };
    {
        const std::size_t helpers =
            std::min<std::size_t>(chosen.size(), frameWorkers) - (chosen.empty() ? 0 : 1);
        std::vector<std::jthread> threads;
        for (std::size_t h = 0; h < helpers; ++h) {
            try {
                threads.emplace_back(work);
            } catch (const std::system_error&) {
                break; // fewer helpers; this thread does the rest
            }
        }
        work();
    }

    std::vector<ContentBlock> blocks;
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        if (!images[i]) {
            continue;
        }
        blocks.push_back(
            ContentBlock::text("Frame at " + text::formatOneDecimal(chosen[i].timeOffset) + "s:"));
        blocks.push_back(ContentBlock::image("image/jpeg", std::move(*images[i])));
    }
    return blocks;
}

std::optional<std::string> Synthesizer::downscaledJPEG(const std::filesystem::path& file) const {
    try {
        std::optional<Image> image = ImageCodec::readPNG(file);
        if (!image) {
            return std::nullopt;
        }
        const int longEdge = std::max(image->width, image->height);
        const double scale =
            longEdge > maxImageLongEdge_ ? static_cast<double>(maxImageLongEdge_) / longEdge : 1.0;
        const int width = static_cast<int>(image->width * scale);
        const int height = static_cast<int>(image->height * scale);
        if (width <= 0 || height <= 0) {
            return std::nullopt;
        }
        if (width != image->width || height != image->height) {
            *image = ImageCodec::scaled(*image, width, height);
        }
        return ImageCodec::encodeJPEG(*image, jpegQuality);
    } catch (const std::exception&) {
        // Unreadable, damaged or too large to hold: the frame is left out.
        return std::nullopt;
    }
}

} // namespace kestro
