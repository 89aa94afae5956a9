#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace kestro::testing {

// The fixture application built with the tests (see tests/support/fixture/FixtureApp.cpp), and
// the title its window has unless told otherwise.
std::string fixtureAppPath();
inline constexpr const char* fixtureWindowTitle = "Kestro Fixture";

// The GTK 4 sign-in window (tests/support/fixture/Gtk4SignIn.py), run with the system's python3.
std::string gtk4SignInPath();
// The GTK 3 sign-in form (tests/support/fixture/Gtk3SignIn.py), likewise.
std::string gtk3SignInPath();

// The GTK 3 window whose keys go to a terminal a helper process holds
// (tests/support/fixture/Gtk3TerminalPane.py), run with the system's python3.
std::string gtk3TerminalPanePath();

// The window that logs the input it receives (tests/support/fixture/InputLogWindow.cpp).
std::string inputLogAppPath();

// A running input-log window and what it has written to its log.
struct InputLogWindow {
    std::filesystem::path path;
    pid_t pid = -1;

    // The log's lines beginning with `prefix`, in the order written.
    std::vector<std::string> lines(const std::string& prefix = {}) const;
    // The text of every key line, joined.
    std::string typed() const;
    // The global top-left of the window's inside, from its "ready" line; {0, 0} before there is
    // one, so that a window that never came up fails the test rather than crashing it.
    std::pair<int, int> origin() const;
};

} // namespace kestro::testing
