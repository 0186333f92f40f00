// The request log on a real file.
#include "store/clsLog.h"

#include "base/Error.h"
#include "support/TempFolder.h"

#include <filesystem>
#include <gtest/gtest.h>

using quenloft::clsLog;
using quenloft::testing::TempFolder;

namespace {

TEST(Log, AppendsOneLinePerCallInOrder) {
    TempFolder dir;
    clsLog log;
    log.SetFileName(dir / "Log.dat");
    log.AddString("first");
    EXPECT_EQ(TempFolder::Read(dir / "Log.dat"), "first\r\n");
    log.AddString("second");
    EXPECT_EQ(log.ReadFile(), "first\r\nsecond\r\n");
}

TEST(Log, ControlBytesCannotForgeALine) {
    TempFolder dir;
    clsLog log;
    log.SetFileName(dir / "Log.dat");
    log.AddString(std::string("GET /a\r\n01.01.2000 forged\x7f") + std::string(1, 0));
    EXPECT_EQ(log.ReadFile(), "GET /a\\x0D\\x0A01.01.2000 forged\\x7F\\x00\r\n");
}

TEST(Log, ReadAndClearOnAMissingFile) {
    TempFolder dir;
    clsLog log;
    log.SetFileName(dir / "Log.dat");
    log.ClearLog();
    EXPECT_EQ(log.ReadFile(), "");
    EXPECT_TRUE(std::filesystem::exists(dir / "Log.dat"));
    log.AddString("x");
    log.ClearLog();
    EXPECT_FALSE(std::filesystem::exists(dir / "Log.dat"));
}

TEST(Log, UnwritablePlaceIsReported) {
    TempFolder dir;
    clsLog log;
    log.SetFileName(dir / "missing-folder/Log.dat");
    EXPECT_THROW(log.AddString("x"), quenloft::Error);
}

} // namespace

namespace {

// The log stays open between lines, yet a file moved away or deleted by the user is
// never written to again: the next line starts a new file at the path.
TEST(Log, FollowsThePathWhenTheFileIsMovedOrDeleted) {
    TempFolder dir;
    clsLog log;
    log.SetFileName(dir / "Log.dat");
    log.AddString("one");
    std::filesystem::rename(dir / "Log.dat", dir / "Log.old");
    log.AddString("two");
    std::filesystem::remove(dir / "Log.dat");
    log.AddString("three");
    log.SetFileName(dir / "Other.dat");
    log.AddString("four");
    EXPECT_EQ(TempFolder::Read(dir / "Log.old"), "one\r\n");
    EXPECT_EQ(TempFolder::Read(dir / "Log.dat"), "three\r\n");
    EXPECT_EQ(TempFolder::Read(dir / "Other.dat"), "four\r\n");
}

} // namespace
