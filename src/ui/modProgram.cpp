#include "ui/modProgram.h"

#include "app/modMain.h"
#include "platform/LoopFailure.h"
#include "platform/MessageLoop.h"
#include "platform/ProgramFolder.h"
#include "ui/LaunchOptions.h"
#include "ui/SingleCopy.h"
#include "ui/frmMain.h"
#include "ui/modDesktop.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QThread>
#include <QWindow>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fcntl.h>
#include <optional>
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

// The toolkit ends the process at once when it loses a Wayland display (on X11 it goes
// through exit() by itself): the program ends through exit() instead, which saves the
// stores. The loss may be noticed by the toolkit's reading thread and by the main thread
// at once: exit() runs once, on the main thread, while the stores are not in use.
QtMessageHandler toolkitHandler = nullptr;
std::atomic<bool> exiting{false};
std::atomic<bool> exitPosted{false};

void ExitOnce() {
    if (!exiting.exchange(true)) {
        std::exit(1);
    }
}

void EndWithLostDisplay(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (toolkitHandler) {
        toolkitHandler(type, context, text);
    }
    if (!text.startsWith("The Wayland connection broke") &&
        !text.startsWith("The Wayland connection experienced a fatal error")) {
        return;
    }
    if (QThread::currentThread() == qApp->thread()) {
        ExitOnce();
        return;
    }
    if (!exitPosted.exchange(true)) {
        QMetaObject::invokeMethod(qApp, &ExitOnce, Qt::QueuedConnection);
    }
    for (;;) {
        ::pause(); // the toolkit would end the process from here at once
    }
}

// How long a later copy waits for the running one to answer (it may be starting).
constexpr int FirstCopyWaitMs = 10000;

QStringList Arguments(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    return arguments;
}

// --help, --version, or an option the program does not know. Needs no display, and
// creates nothing.
int TellUsage(int argc, char** argv, const LaunchOptions& options, bool understood,
              const char* buildFolder) {
    QCoreApplication core(argc, argv); // names the program in the usage line
    QString folder = QFile::decodeName(DataFolderFor(ProgramFolder(), buildFolder).c_str());
    if (!understood) {
        std::fprintf(stderr, "%s\n\n%s", qPrintable(options.ErrorText()),
                     qPrintable(options.HelpText(folder)));
        return 2;
    }
    std::fputs(qPrintable(options.Help() ? options.HelpText(folder) : options.VersionText()),
               stdout);
    return 0;
}

// The exit status when another copy runs for the same data folder; none when this copy
// is the first. The desktop's activation token, when it gave this launch one, goes along:
// with it a Wayland desktop lets the running copy bring its window forward.
std::optional<int> HandOverToRunningCopy(SingleCopy& copy, const LaunchOptions& options) {
    QStringList arguments = options.Arguments();
    if (QString token = qEnvironmentVariable("XDG_ACTIVATION_TOKEN"); !token.isEmpty()) {
        arguments << "--activation-token=" + token;
    }
    switch (copy.ClaimOrPassOn(arguments, FirstCopyWaitMs)) {
    case SingleCopy::Outcome::First:
        return std::nullopt;
    case SingleCopy::Outcome::PassedOn:
        return 0;
    case SingleCopy::Outcome::NoAnswer:
        break;
    }
    std::fprintf(stderr, "Quenloft already runs with the data folder %s, but does not answer.\n",
                 DataFolder().c_str());
    return 1;
}

void ShowAtStart(frmMain& window, const LaunchOptions& options) {
    options.Minimized() ? window.WaitInNotificationArea() : window.show();
    window.SetStatus(0);
}

// A later launch: its window comes forward unless it asked to stay in the notification
// area, and it starts serving when it asked to.
void FollowLaterLaunch(frmMain& window, const QStringList& arguments) {
    LaunchOptions wish;
    if (!wish.Parse(arguments)) {
        return;
    }
    if (!wish.Minimized()) {
        window.BringForward(wish.ActivationToken());
    }
    if (wish.Start()) {
        window.PressStart();
    }
}

// The file on a line of its own, then what happens to it.
QString TroubleText(const StoreTrouble& trouble) {
    bool settings = trouble.Name == SettingsFileName;
    QString file = QFile::decodeName(trouble.File.c_str());
    QString kept = QFile::decodeName((trouble.File + ".bad").c_str()).section('/', -1);
    QString what = settings ? "settings" : "statistics";
    QString fresh =
        settings ? "Quenloft starts with the default settings" : "Quenloft counts from zero";
    if (trouble.Damaged) {
        return QString("The %1 file was damaged:\n%2\n\nIt is kept beside as %3. %4 and saves "
                       "%5 in a new file when it ends.")
            .arg(what, file, kept, fresh, settings ? "them" : "the counts");
    }
    return QString("The %1 file cannot be read (%2):\n%3\n\n%4 and leaves that file as it is: "
                   "%5 not saved when Quenloft ends.")
        .arg(what, QString::fromStdString(trouble.Reason), file, fresh,
             settings ? "settings you change now are" : "the counts of this session are");
}

} // namespace

void TellStoreTroubles(QWidget* owner) {
    QStringList texts;
    for (const StoreTrouble& trouble : StoreTroubles()) {
        texts << TroubleText(trouble);
    }
    if (texts.isEmpty()) {
        return;
    }
    // A window the desktop has not placed yet would put the box in a corner.
    bool placed = owner && owner->windowHandle() && owner->windowHandle()->isExposed();
    QMessageBox box(QMessageBox::Warning, "Quenloft", texts.join("\n\n"), QMessageBox::Ok,
                    placed ? owner : nullptr);
    box.exec();
}

std::string MissingDisplayText() {
    if (IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY") || IsSet("QT_QPA_PLATFORM")) {
        return {};
    }
    return "Quenloft needs a graphical desktop: no display was found (neither DISPLAY nor "
           "WAYLAND_DISPLAY is set).";
}

// Each turn of the toolkit's loop takes what the program's loop has ready for about a
// millisecond: a file's pieces keep their pace, and the window's own events wait at most
// that long for their turn.
void DriveProgramLoop(QObject* owner) {
    auto* notifier = new QSocketNotifier(ProgramLoop().Descriptor(), QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        try {
            ProgramLoop().RunFor(std::chrono::milliseconds(1));
        } catch (...) {
            ReportLoopFailure("the program's loop"); // nothing escapes into the toolkit's loop
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

int RunProgram(int argc, char** argv, const char* buildFolder) {
    LaunchOptions options;
    bool understood = options.Parse(Arguments(argc, argv));
    if (!understood || options.Help() || options.Version()) {
        return TellUsage(argc, argv, options, understood, buildFolder);
    }
    SetDataFolder(ChooseDataFolder(ProgramFolder(), buildFolder));
    SingleCopy copy(QFile::decodeName(DataFolder().c_str()));
    if (std::optional<int> handedOver = HandOverToRunningCopy(copy, options)) {
        return *handedOver;
    }
    if (std::string missing = MissingDisplayText(); !missing.empty()) {
        std::fprintf(stderr, "%s\n", missing.c_str());
        return 1;
    }
    // The toolkit sees only the program's name: the options are the program's own.
    int toolkitArgc = 1;
    char* toolkitArgv[] = {argv[0], nullptr};
    QtMessageHandler previous = qInstallMessageHandler(QuietFatal);
    QApplication app(toolkitArgc, toolkitArgv);
    toolkitHandler = previous;
    qInstallMessageHandler(EndWithLostDisplay);
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
        copy.Listen();
        QObject::connect(
            &copy, &SingleCopy::Arrived, &window,
            [&window](const QStringList& arguments) { FollowLaterLaunch(window, arguments); });
        Main([&window, &options] { ShowAtStart(window, options); });
        KeepStoresAtExit([&copy] { copy.Release(); });
        TellStoreTroubles(&window);
        if (options.Start()) {
            window.PressStart();
        }
        status = app.exec();
        // Windows closed on the way out are ended before the application object.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    ReleaseDesktopObjects();
    return status;
}

} // namespace quenloft
