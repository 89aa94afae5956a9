#include "Kestro/palette/PaletteWindow.h"

#include "Kestro/palette/PaletteView.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QScreen>

namespace kestro::PaletteWindow {

namespace {

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
    explicit PalettePanel(std::function<void()> onClose, std::function<QWidget*()> field)
        : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
          onClose_(std::move(onClose)), field_(std::move(field)) {
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_ShowWithoutActivating, false);
        setFixedSize(panelWidth, panelHeight);
        setWindowTitle(QStringLiteral("Kestro"));
        setWindowIcon(smallIcon());
    }

protected:
    bool event(QEvent* e) override {
        const bool handled = QWidget::event(e);
        if (e->type() == QEvent::WindowDeactivate && onClose_) {
            onClose_();
        }
        return handled;
    }
    void keyPressEvent(QKeyEvent* e) override {
        if (e->key() == Qt::Key_Escape && onClose_) {
            onClose_();
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
    std::function<void()> onClose_;
    std::function<QWidget*()> field_;
};

struct State {
    QPointer<PalettePanel> panel;
    QPointer<PaletteView> view;
    std::function<void()> onClosed;
    Host host;
    std::uint64_t generation = 0;
    Desktop desktop;
};

State& state() {
    static State s;
    return s;
}

void updateShape() {
    State& s = state();
    // Only an X11 desktop needs (and supports) shaping.
    if (!s.panel || !s.view || QGuiApplication::platformName() != QLatin1String("xcb")) {
        return;
    }
    const bool composited = s.desktop.compositing && s.desktop.compositing();
    s.view->setComposited(composited);
    if (composited) {
        s.panel->clearMask();
    } else {
        // Nothing blends the transparent parts: show only what is painted.
        s.panel->setMask(s.view->paintedRegion());
    }
}

// Closes the palette of one opening only: a late request from a palette already replaced must
// not close its successor.
void closeOpening(std::uint64_t generation) {
    if (generation == state().generation) {
        close();
    }
}

} // namespace

void setDesktop(Desktop desktop) {
    state().desktop = std::move(desktop);
}

QPoint placement(const QRect& available) {
    return QPoint(available.x() + available.width() - panelWidth,
                  available.y() + available.height() / 2 - aboveMiddle);
}

void show(Host host, std::function<void()> onClosed, std::uint32_t userTime) {
    close();
    State& s = state();
    const std::uint64_t generation = ++s.generation;
    s.onClosed = std::move(onClosed);
    s.host = std::move(host);

    auto* panel = new PalettePanel([generation] { closeOpening(generation); },
                                   [] {
                                       PaletteView* v = state().view;
                                       return v ? static_cast<QWidget*>(v->queryField()) : nullptr;
                                   });
    auto cast = s.host.cast;
    auto toggle = s.host.toggleRecording;
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
        [generation] { closeOpening(generation); }, panel);
    view->setGeometry(0, 0, panelWidth, panelHeight);
    s.view = view;
    reloadSkills();
    QObject::connect(view, &PaletteView::shapeChanged, panel, [] { updateShape(); });

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        panel->move(placement(screen->availableGeometry()));
    }
    s.panel = panel;
    updateShape();
    const WId window = panel->winId();
    if (s.desktop.showOnAllDesktops) {
        s.desktop.showOnAllDesktops(window);
    }
    panel->show();
    panel->raise();
    panel->activateWindow();
    if (s.desktop.activate) {
        s.desktop.activate(window, userTime);
    }
}

void close() {
    State& s = state();
    if (s.panel) {
        PalettePanel* panel = s.panel;
        s.panel = nullptr;
        s.view = nullptr;
        // Hiding may deactivate the panel, which asks to close again: the state is cleared
        // already, so that request finds nothing to do.
        panel->hide();
        panel->deleteLater();
    }
    ++s.generation;
    s.host = Host{};
    std::function<void()> callback = std::move(s.onClosed);
    s.onClosed = nullptr;
    if (callback) {
        callback();
    }
}

bool isOpen() {
    return static_cast<bool>(state().panel);
}

void reloadSkills() {
    State& s = state();
    if (!s.view) {
        return;
    }
    if (s.host.skillData) {
        s.view->setSkillData(s.host.skillData());
    } else if (s.host.skills) {
        s.view->setSkills(s.host.skills());
    }
}

QWidget* panel() {
    return state().panel;
}

PaletteView* view() {
    return state().view;
}

} // namespace kestro::PaletteWindow
