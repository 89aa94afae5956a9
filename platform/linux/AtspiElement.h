#pragma once

#include "platform/linux/AtspiAccessibility.h"

#include <atspi/atspi.h>

#include <memory>
#include <optional>
#include <string>

namespace kestro::platform::linux_x11 {

// What the accessibility interface hands out: an element of an application's tree, an
// application, the whole desktop, or a window known only from X.
class AtspiAccessibility::Element final : public AXElement {
public:
    enum class Kind { systemWide, application, accessible, window };

    Element(Kind k, int pid) : kind(k), processID(pid) {}
    ~Element() override {
        if (accessible) {
            g_object_unref(accessible);
        }
    }

    Kind kind;
    int processID = 0;
    AtspiAccessible* accessible = nullptr; // owned; the root of the application for that kind
    bool own = false;                      // of this process: never asked anything
    // A window known only from X.
    std::optional<std::string> title;
    std::optional<Rect> frame;
    // Where the positions of its window lie on the screen, once told (shared by the elements of
    // one window), and the X window it was found in, a first guess at its window's.
    std::shared_ptr<std::optional<AccessibleSpace>> space =
        std::make_shared<std::optional<AccessibleSpace>>();
    std::optional<TopLevel> seenIn;
};

} // namespace kestro::platform::linux_x11
