// The request log on a real file.
#include "store/clsLog.h"

#include "base/Error.h"
#include "platform/MessageLoop.h"
#include "support/FileSizeLimit.h"
#include "support/TempFolder.h"

#include <filesystem>
#include <gtest/gtest.h>

using quenloft::clsLog;
using quenloft::testing::FileSizeLimit;
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

// The program's loop polls between requests; that is when the log learns that its file was
// moved, deleted or replaced.
void LetTheLoopPoll() {
    quenloft::ProgramLoop().RunOnePass();
}

// The log stays open between lines, yet a file moved away or deleted by the user is
// never written to again: the next line starts a new file at the path.
TEST(Log, FollowsThePathWhenTheFileIsMovedOrDeleted) {
    TempFolder dir;
    clsLog log;
    log.SetFileName(dir / "Log.dat");
    log.AddString("one");
    std::filesystem::rename(dir / "Log.dat", dir / "Log.old");
    LetTheLoopPoll();
    log.AddString("two");
    std::filesystem::remove(dir / "Log.dat");
    LetTheLoopPoll();
    log.AddString("three");
    log.SetFileName(dir / "Other.dat");
    log.AddString("four");
    EXPECT_EQ(TempFolder::Read(dir / "Log.old"), "one\r\n");
    EXPECT_EQ(TempFolder::Read(dir / "Log.dat"), "three\r\n");
    EXPECT_EQ(TempFolder::Read(dir / "Other.dat"), "four\r\n");
}

// A file renamed over the log takes the next lines; the file it replaced gets no more.
TEST(Log, FollowsThePathWhenAnotherFileReplacesIt) {
    TempFolder dir;
    clsLog log;
    log.SetFileName(dir / "Log.dat");
    log.AddString("one");
    std::filesystem::create_hard_link(dir / "Log.dat", dir / "Log.kept");
    std::string other = dir.Write("Log.new", "from elsewhere\r\n");
    std::filesystem::rename(other, dir / "Log.dat");
    LetTheLoopPoll();
    log.AddString("two");
    EXPECT_EQ(TempFolder::Read(dir / "Log.kept"), "one\r\n");
    EXPECT_EQ(TempFolder::Read(dir / "Log.dat"), "from elsewhere\r\ntwo\r\n");
}

// The same holds for a folder on the way: moved away, the path leads nowhere and lines
// fail, until the folder is there again.
TEST(Log, FollowsThePathWhenAFolderAboveIsMoved) {
    TempFolder dir;
    clsLog log;
    log.SetFileName(dir / "data/logs/Log.dat");
    dir.MakeFolder("data/logs");
    log.AddString("one");
    std::filesystem::rename(dir / "data", dir / "data.old");
    LetTheLoopPoll();
    EXPECT_THROW(log.AddString("lost"), quenloft::Error);
    dir.MakeFolder("data/logs");
    log.AddString("two");
    EXPECT_EQ(TempFolder::Read(dir / "data.old/logs/Log.dat"), "one\r\n");
    EXPECT_EQ(TempFolder::Read(dir / "data/logs/Log.dat"), "two\r\n");
}

// A line that does not fit is reported and leaves nothing behind, whether the disk took a
// part of it or none; once there is room again the next line starts on a line of its own.
TEST(Log, LineThatDoesNotFitIsTakenBack) {
    TempFolder dir;
    clsLog log;
    log.SetFileName(dir / "Log.dat");
    log.AddString("01.02.2024 10:00:00: 127.0.0.1@:5000  GET /first HTTP/1.1");
    std::string whole = TempFolder::Read(dir / "Log.dat");
    std::string line = "01.02.2024 10:00:01: 127.0.0.1@:5001  GET /1k.bin HTTP/1.1";
    {
        FileSizeLimit full(whole.size() + 20); // room for a part of the line
        EXPECT_THROW(log.AddString(line), quenloft::Error);
        EXPECT_EQ(TempFolder::Read(dir / "Log.dat"), whole);
    }
    {
        FileSizeLimit full(whole.size()); // no room at all
        EXPECT_THROW(log.AddString(line), quenloft::Error);
        EXPECT_EQ(TempFolder::Read(dir / "Log.dat"), whole);
    }
    log.AddString(line);
    EXPECT_EQ(TempFolder::Read(dir / "Log.dat"), whole + line + "\r\n");
}

} // namespace
