#include "platform/HostResolver.h"

#include "platform/SocketErrors.h"

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <string_view>
#include <thread>
#include <utility>

namespace quenloft {

namespace {

int32_t ResolveErrorCode(int rc, int err) {
    switch (rc) {
    case EAI_NONAME:
        return 11001; // host not found
    case EAI_AGAIN:
        return 11002; // nonauthoritative host not found (try again)
    case EAI_FAIL:
        return 11003; // nonrecoverable
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
#endif
        return 11004; // a valid name without an IPv4 address
    case EAI_MEMORY:
        return SocketErrorCode(ENOBUFS);
    case EAI_FAMILY:
        return SocketErrorCode(EAFNOSUPPORT);
    case EAI_SYSTEM:
        return SocketErrorCode(err);
    default:
        return 11003;
    }
}

// Resolves `name` into `out`; returns (length written, error code).
std::pair<uint32_t, int32_t> ResolveInto(const std::string& name, HostEntryBuffer& out) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    int rc = getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (rc != 0) {
        return {0, ResolveErrorCode(rc, errno)};
    }
    const addrinfo* first = found;
    while (first && first->ai_family != AF_INET) {
        first = first->ai_next;
    }
    if (!first) {
        freeaddrinfo(found);
        return {0, 11004};
    }
    uint32_t address = reinterpret_cast<const sockaddr_in*>(first->ai_addr)->sin_addr.s_addr;
    std::string_view official =
        found->ai_canonname ? std::string_view(found->ai_canonname) : std::string_view(name);
    official = official.substr(0, out.size() - sizeof address - 1);
    std::memcpy(out.data(), &address, sizeof address);
    std::memcpy(out.data() + sizeof address, official.data(), official.size());
    out[sizeof address + official.size()] = std::byte{0};
    freeaddrinfo(found);
    return {static_cast<uint32_t>(sizeof address + official.size() + 1), 0};
}

} // namespace

HostEntry ReadHostEntry(const HostEntryBuffer& buffer) {
    HostEntry entry;
    std::memcpy(&entry.Address, buffer.data(), sizeof entry.Address);
    const char* name = reinterpret_cast<const char*>(buffer.data()) + sizeof entry.Address;
    entry.Name.assign(name, strnlen(name, buffer.size() - sizeof entry.Address));
    return entry;
}

// The requests and the resolver's life, under one lock: a reply is told only while the
// resolver is alive, under this lock.
struct HostResolver::Shared {
    struct Request {
        uint32_t Handle;
        std::string Name;
        std::shared_ptr<HostEntryBuffer> Reply;
        Done Tell;
    };

    std::mutex Lock;
    std::condition_variable Wake;
    std::deque<Request> Pending;
    bool Alive = true;
    bool Started = false;
    uint32_t NextHandle = 1;

    static void Work(std::shared_ptr<Shared> self) {
        for (;;) {
            Request request;
            {
                std::unique_lock lock(self->Lock);
                self->Wake.wait(lock, [&] { return !self->Pending.empty() || !self->Alive; });
                if (!self->Alive) {
                    return;
                }
                request = std::move(self->Pending.front());
                self->Pending.pop_front();
            }
            auto [length, error] = ResolveInto(request.Name, *request.Reply);
            std::lock_guard lock(self->Lock);
            if (!self->Alive) {
                return;
            }
            request.Tell(request.Handle, length, error);
        }
    }
};

HostResolver::HostResolver() : shared_(std::make_shared<Shared>()) {}

HostResolver::~HostResolver() {
    {
        std::lock_guard lock(shared_->Lock);
        shared_->Alive = false;
    }
    shared_->Wake.notify_all();
}

uint32_t HostResolver::Resolve(std::string name, std::shared_ptr<HostEntryBuffer> reply,
                               Done done) {
    std::lock_guard lock(shared_->Lock);
    if (!shared_->Started) {
        std::thread(Shared::Work, shared_).detach();
        shared_->Started = true;
    }
    uint32_t handle = shared_->NextHandle++;
    if (shared_->NextHandle == 0) {
        shared_->NextHandle = 1;
    }
    shared_->Pending.push_back({handle, std::move(name), std::move(reply), std::move(done)});
    shared_->Wake.notify_one();
    return handle;
}

} // namespace quenloft
