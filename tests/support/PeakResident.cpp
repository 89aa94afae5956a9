#include "tests/support/PeakResident.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kestro::testing {

namespace {

long statusKiB(const char* field) {
    FILE* in = std::fopen("/proc/self/status", "r");
    char line[256];
    long value = -1;
    while (in && std::fgets(line, sizeof line, in)) {
        if (std::strncmp(line, field, std::strlen(field)) == 0) {
            value = std::atol(line + std::strlen(field));
        }
    }
    if (in) {
        std::fclose(in);
    }
    return value;
}

} // namespace

PeakGrowth peakGrowthOfReading(const std::function<std::string()>& make,
                               const std::function<void(std::string)>& read) {
    int fds[2];
    if (pipe(fds) != 0) {
        return {};
    }
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        std::string text = make();
        const double size = static_cast<double>(text.size());
        if (FILE* clear = std::fopen("/proc/self/clear_refs", "w")) {
            std::fputs("5", clear);
            std::fclose(clear);
        }
        const long base = statusKiB("VmRSS:");
        read(std::move(text));
        const double result[2] = {static_cast<double>(statusKiB("VmHWM:") - base) * 1024, size};
        (void)!::write(fds[1], result, sizeof result);
        _exit(0);
    }
    close(fds[1]);
    double result[2] = {-1, 0};
    (void)!::read(fds[0], result, sizeof result);
    close(fds[0]);
    waitpid(child, nullptr, 0);
    return PeakGrowth{.bytes = result[0], .textBytes = static_cast<std::size_t>(result[1])};
}

} // namespace kestro::testing
