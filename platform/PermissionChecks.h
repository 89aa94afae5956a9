#pragma once

#include <cstdint>

namespace kestro::platform {

// The platform's checks and prompts for the privacy permissions the capture needs.
class PermissionChecks {
public:
    // Answers of the listen-event access check.
    enum AccessType : std::uint32_t { accessGranted = 0, accessDenied = 1, accessUnknown = 2 };

    virtual ~PermissionChecks() = default;

    // Screen capture.
    virtual bool preflightScreenCaptureAccess() = 0;
    virtual bool requestScreenCaptureAccess() = 0;
    // Accessibility clients (reading and driving other applications' interfaces).
    virtual bool isProcessTrusted() = 0;
    // Same answer; with `prompt` the platform is asked to let the process in.
    virtual bool isProcessTrustedWithPrompt(bool prompt) = 0;
    // Global input observation; one of AccessType, or another value the platform invents.
    virtual std::uint32_t checkListenEventAccess() = 0;
    virtual bool requestListenEventAccess() = 0;
};

} // namespace kestro::platform
