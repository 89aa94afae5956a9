#pragma once

#include "KestroCore/AnthropicClient.h"
#include "platform/ScreenCapture.h"

#include <functional>
#include <memory>
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
    // Given the real screen capture, what the application takes its screenshots through in its
    // place (tests whose screenshots must not come back).
    std::function<std::unique_ptr<platform::ScreenCapture>(platform::ScreenCapture&)> screenCapture;
};

int runApplication(int argc, char** argv, const ApplicationOptions& options = {});

} // namespace kestro
