// The program without its windows: start-up and exit, its program-wide stores and its
// one server.
#pragma once

#include "http/clsHTTP.h"
#include "store/clsLog.h"
#include "store/clsSettings.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quenloft {

// Program-wide objects; they live until the program ends.
extern clsSettings gSettings;
extern clsSettings gStatistics;
extern clsLog gLog;
// The program's one server, on the program's stores and log, created at first use.
clsHTTP& gServer();

// File names of the stores and the log inside the data folder.
inline constexpr std::string_view SettingsFileName = "/HTTP-Settings.dat";
inline constexpr std::string_view StatisticsFileName = "/HTTP-Statistic.dat";
inline constexpr std::string_view LogFileName = "/Log.dat";

// The folder that holds the stores and the log (the program folder unless changed).
const std::string& DataFolder();
void SetDataFolder(std::string folder);
// The data folder of a program that runs from `programFolder`: that folder itself when it
// is `buildFolder`, the folder the program was built in; for any installed copy the
// user's data folder, $XDG_DATA_HOME/Quenloft (by default ~/.local/share/Quenloft),
// created when missing.
std::string ChooseDataFolder(const std::string& programFolder, const std::string& buildFolder);
// The same folder, only named: nothing is created.
std::string DataFolderFor(const std::string& programFolder, const std::string& buildFolder);

// A store file that start-up could not use: its store starts empty.
struct StoreTrouble {
    std::string_view Name; // SettingsFileName or StatisticsFileName
    std::string File;      // the full name
    bool Damaged = false;  // kept beside as File + ".bad"; otherwise it could not be read
    std::string Reason;    // why it could not be read
};
// What the last start-up found wrong with the store files, settings first.
const std::vector<StoreTrouble>& StoreTroubles();

// Start-up: raises the descriptor limit as far as it goes (every connection holds
// descriptors), loads both stores from the data folder and names the log file, then runs
// `showMainWindow` (which shows the main window in its stopped state).
void Main(const std::function<void()>& showMainWindow = {});
// Exit: saves both stores to the data folder, then runs `unloadForms`. A store that
// cannot be written is reported as an Error after `unloadForms` has run; its description
// keeps the cause as its first sentence and names the file and the folder.
void ExitProgram(const std::function<void()>& unloadForms = {});

// From now on a process that ends through exit() before ExitProgram has run (the toolkit
// ends it so when it loses its display) still saves both stores, once; a store that
// cannot be written is told on the terminal. ExitProgram, when it runs, saves them
// instead. At such an end `lastStep` runs after the saves (to release what the program
// holds; after ExitProgram the program releases it itself). Call once.
void KeepStoresAtExit(std::function<void()> lastStep = {});

} // namespace quenloft
