// Folder enumeration with POSIX opendir/stat; see Folder.h.
#include "platform/Folder.h"

#include "base/AsciiCase.h"
#include "base/OleDate.h"
#include "platform/Files.h"
#include "platform/KeptCache.h"
#include "platform/UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

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

// One entry as read. Recheck marks the entries whose data can change without the
// folder hearing of it, which are examined afresh at every listing: a subfolder (its own
// date), a link (its target), a file with other names in other folders, and an entry
// whose kind is not told (it may be any of these).
struct Item {
    FolderEntry Entry;
    bool Recheck = false;
    std::string Key; // the name without regard to case, while sorting
};

// People read listings alphabetically: by the name without regard to case, and names
// equal but for case in a fixed order.
void SortByName(std::vector<Item>& items) {
    for (Item& item : items) {
        item.Key = LowerAscii(item.Entry.Name);
    }
    std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
        int order = a.Key.compare(b.Key);
        return order != 0 ? order < 0 : a.Entry.Name < b.Entry.Name;
    });
    for (Item& item : items) {
        std::string().swap(item.Key);
    }
}

// Entries of one folder often share their modification second; the local time of a
// second is worked out once.
double ModifiedOf(const struct stat& st) {
    static std::time_t lastSecond = -1;
    static double lastDate = 0;
    if (st.st_mtim.tv_sec != lastSecond) {
        lastSecond = st.st_mtim.tv_sec;
        lastDate = OleDateFromTime(lastSecond);
    }
    return lastDate;
}

// The entry for one name, or false when it is a system entry or cannot be examined.
bool Examine(int folder, const std::string& name, FolderEntry& entry, struct stat& st) {
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

// Every entry but "." and "..", in name order; those to recheck are only named (a link
// that leads nowhere yet is kept, for its target may appear). Fails when the folder
// cannot be read.
std::vector<Item> ReadFolder(const std::string& path) {
    FolderStream stream{::opendir(path.c_str())};
    if (!stream.dir) {
        files::RaiseFileError(errno, "ListFolder");
    }
    std::vector<Item> items;
    while (const dirent* d = ::readdir(stream.dir)) {
        Item item;
        item.Entry.Name = d->d_name;
        if (item.Entry.Name == "." || item.Entry.Name == "..") {
            continue;
        }
        struct stat st {};
        if (d->d_type == DT_DIR || d->d_type == DT_LNK || d->d_type == DT_UNKNOWN) {
            item.Recheck = true;
        } else if (Examine(::dirfd(stream.dir), item.Entry.Name, item.Entry, st)) {
            item.Recheck = st.st_nlink > 1;
        } else {
            continue;
        }
        items.push_back(std::move(item));
    }
    SortByName(items);
    return items;
}

// The listed entries: the kept ones as they are, those to recheck examined afresh.
std::vector<FolderEntry> Listed(const std::string& path, const std::vector<Item>& items) {
    std::vector<FolderEntry> entries;
    entries.reserve(items.size());
    UniqueFd folder;
    for (const Item& item : items) {
        if (!item.Recheck) {
            entries.push_back(item.Entry);
            continue;
        }
        if (!folder.IsOpen()) {
            folder.Reset(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        }
        FolderEntry fresh;
        struct stat st {};
        if (folder.IsOpen() && Examine(folder.Get(), item.Entry.Name, fresh, st)) {
            entries.push_back(std::move(fresh));
        }
    }
    return entries;
}

// File systems whose change notifications report every change made to a folder's entries
// (network and user-space file systems do not see changes made elsewhere).
bool NotifiesEveryChange(const std::string& path) {
    struct statfs fs {};
    if (::statfs(path.c_str(), &fs) != 0) {
        return false;
    }
    auto type = static_cast<uint64_t>(fs.f_type);
    return files::IsLocalFileSystem(type) || type == 0x4D44 /* vfat */ ||
           type == 0x2011BAB0 /* exfat */;
}

// The entries of recently listed folders, kept while the kernel reports no change to the
// folder (inotify), so that listing a large folder again does not examine every entry.
// The entries to recheck are examined again every time. A kept listing holds its folder's
// watch; the watch goes with it.
class ListingCache {
public:
    static ListingCache& Instance() {
        static ListingCache cache;
        return cache;
    }

    std::vector<FolderEntry> Entries(const std::string& path) {
        int watch = Watch(path);
        DrainNotifications();
        if (const Folder* kept = watch >= 0 ? folders_.Use(watch, IsCurrent) : nullptr) {
            return Listed(path, kept->Items);
        }
        std::vector<Item> items;
        try {
            items = ReadFolder(path);
        } catch (...) {
            if (watch >= 0 && !folders_.Find(watch)) {
                ::inotify_rm_watch(notify_.Get(), watch);
            }
            throw;
        }
        if (watch < 0) {
            return Listed(path, items);
        }
        return Listed(path, folders_.Keep(watch, Folder{std::move(items), true}, 0).Items);
    }

    void KeepFor(std::chrono::milliseconds time) { folders_.KeepFor(time); }
    size_t Kept() const { return folders_.Kept(); }

private:
    struct Folder {
        std::vector<Item> Items;
        bool Current = false;
    };
    static constexpr size_t MostFolders = 32;
    static constexpr uint32_t Changes = IN_ATTRIB | IN_CREATE | IN_DELETE | IN_DELETE_SELF |
                                        IN_MODIFY | IN_MOVE_SELF | IN_MOVED_FROM | IN_MOVED_TO |
                                        IN_CLOSE_WRITE | IN_ONLYDIR;

    ListingCache() : notify_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

    static bool IsCurrent(const Folder& folder) { return folder.Current; }

    // The watch of the folder, or -1 when its listing cannot be kept.
    int Watch(const std::string& path) {
        if (!notify_.IsOpen()) {
            return -1;
        }
        int watch = ::inotify_add_watch(notify_.Get(), path.c_str(), Changes);
        if (watch < 0 || folders_.Find(watch)) {
            return watch;
        }
        if (!NotifiesEveryChange(path)) {
            ::inotify_rm_watch(notify_.Get(), watch);
            return -1;
        }
        return watch;
    }

    void DrainNotifications() {
        alignas(inotify_event) char buffer[8192];
        for (;;) {
            ssize_t n = ::read(notify_.Get(), buffer, sizeof buffer);
            if (n <= 0) {
                return;
            }
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                Forget(event);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

    void Forget(const inotify_event* event) {
        if (event->mask & IN_Q_OVERFLOW) {
            folders_.ForEach([](Folder& folder) { folder.Current = false; });
        } else if (event->mask & IN_IGNORED) {
            folders_.Forget(event->wd);
        } else if (Folder* folder = folders_.Find(event->wd)) {
            folder->Current = false;
        }
    }

    UniqueFd notify_;
    KeptCache<int, Folder> folders_{
        MostFolders, SIZE_MAX, [this](int watch) { ::inotify_rm_watch(notify_.Get(), watch); }};
};

} // namespace

bool FolderExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<FolderEntry> ListFolder(const std::string& path, bool includeHidden) {
    std::vector<FolderEntry> entries = ListingCache::Instance().Entries(path);
    if (!includeHidden) {
        std::erase_if(entries, [](const FolderEntry& e) { return e.IsHidden; });
    }
    return entries;
}

void KeepListingsFor(std::chrono::milliseconds time) {
    ListingCache::Instance().KeepFor(time);
}

size_t KeptListings() {
    return ListingCache::Instance().Kept();
}

double LastModified(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        files::RaiseFileError(errno, "LastModified");
    }
    return ModifiedOf(st);
}

} // namespace quenloft::folder
