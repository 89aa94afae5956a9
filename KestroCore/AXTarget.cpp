#include "KestroCore/AXTarget.h"

namespace kestro {

std::string AXTarget::humanLabel() const {
    // Presence decides, not emptiness: an empty title still names the element.
    std::string label = axTitle ? *axTitle : axValue ? *axValue : axRole ? *axRole : "element";
    if (appName) {
        label += " in " + *appName;
    }
    return label;
}

} // namespace kestro

std::size_t std::hash<kestro::AXTarget>::operator()(const kestro::AXTarget& t) const noexcept {
    auto text = [](const std::optional<std::string>& s) {
        return s ? std::hash<std::string>{}(*s) : std::size_t{0x51ed};
    };
    std::size_t seed = text(t.appBundleID);
    for (const auto* field : {&t.appName, &t.windowTitle, &t.axRole, &t.axSubrole, &t.axTitle,
                              &t.axValue, &t.axIdentifier}) {
        kestro::hashCombine(seed, text(*field));
    }
    kestro::hashCombine(seed, t.frameInWindow ? std::hash<kestro::Rect>{}(*t.frameInWindow) : 7);
    kestro::hashCombine(seed, std::hash<bool>{}(t.isSecure));
    return seed;
}
