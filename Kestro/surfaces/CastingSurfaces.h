#pragma once

#include "Kestro/overlay/OverlayController.h"
#include "Kestro/pill/PillController.h"
#include "platform/SurfaceWindows.h"

#include <QObject>

#include <functional>
#include <memory>

namespace kestro {

// The frames round the screens and the pill, kept in their stacking order: the frames above
// everything, the pill above ordinary windows. Both follow the compositing manager. Main thread.
class CastingSurfaces final : public QObject {
    Q_OBJECT
public:
    // `surfaces` may be null (no window system to ask).
    explicit CastingSurfaces(platform::SurfaceWindows* surfaces, QObject* parent = nullptr);
    ~CastingSurfaces() override;

    OverlayController& overlay() { return overlay_; }
    // Made on first use, as the application asks for it.
    PillController& pill(std::function<bool()> hasPillTip,
                         std::function<void(PillView&)> viewBuilt);
    PillController* existingPill() const { return pill_.get(); }

    // Puts the pill and then the frames back on top.
    void restack();

private:
    platform::SurfaceWindows* surfaces_;
    OverlayController overlay_;
    std::unique_ptr<PillController> pill_;
};

} // namespace kestro
