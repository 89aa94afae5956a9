#pragma once

#include "Kestro/app/SkillListData.h"
#include "KestroCore/Skill.h"
#include "platform/SurfaceWindows.h"

#include <QPointer>
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
// at once on Escape or when it loses the keyboard. The panel's native window is made once and
// withdrawn between openings; each opening gets a new view in it, so it opens as a fresh one.
// Main thread only.
class PaletteWindow {
public:
    static constexpr int panelWidth = 540;
    static constexpr int panelHeight = 460;
    static constexpr int aboveMiddle = 44;

    // What the palette needs of the application object.
    struct Host {
        std::function<std::vector<Skill>()> skills;
        // What is derived from the skills once per load; when given, `skills` is not asked.
        std::function<std::shared_ptr<const SkillListData>()> skillData;
        std::function<void()> toggleRecording;
        std::function<void(const Skill&, const std::map<std::string, std::string>&)> cast;
    };

    // `desktop` tells whether a compositing manager runs, activates the panel and puts it on
    // every desktop; without it (null) the panel is always shaped and activated by the toolkit
    // alone. It must outlive this object.
    explicit PaletteWindow(platform::SurfaceWindows* desktop = nullptr);
    // An open palette goes without its close callback: its owner is going away.
    ~PaletteWindow();
    PaletteWindow(const PaletteWindow&) = delete;
    PaletteWindow& operator=(const PaletteWindow&) = delete;

    // Opens a new palette, closing an open one first (its callback runs). `onClosed` runs exactly
    // once, when this palette closes. `userTime` is the display server's time of the key press or
    // click that asked for it (0 when unknown).
    void show(Host host, std::function<void()> onClosed, std::uint32_t userTime = 0);

    // Closes the open palette, if any, and runs its close callback once.
    void close();

    bool isOpen() const;

    // The host's skill list changed: the open palette shows the new one.
    void reloadSkills();

    // The open panel and its view; null when closed (the panel itself is kept, withdrawn).
    QWidget* panel() const;
    PaletteView* view() const;

    // Where the panel goes on a screen whose available area (top-left origin) is `available`.
    static QPoint placement(const QRect& available);

private:
    void updateShape();
    void closeOpening(std::uint64_t generation);
    QWidget* keptPanel();
    void focusWindowChanged();
    void keyboardChanged(std::uint64_t generation, bool has);

    platform::SurfaceWindows* desktop_ = nullptr;
    QPointer<QWidget> panel_;
    bool open_ = false;
    // The panel has had the keyboard during this opening.
    bool hadFocus_ = false;
    // Where the keyboard is comes from the window system (`desktop_`), for this native window;
    // when it is 0, from the toolkit's focus window.
    platform::SurfaceWindows::WindowID watchedWindow_ = 0;
    bool keyboardWatched() const { return watchedWindow_ != 0; }
    QPointer<PaletteView> view_;
    std::function<void()> onClosed_;
    Host host_;
    std::uint64_t generation_ = 0;
    // What the panel's callbacks reach this object through: they may outlive it.
    std::shared_ptr<PaletteWindow*> self_;
};

} // namespace kestro
