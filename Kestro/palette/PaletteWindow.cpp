#include "Kestro/palette/PaletteWindow.h"

#include "Kestro/palette/PaletteView.h"

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QScreen>
#include <QWindow>

namespace kestro {

namespace {

// Back within the toolkit's focus-out delay, the toolkit still names the panel as focused, so
// the keyboard's return activates nothing: the widgets are activated here, so that the query
// can take the focus. True when the toolkit names the panel as focused.
bool activateIfToolkitFocused(QWidget* panel) {
    if (QGuiApplication::focusWindow() != panel->windowHandle()) {
        return false;
    }
    if (QApplication::activeWindow() != panel) {
        QT_WARNING_PUSH
        QT_WARNING_DISABLE_DEPRECATED
        QApplication::setActiveWindow(panel);
        QT_WARNING_POP
    }
    return true;
}

// The application's icon at one small size. Each new window hands its icon to the window
// system, and the window manager reads it back before it maps the window: every size of the
// application icon, a megabyte at the largest, is most of a palette's wait for the screen.
QIcon smallIcon() {
    static const QIcon icon = [] {
        const QIcon whole = QGuiApplication::windowIcon();
        return whole.isNull() ? QIcon() : QIcon(whole.pixmap(QSize(32, 32)));
    }();
    return icon;
}

// The panel: a tool window the window manager still manages, so that it can take the keyboard.
class PalettePanel final : public QWidget {
public:
    PalettePanel(std::function<void()> onEscape, std::function<void()> onDeactivate,
                 std::function<QWidget*()> field)
        : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
          onEscape_(std::move(onEscape)), onDeactivate_(std::move(onDeactivate)),
          field_(std::move(field)) {
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_ShowWithoutActivating, false);
        setFixedSize(PaletteWindow::panelWidth, PaletteWindow::panelHeight);
        setWindowTitle(QStringLiteral("Kestro"));
        setWindowIcon(smallIcon());
    }

protected:
    bool event(QEvent* e) override {
        const bool handled = QWidget::event(e);
        if (e->type() == QEvent::WindowDeactivate && onDeactivate_) {
            onDeactivate_();
        }
        return handled;
    }
    void keyPressEvent(QKeyEvent* e) override {
        if (e->key() == Qt::Key_Escape && onEscape_) {
            onEscape_();
            return;
        }
        // Typed before the query field took the focus: the field gets it, in order.
        if (QWidget* field = field_ ? field_() : nullptr; field && !field->hasFocus()) {
            field->setFocus(Qt::OtherFocusReason);
            QCoreApplication::sendEvent(field, e);
            return;
        }
        QWidget::keyPressEvent(e);
    }

private:
    std::function<void()> onEscape_;
    std::function<void()> onDeactivate_;
    std::function<QWidget*()> field_;
};

} // namespace

PaletteWindow::PaletteWindow(platform::SurfaceWindows* desktop)
    : desktop_(desktop), self_(std::make_shared<PaletteWindow*>(this)) {}

PaletteWindow::~PaletteWindow() {
    self_.reset();
    onClosed_ = nullptr;
    if (desktop_ && watchedWindow_ != 0) {
        desktop_->watchKeyboard(watchedWindow_, {});
    }
    // At once: nothing may reach the panel after its owner.
    delete panel_.data();
}

// Made at the first opening and kept: a new native window costs most of an opening's wait for
// the screen (the window manager reads its properties and icon before it maps it).
QWidget* PaletteWindow::keptPanel() {
    if (panel_) {
        return panel_;
    }
    const std::weak_ptr<PaletteWindow*> weak = self_;
    auto* panel = new PalettePanel(
        [weak] {
            if (auto self = weak.lock(); self && (*self)->open_) {
                (*self)->close();
            }
        },
        [weak] {
            // Watched in the window system, the toolkit's deactivation is not trusted: it may
            // be the late end of the previous opening's focus.
            if (auto self = weak.lock(); self && (*self)->open_ && !(*self)->keyboardWatched()) {
                (*self)->close();
            }
        },
        [weak] {
            auto self = weak.lock();
            PaletteView* v = self ? (*self)->view() : nullptr;
            return v ? static_cast<QWidget*>(v->queryField()) : nullptr;
        });
    // The toolkit's deactivation misses a panel reopened within its focus-out delay (its own
    // focus still names the withdrawn panel, so the return of the keyboard changes nothing);
    // the change of focus window still comes when the keyboard goes elsewhere.
    QObject::connect(qGuiApp, &QGuiApplication::focusWindowChanged, panel, [weak] {
        if (auto self = weak.lock()) {
            (*self)->focusWindowChanged();
        }
    });
    panel_ = panel;
    return panel;
}

void PaletteWindow::focusWindowChanged() {
    if (!open_ || !panel_ || keyboardWatched()) {
        return;
    }
    const QWindow* focus = QGuiApplication::focusWindow();
    if (focus && focus == panel_->windowHandle()) {
        hadFocus_ = true;
        return;
    }
    // A focus change from before this opening (the keyboard not yet here) is not a loss.
    if (hadFocus_) {
        close();
    }
}

void PaletteWindow::updateShape() {
    // Only an X11 desktop needs (and supports) shaping.
    if (!panel_ || !view_ || QGuiApplication::platformName() != QLatin1String("xcb")) {
        return;
    }
    const bool composited = desktop_ && desktop_->compositing();
    view_->setComposited(composited);
    if (composited) {
        panel_->clearMask();
    } else {
        // Nothing blends the transparent parts: show only what is painted.
        panel_->setMask(view_->paintedRegion());
    }
}

void PaletteWindow::keyboardChanged(std::uint64_t generation, bool has) {
    if (generation != generation_ || !open_ || !panel_) {
        return;
    }
    if (!has) {
        // Before the keyboard came, its going elsewhere is the withdrawal of the last opening.
        if (hadFocus_) {
            close();
        }
        return;
    }
    hadFocus_ = true;
    activateIfToolkitFocused(panel_);
}

// Closes the palette of one opening only: a late request from a palette already replaced must
// not close its successor.
void PaletteWindow::closeOpening(std::uint64_t generation) {
    if (generation == generation_) {
        close();
    }
}

QPoint PaletteWindow::placement(const QRect& available) {
    return QPoint(available.x() + available.width() - panelWidth,
                  available.y() + available.height() / 2 - aboveMiddle);
}

void PaletteWindow::show(Host host, std::function<void()> onClosed, std::uint32_t userTime) {
    close();
    const std::uint64_t generation = ++generation_;
    onClosed_ = std::move(onClosed);
    host_ = std::move(host);

    QWidget* panel = keptPanel();
    const std::weak_ptr<PaletteWindow*> weak = self_;
    auto closeThis = [weak, generation] {
        if (auto self = weak.lock()) {
            (*self)->closeOpening(generation);
        }
    };
    auto cast = host_.cast;
    auto toggle = host_.toggleRecording;
    // A new view per opening: it enters with an empty query, the first row chosen and its
    // slide, as the first palette did.
    auto* view = new PaletteView(
        [cast](const Skill& skill, const std::map<std::string, std::string>& parameters) {
            if (cast) {
                cast(skill, parameters);
            }
        },
        [toggle] {
            if (toggle) {
                toggle();
            }
        },
        closeThis, panel);
    view->setGeometry(0, 0, panelWidth, panelHeight);
    view->show();
    view_ = view;
    open_ = true;
    hadFocus_ = false;
    reloadSkills();
    QObject::connect(view, &PaletteView::shapeChanged, view, [weak] {
        if (auto self = weak.lock()) {
            (*self)->updateShape();
        }
    });

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        panel->move(placement(screen->availableGeometry()));
    }
    updateShape();
    const WId window = panel->winId();
    // The toolkit settles a loss of the keyboard only after a delay (0.4 s), and a panel shown
    // again within it, while the window manager has not yet given it the keyboard back, is
    // deactivated by the late end of the previous opening's focus. The window system tells
    // where the keyboard is at once.
    watchedWindow_ = 0;
    if (desktop_) {
        const bool watched = desktop_->watchKeyboard(window, [weak, generation](bool has) {
            if (auto self = weak.lock()) {
                (*self)->keyboardChanged(generation, has);
            }
        });
        watchedWindow_ = watched ? window : 0;
        desktop_->showOnAllDesktops(window);
    }
    panel->show();
    panel->raise();
    // One request to the window manager, with the key press's time: the toolkit's own, sent once
    // the kept window is mapped again, could reach the window manager after a later activation
    // of another window and take the keyboard back.
    if (desktop_) {
        desktop_->activate(window, userTime);
    } else {
        panel->activateWindow();
    }
    if (keyboardWatched()) {
        return;
    }
    // Reopened within the toolkit's focus-out delay: the next loss of the keyboard must
    // deactivate the widgets it activates.
    if (activateIfToolkitFocused(panel)) {
        hadFocus_ = true;
    }
}

void PaletteWindow::close() {
    if (open_) {
        open_ = false;
        // Withdrawn, not destroyed: the next opening reuses the native window. Hiding may
        // deactivate the panel, which asks to close again: the state is cleared already, so
        // that request finds nothing to do.
        if (panel_) {
            panel_->hide();
        }
        if (view_) {
            QWidget* view = view_;
            view_ = nullptr;
            view->hide();
            // Later: this may run inside one of the view's own handlers.
            view->deleteLater();
        }
    }
    ++generation_;
    host_ = Host{};
    std::function<void()> callback = std::move(onClosed_);
    onClosed_ = nullptr;
    if (callback) {
        callback();
    }
}

bool PaletteWindow::isOpen() const {
    return open_;
}

void PaletteWindow::reloadSkills() {
    if (!view_) {
        return;
    }
    if (host_.skillData) {
        view_->setSkillData(host_.skillData());
    } else if (host_.skills) {
        view_->setSkills(host_.skills());
    }
}

QWidget* PaletteWindow::panel() const {
    return open_ ? panel_.data() : nullptr;
}

PaletteView* PaletteWindow::view() const {
    return view_;
}

} // namespace kestro
