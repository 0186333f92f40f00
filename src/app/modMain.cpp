#include "app/modMain.h"

#include "base/Error.h"
#include "platform/DescriptorLimit.h"
#include "platform/Files.h"
#include "platform/ProgramFolder.h"

#include <filesystem>
#include <optional>

namespace quenloft {

clsSettings gSettings;
clsSettings gStatistics;
clsLog gLog;

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

std::string ChooseDataFolder(const std::string& programFolder, const std::string& buildFolder) {
    std::error_code differs;
    if (std::filesystem::equivalent(programFolder, buildFolder, differs)) {
        return programFolder;
    }
    std::string user = UserDataFolder();
    if (user.empty()) {
        return programFolder;
    }
    std::string folder = user + "/Quenloft";
    files::CreateFolders(folder);
    return folder;
}

const std::vector<StoreTrouble>& StoreTroubles() {
    return troubles;
}

void Main(const std::function<void()>& showMainWindow) {
    RaiseDescriptorLimit();
    troubles.clear();
    settingsUnreadable = !TryLoad(gSettings, SettingsFileName);
    statisticsUnreadable = !TryLoad(gStatistics, StatisticsFileName);
    gLog.SetFileName(DataFile(LogFileName));
    if (showMainWindow) {
        showMainWindow();
    }
}

void ExitProgram(const std::function<void()>& unloadForms) {
    // Both stores are attempted even when the first cannot be written; the first
    // failure is reported after the forms are gone.
    std::optional<Error> failure;
    auto save = [&](const clsSettings& store, bool unreadable, std::string_view name) {
        if (unreadable) {
            return;
        }
        try {
            store.SaveData(DataFile(name));
        } catch (const Error& e) {
            failure = failure.value_or(e);
        }
    };
    save(gSettings, settingsUnreadable, SettingsFileName);
    save(gStatistics, statisticsUnreadable, StatisticsFileName);
    if (unloadForms) {
        unloadForms();
    }
    if (failure) {
        throw *failure;
    }
}

} // namespace quenloft
