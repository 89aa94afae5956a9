#pragma once

#include "platform/SyntheticInput.h"

#include <functional>
#include <vector>

namespace kestro::platform::fake {

// Keeps every posted event, in order.
class FakeSyntheticInput final : public SyntheticInput {
public:
    void post(const InputEvent& event) override {
        posted.push_back(event);
        if (onPost) {
            onPost(event);
        }
    }

    std::vector<InputEvent> posted;
    std::function<void(const InputEvent&)> onPost;
};

} // namespace kestro::platform::fake
