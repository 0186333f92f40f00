// One copy per data folder: a later copy hands its command line to the first and touches
// nothing.
#include "ui/SingleCopy.h"

#include "WidgetTest.h"

#include <QDir>
#include <QSignalSpy>

namespace quenloft::testing {
namespace {

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

} // namespace
} // namespace quenloft::testing
