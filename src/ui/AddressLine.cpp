#include "ui/AddressLine.h"

#include <algorithm>
#include <filesystem>
#include <unistd.h>

namespace quenloft {

namespace {

// Browsers write the web's own port 80 without a number.
std::string Url(const std::string& address, int32_t port) {
    return "http://" + address + (port == 80 ? "" : ":" + std::to_string(port)) + "/";
}

// A self-assigned address: reachable only on the same link, and usually a sign that
// the interface found no network.
bool IsLinkLocal(const std::string& address) {
    return address.starts_with("169.254.");
}

} // namespace

std::vector<std::string> OpenAddresses(const std::vector<NetworkAddress>& addresses, int32_t port) {
    std::vector<std::string> usable;
    for (const NetworkAddress& address : addresses) {
        if (address.Running && !address.Loopback && !address.IPv4.empty() &&
            std::find(usable.begin(), usable.end(), address.IPv4) == usable.end()) {
            usable.push_back(address.IPv4);
        }
    }
    std::stable_partition(usable.begin(), usable.end(),
                          [](const std::string& address) { return !IsLinkLocal(address); });
    std::vector<std::string> urls;
    for (const std::string& address : usable) {
        urls.push_back(Url(address, port));
    }
    return urls;
}

std::string LoopbackAddress(int32_t port) {
    return Url("127.0.0.1", port);
}

// Links are followed, as the server follows them.
FolderLine DescribeServedFolder(const std::string& indexPath) {
    if (indexPath.empty()) {
        return {"No folder is set: choose one under Configure.", {}, true};
    }
    if (indexPath.front() != '/') {
        return {"Not a full path, choose the folder under Configure: ", indexPath, true};
    }
    using std::filesystem::file_type;
    std::error_code failed;
    file_type kind = std::filesystem::status(indexPath, failed).type();
    if (kind == file_type::not_found) {
        return {"This folder does not exist: ", indexPath, true};
    }
    if (kind != file_type::directory && kind != file_type::none) {
        return {"This is not a folder: ", indexPath, true};
    }
    // A folder on the way that may not be searched leaves the kind unknown.
    if (kind == file_type::none || ::access(indexPath.c_str(), R_OK | X_OK) != 0) {
        return {"This folder cannot be read: ", indexPath, true};
    }
    return {"Folder: ", indexPath, false};
}

} // namespace quenloft
