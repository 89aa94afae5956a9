#pragma once

// Steps the scenarios share beyond the harness: finding Kestro's controls in its accessibility
// tree and pressing them as a person would, with the pointer.

#include "tests/support/e2e/EndToEndTest.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kestro::testing::e2e::steps {

// A stored skill scoped to Linear, with one step.
inline Skill linearSkill(std::string name, std::string trigger, std::string summary,
                         std::string intent) {
    Skill skill;
    skill.name = std::move(name);
    skill.trigger = std::move(trigger);
    skill.summary = std::move(summary);
    skill.appScope = {"com.linear"};
    PlanStep step;
    step.index = 0;
    step.intent = std::move(intent);
    skill.plan.push_back(step);
    return skill;
}

inline bool isButton(const AccessibleNode& node) {
    return node.role.find("button") != std::string::npos;
}

// The first showing element named `name` (with a role containing `role`, when given).
inline std::optional<AccessibleNode> findShowing(long pid, const std::string& name,
                                                 const std::string& role = {}) {
    for (const AccessibleNode& node : accessibleTree(pid)) {
        if (node.showing && node.name == name && node.width > 0 &&
            (role.empty() || node.role.find(role) != std::string::npos)) {
            return node;
        }
    }
    return std::nullopt;
}

inline std::optional<AccessibleNode> waitForShowing(long pid, const std::string& name,
                                                    double seconds, const std::string& role = {}) {
    std::optional<AccessibleNode> found;
    waitFor([&] { return (found = findShowing(pid, name, role)).has_value(); }, seconds);
    return found;
}

inline void clickCentre(XDesk& x, const AccessibleNode& node) {
    x.click(node.x + node.width / 2, node.y + node.height / 2);
}

// A skill row's three small controls, found beside its slash command.
struct RowControls {
    AccessibleNode edit, play, menu;
};

inline std::optional<RowControls> rowControls(long pid, const std::string& slashCommand) {
    const auto tree = accessibleTree(pid);
    const auto label = std::find_if(tree.begin(), tree.end(), [&](const AccessibleNode& n) {
        return n.showing && n.name == slashCommand && n.width > 0;
    });
    if (label == tree.end()) {
        return std::nullopt;
    }
    // The row holds the command over the name; its buttons stand centred on that pair, to the
    // right.
    const int top = label->y - 12;
    const int bottom = label->y + 2 * label->height + 12;
    std::vector<AccessibleNode> buttons;
    for (const AccessibleNode& n : tree) {
        const int centre = n.y + n.height / 2;
        if (n.showing && isButton(n) && n.width <= 30 && n.height <= 30 && n.x > label->x &&
            centre > top && centre < bottom) {
            buttons.push_back(n);
        }
    }
    if (buttons.size() < 3) {
        return std::nullopt;
    }
    std::sort(buttons.begin(), buttons.end(),
              [](const AccessibleNode& a, const AccessibleNode& b) { return a.x < b.x; });
    const std::size_t n = buttons.size();
    return RowControls{buttons[n - 3], buttons[n - 2], buttons[n - 1]};
}

inline std::optional<RowControls> waitForRow(long pid, const std::string& slashCommand,
                                             double seconds) {
    std::optional<RowControls> found;
    waitFor([&] { return (found = rowControls(pid, slashCommand)).has_value(); }, seconds);
    return found;
}

// The window titled `title` of `pid` once it has stopped moving: the window manager and the
// toolkit may place a new window after it is mapped, and a click aimed at where it was lands on
// the desktop.
inline std::optional<XWindow> waitForPlaced(XDesk& x, const std::string& title, long pid,
                                            double seconds) {
    std::optional<XWindow> last;
    std::optional<XWindow> placed;
    waitFor(
        [&] {
            auto now = x.findOne(title, pid);
            if (now && now->viewable && last && now->x == last->x && now->y == last->y &&
                now->width == last->width && now->height == last->height) {
                placed = now;
                return true;
            }
            last = now;
            return false;
        },
        seconds, 100);
    return placed;
}

// Opens the tray icon's menu and moves onto it with `key` until `shown` holds for what `watch`
// sees; a click can land before the icon is ready, so it tries three times.
inline bool openTrayMenu(XDesk& x, const XWindow& icon, MenuWatch& watch, const char* key,
                         const std::function<bool(MenuWatch&)>& shown) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        x.click(icon.centreX(), icon.centreY(), 3);
        settle(300);
        x.tap(key);
        if (waitFor([&] { return shown(watch); }, 10)) {
            return true;
        }
    }
    return false;
}

} // namespace kestro::testing::e2e::steps
