#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace kestro {

// How much a line matters to whoever reads the log: a failure of what the user asked for is an
// error, a condition that keeps the program from doing it a warning, the rest a notice.
enum class LogPriority { notice, warning, error };

// One line to the system log, verbatim (never read as a format) but for control characters,
// which are escaped (escapedForLog), and to standard error when it is a terminal. The log is
// opened as "kestro" with the process id on the first line. Any thread.
void systemLog(std::string_view line, LogPriority priority = LogPriority::notice);

// Control characters as \n, \r, \t or \xNN (DEL included); every other byte as it is.
std::string escapedForLog(std::string_view text);

// Tests see every line through this instead; an empty function restores the system log.
using LogSink = std::function<void(const std::string& line)>;
void setLogSink(LogSink sink);
// The same, with each line's priority.
using PriorityLogSink = std::function<void(const std::string& line, LogPriority priority)>;
void setPriorityLogSink(PriorityLogSink sink);

} // namespace kestro
