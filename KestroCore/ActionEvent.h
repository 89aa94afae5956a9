#pragma once

#include "KestroBase/Geometry.h"
#include "KestroBase/Uuid.h"
#include "KestroCore/AXTarget.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestro {

enum class ActionType {
    click,
    rightClick,
    doubleClick,
    drag,
    keystroke,
    scroll,
    appSwitch,
    windowFocus,
    wait,
};

inline constexpr std::array<ActionType, 9> allActionTypes = {
    ActionType::click,     ActionType::rightClick,  ActionType::doubleClick,
    ActionType::drag,      ActionType::keystroke,   ActionType::scroll,
    ActionType::appSwitch, ActionType::windowFocus, ActionType::wait};

std::string_view rawValue(ActionType type);
std::optional<ActionType> actionTypeFromRawValue(std::string_view raw);

// One recorded interaction; identified by its id, with no equality of its own.
struct ActionEvent {
    Uuid id = Uuid::random();
    double timeOffset = 0;
    ActionType type = ActionType::click;
    std::optional<Point> location;
    std::optional<Point> endLocation;
    std::optional<Size> scrollDelta;
    std::optional<AXTarget> target;
    std::optional<std::string> typedText;
    std::optional<std::uint16_t> keyCode;
    std::optional<std::uint64_t> modifierFlags;
    std::optional<std::int64_t> frameIndex;
};

} // namespace kestro
