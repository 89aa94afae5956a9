#pragma once

#include "tests/support/DesktopSession.h"

namespace kestro::testing {

// Starts openbox in `session` and waits until it manages the screen: it has announced itself and a
// window of ours got its frame. Never probed by taking the root's redirect ourselves: a probe
// that holds the redirect for a moment makes a window manager starting in that moment give up.
// Returns its pid, or -1 when it did not start within `timeoutSeconds`.
pid_t startWindowManager(DesktopSession& session, double timeoutSeconds = 20);

} // namespace kestro::testing
