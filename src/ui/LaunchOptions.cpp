#include "ui/LaunchOptions.h"

#include <QDir>

namespace quenloft {

LaunchOptions::LaunchOptions()
    : start_("start", "Start serving at once, with the stored settings."),
      minimized_("minimized", "Start in the notification area instead of showing the window."),
      version_(QStringList{"v", "version"}, "Show the version and exit."),
      help_(QStringList{"h", "help"}, "Show this help and exit (works without a display)."),
      token_("activation-token", "The desktop's activation token.", "token") {
    token_.setFlags(QCommandLineOption::HiddenFromHelp);
    parser_.setApplicationDescription(
        "Quenloft serves the files of one folder to the web browsers of your network.\n"
        "When Quenloft already runs, its window comes forward instead (with --start,\n"
        "it also starts serving; with --minimized, it stays where it is).");
    parser_.addOptions({start_, minimized_, version_, help_, token_});
}

bool LaunchOptions::Parse(const QStringList& arguments) {
    return parser_.parse(arguments);
}

// A folder in the home folder is written from "~", as people read it.
QString LaunchOptions::HelpText(const QString& dataFolder) const {
    QString home = QDir::homePath();
    QString shown = dataFolder;
    if (home != "/" && (shown == home || shown.startsWith(home + "/"))) {
        shown = "~" + shown.mid(home.size());
    }
    return parser_.helpText() +
           "\nFiles:\n"
           "  The settings (HTTP-Settings.dat), the statistics (HTTP-Statistic.dat) and the\n"
           "  log (Log.dat) are kept in the data folder " +
           shown +
           "\n"
           "  An installed copy keeps them in $XDG_DATA_HOME/Quenloft, which is\n"
           "  ~/.local/share/Quenloft when XDG_DATA_HOME is not set; only a copy run from\n"
           "  the folder it was built in keeps them beside itself.\n";
}

QString LaunchOptions::VersionText() {
    return QString("Quenloft %1\n").arg(QUENLOFT_VERSION);
}

QStringList LaunchOptions::Arguments() const {
    QStringList arguments{"quenloft"};
    if (Start()) {
        arguments << "--start";
    }
    if (Minimized()) {
        arguments << "--minimized";
    }
    return arguments;
}

} // namespace quenloft
