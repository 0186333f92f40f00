// What happens at launch: the command line, one copy per data folder (a later copy hands
// its command line to the first and touches nothing), and the store files that start-up
// could not use, told once.
#include "WidgetTest.h"
#include "ui/LaunchOptions.h"
#include "ui/SingleCopy.h"

#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <filesystem>

namespace quenloft::testing {
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

class SingleCopyTest : public WidgetTest {
protected:
    QString Folder() const { return QString::fromStdString(data.Path()); }
    QStringList Files() const { return QDir(Folder()).entryList(QDir::Files | QDir::Hidden); }
};

TEST_F(SingleCopyTest, ALaterCopyHandsOverItsCommandLineAndTouchesNothing) {
    auto first = std::make_unique<SingleCopy>(Folder());
    ASSERT_EQ(first->ClaimOrPassOn({"quenloft"}, 0), SingleCopy::Outcome::First);
    first->Listen();
    QSignalSpy arrived(first.get(), &SingleCopy::Arrived);
    QStringList before = Files();
    EXPECT_EQ(before, QStringList{"Quenloft.lock"});

    SingleCopy later(Folder());
    EXPECT_EQ(later.ClaimOrPassOn({"quenloft", "--start"}, 5000), SingleCopy::Outcome::PassedOn);
    ASSERT_TRUE(WaitUntil([&] { return arrived.count() == 1; }));
    EXPECT_EQ(arrived.front().front().toStringList(), (QStringList{"quenloft", "--start"}));
    EXPECT_EQ(Files(), before);

    SingleCopy another(Folder()); // each later copy is heard
    EXPECT_EQ(another.ClaimOrPassOn({"quenloft"}, 5000), SingleCopy::Outcome::PassedOn);
    ASSERT_TRUE(WaitUntil([&] { return arrived.count() == 2; }));

    // Once the first copy has ended, the next one is the first.
    first.reset();
    EXPECT_TRUE(Files().isEmpty());
    SingleCopy next(Folder());
    EXPECT_EQ(next.ClaimOrPassOn({"quenloft"}, 0), SingleCopy::Outcome::First);
}

TEST_F(SingleCopyTest, OtherDataFoldersDoNotMeetAndASilentFirstCopyIsNotWaitedForeverFor) {
    SingleCopy first(Folder());
    ASSERT_EQ(first.ClaimOrPassOn({"quenloft"}, 0), SingleCopy::Outcome::First);
    TempFolder elsewhere;
    SingleCopy other(QString::fromStdString(elsewhere.Path()));
    EXPECT_EQ(other.ClaimOrPassOn({"quenloft"}, 0), SingleCopy::Outcome::First);

    // The first copy has not listened yet (it may be starting); the later one gives up.
    SingleCopy later(Folder());
    EXPECT_EQ(later.ClaimOrPassOn({"quenloft"}, 300), SingleCopy::Outcome::NoAnswer);
}

TEST_F(SingleCopyTest, AFolderThatCannotHoldTheLockKeepsNobodyOut) {
    SingleCopy nowhere(Folder() + "/missing/folder");
    EXPECT_EQ(nowhere.ClaimOrPassOn({"quenloft"}, 0), SingleCopy::Outcome::First);
}

class StoreTroublesTest : public WidgetTest {
protected:
    // The text of the box that start-up shows, or empty when it shows none.
    QString Told() {
        QString told;
        ModalAnswer answer([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            told = box->windowTitle() + "|" + box->text();
            box->button(QMessageBox::Ok)->click();
        });
        TellStoreTroubles(nullptr);
        return told;
    }
};

TEST_F(StoreTroublesTest, DamagedStoresAreToldInOneBoxThatNamesThem) {
    std::string settings = data.Write("HTTP-Settings.dat", "damaged");
    std::string statistics = data.Write("HTTP-Statistic.dat", "damaged too");
    Main();
    QString told = Told();
    EXPECT_TRUE(told.startsWith("Quenloft|The settings file was damaged:\n" +
                                QString::fromStdString(settings) +
                                "\n\nIt is kept beside as HTTP-Settings.dat.bad. Quenloft "
                                "starts with the default settings"))
        << told.toStdString();
    EXPECT_TRUE(
        told.contains("The statistics file was damaged:\n" + QString::fromStdString(statistics)));
    EXPECT_TRUE(std::filesystem::exists(settings + ".bad"));

    Main(); // the next start finds nothing wrong, and says nothing
    EXPECT_EQ(Told(), "");
}

} // namespace
} // namespace quenloft::testing
