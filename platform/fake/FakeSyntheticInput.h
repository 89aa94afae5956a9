#pragma once

#include "platform/SyntheticInput.h"

#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

namespace kestro::platform::fake {

// Keeps every posted event, in order. With `holdBack` set, it behaves as a platform still
// holding events back: whenPosted callbacks wait until `releaseHeld()` or a cancel. Each cancel
// is noted with the number of events posted before it.
class FakeSyntheticInput final : public SyntheticInput {
public:
    void post(const InputEvent& event) override {
        posted.push_back(event);
        if (onPost) {
            onPost(event);
        }
    }
    void whenPosted(std::function<void()> done) override {
        if (holdBack) {
            held_.push_back(std::move(done));
        } else {
            done();
        }
    }
    void releaseHeld() {
        holdBack = false;
        for (auto& done : std::exchange(held_, {})) {
            done();
        }
    }

    void cancelPending() override {
        cancels.push_back(posted.size());
        for (auto& done : std::exchange(held_, {})) {
            done();
        }
    }

    std::vector<InputEvent> posted;
    std::vector<std::size_t> cancels;
    std::function<void(const InputEvent&)> onPost;
    bool holdBack = false;

private:
    std::vector<std::function<void()>> held_;
};

} // namespace kestro::platform::fake
