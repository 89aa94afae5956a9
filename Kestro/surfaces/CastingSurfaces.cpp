#include "Kestro/surfaces/CastingSurfaces.h"

namespace kestro {

CastingSurfaces::CastingSurfaces(platform::SurfaceWindows* surfaces, QObject* parent)
    : QObject(parent), surfaces_(surfaces), overlay_(surfaces) {
    if (!surfaces_) {
        return;
    }
    // Both observers are taken back in the destructor.
    surfaces_->setCompositingObserver([this] {
        overlay_.compositingChanged();
        if (pill_) {
            pill_->compositingChanged();
        }
    });
    surfaces_->setRestackObserver([this] { restack(); });
}

CastingSurfaces::~CastingSurfaces() {
    if (surfaces_) {
        surfaces_->setCompositingObserver({});
        surfaces_->setRestackObserver({});
    }
}

PillController& CastingSurfaces::pill(std::function<bool()> hasPillTip,
                                      std::function<void(PillView&)> viewBuilt) {
    if (!pill_) {
        pill_ = std::make_unique<PillController>(surfaces_, std::move(hasPillTip),
                                                 std::move(viewBuilt));
    }
    return *pill_;
}

void CastingSurfaces::restack() {
    if (PillController* p = pill_.get()) {
        p->raise();
    }
    overlay_.raise();
}

} // namespace kestro
