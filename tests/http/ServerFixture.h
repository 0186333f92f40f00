// What the serving tests share: a server on a port of the system's choice that serves
// dir/www with fresh stores and its log in the temporary folder, stopped after each test.
#pragma once

#include "app/modMain.h"
#include "http/clsHTTP.h"
#include "platform/DescriptorLimit.h"
#include "support/LoopRunner.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>
#include <string>

namespace quenloft::testing {

class ServerFixture : public ::testing::Test {
protected:
    // As the program's start-up does: a thousand connections need more than the default.
    static void SetUpTestSuite() { RaiseDescriptorLimit(); }
    void SetUp() override {
        root = dir.MakeFolder("www");
        gSettings = clsSettings();
        gStatistics = clsSettings();
        gSettings.SetVariableValue(Variant("IndexPath"), Variant(root));
        gLog.SetFileName(dir / "Log.dat");
        server.StartServer(0);
        port = server.PrimarySocket->LocalPort();
    }
    void TearDown() override {
        server.StopServer();
        RunPasses(5);
    }

    int32_t Statistic(const char* key) { return gStatistics.VariableValue(Variant(key)).ToLong(); }

    TempFolder dir;
    std::string root;
    clsHTTP server;
    int port = 0;
};

} // namespace quenloft::testing
