#include "ui/LaunchOptions.h"

namespace quenloft {

LaunchOptions::LaunchOptions()
    : start_("start", "Start serving at once, with the stored settings."),
      minimized_("minimized", "Start in the notification area instead of showing the window."),
      help_(QStringList{"h", "help"}, "Show this help and exit.") {
    parser_.setApplicationDescription(
        "Quenloft serves the files of one folder to the web browsers of your network.\n"
        "When Quenloft already runs, its window comes forward instead (with --start,\n"
        "it also starts serving; with --minimized, it stays where it is).");
    parser_.addOptions({start_, minimized_, help_});
}

bool LaunchOptions::Parse(const QStringList& arguments) {
    return parser_.parse(arguments);
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
