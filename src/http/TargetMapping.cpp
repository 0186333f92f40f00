// Target mapping; see TargetMapping.h.
#include "http/TargetMapping.h"

#include "http/URLCoding.h"
#include "platform/Files.h"
#include "platform/Folder.h"

namespace quenloft {

namespace {

// Whether a segment of `path` (a part between "/") is a hidden name.
bool HoldsHiddenSegment(std::string_view path) {
    for (size_t at = 0;; ++at) {
        size_t end = path.find('/', at);
        if (files::IsHiddenName(path.substr(at, end - at))) {
            return true;
        }
        if (end == std::string_view::npos) {
            return false;
        }
        at = end;
    }
}

// The local path for a target's path part, or empty when it is refused.
std::string LocalPath(std::string_view root, std::string_view path, bool plusAsSpace) {
    std::string decoded = plusAsSpace ? DecodeURL(path) : DecodePath(path);
    // A hidden name hides what lies below it too; "." and ".." are among them.
    if (decoded.find('\0') != std::string::npos || HoldsHiddenSegment(decoded)) {
        return {};
    }
    return (root == "/" ? std::string() : std::string(root)) + decoded;
}

bool NamesSomething(const std::string& path) {
    return files::FileExists(path) || folder::FolderExists(path);
}

} // namespace

std::string MapTarget(std::string_view root, std::string_view target) {
    if (root.empty() || root.front() != '/' || target.empty() || target.front() != '/') {
        return {};
    }
    std::string_view path = target.substr(0, target.find('?'));
    std::string local = LocalPath(root, path, false);
    // Earlier listings linked a space as "+", and bookmarks keep such links: a "+" is read as
    // a space only when that names something and the "+" itself names nothing.
    if (path.find('+') != std::string_view::npos && !NamesSomething(local)) {
        std::string spaced = LocalPath(root, path, true);
        if (NamesSomething(spaced)) {
            return spaced;
        }
    }
    return local;
}

} // namespace quenloft
