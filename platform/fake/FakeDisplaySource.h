#pragma once

#include "platform/DisplaySource.h"

#include <algorithm>

namespace kestro::platform::fake {

// Displays and screens set by the test; each query can be made to fail.
class FakeDisplaySource final : public DisplaySource {
public:
    struct Display {
        std::uint32_t id = 0;
        Rect frame{};
        bool isMain = false;
    };

    std::vector<Display> displays;
    std::vector<Screen> screenList;
    bool failCount = false;
    bool failList = false;
    // Displays removed between the count and the list query.
    std::size_t vanishBeforeList = 0;

    std::optional<std::uint32_t> activeDisplayCount() override {
        if (failCount) {
            return std::nullopt;
        }
        return static_cast<std::uint32_t>(displays.size());
    }
    std::optional<std::vector<std::uint32_t>> activeDisplayList(std::uint32_t capacity) override {
        if (failList) {
            return std::nullopt;
        }
        displays.resize(displays.size() - std::min(vanishBeforeList, displays.size()));
        std::vector<std::uint32_t> ids;
        for (const auto& d : displays) {
            if (ids.size() < capacity) {
                ids.push_back(d.id);
            }
        }
        return ids;
    }
    Rect bounds(std::uint32_t displayId) override {
        const Display* d = find(displayId);
        return d ? d->frame : Rect{};
    }
    bool isMain(std::uint32_t displayId) override {
        const Display* d = find(displayId);
        return d && d->isMain;
    }
    std::vector<Screen> screens() override { return screenList; }

private:
    const Display* find(std::uint32_t id) const {
        for (const auto& d : displays) {
            if (d.id == id) {
                return &d;
            }
        }
        return nullptr;
    }
};

} // namespace kestro::platform::fake
