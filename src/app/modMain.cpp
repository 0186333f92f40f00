#include "app/modMain.h"

#include "base/Error.h"
#include "platform/DescriptorLimit.h"
#include "platform/Files.h"
#include "platform/ProcessSettings.h"
#include "platform/ProgramFolder.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>

namespace quenloft {

clsSettings gSettings;
clsSettings gStatistics;
clsLog gLog;

clsHTTP& gServer() {
    static clsHTTP server(gSettings, gStatistics, gLog);
    return server;
}

namespace {

std::string& DataFolderSlot() {
    static std::string folder;
    return folder;
}

std::string DataFile(std::string_view name) {
    return DataFolder() + std::string(name);
}

// A store whose file exists but could not be read is not saved at exit, so the file
// keeps what it holds.
bool settingsUnreadable = false;
bool statisticsUnreadable = false;

std::vector<StoreTrouble> troubles;

// Whether the stores of this run still wait to be written: from start-up until
// ExitProgram or the end through exit() has saved them.
bool storesPending = false;
std::function<void()> lastStepAtExit;

// Loads one store; false when its file could not be read. A damaged file is moved
// aside by the load: it was there before and is gone after.
bool TryLoad(clsSettings& store, std::string_view name) {
    store = clsSettings();
    std::string file = DataFile(name);
    bool existed = files::FileExists(file);
    try {
        store.LoadData(file);
    } catch (const std::exception& failure) {
        const auto* error = dynamic_cast<const Error*>(&failure);
        troubles.push_back({name, file, false, error ? error->Description() : failure.what()});
        return false;
    }
    if (existed && !files::FileExists(file)) {
        troubles.push_back({name, file, true, {}});
    }
    return true;
}

// The cause stays the first sentence; the file, its folder and the remedy follow.
Error SaveFailure(const Error& cause, std::string_view name) {
    std::string what = name == SettingsFileName ? "settings" : "statistics";
    std::string description = cause.Description();
    if (description.empty() || description.back() != '.') {
        description += '.';
    }
    description += " The " + what + " could not be saved as " + std::string(name.substr(1)) +
                   " in the folder " + DataFolder() +
                   "; check that this folder exists and that you may write in it.";
    return Error(cause.Number(), description, cause.Source());
}

// Both stores are attempted even when the first cannot be written; returns the first
// failure.
std::optional<Error> SaveStores() {
    storesPending = false;
    std::optional<Error> failure;
    auto save = [&](const clsSettings& store, bool unreadable, std::string_view name) {
        if (unreadable) {
            return;
        }
        try {
            store.SaveData(DataFile(name));
        } catch (const Error& e) {
            failure = failure.value_or(SaveFailure(e, name));
        }
    };
    save(gSettings, settingsUnreadable, SettingsFileName);
    save(gStatistics, statisticsUnreadable, StatisticsFileName);
    return failure;
}

// Runs by exit(): nothing may escape from here.
void SaveAtExit() {
    if (!storesPending) {
        return;
    }
    try {
        if (std::optional<Error> failure = SaveStores()) {
            std::fprintf(stderr, "Quenloft: %s\n", failure->Description().c_str());
        }
        if (lastStepAtExit) {
            lastStepAtExit();
        }
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "Quenloft: %s\n", failure.what());
    }
}

} // namespace

const std::string& DataFolder() {
    if (DataFolderSlot().empty()) {
        DataFolderSlot() = ProgramFolder();
    }
    return DataFolderSlot();
}

void SetDataFolder(std::string folder) {
    DataFolderSlot() = std::move(folder);
}

std::string DataFolderFor(const std::string& programFolder, const std::string& buildFolder) {
    std::error_code differs;
    if (std::filesystem::equivalent(programFolder, buildFolder, differs)) {
        return programFolder;
    }
    std::string user = UserDataFolder();
    return user.empty() ? programFolder : user + "/Quenloft";
}

std::string ChooseDataFolder(const std::string& programFolder, const std::string& buildFolder) {
    std::string folder = DataFolderFor(programFolder, buildFolder);
    if (folder != programFolder) {
        files::CreateFolders(folder);
    }
    return folder;
}

const std::vector<StoreTrouble>& StoreTroubles() {
    return troubles;
}

void KeepStoresAtExit(std::function<void()> lastStep) {
    lastStepAtExit = std::move(lastStep);
    std::atexit(SaveAtExit);
}

void Main(const std::function<void()>& showMainWindow) {
    SetProcessWide();
    RaiseDescriptorLimit();
    troubles.clear();
    settingsUnreadable = !TryLoad(gSettings, SettingsFileName);
    statisticsUnreadable = !TryLoad(gStatistics, StatisticsFileName);
    gLog.SetFileName(DataFile(LogFileName));
    storesPending = true;
    if (showMainWindow) {
        showMainWindow();
    }
}

// The first failure is reported after the forms are gone.
void ExitProgram(const std::function<void()>& unloadForms) {
    std::optional<Error> failure = SaveStores();
    if (unloadForms) {
        unloadForms();
    }
    if (failure) {
        throw *failure;
    }
}

} // namespace quenloft
