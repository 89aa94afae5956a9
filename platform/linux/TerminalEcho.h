#pragma once

#include <cstddef>
#include <optional>
#include <vector>

namespace kestro::platform::linux_x11 {

// The pseudo-terminals whose master side the process holds (a terminal emulator holds one per
// tab), as their /dev/pts numbers, in descriptor order. Nothing when its descriptors cannot be
// read (another user's process, gone) or a pseudo-terminal of it lies on a devpts other than
// ours (a sandbox's: its number would name another device here).
std::optional<std::vector<int>> masteredTerminals(int processID);

// How descendants are found: from the kernel's list of each thread's children where it keeps
// them (else as `everyParent`), or from the parent of every process on the machine.
enum class DescendantSearch { childLists, everyParent };

// The same for the process and all its descendants: an editor keeps its terminal panes'
// pseudo-terminals in a helper process. Nothing when one of them cannot be read, or when there
// are more than `maxProcesses` of them (those beyond would go unread). A reading goes through
// /proc once.
inline constexpr std::size_t maxTreeProcesses = 256;
std::optional<std::vector<int>>
treeTerminals(int processID, std::size_t maxProcesses = maxTreeProcesses,
              DescendantSearch search = DescendantSearch::childLists);

// Whether every one of these pseudo-terminals echoes what is typed into it (termios ECHO, set
// by whatever job reads it: a password prompt clears it), and holds no line its job has not read
// yet (it may turn echo off once it does). One that cannot be read does not.
bool allEcho(const std::vector<int>& terminals);

} // namespace kestro::platform::linux_x11
