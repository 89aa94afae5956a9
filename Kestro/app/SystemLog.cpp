#include "Kestro/app/SystemLog.h"

#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>

namespace kestro {

namespace {

std::mutex& sinkMutex() {
    static std::mutex m;
    return m;
}

PriorityLogSink& sink() {
    static PriorityLogSink s;
    return s;
}

int syslogPriority(LogPriority priority) {
    switch (priority) {
    case LogPriority::error:
        return LOG_ERR;
    case LogPriority::warning:
        return LOG_WARNING;
    case LogPriority::notice:
        break;
    }
    return LOG_NOTICE;
}

} // namespace

std::string escapedForLog(std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7f) {
            out.push_back(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            out += "\\x";
            out.push_back(hex[byte >> 4]);
            out.push_back(hex[byte & 0xf]);
        }
    }
    return out;
}

void systemLog(std::string_view line, LogPriority priority) {
    // Lines carry text from outside (model replies, error bodies, names): a line break in it
    // would forge a line of its own, an escape sequence would reach the terminal, a NUL would
    // cut the line short.
    std::string text = escapedForLog(line);
    {
        std::lock_guard lock(sinkMutex());
        if (sink()) {
            sink()(text, priority);
            return;
        }
    }
    // Under the program's own name whatever the executable is called, each line with its
    // process, so two sessions' lines can be told apart.
    static std::once_flag opened;
    std::call_once(opened, [] { openlog("kestro", LOG_PID, LOG_USER); });
    syslog(syslogPriority(priority), "%s", text.c_str());
    if (isatty(STDERR_FILENO)) {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
}

void setLogSink(LogSink s) {
    if (!s) {
        setPriorityLogSink({});
        return;
    }
    setPriorityLogSink([s = std::move(s)](const std::string& line, LogPriority) { s(line); });
}

void setPriorityLogSink(PriorityLogSink s) {
    std::lock_guard lock(sinkMutex());
    sink() = std::move(s);
}

} // namespace kestro
