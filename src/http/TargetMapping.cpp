// Target mapping; see TargetMapping.h.
#include "http/TargetMapping.h"

#include "base/TextHelpers.h"
#include "http/URLCoding.h"
#include "platform/Files.h"
#include "platform/Folder.h"

namespace quenloft {

namespace {

// The local path for a target's path part, or empty when it is refused.
std::string LocalPath(std::string_view root, std::string_view path, bool plusAsSpace) {
    std::string decoded = plusAsSpace ? DecodeURL(path) : DecodePath(path);
    if (decoded.find('\0') != std::string::npos) {
        return {};
    }
    // A hidden name hides what lies below it too; "." and ".." are among them.
    for (std::string_view segment : SplitAt(decoded, "/")) {
        if (files::IsHiddenName(segment)) {
            return {};
        }
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
