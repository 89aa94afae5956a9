#include "platform/linux/AtspiCalls.h"

#include "KestroBase/Text.h"

namespace kestro::platform::linux_x11 {

std::string takeString(gchar* text) {
    std::string out = text ? text::sanitizeUtf8(text) : std::string();
    g_free(text);
    return out;
}

const char* busName(AtspiAccessible* accessible) {
    AtspiObject* object = ATSPI_OBJECT(accessible);
    return object && object->app && object->app->bus_name ? object->app->bus_name : nullptr;
}

int AtspiGuard::processOf(AtspiAccessible* accessible) {
    const char* bus = busName(accessible);
    if (!bus) {
        return 0;
    }
    auto it = busProcesses_.find(bus);
    if (it != busProcesses_.end()) {
        return it->second;
    }
    // The bus daemon answers this, never the application.
    ErrorSlot error;
    const guint pid = atspi_accessible_get_process_id(accessible, &error);
    const int known = error.failed() ? 0 : static_cast<int>(pid);
    if (known) {
        busProcesses_.emplace(bus, known);
    }
    return known;
}

bool AtspiGuard::mayAsk(AtspiAccessible* accessible) {
    const char* bus = accessible ? busName(accessible) : nullptr;
    if (!bus) {
        return false;
    }
    const int pid = processOf(accessible);
    if (pid == 0 || pid == ownProcessID_) {
        return false;
    }
    auto it = unresponsiveUntil_.find(bus);
    if (it != unresponsiveUntil_.end()) {
        if (Clock::now() < it->second) {
            ++unanswered_; // left alone, so no answer is had
            return false;
        }
        unresponsiveUntil_.erase(it);
    }
    return true;
}

bool AtspiGuard::answered(AtspiAccessible* accessible, Clock::time_point start, bool failed) {
    // A call that ran into the time-out does not always say so: libatspi then hands back a
    // default value as if it had succeeded. Its answer is not trusted, and the application is
    // left alone for a while.
    const double waited = std::chrono::duration<double>(Clock::now() - start).count();
    if (waited >= 0.75 * timeoutMilliseconds_ / 1000.0) {
        if (const char* bus = busName(accessible)) {
            unresponsiveUntil_[bus] =
                Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>(unresponsiveSeconds_));
        }
        ++unanswered_;
        return false;
    }
    if (failed) {
        ++unanswered_;
    }
    return !failed;
}

bool AtspiGuard::leftAlone(const char* bus) const {
    auto it = unresponsiveUntil_.find(bus);
    return it != unresponsiveUntil_.end() && Clock::now() < it->second;
}

} // namespace kestro::platform::linux_x11
