#include "ui/modProgram.h"

#include "app/modMain.h"
#include "platform/MessageLoop.h"
#include "ui/frmMain.h"
#include "ui/modDesktop.h"

#include <QApplication>
#include <QPointer>
#include <QSessionManager>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quenloft {

namespace {

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

// The socket pair that brings signals into the main loop; the handler writes to [1].
int signalPipe[2] = {-1, -1};

// The handler may interrupt code that is about to read errno: it leaves errno as it was.
void OnEndSignal(int) {
    int saved = errno;
    const char byte = 1;
    [[maybe_unused]] ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

// Qt gives up with a fatal message when it cannot reach the display; the program says
// so in one sentence instead of a core dump.
void QuietFatal(QtMsgType type, const QMessageLogContext&, const QString&) {
    if (type == QtFatalMsg) {
        const char* display = IsSet("WAYLAND_DISPLAY") ? std::getenv("WAYLAND_DISPLAY")
                              : IsSet("DISPLAY")       ? std::getenv("DISPLAY")
                                                       : "";
        std::fprintf(stderr,
                     "Quenloft cannot open its window: the display \"%s\" cannot be reached.\n",
                     display);
        std::_Exit(1);
    }
}

} // namespace

std::string MissingDisplayText() {
    if (IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY") || IsSet("QT_QPA_PLATFORM")) {
        return {};
    }
    return "Quenloft needs a graphical desktop: no display was found (neither DISPLAY nor "
           "WAYLAND_DISPLAY is set).";
}

void DriveProgramLoop(QObject* owner) {
    auto* notifier = new QSocketNotifier(ProgramLoop().Descriptor(), QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        try {
            ProgramLoop().RunOnePass();
        } catch (const std::exception& failure) {
            std::fprintf(stderr, "Quenloft: %s\n", failure.what());
        }
    });
}

void RouteEndRequests(QWidget* mainWindow) {
    QPointer<QWidget> window = mainWindow;
    auto close = [window] {
        if (window) {
            window->close();
        }
    };
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) == 0) {
        ::fcntl(signalPipe[1], F_SETFL, O_NONBLOCK);
        auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, qApp);
        QObject::connect(notifier, &QSocketNotifier::activated, [close] {
            char bytes[16];
            [[maybe_unused]] ssize_t got = ::read(signalPipe[0], bytes, sizeof bytes);
            close();
        });
        struct sigaction action {};
        action.sa_handler = OnEndSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
            ::sigaction(signal, &action, nullptr);
        }
    }
    // The session manager asks to save at log-out; whatever ends the main loop first
    // still ends the program through the main window.
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, qApp,
                     [close](QSessionManager&) { close(); });
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp, close);
}

int RunProgram(const char* programPath) {
    if (std::string missing = MissingDisplayText(); !missing.empty()) {
        std::fprintf(stderr, "%s\n", missing.c_str());
        return 1;
    }
    // The program takes no command line: the toolkit sees only the program's name.
    int argc = 1;
    char* argv[] = {const_cast<char*>(programPath), nullptr};
    QtMessageHandler previous = qInstallMessageHandler(QuietFatal);
    QApplication app(argc, argv);
    qInstallMessageHandler(previous);
    QApplication::setApplicationName("Quenloft");
    QGuiApplication::setDesktopFileName("quenloft");
    // The main window may be hidden in the notification area while the settings dialog
    // is closed; only the main window ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    int status = 0;
    {
        frmMain window;
        QObject::connect(
            &window, &frmMain::Unloaded, &app, [] { QCoreApplication::exit(0); },
            Qt::QueuedConnection);
        DriveProgramLoop(&app);
        RouteEndRequests(&window);
        Main([&window] {
            window.show();
            window.SetStatus(0);
        });
        status = app.exec();
        // Windows closed on the way out are ended before the application object.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    ReleaseDesktopObjects();
    return status;
}

} // namespace quenloft
