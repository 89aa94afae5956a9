#pragma once

#include "platform/AppActivator.h"

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace kestro::platform::fake {

// Applications the test says are running; every request is kept, answered or not.
class FakeAppActivator final : public AppActivator {
public:
    bool activate(const std::string& bundleIdentifier) override {
        requests.push_back(bundleIdentifier);
        if (onActivate) {
            onActivate(bundleIdentifier);
        }
        return running.contains(bundleIdentifier);
    }

    std::set<std::string> running;
    std::vector<std::string> requests;
    std::function<void(const std::string&)> onActivate;
};

} // namespace kestro::platform::fake
