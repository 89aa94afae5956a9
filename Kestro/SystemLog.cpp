#include "Kestro/SystemLog.h"

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

LogSink& sink() {
    static LogSink s;
    return s;
}

} // namespace

void systemLog(std::string_view line) {
    std::string text(line);
    {
        std::lock_guard lock(sinkMutex());
        if (sink()) {
            sink()(text);
            return;
        }
    }
    syslog(LOG_NOTICE, "%s", text.c_str());
    if (isatty(STDERR_FILENO)) {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
}

void setLogSink(LogSink s) {
    std::lock_guard lock(sinkMutex());
    sink() = std::move(s);
}

} // namespace kestro
