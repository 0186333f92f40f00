// What the serving tests share: a server on a port of the system's choice that serves
// dir/www with stores of its own and its log in the temporary folder, and the check that
// ends every serving test: no connection left, no descriptor left open.
#pragma once

#include "http/clsHTTP.h"
#include "platform/DescriptorLimit.h"
#include "platform/Folder.h"
#include "store/clsLog.h"
#include "store/clsSettings.h"
#include "support/LoopRunner.h"
#include "support/OpenDescriptors.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>
#include <string>

namespace quenloft::testing {

// Counts the descriptors open when a serving test begins; Check ends the test. What the
// process opens once for good (the loop, the socket layer's reserve, the folder watcher)
// is opened before the first count.
class NothingLeftOpen {
public:
    NothingLeftOpen() : openAtStart_((OpenOnceForGood(), OpenDescriptors())) {}

    // Once the server has settled, no connection is live: every client of the test has
    // gone. Stopped, with its log file closed, the server holds no descriptor the test
    // did not find open.
    void Check(clsHTTP& server, clsLog& log) const {
        EXPECT_TRUE(RunUntil([&] { return server.LiveConnections() == 0; }, 20000))
            << server.LiveConnections() << " connections left open";
        server.StopServer();
        RunPasses(5);
        log = clsLog(); // a log keeps its file open between lines
        EXPECT_EQ(OpenDescriptors(), openAtStart_) << "a descriptor was left open";
    }

private:
    static void OpenOnceForGood() {
        static bool opened = [] {
            clsSettings settings, statistics;
            clsLog log;
            clsHTTP server(settings, statistics, log);
            server.StartServer(0);
            server.StopServer();
            TempFolder dir;
            folder::ListFolder(dir.Path(), false);
            return true;
        }();
        (void)opened;
    }

    int openAtStart_;
};

class ServerFixture : public ::testing::Test {
protected:
    // As the program's start-up does: a thousand connections need more than the default.
    static void SetUpTestSuite() { RaiseDescriptorLimit(); }
    void SetUp() override {
        root = dir.MakeFolder("www");
        settings.SetVariableValue(Variant("IndexPath"), Variant(root));
        log.SetFileName(dir / "Log.dat");
        server.StartServer(0);
        port = server.PrimarySocket()->LocalPort();
    }
    void TearDown() override { nothingLeftOpen.Check(server, log); }

    int32_t Statistic(const char* key) { return statistics.VariableValue(Variant(key)).ToLong(); }

    NothingLeftOpen nothingLeftOpen; // before anything of the test is opened
    TempFolder dir;
    std::string root;
    clsSettings settings;
    clsSettings statistics;
    clsLog log;
    clsHTTP server{settings, statistics, log};
    int port = 0;
};

} // namespace quenloft::testing
