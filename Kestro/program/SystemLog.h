#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace kestro {

// One line to the system log, verbatim (never read as a format) but for control characters,
// which are escaped (escapedForLog), and to standard error when it is a terminal. Any thread.
void systemLog(std::string_view line);

// Control characters as \n, \r, \t or \xNN (DEL included); every other byte as it is.
std::string escapedForLog(std::string_view text);

// Tests see every line through this instead; an empty function restores the system log.
using LogSink = std::function<void(const std::string& line)>;
void setLogSink(LogSink sink);

} // namespace kestro
