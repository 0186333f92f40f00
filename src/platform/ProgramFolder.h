// The folder of the running executable, where the stores and the log live.
#pragma once

#include <string>

namespace quenloft {

// The folder that holds the executable, without a trailing "/" (except the root).
std::string ProgramFolder();

} // namespace quenloft
