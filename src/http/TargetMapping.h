// Target mapping: the local file or folder that a request target names below the served root.
#pragma once

#include <string>
#include <string_view>

namespace quenloft {

// The local path that `target` names below `root` (given without a final "/"), or empty
// when it is refused: no root set, a target not beginning with "/", or a decoded path
// holding a NUL byte or a hidden segment (one beginning with ".", ".." among them). The
// query part ("?" and after) is not used. A "+" is itself; only when that names nothing
// and reading every "+" as a space names something, that reading is taken.
std::string MapTarget(std::string_view root, std::string_view target);

} // namespace quenloft
