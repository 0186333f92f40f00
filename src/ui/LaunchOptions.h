// The program's command line: --start, --minimized and --help.
#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>

namespace quenloft {

class LaunchOptions {
public:
    LaunchOptions();

    // Reads `arguments`, the first of which names the program; false when one of them
    // is not an option of the program (ErrorText says which).
    bool Parse(const QStringList& arguments);

    // Start serving at once with the stored settings.
    bool Start() const { return parser_.isSet(start_); }
    // Start in the notification area instead of showing the window.
    bool Minimized() const { return parser_.isSet(minimized_); }
    bool Help() const { return parser_.isSet(help_); }

    QString ErrorText() const { return parser_.errorText(); }
    // The usage, the description and the options; names the program as the application
    // object does, so one should exist (it needs no display).
    QString HelpText() const { return parser_.helpText(); }

    // The options given, as arguments again (the first names the program).
    QStringList Arguments() const;

private:
    QCommandLineParser parser_;
    QCommandLineOption start_;
    QCommandLineOption minimized_;
    QCommandLineOption help_;
};

} // namespace quenloft
