#include "Kestro/surfaces/DesktopSurfaces.h"

#include "Kestro/app/AppState.h"
#include "Kestro/ui/Brand.h"

namespace kestro {

DesktopSurfaces::~DesktopSurfaces() = default;

DesktopSurfaces::DesktopSurfaces(platform::SurfaceWindows* windows)
    : casting_(std::make_unique<CastingSurfaces>(windows)), palette_(windows) {}

void DesktopSurfaces::showOverlay(OverlayStyle style) {
    casting_->overlay().show(style == OverlayStyle::casting);
}

void DesktopSurfaces::hideOverlay() {
    casting_->overlay().hide();
}

void DesktopSurfaces::afterOverlayShown(std::function<void()> then) {
    casting_->overlay().whenShown(std::move(then));
}

namespace {

// What the pill draws, from the application's published values.
PillInputs pillInputs(const AppState& app) {
    PillInputs in;
    switch (app.state().kind) {
    case KestroState::Kind::idle:
        in.state = PillInputs::State::idle;
        break;
    case KestroState::Kind::recording:
        in.state = PillInputs::State::recording;
        break;
    case KestroState::Kind::synthesizing:
        in.state = PillInputs::State::synthesizing;
        break;
    case KestroState::Kind::casting:
        in.state = PillInputs::State::casting;
        break;
    }
    switch (app.creationStatus().kind) {
    case SkillCreationStatus::Kind::idle:
        in.status = PillInputs::Status::idle;
        break;
    case SkillCreationStatus::Kind::creating:
        in.status = PillInputs::Status::creating;
        break;
    case SkillCreationStatus::Kind::success:
        in.status = PillInputs::Status::success;
        in.successName = app.creationStatus().name;
        break;
    case SkillCreationStatus::Kind::failure:
        in.status = PillInputs::Status::failure;
        break;
    }
    in.skillsEmpty = app.skills().empty();
    in.showCallSkillTip = app.showCallSkillTip();
    in.tipsDismissed = app.tipsDismissed();
    return in;
}

} // namespace

void DesktopSurfaces::showPill(AppState& app) {
    QPointer<AppState> weak(&app);
    PillController& pill =
        casting_->pill([weak] { return weak && weak->hasPillTip(); },
                       [weak, &app](PillView& view) {
                           // Made inside show() below, while `app` is alive.
                           view.setActions({
                               [weak] {
                                   if (weak) {
                                       weak->toggleRecording();
                                   }
                               },
                               [weak] {
                                   if (weak) {
                                       weak->showMainWindow();
                                   }
                               },
                               [weak] {
                                   if (weak) {
                                       weak->dismissTips();
                                   }
                               },
                           });
                           if (const std::optional<QImage>& mark = Brand::mark()) {
                               view.setMark(*mark);
                           }
                           view.setInputs(pillInputs(app));
                           // Both ends are context objects: the connection goes with either of
                           // them.
                           QObject::connect(&app, &AppState::changed, &view,
                                            [&app, &view] { view.setInputs(pillInputs(app)); });
                       });
    pill.show();
}

void DesktopSurfaces::setPillHidden(bool hidden) {
    if (PillController* pill = casting_->existingPill()) {
        pill->setHidden(hidden);
    }
}

void DesktopSurfaces::showPalette(AppState& app, std::function<void()> onClosed) {
    if (!paletteFollowsSkills_) {
        // An open palette shows the list as it changes (while both ends live).
        QObject::connect(&app, &AppState::skillDataChanged, casting_.get(),
                         [this] { palette_.reloadSkills(); });
        paletteFollowsSkills_ = true;
    }
    palette_.show(PaletteWindow::Host{.skillData = [&app] { return app.skillData(); },
                                      .toggleRecording = [&app] { app.toggleRecording(); },
                                      .cast =
                                          [&app](const Skill& skill,
                                                 const std::map<std::string, std::string>& values) {
                                              app.cast(skill, values);
                                          }},
                  // From the hotkey, the key press's server time lets the window manager hand the
                  // palette the keyboard; otherwise 0, and the current time is used.
                  std::move(onClosed), app.hotkeyEventTimestamp());
}

void DesktopSurfaces::showMainWindow(AppState& app) {
    mainWindow_.show(app);
}

void DesktopSurfaces::adaptMainWindow(bool hasSkills) {
    mainWindow_.adapt(hasSkills);
}

void DesktopSurfaces::showOnboarding(PermissionsManager& permissions) {
    onboarding_.show(permissions);
}

} // namespace kestro
