// A raw client socket on 127.0.0.1, driven alongside the program's message loop in the
// test's own thread: every wait runs loop passes and gives up after a watchdog time.
#pragma once

#include "platform/MessageLoop.h"
#include "platform/UniqueFd.h"
#include "support/LoopRunner.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

namespace quenloft::testing {

class LoopbackClient {
public:
    explicit LoopbackClient(int port, int receiveBuffer = 0) {
        fd_.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (receiveBuffer > 0) { // a client that reads slowly
            ::setsockopt(fd_.Get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    LoopbackClient(const LoopbackClient&) = delete;
    LoopbackClient& operator=(const LoopbackClient&) = delete;

    // Closes with a reset instead of an orderly end.
    // Shuts the sending side only, as a client does that has said all it will say.
    void ShutdownSending() { ::shutdown(fd_.Get(), SHUT_WR); }
    void Reset() {
        linger hard{1, 0};
        ::setsockopt(fd_.Get(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        fd_.Reset(::socket(AF_INET, SOCK_STREAM, 0));
    }
    int LocalPort() const {
        sockaddr_in address{};
        socklen_t size = sizeof address;
        ::getsockname(fd_.Get(), reinterpret_cast<sockaddr*>(&address), &size);
        return ntohs(address.sin_port);
    }

    // The kernel has completed the connection, whether or not the server accepted it yet.
    bool Connected() const {
        pollfd writable{fd_.Get(), POLLOUT, 0};
        int error = 0;
        socklen_t size = sizeof error;
        return ::poll(&writable, 1, 0) == 1 && (writable.revents & POLLOUT) &&
               ::getsockopt(fd_.Get(), SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
    }

    bool Send(std::string_view bytes) {
        return RunUntil([&] {
                   ssize_t n = ::send(fd_.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
                   if (n > 0) {
                       bytes.remove_prefix(static_cast<size_t>(n));
                   }
                   return bytes.empty() || (n < 0 && errno != EAGAIN);
               }) &&
               bytes.empty();
    }
    // Reads until `count` bytes arrived, the server closed, or the watchdog fired.
    std::string Read(size_t count, int watchdogMs = 5000) {
        std::string got;
        RunUntil([&] { return Pull(got, count) || got.size() >= count; }, watchdogMs);
        return got;
    }
    // Reads one answer: its head, then Content-Length bytes, or without that header up to
    // the end of the fixed page ("</html>").
    std::string ReadAnswer() {
        std::string got;
        RunUntil([&] {
            size_t head = got.find("\r\n\r\n");
            size_t length = got.find("\r\nContent-Length: ");
            if (Pull(got, SIZE_MAX) || head == std::string::npos) {
                return head != std::string::npos || closed_;
            }
            if (length != std::string::npos && length < head) {
                return got.size() >= head + 4 + std::stoul(got.substr(length + 18));
            }
            return got.find("</html>", head) != std::string::npos;
        });
        return got;
    }
    // Reads the head of an answer that has no body (to HEAD), up to its empty line.
    std::string ReadHead() {
        std::string got;
        RunUntil([&] { return Pull(got, SIZE_MAX) || got.find("\r\n\r\n") != std::string::npos; });
        return got;
    }
    // Reads until the server closes; a connection still open when the watchdog fires
    // gives the bytes followed by " [still open]", which no expected answer matches.
    std::string ReadToEnd() {
        std::string got;
        RunUntil([&] { return Pull(got, SIZE_MAX); });
        return closed_ ? got : got + " [still open]";
    }
    bool ClosedByServer(int watchdogMs = 2000) {
        std::string ignored;
        RunUntil([&] { return Pull(ignored, SIZE_MAX); }, watchdogMs);
        return closed_;
    }
    std::string Pending() {
        std::string got;
        Pull(got, SIZE_MAX);
        return got;
    }

private:
    // Appends what has arrived; true once the peer has closed (or the socket failed).
    bool Pull(std::string& into, size_t limit) {
        char buffer[65536];
        while (into.size() < limit && !closed_) {
            ssize_t n = ::recv(fd_.Get(), buffer, std::min(sizeof buffer, limit - into.size()), 0);
            if (n < 0 && errno == EAGAIN) {
                return false;
            }
            if (n <= 0) {
                closed_ = true;
            } else {
                into.append(buffer, static_cast<size_t>(n));
            }
        }
        return closed_;
    }

    UniqueFd fd_;
    bool closed_ = false;
};

} // namespace quenloft::testing
