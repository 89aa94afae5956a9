#include "KestroCore/ActionEvent.h"

namespace kestro {

namespace {
constexpr std::array<std::string_view, 9> kActionNames = {"click",     "rightClick",  "doubleClick",
                                                          "drag",      "keystroke",   "scroll",
                                                          "appSwitch", "windowFocus", "wait"};
}

std::string_view rawValue(ActionType type) {
    return kActionNames[static_cast<std::size_t>(type)];
}

std::optional<ActionType> actionTypeFromRawValue(std::string_view raw) {
    for (std::size_t i = 0; i < kActionNames.size(); ++i) {
        if (kActionNames[i] == raw) {
            return allActionTypes[i];
        }
    }
    return std::nullopt;
}

} // namespace kestro
