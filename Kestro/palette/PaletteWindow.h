#pragma once

#include "Kestro/app/SkillListData.h"
#include "KestroCore/Skill.h"

#include <QWidget>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kestro {

class PaletteView;

// The one window of the command palette: a borderless, transparent panel on top of other
// windows and on every desktop, against the right edge of the primary screen's available area
// with its top 44 px above that area's middle. It takes the keyboard when it opens and closes
// at once on Escape or when it loses the keyboard. A new panel is built for every opening; at
// most one exists. Main thread only.
namespace PaletteWindow {

inline constexpr int panelWidth = 540;
inline constexpr int panelHeight = 460;
inline constexpr int aboveMiddle = 44;

// What the palette needs of the application object.
struct Host {
    std::function<std::vector<Skill>()> skills;
    // What is derived from the skills once per load; when given, `skills` is not asked.
    std::function<std::shared_ptr<const SkillListData>()> skillData;
    std::function<void()> toggleRecording;
    std::function<void(const Skill&, const std::map<std::string, std::string>&)> cast;
};

// What only the desktop can tell or do (set once by the program; tests on a desktop set it
// too). Without it the panel is always shaped and activated by the toolkit alone.
struct Desktop {
    std::function<bool()> compositing;
    // Activate `window` as the answer to the user action at server time `time` (0: now).
    std::function<void(WId window, std::uint32_t time)> activate;
    std::function<void(WId window)> showOnAllDesktops;
};
void setDesktop(Desktop desktop);

// Opens a new palette, closing an open one first (its callback runs). `onClosed` runs exactly
// once, when this palette closes. `userTime` is the display server's time of the key press or
// click that asked for it (0 when unknown).
void show(Host host, std::function<void()> onClosed, std::uint32_t userTime = 0);

// Closes the open palette, if any, and runs its close callback once.
void close();

bool isOpen();

// The host's skill list changed: the open palette shows the new one.
void reloadSkills();

// The open panel and its view, for tests; null when closed.
QWidget* panel();
PaletteView* view();

// Where the panel goes on a screen whose available area (top-left origin) is `available`.
QPoint placement(const QRect& available);

} // namespace PaletteWindow

} // namespace kestro
