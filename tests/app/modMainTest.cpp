// Start-up and exit with real store files.
#include "app/modMain.h"

#include "base/Error.h"
#include "support/TempFolder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace quenloft;
using quenloft::testing::TempFolder;

namespace {

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

TEST_F(StartAndExit, UnwritableFolderIsReportedAfterTheFormsAreUnloadedNamingFileAndFolder) {
    Main();
    std::string file = dir.Write("not-a-folder", "x"); // nothing can be created below a file
    SetDataFolder(file);
    bool unloaded = false;
    try {
        ExitProgram([&] { unloaded = true; });
        ADD_FAILURE() << "no error";
    } catch (const Error& failure) {
        EXPECT_EQ(failure.Number(), 76);
        EXPECT_EQ(failure.Description(),
                  "Path not found. The settings could not be saved as HTTP-Settings.dat in the "
                  "folder " +
                      file + "; check that this folder exists and that you may write in it.");
    }
    EXPECT_TRUE(unloaded);
}

// A child process runs `program` and ends through exit() without closing anything;
// returns its exit status.
int EndsThroughExit(const std::function<void()>& program) {
    pid_t child = ::fork();
    if (child == 0) {
        program();
        std::exit(3);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(StartAndExit, AnEndThroughExitSavesBothStoresOnceThenRunsTheLastStep) {
    std::string order = dir / "order";
    auto lastStep = [order] {
        // The stores are on disk by the time the last step runs.
        bool saved = std::filesystem::exists(std::filesystem::path(order).parent_path() /
                                             "HTTP-Statistic.dat");
        std::ofstream(order) << (saved ? "after the stores" : "before the stores");
    };
    EXPECT_EQ(EndsThroughExit([&] {
                  Main();
                  gSettings.SetVariableValue("ServerPort", Variant("8123"));
                  gStatistics.IncreseVariable("RequestsOK", Variant(int16_t(11)));
                  KeepStoresAtExit(lastStep);
              }),
              3);
    clsSettings settings, statistics;
    settings.LoadData(dir / "HTTP-Settings.dat");
    statistics.LoadData(dir / "HTTP-Statistic.dat");
    EXPECT_EQ(settings.VariableValue("ServerPort"), Variant("8123"));
    EXPECT_EQ(statistics.VariableValue("RequestsOK"), Variant(int16_t(11)));
    EXPECT_EQ(TempFolder::Read(order), "after the stores");

    // Once ExitProgram has saved them, the exit does not save them again.
    EXPECT_EQ(EndsThroughExit([&] {
                  Main();
                  KeepStoresAtExit(lastStep);
                  gStatistics.IncreseVariable("RequestsOK", Variant(int16_t(1)));
                  ExitProgram();
                  gStatistics.IncreseVariable("RequestsOK", Variant(int16_t(100)));
              }),
              3);
    statistics.LoadData(dir / "HTTP-Statistic.dat");
    EXPECT_EQ(statistics.VariableValue("RequestsOK"), Variant(int16_t(12)));
}

TEST_F(StartAndExit, DamagedStoreIsMovedAsideAndReportedOnce) {
    std::string settings = dir.Write("HTTP-Settings.dat", "not a store at all");
    Main();
    ASSERT_EQ(StoreTroubles().size(), 1u);
    const StoreTrouble& trouble = StoreTroubles().front();
    EXPECT_EQ(trouble.Name, SettingsFileName);
    EXPECT_EQ(trouble.File, settings);
    EXPECT_TRUE(trouble.Damaged);
    EXPECT_TRUE(std::filesystem::exists(settings + ".bad"));
    EXPECT_EQ(gSettings.VariableCount(), 0);

    ExitProgram(); // an empty store is written anew; the next start finds nothing wrong
    Main();
    EXPECT_TRUE(StoreTroubles().empty());
}

// Root reads files of any mode; the test reads as nobody would.
TEST_F(StartAndExit, UnreadableStoreIsReportedAndLeftAsItIs) {
    clsSettings counted;
    counted.IncreseVariable("RequestsOK", Variant(int16_t(9)));
    std::string statistics = dir / "HTTP-Statistic.dat";
    counted.SaveData(statistics);
    ::chmod(statistics.c_str(), 0);
    ::chmod(dir.Path().c_str(), 0755); // the file is seen, only not read
    bool asRoot = ::geteuid() == 0;
    if (asRoot) {
        ::setfsuid(65534);
    }
    Main();
    if (asRoot) {
        ::setfsuid(0);
    }
    ASSERT_EQ(StoreTroubles().size(), 1u);
    EXPECT_EQ(StoreTroubles().front().Name, StatisticsFileName);
    EXPECT_FALSE(StoreTroubles().front().Damaged);
    EXPECT_EQ(StoreTroubles().front().Reason, "Permission denied");

    gStatistics.IncreseVariable("RequestsOK", Variant(int16_t(1)));
    ExitProgram();
    ::chmod(statistics.c_str(), 0644);
    clsSettings kept;
    kept.LoadData(statistics);
    EXPECT_EQ(kept.VariableValue("RequestsOK"), Variant(int16_t(9)));
}

class DataFolderChoice : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"XDG_DATA_HOME", "HOME"}) {
            if (const char* value = std::getenv(name)) {
                saved.emplace_back(name, value);
            }
        }
        ::setenv("HOME", (home.MakeFolder("home")).c_str(), 1);
        ::unsetenv("XDG_DATA_HOME");
    }
    void TearDown() override {
        ::unsetenv("XDG_DATA_HOME");
        for (const auto& [name, value] : saved) {
            ::setenv(name.c_str(), value.c_str(), 1);
        }
    }
    TempFolder home, program;
    std::vector<std::pair<std::string, std::string>> saved;
};

TEST_F(DataFolderChoice, OnlyTheBuildFolderKeepsItsFilesBesideItself) {
    std::string bin = program.MakeFolder("bin");
    EXPECT_EQ(ChooseDataFolder(bin, bin), bin);
    ASSERT_EQ(::symlink(bin.c_str(), (program / "same").c_str()), 0);
    EXPECT_EQ(ChooseDataFolder(bin, program / "same"), bin); // the same folder, named twice

    // Installed (a user prefix included): the user's data folder, made when missing.
    std::string user = home / "home/.local/share/Quenloft";
    EXPECT_EQ(ChooseDataFolder(bin, program / "build/src/ui"), user);
    EXPECT_TRUE(std::filesystem::is_directory(user));
    EXPECT_EQ(ChooseDataFolder(home / "home/.local/bin", program / "gone"), user);

    ::setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    EXPECT_EQ(ChooseDataFolder(bin, program / "gone"), home / "data/Quenloft");
    ::setenv("XDG_DATA_HOME", "relative/data", 1); // not a full path: ignored
    EXPECT_EQ(ChooseDataFolder(bin, program / "gone"), user);
}

} // namespace
