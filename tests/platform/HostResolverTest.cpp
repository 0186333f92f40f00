// The resolver on its own: replies written from its thread, told with their handles.
#include "platform/HostResolver.h"

#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <map>
#include <mutex>

namespace quenloft {
namespace {

struct Told {
    uint32_t Length;
    int32_t Error;
};

TEST(HostResolver, RepliesComeFromItsThreadWithTheirHandles) {
    std::mutex lock;
    std::condition_variable arrived;
    std::map<uint32_t, Told> told;
    auto tell = [&](uint32_t handle, uint32_t length, int32_t error) {
        std::lock_guard hold(lock);
        told[handle] = {length, error};
        arrived.notify_all();
    };
    HostResolver resolver;
    auto good = std::make_shared<HostEntryBuffer>();
    uint32_t goodId = resolver.Resolve("localhost", good, tell);
    uint32_t badId = resolver.Resolve("...", std::make_shared<HostEntryBuffer>(), tell);
    EXPECT_NE(goodId, 0u);
    EXPECT_NE(goodId, badId);

    std::unique_lock wait(lock);
    ASSERT_TRUE(arrived.wait_for(wait, std::chrono::seconds(10), [&] { return told.size() == 2; }));
    HostEntry entry = ReadHostEntry(*good);
    EXPECT_EQ(entry.Address, htonl(INADDR_LOOPBACK));
    EXPECT_EQ(entry.Name, "localhost");
    EXPECT_EQ(told[goodId].Error, 0);
    EXPECT_EQ(told[goodId].Length, 4 + entry.Name.size() + 1);
    EXPECT_EQ(told[badId].Error, 11001) << "host not found";
    EXPECT_EQ(told[badId].Length, 0u);
}

} // namespace
} // namespace quenloft
