#include "KestroCore/PermissionsManager.h"

#include <vector>

namespace {
bool isAsciiLetter(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isAsciiDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}
} // namespace

namespace kestro {

struct PermissionsManager::Subscription::Observers {
    std::uint64_t nextId = 1;
    std::vector<std::pair<std::uint64_t, std::function<void()>>> list;
};

PermissionsManager::Subscription::~Subscription() {
    cancel();
}

PermissionsManager::Subscription&
PermissionsManager::Subscription::operator=(Subscription&& other) noexcept {
    if (this != &other) {
        cancel();
        observers_ = std::move(other.observers_);
        id_ = other.id_;
        other.observers_.reset();
    }
    return *this;
}

void PermissionsManager::Subscription::cancel() {
    if (auto observers = observers_.lock()) {
        std::erase_if(observers->list, [&](const auto& entry) { return entry.first == id_; });
    }
    observers_.reset();
}

PermissionsManager::PermissionsManager(platform::PermissionChecks& checks,
                                       platform::URLOpener& opener)
    : checks_(checks), opener_(opener), observers_(std::make_shared<Subscription::Observers>()) {
    refresh();
}

PermissionsManager::Subscription
PermissionsManager::observeWillChange(std::function<void()> willChange) {
    const std::uint64_t id = observers_->nextId++;
    observers_->list.emplace_back(id, std::move(willChange));
    return Subscription(observers_, id);
}

void PermissionsManager::refresh() {
    std::map<Permission, PermissionStatus> fresh;
    fresh[Permission::screenRecording] = screenRecordingStatus();
    fresh[Permission::accessibility] = accessibilityStatus();
    fresh[Permission::inputMonitoring] = inputMonitoringStatus();
    if (fresh == statuses_) {
        return;
    }
    // Copied: an observer may subscribe or cancel while being told.
    auto observers = observers_->list;
    for (const auto& [id, willChange] : observers) {
        if (willChange) {
            willChange();
        }
    }
    statuses_ = std::move(fresh);
}

bool PermissionsManager::allGranted() const {
    for (Permission p : allPermissions) {
        auto it = statuses_.find(p);
        if (it == statuses_.end() || it->second != PermissionStatus::granted) {
            return false;
        }
    }
    return true;
}

PermissionStatus PermissionsManager::status(Permission permission) const {
    auto it = statuses_.find(permission);
    return it == statuses_.end() ? PermissionStatus::notDetermined : it->second;
}

PermissionStatus PermissionsManager::screenRecordingStatus() const {
    return checks_.preflightScreenCaptureAccess() ? PermissionStatus::granted
                                                  : PermissionStatus::denied;
}

PermissionStatus PermissionsManager::accessibilityStatus() const {
    return checks_.isProcessTrusted() ? PermissionStatus::granted : PermissionStatus::denied;
}

PermissionStatus PermissionsManager::inputMonitoringStatus() const {
    switch (checks_.checkListenEventAccess()) {
    case platform::PermissionChecks::accessGranted:
        return PermissionStatus::granted;
    case platform::PermissionChecks::accessDenied:
        return PermissionStatus::denied;
    default:
        return PermissionStatus::notDetermined;
    }
}

void PermissionsManager::request(Permission permission) {
    switch (permission) {
    case Permission::screenRecording:
        checks_.requestScreenCaptureAccess();
        break;
    case Permission::accessibility:
        checks_.isProcessTrustedWithPrompt(true);
        break;
    case Permission::inputMonitoring:
        checks_.requestListenEventAccess();
        break;
    }
    openSettings(permission);
}

void PermissionsManager::openSettings(Permission permission) {
    const std::string url = settingsURL(permission);
    if (isWellFormedURL(url)) {
        opener_.open(url);
    }
}

bool PermissionsManager::isWellFormedURL(std::string_view text) {
    // Printable ASCII without the characters a URL must escape, and percent escapes of two hex
    // digits. A scheme, when present, starts with a letter.
    if (text.empty()) {
        return false;
    }
    auto isHex = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c <= ' ' || c >= 0x7F) {
            return false;
        }
        switch (c) {
        case '"':
        case '<':
        case '>':
        case '\\':
        case '^':
        case '`':
        case '{':
        case '|':
        case '}':
            return false;
        case '%':
            if (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2])) {
                return false;
            }
            break;
        default:
            break;
        }
    }
    const auto colon = text.find(':');
    const auto slash = text.find('/');
    if (colon != std::string_view::npos && (slash == std::string_view::npos || colon < slash)) {
        if (colon == 0 || !isAsciiLetter(static_cast<unsigned char>(text[0]))) {
            return false;
        }
        for (std::size_t i = 1; i < colon; ++i) {
            const auto c = static_cast<unsigned char>(text[i]);
            if (!isAsciiLetter(c) && !isAsciiDigit(c) && c != '+' && c != '-' && c != '.') {
                return false;
            }
        }
    }
    return true;
}

} // namespace kestro
