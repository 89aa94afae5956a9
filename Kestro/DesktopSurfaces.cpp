#include "Kestro/DesktopSurfaces.h"

#include "Kestro/AppState.h"
#include "Kestro/PaletteWindow.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestro {

namespace {

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

QLabel* plainLabel(const QString& s, QWidget* parent) {
    auto* label = new QLabel(s, parent);
    // Names come from model output: never read them as markup.
    label->setTextFormat(Qt::PlainText);
    return label;
}

// A plain onboarding: each permission with its status and a button that asks for it.
class PlainOnboarding final : public QWidget {
public:
    explicit PlainOnboarding(PermissionsManager& permissions) : permissions_(permissions) {
        setAttribute(Qt::WA_DeleteOnClose);
        setWindowTitle(QStringLiteral("Kestro setup"));
        auto* layout = new QVBoxLayout(this);
        const std::pair<Permission, const char*> rows[] = {
            {Permission::screenRecording, "Give access to screen recording"},
            {Permission::accessibility, "Give access to accessibility"},
            {Permission::inputMonitoring, "Give access to input monitoring"}};
        for (const auto& [permission, title] : rows) {
            auto* button = new QPushButton(QString::fromUtf8(title), this);
            connect(button, &QPushButton::clicked, this, [this, permission = permission] {
                permissions_.request(permission);
                permissions_.refresh();
            });
            layout->addWidget(button);
        }
        auto* done = new QPushButton(QStringLiteral("Done"), this);
        connect(done, &QPushButton::clicked, this, &QWidget::close);
        layout->addWidget(done);
        resize(520, 300);
    }

private:
    PermissionsManager& permissions_;
};

void bringForward(QWidget* window) {
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

PlainMainWindow::PlainMainWindow(AppState& app) : app_(app) {
    setWindowTitle(QStringLiteral("Kestro"));
    auto* layout = new QVBoxLayout(this);
    status_ = plainLabel({}, this);
    record_ = new QPushButton(this);
    skills_ = new QListWidget(this);
    layout->addWidget(status_);
    layout->addWidget(record_);
    layout->addWidget(skills_);
    connect(record_, &QPushButton::clicked, this, [this] { app_.toggleRecording(); });
    connect(skills_, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        const int row = skills_->row(item);
        if (row >= 0 && static_cast<std::size_t>(row) < app_.skills().size()) {
            app_.cast(app_.skills()[static_cast<std::size_t>(row)]);
        }
    });
    connect(&app_, &AppState::changed, this, &PlainMainWindow::refresh);
    refresh();
}

void PlainMainWindow::refresh() {
    status_->setText(app_.statusTitle());
    switch (app_.state().kind) {
    case KestroState::Kind::recording:
        record_->setText(QStringLiteral("Stop recording"));
        record_->setEnabled(true);
        break;
    case KestroState::Kind::idle:
        record_->setText(QString::fromUtf8("Record  (\u2303\u2303)"));
        record_->setEnabled(true);
        break;
    default:
        record_->setText(QString::fromUtf8("Working\u2026"));
        record_->setEnabled(false);
    }
    skills_->clear();
    for (const Skill& skill : app_.skills()) {
        skills_->addItem(text(skill.slashCommand()) + "  " + text(skill.name));
    }
}

DesktopSurfaces::~DesktopSurfaces() {
    delete onboarding_;
    delete mainWindow_;
}

void DesktopSurfaces::showOverlay(OverlayStyle) {}
void DesktopSurfaces::hideOverlay() {}
void DesktopSurfaces::showPill(AppState&) {}
void DesktopSurfaces::setPillHidden(bool) {}

void DesktopSurfaces::showPalette(AppState& app, std::function<void()> onClosed) {
    if (!paletteFollowsSkills_) {
        // An open palette shows the list as it changes.
        QObject::connect(&app, &AppState::skillsChanged, &app,
                         [] { PaletteWindow::reloadSkills(); });
        paletteFollowsSkills_ = true;
    }
    PaletteWindow::show(
        PaletteWindow::Host{
            .skills = [&app] { return app.skills(); },
            .toggleRecording = [&app] { app.toggleRecording(); },
            .cast =
                [&app](const Skill& skill, const std::map<std::string, std::string>& values) {
                    app.cast(skill, values);
                }},
        std::move(onClosed));
}

void DesktopSurfaces::showMainWindow(AppState& app) {
    if (!mainWindow_) {
        mainWindow_ = new PlainMainWindow(app);
        mainWindow_->setMinimumSize(420, 300);
        adaptMainWindow(hasSkills_);
    }
    bringForward(mainWindow_);
}

void DesktopSurfaces::adaptMainWindow(bool hasSkills) {
    hasSkills_ = hasSkills;
    if (mainWindow_) {
        mainWindow_->resize(hasSkills ? QSize(820, 600) : QSize(720, 520));
    }
}

void DesktopSurfaces::showOnboarding(PermissionsManager& permissions) {
    if (!onboarding_) {
        onboarding_ = new PlainOnboarding(permissions);
    }
    bringForward(onboarding_);
}

} // namespace kestro
