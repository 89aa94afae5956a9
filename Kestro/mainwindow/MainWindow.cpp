#include "Kestro/mainwindow/MainWindow.h"

#include "Kestro/app/AppState.h"
#include "Kestro/mainwindow/MainView.h"
#include "Kestro/mainwindow/MainViewModel.h"
#include "Kestro/ui/KeptWindow.h"

#include <QPointer>
#include <QPropertyAnimation>
#include <QVBoxLayout>

namespace kestro {

namespace {

// Closing only hides the window; it lives as long as its owner.
class MainWindowFrame final : public KeptWindow {
public:
    explicit MainWindowFrame(AppState& app) {
        setWindowTitle("Kestro");
        setMinimumSize(int(MainViewModel::minimumSize.width),
                       int(MainViewModel::minimumSize.height));
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(new MainView(app, this));
    }
};

} // namespace

MainWindow::~MainWindow() {
    delete window_;
}

void MainWindow::show(AppState& app) {
    if (QWidget* w = window_) {
        bringForward(w);
        return;
    }
    auto* w = new MainWindowFrame(app);
    const Size size = MainViewModel::contentSize(!app.skills().empty());
    w->resize(int(size.width), int(size.height));
    centreOnPrimaryScreen(w);
    window_ = w;
    bringForward(w);
}

void MainWindow::adapt(bool hasSkills) {
    QWidget* w = window_;
    if (!w) {
        return;
    }
    const QRect content = w->geometry();
    auto target = MainViewModel::adaptedFrame(
        Rect::make(content.x(), content.y(), content.width(), content.height()), hasSkills);
    if (!target) {
        return;
    }
    // geometry() is the content area; moving to its own top-left keeps that corner.
    const QRect end(int(target->origin.x), int(target->origin.y), int(target->size.width),
                    int(target->size.height));
    auto* animation = w->findChild<QPropertyAnimation*>(QStringLiteral("adapt"));
    if (!animation) {
        animation = new QPropertyAnimation(w, "geometry", w);
        animation->setObjectName(QStringLiteral("adapt"));
        animation->setDuration(adaptMs);
        animation->setEasingCurve(QEasingCurve::InOutQuad);
    }
    animation->stop();
    if (!w->isVisible()) {
        w->setGeometry(end);
        return;
    }
    animation->setStartValue(content);
    animation->setEndValue(end);
    animation->start();
}

} // namespace kestro
