#pragma once

#include <string>

namespace kestro::platform {

// Brings a running application to the front. Main thread only.
class AppActivator {
public:
    virtual ~AppActivator() = default;

    // Activates the running application whose identity is `bundleIdentifier` (the identity
    // Applications reports for it) by asking for its front window to be raised and focused.
    // False when no such application runs (it is never launched); true when one was asked,
    // whether or not it actually came to the front.
    virtual bool activate(const std::string& bundleIdentifier) = 0;
};

} // namespace kestro::platform
