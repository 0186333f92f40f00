// The command line: --start, --minimized, --version, --help with the data folder, the
// activation token a later launch passes on, and an unknown option.
#include "ui/LaunchOptions.h"

#include <QDir>
#include <QStringList>
#include <gtest/gtest.h>

namespace quenloft {
namespace {

TEST(LaunchOptions, StartMinimizedVersionAndHelp) {
    LaunchOptions none;
    ASSERT_TRUE(none.Parse({"quenloft"}));
    EXPECT_FALSE(none.Start() || none.Minimized() || none.Help() || none.Version());
    EXPECT_EQ(none.Arguments(), QStringList{"quenloft"});
    EXPECT_EQ(none.ActivationToken(), "");

    LaunchOptions both;
    ASSERT_TRUE(both.Parse({"/usr/bin/quenloft", "--minimized", "--start"}));
    EXPECT_TRUE(both.Start() && both.Minimized());
    EXPECT_EQ(both.Arguments(), (QStringList{"quenloft", "--start", "--minimized"}));

    for (const char* version : {"--version", "-v"}) {
        LaunchOptions asked;
        ASSERT_TRUE(asked.Parse({"quenloft", version}));
        EXPECT_TRUE(asked.Version());
    }
    EXPECT_EQ(LaunchOptions::VersionText(), QString("Quenloft %1\n").arg(QUENLOFT_VERSION));

    for (const char* help : {"--help", "-h"}) {
        LaunchOptions asked;
        ASSERT_TRUE(asked.Parse({"quenloft", help}));
        EXPECT_TRUE(asked.Help());
        QString text = asked.HelpText("/srv/quenloft-data");
        for (const char* listed : {"--start", "--minimized", "--version", "--help"}) {
            EXPECT_TRUE(text.contains(listed)) << listed;
        }
        EXPECT_FALSE(text.contains("activation")); // not for people
        EXPECT_TRUE(text.contains("are kept in the data folder /srv/quenloft-data\n"));
    }

    LaunchOptions typo;
    EXPECT_FALSE(typo.Parse({"quenloft", "--strat"}));
    EXPECT_EQ(typo.ErrorText().toStdString(), "Unknown option 'strat'.");
}

TEST(LaunchOptions, AFolderInTheHomeFolderIsWrittenFromTilde) {
    LaunchOptions options;
    ASSERT_TRUE(options.Parse({"quenloft", "--help"}));
    QString home = QDir::homePath();
    EXPECT_TRUE(options.HelpText(home + "/.local/share/Quenloft")
                    .contains("data folder ~/.local/share/Quenloft\n"));
    EXPECT_TRUE(options.HelpText(home + "x/Quenloft").contains("data folder " + home + "x/"));
}

TEST(LaunchOptions, ALaterLaunchPassesTheActivationTokenOn) {
    LaunchOptions later;
    ASSERT_TRUE(later.Parse({"quenloft", "--start", "--activation-token=abc-123"}));
    EXPECT_EQ(later.ActivationToken(), "abc-123");
    EXPECT_TRUE(later.Start());
}

} // namespace
} // namespace quenloft
