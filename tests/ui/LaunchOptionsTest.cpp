// The command line: --start, --minimized, --help, and an unknown option.
#include "ui/LaunchOptions.h"

#include <QStringList>
#include <gtest/gtest.h>

namespace quenloft {
namespace {

TEST(LaunchOptions, StartMinimizedAndHelp) {
    LaunchOptions none;
    ASSERT_TRUE(none.Parse({"quenloft"}));
    EXPECT_FALSE(none.Start() || none.Minimized() || none.Help());
    EXPECT_EQ(none.Arguments(), QStringList{"quenloft"});

    LaunchOptions both;
    ASSERT_TRUE(both.Parse({"/usr/bin/quenloft", "--minimized", "--start"}));
    EXPECT_TRUE(both.Start() && both.Minimized());
    EXPECT_EQ(both.Arguments(), (QStringList{"quenloft", "--start", "--minimized"}));

    for (const char* help : {"--help", "-h"}) {
        LaunchOptions asked;
        ASSERT_TRUE(asked.Parse({"quenloft", help}));
        EXPECT_TRUE(asked.Help());
        for (const char* listed : {"--start", "--minimized", "--help"}) {
            EXPECT_TRUE(asked.HelpText().contains(listed)) << listed;
        }
    }

    LaunchOptions typo;
    EXPECT_FALSE(typo.Parse({"quenloft", "--strat"}));
    EXPECT_EQ(typo.ErrorText().toStdString(), "Unknown option 'strat'.");
}

} // namespace
} // namespace quenloft
