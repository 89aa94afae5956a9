#include "Kestro/program/Application.h"

#include "Kestro/app/AppState.h"
#include "Kestro/program/SingleInstance.h"
#include "Kestro/surfaces/DesktopSurfaces.h"
#include "Kestro/tray/TrayIcon.h"
#include "Kestro/ui/QuitShortcut.h"
#include "platform/linux/LinuxServices.h"

#include <QApplication>
#include <QPalette>
#include <QSocketNotifier>
#include <QStyleFactory>

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>

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

// SIGTERM, SIGINT and SIGHUP (a logout, Control-C, a closed terminal) reach the main loop as a
// byte on a socket, where the program can end in order.
class TerminationSignals {
public:
    explicit TerminationSignals(std::function<void()> received) {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds_) != 0) {
            return;
        }
        writeEnd.store(fds_[1]);
        notifier_ = std::make_unique<QSocketNotifier>(fds_[0], QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                         [this, received = std::move(received)] {
                             char bytes[16];
                             while (::read(fds_[0], bytes, sizeof bytes) > 0) {
                             }
                             received();
                         });
        struct sigaction action {};
        action.sa_handler = &TerminationSignals::onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
            ::sigaction(signal, &action, nullptr);
        }
    }
    ~TerminationSignals() {
        struct sigaction action {};
        action.sa_handler = SIG_DFL;
        sigemptyset(&action.sa_mask);
        for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
            ::sigaction(signal, &action, nullptr);
        }
        writeEnd.store(-1);
        notifier_.reset();
        if (fds_[0] >= 0) {
            ::close(fds_[0]);
            ::close(fds_[1]);
        }
    }
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

private:
    static void onSignal(int) {
        const int saved = errno;
        if (const int fd = writeEnd.load(); fd >= 0) {
            const char byte = 1;
            [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
        }
        errno = saved;
    }
    static inline std::atomic<int> writeEnd{-1};
    int fds_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
};

// The toolkit ends the process itself when its display connection breaks (exit() from the main
// loop, before anything of ours hears of it). An exit() while the main loop runs and that
// connection is broken is such an end: what is under way is saved first, and the process ends
// there, before the exit's teardown of statics can meet threads still at work.
std::function<void()> exitDuringLoop;
std::function<bool()> displayGone;
std::thread::id mainThread;

void onExit() {
    if (exitDuringLoop && std::this_thread::get_id() == mainThread && displayGone &&
        displayGone()) {
        auto save = std::exchange(exitDuringLoop, nullptr);
        save();
        std::_Exit(1);
    }
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
    // Frames, pill and palette let clicks through and follow the compositing manager through the
    // toolkit's own X connection; the palette is activated and put on every desktop through it.
    std::unique_ptr<platform::linux_x11::X11SurfaceWindows> windows;
    if (auto* x11 = app.nativeInterface<QNativeInterface::QX11Application>()) {
        windows = services.makeSurfaceWindows(static_cast<void*>(x11->connection()));
    }
    DesktopSurfaces surfaces(windows.get());
    const std::unique_ptr<platform::ScreenCapture> capture =
        options.screenCapture ? options.screenCapture(services.capture) : nullptr;
    AppState state(services.services(capture.get()),
                   AppState::ModelService{services.transport, options.modelEndpoint,
                                          options.requestDeadlineSeconds},
                   surfaces);
    QObject::connect(&instance, &SingleInstance::showRequested, &state,
                     [&state] { state.showMainWindow(); });
    // Long work still running is told to stop and joined before anything it uses goes away.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &state, [&state] { state.shutdown(); });

    QuitShortcut quitShortcut;
    app.installEventFilter(&quitShortcut);
    TrayIcon tray(state);
    tray.icon().setIcon(trayImage);

    // A lost display ends the process at once, whoever noticed: nothing more can be shown, and
    // every thread still at work would meet the dead connection.
    state.onDisplayLost = [] { std::_Exit(1); };
    mainThread = std::this_thread::get_id();
    exitDuringLoop = [&state] { state.displayLost(); };
    void* toolkitConnection = nullptr;
    if (auto* x11 = app.nativeInterface<QNativeInterface::QX11Application>()) {
        toolkitConnection = static_cast<void*>(x11->connection());
    }
    displayGone = [toolkitConnection] {
        return platform::linux_x11::LinuxServices::connectionBroken(toolkitConnection);
    };
    static const bool exitHooked = std::atexit(&onExit) == 0;
    (void)exitHooked;
    TerminationSignals endSignals(
        [&state] { state.endFromOutside([] { QCoreApplication::exit(0); }); });

    state.bootUI();
    const int status = QApplication::exec();
    exitDuringLoop = nullptr;
    displayGone = nullptr;
    return status;
}

} // namespace kestro
