#pragma once

#include <string>

// Xlib's display, named without its header: Xlib's macros must come after gtest's.
typedef struct _XDisplay Display;

namespace kestro::testing {

// Saves the whole screen as screenshots/<name>.png under the working folder (the build folder
// when run by ctest), for a look at what the test saw. Nothing is saved when the screen cannot
// be read.
void saveScreenshot(Display* display, const std::string& name);

} // namespace kestro::testing
