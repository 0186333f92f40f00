#include "app/modMain.h"

#include "base/Error.h"
#include "platform/Files.h"
#include "platform/ProgramFolder.h"

#include <cstdlib>
#include <optional>
#include <unistd.h>

namespace quenloft {

clsSettings gSettings;
clsSettings gStatistics;
clsLog gLog;

namespace {

std::string& DataFolderSlot() {
    static std::string folder;
    return folder;
}

// An installed program cannot write beside itself; its data then lives in the user's
// own data folder.
std::string ChooseDataFolder() {
    std::string program = ProgramFolder();
    if (::access(program.c_str(), W_OK) == 0) {
        return program;
    }
    std::string base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base = std::string(home) + "/.local/share";
    } else {
        return program;
    }
    std::string folder = base + "/Quenloft";
    files::CreateFolders(folder);
    return folder;
}

std::string DataFile(std::string_view name) {
    return DataFolder() + std::string(name);
}

// A store whose file exists but could not be read is not saved at exit, so the file
// keeps what it holds.
bool settingsUnreadable = false;
bool statisticsUnreadable = false;

bool TryLoad(clsSettings& store, std::string_view name) {
    store = clsSettings();
    return ResumeNext([&] { store.LoadData(DataFile(name)); });
}

} // namespace

const std::string& DataFolder() {
    if (DataFolderSlot().empty()) {
        DataFolderSlot() = ChooseDataFolder();
    }
    return DataFolderSlot();
}

void SetDataFolder(std::string folder) {
    DataFolderSlot() = std::move(folder);
}

void Main(const std::function<void()>& showMainWindow) {
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

std::string GetExtension(std::string_view fileName) {
    auto dot = fileName.rfind('.');
    return std::string(dot == std::string_view::npos ? fileName : fileName.substr(dot + 1));
}

std::string GetFolder(std::string_view fileName) {
    auto slash = fileName.rfind('/');
    return std::string(slash == std::string_view::npos ? std::string_view{}
                                                       : fileName.substr(0, slash + 1));
}

std::string LeftOfLast(std::string_view text, std::string_view find, int32_t start, int32_t skip) {
    if (start == 0 || start < -1) {
        throw Error::Runtime(ErrInvalidArgument, "LeftOfLast");
    }
    size_t limit = start == -1 ? text.size() : std::min<size_t>(text.size(), size_t(start));
    // The occurrence must lie wholly within the first `limit` characters.
    size_t found = find.empty() ? std::string_view::npos : text.substr(0, limit).rfind(find);
    int64_t p = found == std::string_view::npos ? 0 : int64_t(found) + 1;
    if (skip > p) {
        throw Error::Runtime(ErrInvalidArgument, "LeftOfLast");
    }
    return std::string(text.substr(0, size_t(p - skip)));
}

std::string ShortenText(std::string_view text, int32_t maxLength) {
    if (int64_t(text.size()) <= maxLength) {
        return std::string(text);
    }
    if (maxLength < 3) {
        throw Error::Runtime(ErrInvalidArgument, "ShortenText");
    }
    return std::string(text.substr(0, size_t(maxLength - 3))) + "...";
}

} // namespace quenloft
