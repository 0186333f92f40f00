// The main of the test programs that serve on sockets: the process-wide settings the
// program's start-up makes come first, so that a client that closes early fails a send
// instead of ending the tests.
#include "platform/ProcessSettings.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    quenloft::SetProcessWide();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
