// The cast road: the palette picks a skill, and the model service performs it through the
// connected tools of the skill's applications.
#include "Kestro/app/AppState.h"

#include "Kestro/app/CastInstruction.h"
#include "Kestro/app/SystemLog.h"
#include "Kestro/text/LogText.h"
#include "KestroCore/Secrets.h"
#include "platform/Cancellation.h"

#include <utility>

namespace kestro {

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
