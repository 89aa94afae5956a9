#pragma once

#include "KestroCore/AnthropicClient.h"

#include <optional>
#include <string>

namespace kestro {

// The whole program on the desktop: the application object on the Linux services, its windows,
// the tray item and the main loop. Returns the exit status. The program's entry point runs it
// with the model service's own address; the end-to-end tests run it against theirs.
struct ApplicationOptions {
    std::string modelEndpoint = std::string(AnthropicClient::defaultEndpoint);
    // In place of each road's own whole-request deadline (tests that cannot wait minutes).
    std::optional<double> requestDeadlineSeconds;
};

int runApplication(int argc, char** argv, const ApplicationOptions& options = {});

} // namespace kestro
