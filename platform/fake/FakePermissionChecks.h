#pragma once

#include "platform/PermissionChecks.h"
#include "platform/URLOpener.h"

#include <string>
#include <vector>

namespace kestro::platform::fake {

// Permission answers set by the test; every request is noted in `calls`.
class FakePermissionChecks final : public PermissionChecks {
public:
    bool screenCapture = false;
    bool trusted = false;
    std::uint32_t listenEvent = accessUnknown;
    std::vector<std::string> calls;

    bool preflightScreenCaptureAccess() override { return screenCapture; }
    bool requestScreenCaptureAccess() override {
        calls.push_back("requestScreenCapture");
        return screenCapture;
    }
    bool isProcessTrusted() override { return trusted; }
    bool isProcessTrustedWithPrompt(bool prompt) override {
        calls.push_back(prompt ? "trustWithPrompt" : "trustWithoutPrompt");
        return trusted;
    }
    std::uint32_t checkListenEventAccess() override { return listenEvent; }
    bool requestListenEventAccess() override {
        calls.push_back("requestListenEvent");
        return listenEvent == accessGranted;
    }
};

// Notes every URL it is asked to open.
class FakeURLOpener final : public URLOpener {
public:
    std::vector<std::string> opened;
    bool open(const std::string& url) override {
        opened.push_back(url);
        return true;
    }
};

} // namespace kestro::platform::fake
