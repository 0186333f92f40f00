// Start-up and exit with real store files, and the text helpers.
#include "app/modMain.h"

#include "base/Error.h"
#include "support/TempFolder.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace quenloft;
using quenloft::testing::TempFolder;

namespace {

TEST(TextHelpers, GetExtension) {
    EXPECT_EQ(GetExtension("archive.tar.gz"), "gz");
    EXPECT_EQ(GetExtension("README"), "README");
    EXPECT_EQ(GetExtension("name."), "");
    EXPECT_EQ(GetExtension("/web.old/README"), "old/README");
}

TEST(TextHelpers, GetFolder) {
    EXPECT_EQ(GetFolder("/web/HTTP-Settings.dat"), "/web/");
    EXPECT_EQ(GetFolder("HTTP-Settings.dat"), "");
}

TEST(TextHelpers, LeftOfLast) {
    EXPECT_EQ(LeftOfLast("/docs/img/", "/", -1, 0), "/docs/img/");
    EXPECT_EQ(LeftOfLast("/docs/img/", "/", 9, 0), "/docs/");
    EXPECT_EQ(LeftOfLast("/www/docs/", "/", 9, 1), "/www");
    EXPECT_EQ(LeftOfLast("nothing", "/", -1, 0), "");
    EXPECT_EQ(LeftOfLast("a::b::c", "::", 5, 0), "a:"); // p is where the find begins
    EXPECT_THROW(LeftOfLast("/", "/", 0, 0), Error);
    EXPECT_THROW(LeftOfLast("abc", "/", -1, 1), Error);
}

TEST(TextHelpers, ShortenText) {
    EXPECT_EQ(ShortenText("abcdefghij", 8), "abcde...");
    EXPECT_EQ(ShortenText("abcdefgh", 8), "abcdefgh");
    EXPECT_EQ(ShortenText(std::string(40, 'n'), 37), std::string(34, 'n') + "...");
    EXPECT_THROW(ShortenText("abcd", 2), Error);
}

class StartAndExit : public ::testing::Test {
protected:
    void SetUp() override { SetDataFolder(dir.Path()); }
    TempFolder dir;
};

TEST_F(StartAndExit, FreshFolderStartsEmptyAndExitWritesBothStores) {
    bool shown = false;
    Main([&] { shown = true; });
    EXPECT_TRUE(shown);
    EXPECT_EQ(gSettings.VariableCount(), 0);
    EXPECT_EQ(gLog.FileName(), dir / "Log.dat");
    EXPECT_FALSE(std::filesystem::exists(dir / "Log.dat")); // named, not created

    gStatistics.IncreseVariable("RequestsOK", Variant(int16_t{1}));
    bool unloaded = false;
    ExitProgram([&] { unloaded = true; });
    EXPECT_TRUE(unloaded);
    EXPECT_EQ(TempFolder::Read(dir / "HTTP-Settings.dat"), std::string(4, '\0'));

    Main();
    EXPECT_EQ(gStatistics.VariableValue("RequestsOK").ToLong(), 1);
}

TEST_F(StartAndExit, UnwritableFolderIsReportedAfterTheFormsAreUnloaded) {
    Main();
    SetDataFolder(dir.Write("not-a-folder", "x")); // nothing can be created below a file
    bool unloaded = false;
    EXPECT_THROW(ExitProgram([&] { unloaded = true; }), Error);
    EXPECT_TRUE(unloaded);
}

} // namespace
