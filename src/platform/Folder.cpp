// Folder enumeration with POSIX opendir/stat; see Folder.h.
#include "platform/Folder.h"

#include "base/AsciiCase.h"
#include "base/OleDate.h"
#include "platform/Files.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <type_traits>
#include <unistd.h>
#include <unordered_map>

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
template <typename T>
const std::string& NameOf(const T& item) {
    if constexpr (std::is_same_v<T, FolderEntry>) {
        return item.Name;
    } else {
        return item.Entry.Name;
    }
}

template <typename T>
void SortByName(std::vector<T>& entries) {
    std::vector<std::pair<std::string, size_t>> keys;
    keys.reserve(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        keys.emplace_back(LowerAscii(NameOf(entries[i])), i);
    }
    std::sort(keys.begin(), keys.end(), [&](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first
                                  : NameOf(entries[a.second]) < NameOf(entries[b.second]);
    });
    std::vector<T> sorted;
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

// One entry as read, with whether the folder's change notifications cover its data: those
// of a subfolder or a link change without the folder itself hearing of it.
struct Item {
    FolderEntry Entry;
    bool Recheck = false;
};

// Every entry but "." and "..", in name order. Fails when the folder cannot be read.
std::vector<Item> ReadFolder(const std::string& path) {
    FolderStream stream{::opendir(path.c_str())};
    if (!stream.dir) {
        files::RaiseFileError(errno, "ListFolder");
    }
    std::vector<Item> items;
    while (const dirent* d = ::readdir(stream.dir)) {
        std::string name = d->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        Item item;
        if (Examine(::dirfd(stream.dir), name, item.Entry)) {
            item.Recheck = item.Entry.IsFolder || d->d_type == DT_LNK || d->d_type == DT_UNKNOWN;
            items.push_back(std::move(item));
        }
    }
    SortByName(items);
    return items;
}

// File systems whose change notifications report every change made to a folder's entries
// (network and user-space file systems do not see changes made elsewhere).
bool NotifiesEveryChange(const std::string& path) {
    struct statfs fs {};
    if (::statfs(path.c_str(), &fs) != 0) {
        return false;
    }
    switch (static_cast<uint64_t>(fs.f_type)) {
    case 0xEF53:     // ext2, ext3, ext4
    case 0x58465342: // xfs
    case 0x9123683E: // btrfs
    case 0x01021994: // tmpfs
    case 0xF2F52010: // f2fs
    case 0x2FC12FC1: // zfs
    case 0x4D44:     // vfat
    case 0x2011BAB0: // exfat
        return true;
    default:
        return false;
    }
}

// The entries of recently listed folders, kept while the kernel reports no change to the
// folder (inotify), so that listing a large folder again does not examine every entry.
// Subfolders and links are examined again every time. Only the loop's thread lists
// folders; the lock keeps any other caller safe.
class ListingCache {
public:
    static ListingCache& Instance() {
        static ListingCache cache;
        return cache;
    }

    std::vector<FolderEntry> Entries(const std::string& path) {
        std::lock_guard lock(lock_);
        int watch = Watch(path);
        DrainNotifications();
        if (auto found = folders_.find(watch);
            watch >= 0 && found != folders_.end() && found->second.Current) {
            return Rechecked(path, found->second.Items);
        }
        std::vector<Item> items;
        try {
            items = ReadFolder(path);
        } catch (...) {
            if (watch >= 0 && folders_.count(watch) == 0) {
                ::inotify_rm_watch(notify_, watch);
            }
            throw;
        }
        if (watch >= 0) {
            folders_[watch] = Folder{items, true, ++clock_};
            Bound();
        }
        return Entries(items);
    }

private:
    struct Folder {
        std::vector<Item> Items;
        bool Current = false;
        uint64_t Used = 0;
    };
    static constexpr size_t MostFolders = 32;
    static constexpr uint32_t Changes = IN_ATTRIB | IN_CREATE | IN_DELETE | IN_DELETE_SELF |
                                        IN_MODIFY | IN_MOVE_SELF | IN_MOVED_FROM | IN_MOVED_TO |
                                        IN_CLOSE_WRITE | IN_ONLYDIR;

    ListingCache() { notify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC); }
    ~ListingCache() {
        if (notify_ >= 0) {
            ::close(notify_);
        }
    }

    // The watch of the folder, or -1 when its listing cannot be kept.
    int Watch(const std::string& path) {
        if (notify_ < 0) {
            return -1;
        }
        int watch = ::inotify_add_watch(notify_, path.c_str(), Changes);
        if (watch < 0 || folders_.count(watch) > 0) {
            return watch;
        }
        if (!NotifiesEveryChange(path)) {
            ::inotify_rm_watch(notify_, watch);
            return -1;
        }
        return watch;
    }

    void DrainNotifications() {
        alignas(inotify_event) char buffer[8192];
        for (;;) {
            ssize_t n = ::read(notify_, buffer, sizeof buffer);
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
            for (auto& [watch, folder] : folders_) {
                folder.Current = false;
            }
        } else if (event->mask & IN_IGNORED) {
            folders_.erase(event->wd);
        } else if (auto found = folders_.find(event->wd); found != folders_.end()) {
            found->second.Current = false;
        }
    }

    // Keeps at most MostFolders watches: the least recently stored goes.
    void Bound() {
        while (folders_.size() > MostFolders) {
            auto oldest = std::min_element(
                folders_.begin(), folders_.end(),
                [](const auto& a, const auto& b) { return a.second.Used < b.second.Used; });
            ::inotify_rm_watch(notify_, oldest->first);
            folders_.erase(oldest);
        }
    }

    static std::vector<FolderEntry> Entries(const std::vector<Item>& items) {
        std::vector<FolderEntry> entries;
        entries.reserve(items.size());
        for (const Item& item : items) {
            entries.push_back(item.Entry);
        }
        return entries;
    }

    // The kept entries, with subfolders and links examined afresh.
    static std::vector<FolderEntry> Rechecked(const std::string& path,
                                              const std::vector<Item>& items) {
        std::vector<FolderEntry> entries;
        entries.reserve(items.size());
        int folder = -1;
        for (const Item& item : items) {
            if (!item.Recheck) {
                entries.push_back(item.Entry);
                continue;
            }
            if (folder < 0) {
                folder = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            }
            FolderEntry fresh;
            if (folder >= 0 && Examine(folder, item.Entry.Name, fresh)) {
                entries.push_back(std::move(fresh));
            }
        }
        if (folder >= 0) {
            ::close(folder);
        }
        return entries;
    }

    std::mutex lock_;
    int notify_ = -1;
    std::unordered_map<int, Folder> folders_;
    uint64_t clock_ = 0;
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

double LastModified(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        files::RaiseFileError(errno, "LastModified");
    }
    return ModifiedOf(st);
}

} // namespace quenloft::folder
