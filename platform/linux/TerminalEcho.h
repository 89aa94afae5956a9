#pragma once

#include <optional>
#include <vector>

namespace kestro::platform::linux_x11 {

// The pseudo-terminals whose master side the process holds (a terminal emulator holds one per
// tab), as their /dev/pts numbers, in descriptor order. Nothing when its descriptors cannot be
// read (another user's process, gone) or a pseudo-terminal of it lies on a devpts other than
// ours (a sandbox's: its number would name another device here).
std::optional<std::vector<int>> masteredTerminals(int processID);

// Whether every one of these pseudo-terminals echoes what is typed into it (termios ECHO, set
// by whatever job reads it: a password prompt clears it). One that cannot be read does not.
bool allEcho(const std::vector<int>& terminals);

} // namespace kestro::platform::linux_x11
