// Where the program lies, and where the user's programs keep their data.
#pragma once

#include <string>

namespace quenloft {

// The executable's full path; empty when the system does not tell it.
std::string ExecutablePath();
// The folder that holds the executable, without a trailing "/" (except the root).
std::string ProgramFolder();

// The user's data folder: $XDG_DATA_HOME when it is a full path, else ~/.local/share;
// empty when neither can be found.
std::string UserDataFolder();

} // namespace quenloft
