#pragma once

#include <string>

namespace kestro::testing {

// The fixture application built with the tests (see tests/support/fixture/FixtureApp.cpp), and
// the title its window has unless told otherwise.
std::string fixtureAppPath();
inline constexpr const char* fixtureWindowTitle = "Kestro Fixture";

// The window that logs the input it receives (tests/support/fixture/InputLogWindow.cpp).
std::string inputLogAppPath();

} // namespace kestro::testing
