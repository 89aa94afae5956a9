#include "Kestro/Application.h"

#include "Kestro/AppState.h"
#include "Kestro/DesktopSurfaces.h"
#include "Kestro/PaletteWindow.h"
#include "Kestro/QuitShortcut.h"
#include "Kestro/SingleInstance.h"
#include "Kestro/TrayIcon.h"
#include "platform/linux/LinuxServices.h"
#include "platform/linux/X11WindowSupport.h"

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>

#include <cstdio>
#include <cstdlib>

namespace {

// The light look whatever the desktop's theme.
QPalette lightPalette() {
    QPalette p;
    const QColor window(0xef, 0xef, 0xef);
    const QColor text(0x1d, 0x1d, 0x1f);
    const QColor disabledText(0x8e, 0x8e, 0x93);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::AlternateBase, QColor(0xf5, 0xf5, 0xf7));
    p.setColor(QPalette::ToolTipBase, Qt::white);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, disabledText);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, window);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::red);
    p.setColor(QPalette::Link, QColor(0x00, 0x66, 0xcc));
    p.setColor(QPalette::Highlight, QColor(0x30, 0x8c, 0xf7));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Light, Qt::white);
    p.setColor(QPalette::Midlight, QColor(0xe3, 0xe3, 0xe3));
    p.setColor(QPalette::Mid, QColor(0xb8, 0xb8, 0xb8));
    p.setColor(QPalette::Dark, QColor(0x9f, 0x9f, 0x9f));
    p.setColor(QPalette::Shadow, QColor(0x76, 0x76, 0x76));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        p.setColor(QPalette::Disabled, role, disabledText);
    }
    return p;
}

} // namespace

namespace kestro {

int runApplication(int argc, char** argv, const ApplicationOptions& options) {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        std::fprintf(stderr, "Kestro needs an X11 session: DISPLAY is not set.\n");
        return 1;
    }
    // Qt would pick Wayland where it can; the hotkeys, the recording and the screenshots are X11.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }

    QApplication::setDesktopFileName(QStringLiteral("kestro"));
    QApplication::setOrganizationName(QStringLiteral("Kestro"));
    QApplication::setApplicationName(QStringLiteral("Kestro"));
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    SingleInstance instance;
    if (!instance.isPrimary()) {
        return instance.askPrimaryToShow() ? 0 : 1;
    }

    // The tray image follows the desktop's own colours, read before the light look is forced.
    const QIcon trayImage =
        TrayIcon::trayImage(QApplication::palette().color(QPalette::WindowText));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(lightPalette());
    if (const QIcon icon = TrayIcon::applicationIcon(); !icon.isNull()) {
        QApplication::setWindowIcon(icon);
    }

    platform::linux_x11::LinuxServices services;
    // Frames and pill let clicks through and follow the compositing manager through the
    // toolkit's own X connection; the palette asks the same of it.
    std::unique_ptr<platform::linux_x11::X11SurfaceWindows> windows;
    if (auto* x11 = app.nativeInterface<QNativeInterface::QX11Application>()) {
        windows = services.makeSurfaceWindows(static_cast<void*>(x11->connection()));
    }
    platform::linux_x11::X11WindowSupport windowSupport;
    PaletteWindow::setDesktop(PaletteWindow::Desktop{
        .compositing = [&windows] { return windows && windows->compositing(); },
        .activate =
            [&windowSupport](WId window, std::uint32_t time) {
                windowSupport.activate(static_cast<std::uint32_t>(window), time);
            },
        .showOnAllDesktops =
            [&windowSupport](WId window) {
                windowSupport.setOnAllDesktops(static_cast<std::uint32_t>(window));
            }});
    // Those functions refer to the locals above: drop them before the locals go.
    struct ForgetDesktop {
        ForgetDesktop() = default;
        ForgetDesktop(const ForgetDesktop&) = delete;
        ForgetDesktop& operator=(const ForgetDesktop&) = delete;
        ~ForgetDesktop() { PaletteWindow::setDesktop({}); }
    } forgetDesktop;
    DesktopSurfaces surfaces(windows.get());
    AppState state(AppState::Platform{services.taps, services.queue, services.clock,
                                      services.displays, services.accessibility,
                                      services.applications, services.capture,
                                      services.permissionChecks, services.urlOpener, services.input,
                                      services.activator},
                   AppState::ModelService{services.transport, options.modelEndpoint}, surfaces);
    QObject::connect(&instance, &SingleInstance::showRequested, &state,
                     [&state] { state.showMainWindow(); });
    // Long work still running is told to stop and joined before anything it uses goes away.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &state, [&state] { state.shutdown(); });

    QuitShortcut quitShortcut;
    app.installEventFilter(&quitShortcut);
    TrayIcon tray(state);
    tray.icon().setIcon(trayImage);

    state.bootUI();
    return QApplication::exec();
}

} // namespace kestro
