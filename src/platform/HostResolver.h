// Host names resolved in the background: one thread runs getaddrinfo (IPv4) for the queued
// requests in turn, writes each reply into the caller's buffer and tells the caller from
// its own thread. It never touches program objects, and tells nothing once the resolver
// has gone.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace quenloft {

// The reply buffer of a resolution. The resolver writes, from its own thread, the first
// IPv4 address in network byte order (4 bytes) and then the official name, zero-terminated.
inline constexpr std::size_t HostEntrySize = 1024;
using HostEntryBuffer = std::array<std::byte, HostEntrySize>;

struct HostEntry {
    uint32_t Address = 0; // network byte order
    std::string Name;
};
HostEntry ReadHostEntry(const HostEntryBuffer& buffer);

class HostResolver {
public:
    // Called on the resolver's thread: (request handle, bytes written, socket error number).
    using Done = std::function<void(uint32_t, uint32_t, int32_t)>;

    HostResolver();
    ~HostResolver(); // once it returns, no Done runs any more
    HostResolver(const HostResolver&) = delete;
    HostResolver& operator=(const HostResolver&) = delete;

    // Queues the resolution of `name` into `reply`, told to `done`; returns the request
    // handle (never 0). Starts the thread at the first request.
    uint32_t Resolve(std::string name, std::shared_ptr<HostEntryBuffer> reply, Done done);

private:
    struct Shared;
    // Shared with the thread, so that the thread never outlives what it touches.
    std::shared_ptr<Shared> shared_;
};

} // namespace quenloft
