#pragma once

#include "Kestro/pill/PillModel.h"
#include "Kestro/pill/PillView.h"
#include "platform/SurfaceWindows.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPoint>
#include <QTimer>

#include <functional>
#include <memory>

namespace kestro {

// Owns the pill panel: makes it once at the right edge of the main screen, hides it around the
// palette, and 25 times a second decides from the mouse whether the pill is open and whether
// the panel takes clicks or lets them through. Main thread.
class PillController final : public QObject {
    Q_OBJECT
public:
    static constexpr int width = 320;
    static constexpr int height = 140;

    // `hasPillTip` tells whether a tip is shown beside the pill; `viewBuilt` wires the view
    // when it is made. `surfaces` may be null.
    PillController(platform::SurfaceWindows* surfaces, std::function<bool()> hasPillTip,
                   std::function<void(PillView&)> viewBuilt = {}, QObject* parent = nullptr);
    ~PillController() override;

    // Makes, places and shows the panel and starts the poll, once.
    void show();
    // Hides the panel for the palette, or brings it back at the main screen's right edge; the
    // open state is kept either way.
    void setHidden(bool hidden);

    PillModel& model() { return model_; }
    PillView* view() const { return view_.get(); }
    bool acceptsMouse() const { return acceptsMouse_; }

    // A poll now, when the last one is at least this old, if the main thread is awake anyway;
    // the next tick then comes a full interval later, so polls are never further apart.
    static constexpr int earlyPollMs = 20;
    void pollEarly();

    // One hover decision; `mouse` stands in for the pointer when given (tests and measuring).
    void poll();
    void pollAt(QPoint mouse);
    // Puts the panel back above ordinary windows after another window came up above it.
    void raise();
    // Follows a compositing manager that started or stopped.
    void compositingChanged();

private:
    void reposition();
    void setAcceptsMouse(bool accepts);

    platform::SurfaceWindows* surfaces_;
    std::function<bool()> hasPillTip_;
    std::function<void(PillView&)> viewBuilt_;
    PillModel model_;
    std::unique_ptr<PillView> view_;
    QTimer pollTimer_;
    QElapsedTimer sincePoll_;
    int wakeListener_ = 0;
    bool acceptsMouse_ = false;
    QPoint pointer_;
    bool pointerKnown_ = false;
};

} // namespace kestro
