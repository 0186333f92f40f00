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

unsigned char Lower(char c) {
    auto b = static_cast<unsigned char>(c);
    return b >= 'A' && b <= 'Z' ? static_cast<unsigned char>(b + 32) : b;
}

// People read listings alphabetically; names equal but for case keep a fixed order.
bool NameBefore(const FolderEntry& a, const FolderEntry& b) {
    bool less =
        std::lexicographical_compare(a.Name.begin(), a.Name.end(), b.Name.begin(), b.Name.end(),
                                     [](char x, char y) { return Lower(x) < Lower(y); });
    bool greater =
        std::lexicographical_compare(b.Name.begin(), b.Name.end(), a.Name.begin(), a.Name.end(),
                                     [](char x, char y) { return Lower(x) < Lower(y); });
    return less || (!greater && a.Name < b.Name);
}

double ModifiedOf(const struct stat& st) {
    return OleDateFromTime(st.st_mtim.tv_sec);
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
    std::sort(entries.begin(), entries.end(), NameBefore);
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
