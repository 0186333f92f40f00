// The address line from a list of interface addresses, and the folder line from the
// stored folder and what lies on disk.
#include "ui/AddressLine.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quenloft {
namespace {

using testing::TempFolder;

TEST(AddressLine, OnlyRunningNonLoopbackAddressesEachOnceLinkLocalLast) {
    std::vector<NetworkAddress> machine = {
        {"127.0.0.1", true, true},     // loopback
        {"169.254.7.1", false, true},  // self-assigned
        {"192.168.1.23", false, true}, // the LAN
        {"10.0.0.5", false, false},    // cable unplugged
        {"192.168.1.23", false, true}, // the same address on a second interface
        {"172.17.0.1", false, true},
    };
    EXPECT_EQ(OpenAddresses(machine, 8080),
              (std::vector<std::string>{"http://192.168.1.23:8080/", "http://172.17.0.1:8080/",
                                        "http://169.254.7.1:8080/"}));
    EXPECT_TRUE(OpenAddresses({{"127.0.0.1", true, true}}, 8080).empty());
    EXPECT_TRUE(OpenAddresses({}, 8080).empty());
}

TEST(AddressLine, PortEightyIsWrittenAsBrowsersWriteIt) {
    EXPECT_EQ(OpenAddresses({{"192.168.1.23", false, true}}, 80),
              std::vector<std::string>{"http://192.168.1.23/"});
    EXPECT_EQ(LoopbackAddress(80), "http://127.0.0.1/");
    EXPECT_EQ(LoopbackAddress(65535), "http://127.0.0.1:65535/");
}

TEST(AddressLine, FolderLineSaysPlainlyWhyNothingIsServed) {
    TempFolder disk;
    std::string folder = disk.MakeFolder("www");
    std::string file = disk.Write("www/index.html", "hi");
    const struct {
        std::string Stored;
        std::string Lead;
        bool Problem;
    } cases[] = {
        {"", "No folder is set: choose one under Configure.", true},
        {"www", "Not a full path, choose the folder under Configure: ", true},
        {disk / "gone", "This folder does not exist: ", true},
        {file + "/below", "This folder does not exist: ", true},
        {file, "This is not a folder: ", true},
        {folder, "Folder: ", false},
        {folder + "/", "Folder: ", false},
    };
    for (const auto& c : cases) {
        FolderLine line = DescribeServedFolder(c.Stored);
        EXPECT_EQ(line.Lead, c.Lead) << c.Stored;
        EXPECT_EQ(line.Path, c.Stored);
        EXPECT_EQ(line.Problem, c.Problem) << c.Stored;
    }
    // A link is followed, as the server follows it.
    ASSERT_EQ(::symlink(folder.c_str(), (disk / "link").c_str()), 0);
    EXPECT_FALSE(DescribeServedFolder(disk / "link").Problem);

    if (::geteuid() != 0) { // permissions do not hold back root
        ::chmod(folder.c_str(), 0);
        EXPECT_EQ(DescribeServedFolder(folder).Lead, "This folder cannot be read: ");
        ::chmod(folder.c_str(), 0755);
    }
}

} // namespace
} // namespace quenloft
