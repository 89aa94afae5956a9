#pragma once

#include "platform/linux/X11Windows.h"
#include "platform/linux/XConnection.h"
#include "tests/support/linux/LinuxDesk.h"

#include <memory>
#include <optional>
#include <string>

// Xlib's own name, declared again so that its macros stay out of the tests' headers.
typedef struct _XDisplay Display;

namespace kestro::testing {

// What a test drives a private desktop with: an XCB connection that reads its windows, an Xlib
// display for XTest input, and the recorder on the Linux services (DISPLAY and the session bus
// must already point at the desktop).
class DeskDriver {
public:
    explicit DeskDriver(const std::string& display);
    ~DeskDriver();
    DeskDriver(const DeskDriver&) = delete;
    DeskDriver& operator=(const DeskDriver&) = delete;

    // What did not connect; empty when everything did.
    const std::string& error() const { return error_; }

    // The viewable top-level window with this title.
    std::optional<platform::linux_x11::TopLevel> window(const std::string& title) const;

    std::unique_ptr<platform::linux_x11::XConnection> x;
    Display* xtest = nullptr;
    std::unique_ptr<LinuxDesk> desk;

private:
    std::string error_;
};

} // namespace kestro::testing
