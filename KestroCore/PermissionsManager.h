#pragma once

#include "KestroBase/Permission.h"
#include "platform/PermissionChecks.h"
#include "platform/URLOpener.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string_view>

namespace kestro {

// The observable holder of the three permission statuses. Observers are told before each
// change of `statuses`, and only when its content really changes. Main thread only.
class PermissionsManager {
public:
    // Removes its observer when destroyed.
    class Subscription {
    public:
        Subscription() = default;
        Subscription(Subscription&&) noexcept = default;
        Subscription& operator=(Subscription&& other) noexcept;
        ~Subscription();
        void cancel();

    private:
        friend class PermissionsManager;
        struct Observers;
        Subscription(std::weak_ptr<Observers> observers, std::uint64_t id)
            : observers_(std::move(observers)), id_(id) {}
        std::weak_ptr<Observers> observers_;
        std::uint64_t id_ = 0;
    };

    // Starts empty, then refreshes once.
    PermissionsManager(platform::PermissionChecks& checks, platform::URLOpener& opener);
    PermissionsManager(const PermissionsManager&) = delete;
    PermissionsManager& operator=(const PermissionsManager&) = delete;

    const std::map<Permission, PermissionStatus>& statuses() const { return statuses_; }
    [[nodiscard]] Subscription observeWillChange(std::function<void()> willChange);

    // Queries the three statuses and publishes them when they differ from the held ones.
    void refresh();
    // Every permission granted; a missing entry counts as not granted.
    bool allGranted() const;
    // The held status; notDetermined without an entry. Does not ask the platform.
    PermissionStatus status(Permission permission) const;

    PermissionStatus screenRecordingStatus() const;
    PermissionStatus accessibilityStatus() const;
    PermissionStatus inputMonitoringStatus() const;

    // Asks the platform for the permission, then always opens its settings pane. Does not
    // refresh.
    void request(Permission permission);
    void openSettings(Permission permission);

    // Whether the text is a well-formed URL that may be handed to the opener.
    static bool isWellFormedURL(std::string_view text);

private:
    platform::PermissionChecks& checks_;
    platform::URLOpener& opener_;
    std::map<Permission, PermissionStatus> statuses_;
    std::shared_ptr<Subscription::Observers> observers_;
};

} // namespace kestro
