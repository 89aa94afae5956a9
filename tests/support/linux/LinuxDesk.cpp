#include "tests/support/linux/LinuxDesk.h"

#include <vector>

namespace kestro::testing {

namespace ax = platform::ax;

LinuxDesk::LinuxDesk() : recorder(Recorder::Platform::of(services.services())) {}

LinuxDesk::~LinuxDesk() = default;

std::optional<Recording> LinuxDesk::stopRecording(double timeoutSeconds) {
    bool done = false;
    std::optional<Recording> result;
    recorder.stop([&](std::optional<Recording> r) {
        result = std::move(r);
        done = true;
    });
    queue.runUntil([&] { return done; }, timeoutSeconds);
    return result;
}

bool LinuxDesk::awaitApplication(int processID, double timeoutSeconds) {
    return queue.runUntil([&] { return accessibility.application(processID) != nullptr; },
                          timeoutSeconds);
}

std::optional<Rect> LinuxDesk::findFrame(int processID, const Match& match) {
    auto text = [&](const platform::AXElementRef& e,
                    std::string_view attribute) -> std::optional<std::string> {
        auto v = accessibility.copyAttributeValue(e, attribute);
        if (v && std::holds_alternative<std::string>(*v)) {
            return std::get<std::string>(*v);
        }
        return std::nullopt;
    };
    std::vector<platform::AXElementRef> pending{accessibility.application(processID)};
    while (!pending.empty()) {
        platform::AXElementRef e = pending.back();
        pending.pop_back();
        if (!e) {
            continue;
        }
        if (match(text(e, ax::role), text(e, ax::subrole), text(e, ax::title))) {
            auto p = accessibility.copyAttributeValue(e, ax::position);
            auto s = accessibility.copyAttributeValue(e, ax::size);
            if (p && s && std::holds_alternative<Point>(*p) && std::holds_alternative<Size>(*s)) {
                return Rect{std::get<Point>(*p), std::get<Size>(*s)};
            }
        }
        if (auto v = accessibility.copyAttributeValue(e, ax::children);
            v && std::holds_alternative<std::vector<platform::AXElementRef>>(*v)) {
            for (auto& child : std::get<std::vector<platform::AXElementRef>>(*v)) {
                pending.push_back(child);
            }
        }
    }
    return std::nullopt;
}

} // namespace kestro::testing
