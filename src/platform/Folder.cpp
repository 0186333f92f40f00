// Folder enumeration with POSIX opendir/stat; see Folder.h.
#include "platform/Folder.h"

#include "base/AsciiCase.h"
#include "base/OleDate.h"
#include "platform/ExpiryTimer.h"
#include "platform/Files.h"
#include "platform/MessageLoop.h"
#include "platform/UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <mutex>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
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
    thread_local std::time_t lastSecond = -1;
    thread_local double lastDate = 0;
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
// The entries to recheck are examined again every time. A listing nobody has asked for
// during the keep time is forgotten, and its memory given back, by a timer of the
// program's loop. Only the loop's thread lists folders; the lock keeps any other caller
// safe.
class ListingCache {
public:
    using Clock = std::chrono::steady_clock;

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
            found->second.Used = Clock::now();
            return Listed(path, found->second.Items);
        }
        std::vector<Item> items;
        try {
            items = ReadFolder(path);
        } catch (...) {
            if (watch >= 0 && folders_.count(watch) == 0) {
                ::inotify_rm_watch(notify_.Get(), watch);
            }
            throw;
        }
        if (watch < 0) {
            return Listed(path, items);
        }
        Folder& kept = folders_[watch] = Folder{std::move(items), true, Clock::now()};
        Bound(); // the folder just kept is the last to go
        expiry_.CallAt(Clock::now() + keepFor_);
        return Listed(path, kept.Items);
    }

    void KeepFor(std::chrono::milliseconds time) {
        std::lock_guard lock(lock_);
        keepFor_ = time;
        if (!folders_.empty()) {
            expiry_.CallAt(LeastRecentlyUsed()->second.Used + keepFor_);
        }
    }

    size_t Kept() {
        std::lock_guard lock(lock_);
        return folders_.size();
    }

private:
    struct Folder {
        std::vector<Item> Items;
        bool Current = false;
        Clock::time_point Used;
    };
    static constexpr size_t MostFolders = 32;
    static constexpr uint32_t Changes = IN_ATTRIB | IN_CREATE | IN_DELETE | IN_DELETE_SELF |
                                        IN_MODIFY | IN_MOVE_SELF | IN_MOVED_FROM | IN_MOVED_TO |
                                        IN_CLOSE_WRITE | IN_ONLYDIR;

    ListingCache() : notify_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

    // The watch of the folder, or -1 when its listing cannot be kept.
    int Watch(const std::string& path) {
        if (!notify_.IsOpen()) {
            return -1;
        }
        int watch = ::inotify_add_watch(notify_.Get(), path.c_str(), Changes);
        if (watch < 0 || folders_.count(watch) > 0) {
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
            for (auto& [watch, folder] : folders_) {
                folder.Current = false;
            }
        } else if (event->mask & IN_IGNORED) {
            folders_.erase(event->wd);
        } else if (auto found = folders_.find(event->wd); found != folders_.end()) {
            found->second.Current = false;
        }
    }

    std::unordered_map<int, Folder>::iterator LeastRecentlyUsed() {
        return std::min_element(folders_.begin(), folders_.end(), [](const auto& a, const auto& b) {
            return a.second.Used < b.second.Used;
        });
    }

    // Keeps at most MostFolders watches: the least recently used goes.
    void Bound() {
        while (folders_.size() > MostFolders) {
            Drop(LeastRecentlyUsed());
        }
    }

    void Drop(std::unordered_map<int, Folder>::iterator folder) {
        ::inotify_rm_watch(notify_.Get(), folder->first);
        folders_.erase(folder);
    }

    void Expire() {
        std::lock_guard lock(lock_);
        auto now = Clock::now();
        bool dropped = false;
        for (auto it = folders_.begin(); it != folders_.end();) {
            auto next = std::next(it);
            if (now - it->second.Used >= keepFor_) {
                Drop(it);
                dropped = true;
            }
            it = next;
        }
        if (dropped) {
            ::malloc_trim(0); // a large listing's memory goes back to the system
        }
        if (!folders_.empty()) {
            expiry_.CallAt(LeastRecentlyUsed()->second.Used + keepFor_);
        }
    }

    std::mutex lock_;
    UniqueFd notify_;
    std::unordered_map<int, Folder> folders_;
    std::chrono::milliseconds keepFor_ = std::chrono::seconds(10);
    // When it fires, the listings not asked for during the keep time are forgotten.
    ExpiryTimer expiry_{[this] { Expire(); }};
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
