// Folder services for the listing page: the entries of a folder in name order, and the
// date and length of one path. Links are followed and what they lead to is judged.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quenloft::folder {

struct FolderEntry {
    std::string Name;
    bool IsFolder = false;
    bool IsHidden = false; // the name begins with "."
    double Modified = 0;   // last modification, local date and time (days since 1899-12-30)
    int64_t Length = 0;    // bytes; 0 for a folder
};

// True when `path` names an existing folder (links followed). Never fails.
bool FolderExists(const std::string& path);

// The folders and regular files in `path`, hidden ones only when asked, ordered by name
// without regard to case. "." and "..", system entries (neither a regular file nor a
// folder) and entries that cannot be examined are left out. A folder that cannot be
// read fails with an Error whose source is "ListFolder".
std::vector<FolderEntry> ListFolder(const std::string& path, bool includeHidden);

// A folder's listing is kept (while the folder does not change) for this long after it
// was last asked for, so that asking again soon does not examine every entry; then its
// memory is given back. Ten seconds unless set. The timer runs in the program's loop.
void KeepListingsFor(std::chrono::milliseconds time);
// How many folders' listings are kept now.
size_t KeptListings();

// The last modification of `path` as a local date and time; fails with an Error.
double LastModified(const std::string& path);

} // namespace quenloft::folder
