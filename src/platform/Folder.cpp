// Folder enumeration with POSIX opendir/stat; see Folder.h.
#include "platform/Folder.h"

#include "base/OleDate.h"
#include "platform/Files.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace quenloft::folder {

namespace {

// Closes a folder stream when it goes out of scope.
struct FolderStream {
    DIR* dir;
    ~FolderStream() {
        if (dir) {
            ::closedir(dir);
        }
    }
};

// People read listings alphabetically: by the name without regard to case, and names
// equal but for case in a fixed order.
void SortByName(std::vector<FolderEntry>& entries) {
    std::vector<std::pair<std::string, size_t>> keys;
    keys.reserve(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        std::string key = entries[i].Name;
        for (char& c : key) {
            if (c >= 'A' && c <= 'Z') {
                c = static_cast<char>(c + 32);
            }
        }
        keys.emplace_back(std::move(key), i);
    }
    std::sort(keys.begin(), keys.end(), [&](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first
                                  : entries[a.second].Name < entries[b.second].Name;
    });
    std::vector<FolderEntry> sorted;
    sorted.reserve(entries.size());
    for (const auto& key : keys) {
        sorted.push_back(std::move(entries[key.second]));
    }
    entries = std::move(sorted);
}

// Entries of one folder often share their modification second; the local time of a
// second is worked out once.
double ModifiedOf(const struct stat& st) {
    thread_local std::time_t lastSecond = -1;
    thread_local double lastDate = 0;
    if (st.st_mtim.tv_sec != lastSecond) {
        lastSecond = st.st_mtim.tv_sec;
        lastDate = OleDateFromTime(lastSecond);
    }
    return lastDate;
}

// The entry for one name, or false when it is a system entry or cannot be examined.
bool Examine(int folder, const std::string& name, FolderEntry& entry) {
    struct stat st {};
    if (::fstatat(folder, name.c_str(), &st, 0) != 0) {
        return false;
    }
    if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) {
        return false;
    }
    entry.Name = name;
    entry.IsFolder = S_ISDIR(st.st_mode);
    entry.IsHidden = files::IsHiddenName(name);
    entry.Modified = ModifiedOf(st);
    entry.Length = entry.IsFolder ? 0 : static_cast<int64_t>(st.st_size);
    return true;
}

} // namespace

bool FolderExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<FolderEntry> ListFolder(const std::string& path, bool includeHidden) {
    FolderStream stream{::opendir(path.c_str())};
    if (!stream.dir) {
        files::RaiseFileError(errno, "ListFolder");
    }
    std::vector<FolderEntry> entries;
    while (const dirent* d = ::readdir(stream.dir)) {
        std::string name = d->d_name;
        if (name == "." || name == ".." || (!includeHidden && files::IsHiddenName(name))) {
            continue;
        }
        FolderEntry entry;
        if (Examine(::dirfd(stream.dir), name, entry)) {
            entries.push_back(std::move(entry));
        }
    }
    SortByName(entries);
    return entries;
}

double LastModified(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        files::RaiseFileError(errno, "LastModified");
    }
    return ModifiedOf(st);
}

} // namespace quenloft::folder
