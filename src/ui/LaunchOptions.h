// The program's command line: --start, --minimized, --version and --help, and the
// activation token a later launch hands to the running copy.
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
    bool Version() const { return parser_.isSet(version_); }
    // The desktop's token with which a later launch lets the running copy come forward
    // (not for people: a later launch passes its own on).
    QString ActivationToken() const { return parser_.value(token_); }

    QString ErrorText() const { return parser_.errorText(); }
    // The usage, the description, the options and where the program keeps its files,
    // `dataFolder`; names the program as the application object does, so one should
    // exist (it needs no display).
    QString HelpText(const QString& dataFolder) const;
    // "Quenloft" and the version.
    static QString VersionText();

    // The options given, as arguments again (the first names the program).
    QStringList Arguments() const;

private:
    QCommandLineParser parser_;
    QCommandLineOption start_;
    QCommandLineOption minimized_;
    QCommandLineOption version_;
    QCommandLineOption help_;
    QCommandLineOption token_;
};

} // namespace quenloft
