// A raw client socket on 127.0.0.1 driven alongside the program's message loop in the
// test's own thread: every wait runs loop passes and gives up after a watchdog time.
#pragma once

#include "platform/MessageLoop.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <functional>
#include <netinet/in.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

namespace quenloft::testing {

// Runs loop passes until `done` holds or the watchdog time passes; false on time-out.
inline bool RunUntil(const std::function<bool()>& done, int watchdogMs = 5000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(watchdogMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        ProgramLoop().Wait(5);
        ProgramLoop().RunOnePass();
    }
    return true;
}

// Runs a few passes, for checking that nothing (more) happens.
inline void RunPasses(int count = 20) {
    for (int i = 0; i < count; ++i) {
        ProgramLoop().Wait(1);
        ProgramLoop().RunOnePass();
    }
}

class LoopbackClient {
public:
    explicit LoopbackClient(int port, int receiveBuffer = 0) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (receiveBuffer > 0) {
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    ~LoopbackClient() { Close(); }
    LoopbackClient(const LoopbackClient&) = delete;
    LoopbackClient& operator=(const LoopbackClient&) = delete;

    void Close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    // Closes with a reset instead of an orderly end.
    void Reset() {
        linger hard{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        Close();
    }

    int LocalPort() const {
        sockaddr_in address{};
        socklen_t size = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
        return ntohs(address.sin_port);
    }

    // Sends everything, letting the loop run while the socket is full.
    bool Send(std::string_view bytes) {
        return RunUntil([&] {
                   while (!bytes.empty()) {
                       ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
                       if (n <= 0) {
                           return n < 0 && errno != EAGAIN && errno != EWOULDBLOCK;
                       }
                       bytes.remove_prefix(static_cast<size_t>(n));
                   }
                   return true;
               }) &&
               bytes.empty();
    }

    // Reads until `count` bytes have arrived, the server closed, or the watchdog fired.
    std::string Read(size_t count, int watchdogMs = 5000) {
        std::string got;
        RunUntil([&] { return Pull(got, count) || got.size() >= count; }, watchdogMs);
        return got;
    }
    // Reads one answer: its head, then Content-Length bytes, or without that header up to
    // the end of the fixed page ("</html>").
    std::string ReadAnswer(int watchdogMs = 5000) {
        std::string got;
        auto complete = [&] {
            size_t head = got.find("\r\n\r\n");
            if (head == std::string::npos) {
                return false;
            }
            head += 4;
            size_t length = got.find("\r\nContent-Length: ");
            if (length != std::string::npos && length < head) {
                return got.size() >= head + std::stoul(got.substr(length + 18));
            }
            return got.find("</html>", head) != std::string::npos;
        };
        RunUntil([&] { return Pull(got, SIZE_MAX) || complete(); }, watchdogMs);
        return got;
    }
    // Reads until the server closes; a connection still open when the watchdog fires
    // gives the bytes followed by " [still open]", which no expected answer matches.
    std::string ReadToEnd(int watchdogMs = 5000) {
        std::string got;
        closed_ = false;
        RunUntil([&] { return Pull(got, SIZE_MAX); }, watchdogMs);
        return closed_ ? got : got + " [still open]";
    }
    // Whether the server has closed its side, after letting the loop run a little.
    bool ClosedByServer(int watchdogMs = 2000) {
        std::string ignored;
        return RunUntil([&] { return Pull(ignored, SIZE_MAX); }, watchdogMs) && closed_;
    }
    // Bytes available now, without waiting.
    std::string Pending() {
        std::string got;
        Pull(got, SIZE_MAX);
        return got;
    }

private:
    // Appends what is there; true when the peer has closed (or the socket failed).
    bool Pull(std::string& into, size_t limit) {
        char buffer[65536];
        while (into.size() < limit) {
            size_t want = std::min(sizeof buffer, limit - into.size());
            ssize_t n = ::recv(fd_, buffer, want, 0);
            if (n > 0) {
                into.append(buffer, static_cast<size_t>(n));
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                return false;
            }
            closed_ = true;
            return true;
        }
        return false;
    }

    int fd_ = -1;
    bool closed_ = false;
};

} // namespace quenloft::testing
