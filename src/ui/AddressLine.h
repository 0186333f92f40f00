// What the main window shows below its status panel: the addresses another machine on
// the network opens while the server runs, and the folder it serves, or plainly why
// nothing can be served from it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quenloft {

// One IPv4 address of the machine's network interfaces.
struct NetworkAddress {
    std::string IPv4; // dotted, "192.168.1.23"
    bool Loopback = false;
    bool Running = false; // the interface is up and has a link
};

// "http://address:port/" for every address another machine can use: running interfaces
// only, loopback left out, each address once, in the order given except that self-assigned
// link-local addresses (169.254.x.x) come last.
std::vector<std::string> OpenAddresses(const std::vector<NetworkAddress>& addresses, int32_t port);
// The address that only this machine itself can open.
std::string LoopbackAddress(int32_t port);

// The folder line: a lead text, then the folder as it is stored (empty when none is
// set). A problem means requests find nothing there.
struct FolderLine {
    std::string Lead;
    std::string Path;
    bool Problem = false;
};
FolderLine DescribeServedFolder(const std::string& indexPath);

} // namespace quenloft
