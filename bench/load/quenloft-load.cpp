// quenloft-load MODE PORT ...: the load clients of bench/soak, on 127.0.0.1 only. Each mode
// prints one line of key=value results; the modes that hold connections print "open ..."
// once they are set up, wait for a line on standard input, then close and print the rest.
//
//   keepalive PORT CONNECTIONS REQUESTS TARGET    exactly REQUESTS requests, one at a time
//                                                  per connection, each answer read whole
//   resets PORT CONNECTIONS PARALLEL TARGET        each connection reads the start of the
//                                                  answer, then resets
//   heads PORT CONNECTIONS SIZE TARGET             each sends one request of SIZE bytes and
//                                                  reads its answer; then all are held
//   unfinished PORT CONNECTIONS SIZE               each sends SIZE bytes of a head that never
//                                                  ends; then all are held
//   idle PORT CONNECTIONS                          connections that never send
//   slow PORT BIGTARGET TARGET SECONDS RATE        a reader taking RATE bytes/s of BIGTARGET
//                                                  beside a client timing requests for TARGET
//
// Every mode gives up after its own time limit (QUENLOFT_LOAD_LIMIT seconds, default 600).
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <string_view>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int gPort = 0;
Clock::time_point gGiveUp;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

bool TimeIsUp() {
    return Clock::now() > gGiveUp;
}

// A non-blocking connect to the server; -1 when no socket could be made.
int Connect(int receiveBuffer = 0) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    if (receiveBuffer > 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(gPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
        errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void Reset(int fd) {
    linger hard{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(fd);
}

std::string Get(std::string_view target) {
    return "GET " + std::string(target) + " HTTP/1.1\r\nHost: soak\r\n\r\n";
}

// Reads what has arrived; false once the peer has closed or the socket failed.
bool Drain(int fd, std::string& into) {
    char buffer[65536];
    for (;;) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            into.append(buffer, static_cast<size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return n < 0 && errno == EAGAIN;
        }
    }
}

// Sends what the socket takes now; true once nothing is left.
bool Push(int fd, std::string& out) {
    while (!out.empty()) {
        ssize_t n = ::send(fd, out.data(), out.size(), MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        out.erase(0, static_cast<size_t>(n));
    }
    return true;
}

// The length of the first whole answer at the start of `bytes` (its head and
// Content-Length bytes), or 0 while it is incomplete. `status` gets its status code.
size_t WholeAnswer(std::string_view bytes, int& status) {
    size_t head = bytes.find("\r\n\r\n");
    if (head == std::string_view::npos) {
        return 0;
    }
    status = bytes.size() > 12 ? std::atoi(std::string(bytes.substr(9, 3)).c_str()) : 0;
    size_t length = 0;
    size_t at = bytes.substr(0, head).find("\r\nContent-Length: ");
    if (at != std::string_view::npos) {
        length = std::strtoul(std::string(bytes.substr(at + 18, 20)).c_str(), nullptr, 10);
    }
    size_t whole = head + 4 + length;
    return bytes.size() >= whole ? whole : 0;
}

struct Percentiles {
    double P50 = 0, P99 = 0, Max = 0; // milliseconds
};

Percentiles Summarise(std::vector<uint32_t>& micros) {
    Percentiles p;
    if (micros.empty()) {
        return p;
    }
    std::sort(micros.begin(), micros.end());
    auto at = [&](double q) { return micros[static_cast<size_t>(q * (micros.size() - 1))] / 1e3; };
    p.P50 = at(0.50);
    p.P99 = at(0.99);
    p.Max = micros.back() / 1e3;
    return p;
}

uint32_t MicrosSince(Clock::time_point since) {
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - since).count());
}

class Poller {
public:
    Poller() : fd_(::epoll_create1(EPOLL_CLOEXEC)) {}
    ~Poller() { ::close(fd_); }
    void Add(int fd, uint32_t events) {
        epoll_event e{events, {.fd = fd}};
        ::epoll_ctl(fd_, EPOLL_CTL_ADD, fd, &e);
    }
    void Change(int fd, uint32_t events) {
        epoll_event e{events, {.fd = fd}};
        ::epoll_ctl(fd_, EPOLL_CTL_MOD, fd, &e);
    }
    void Remove(int fd) { ::epoll_ctl(fd_, EPOLL_CTL_DEL, fd, nullptr); }
    std::vector<epoll_event> Wait(int ms) {
        std::vector<epoll_event> events(256);
        int n = ::epoll_wait(fd_, events.data(), static_cast<int>(events.size()), ms);
        events.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return events;
    }

private:
    int fd_;
};

// Waits for a line on standard input: the caller has measured the held state.
void HoldUntilTold() {
    std::printf("\n");
    std::fflush(stdout);
    std::string line;
    std::getline(std::cin, line);
}

// --- keepalive ------------------------------------------------------------------------

int KeepAlive(int connections, long requests, const std::string& target) {
    struct Conn {
        std::string In, Out;
        Clock::time_point Sent;
        bool Busy = false;
    };
    const std::string request = Get(target);
    Poller poller;
    std::unordered_map<int, Conn> conns;
    long sent = 0, answered = 0, ok = 0, errors = 0;
    std::vector<uint32_t> micros;
    micros.reserve(static_cast<size_t>(requests));
    auto sendNext = [&](int fd, Conn& c) {
        if (sent >= requests) {
            return;
        }
        ++sent;
        c.Busy = true;
        c.Sent = Clock::now();
        c.Out = request;
        if (!Push(fd, c.Out)) {
            poller.Change(fd, EPOLLIN | EPOLLOUT);
        }
    };
    for (int i = 0; i < connections; ++i) {
        int fd = Connect();
        if (fd < 0) {
            ++errors;
            continue;
        }
        conns[fd] = Conn{};
        poller.Add(fd, EPOLLIN | EPOLLOUT);
    }
    auto start = Clock::now();
    while (answered + errors < requests && !conns.empty() && !TimeIsUp()) {
        for (const epoll_event& e : poller.Wait(100)) {
            int fd = e.data.fd;
            Conn& c = conns[fd];
            if (e.events & EPOLLOUT) {
                poller.Change(fd, EPOLLIN);
                if (!c.Busy) {
                    sendNext(fd, c);
                } else if (!Push(fd, c.Out)) {
                    poller.Change(fd, EPOLLIN | EPOLLOUT);
                }
            }
            bool open = Drain(fd, c.In);
            int status = 0;
            while (size_t whole = WholeAnswer(c.In, status)) {
                micros.push_back(MicrosSince(c.Sent));
                ++answered;
                ok += status == 200;
                c.In.erase(0, whole);
                c.Busy = false;
                sendNext(fd, c);
            }
            if (!open) {
                errors += c.Busy; // an answer that never came
                poller.Remove(fd);
                ::close(fd);
                conns.erase(fd);
            }
        }
    }
    double seconds = Seconds(start);
    for (auto& [fd, c] : conns) {
        ::close(fd);
    }
    Percentiles p = Summarise(micros);
    std::printf("sent=%ld answered=%ld ok=%ld errors=%ld seconds=%.1f rate=%.0f p50_ms=%.3f "
                "p99_ms=%.3f max_ms=%.1f\n",
                sent, answered, ok, errors, seconds, answered / seconds, p.P50, p.P99, p.Max);
    return 0;
}

// --- resets ---------------------------------------------------------------------------

int Resets(long connections, int parallel, const std::string& target) {
    const std::string request = Get(target);
    Poller poller;
    std::unordered_map<int, bool> sentRequest;
    long started = 0, answered = 0, errors = 0;
    long long bytesRead = 0;
    auto start = [&] {
        int fd = Connect();
        ++started;
        if (fd < 0) {
            ++errors;
            return;
        }
        sentRequest[fd] = false;
        poller.Add(fd, EPOLLOUT | EPOLLIN);
    };
    auto begun = Clock::now();
    while ((started < connections || !sentRequest.empty()) && !TimeIsUp()) {
        while (started < connections && static_cast<int>(sentRequest.size()) < parallel) {
            start();
        }
        for (const epoll_event& e : poller.Wait(100)) {
            int fd = e.data.fd;
            if (!sentRequest[fd] && (e.events & EPOLLOUT)) {
                std::string out = request;
                sentRequest[fd] = Push(fd, out);
                poller.Change(fd, EPOLLIN);
                continue;
            }
            if (!(e.events & (EPOLLIN | EPOLLHUP | EPOLLERR))) {
                continue;
            }
            char start12[4096];
            ssize_t n = ::recv(fd, start12, sizeof start12, 0);
            if (n < 0 && errno == EAGAIN) {
                continue;
            }
            if (n >= 12 && std::string_view(start12, 12) == "HTTP/1.1 200") {
                ++answered;
                bytesRead += n;
            } else {
                ++errors;
            }
            poller.Remove(fd);
            Reset(fd);
            sentRequest.erase(fd);
        }
    }
    std::printf("connections=%ld answered=%ld errors=%ld bytes_read=%lld seconds=%.1f\n", started,
                answered, errors, bytesRead, Seconds(begun));
    return 0;
}

// --- heads, unfinished and idle connections held open ------------------------------

struct Held {
    std::string In, Out;
    bool Connected = false;
    bool Closed = false;
    bool Answered = false;
};

// Connects `connections` sockets, at most `parallel` still setting up at a time, and
// gives each the bytes of `request` (none for idle ones); `answered` says whether a
// connection waits for its answer before it counts as set up.
std::vector<std::pair<int, Held>> SetUp(long connections, int parallel, const std::string& request,
                                        bool waitForAnswer) {
    Poller poller;
    std::vector<std::pair<int, Held>> held;
    std::unordered_map<int, Held> busy;
    long started = 0;
    while ((started < connections || !busy.empty()) && !TimeIsUp()) {
        while (started < connections && static_cast<int>(busy.size()) < parallel) {
            ++started;
            int fd = Connect();
            if (fd < 0) {
                Held failed;
                failed.Closed = true;
                held.push_back({-1, std::move(failed)});
                continue;
            }
            busy[fd].Out = request;
            poller.Add(fd, EPOLLOUT | EPOLLIN);
        }
        for (const epoll_event& e : poller.Wait(100)) {
            int fd = e.data.fd;
            Held& h = busy[fd];
            if (e.events & EPOLLOUT) {
                h.Connected = true;
                if (Push(fd, h.Out)) {
                    poller.Change(fd, EPOLLIN);
                }
            }
            if (e.events & (EPOLLIN | EPOLLHUP | EPOLLERR)) {
                h.Closed = !Drain(fd, h.In);
            }
            int status = 0;
            h.Answered = WholeAnswer(h.In, status) > 0;
            bool done =
                h.Closed || (h.Connected && h.Out.empty() && (!waitForAnswer || h.Answered));
            if (done) {
                poller.Remove(fd);
                held.push_back({fd, std::move(h)});
                busy.erase(fd);
            }
        }
    }
    for (auto& [fd, h] : busy) {
        held.push_back({fd, std::move(h)});
    }
    return held;
}

// What became of held connections after a while: closed by the server, answered 431.
void Settle(std::vector<std::pair<int, Held>>& held, long& closed, long& refused) {
    closed = refused = 0;
    for (auto& [fd, h] : held) {
        if (fd >= 0 && !h.Closed) {
            h.Closed = !Drain(fd, h.In);
        }
        closed += h.Closed;
        refused += h.In.starts_with("HTTP/1.1 431 ");
    }
}

void CloseAll(std::vector<std::pair<int, Held>>& held) {
    for (auto& [fd, h] : held) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

int Heads(long connections, size_t size, const std::string& target, bool complete) {
    std::string request;
    if (complete) {
        std::string start = "GET " + target + " HTTP/1.1\r\nHost: soak\r\nX-Pad: ";
        request = start + std::string(size - start.size() - 4, 'p') + "\r\n\r\n";
    } else {
        std::string start = "GET " + target + " HTTP/1.1\r\nX-Pad: ";
        request = start + std::string(size - start.size(), 'p');
    }
    auto begun = Clock::now();
    // Complete heads are set up a few at a time: each waits for its answer, so the listen
    // queue never overflows, and the step measures what held heads cost, not how a full
    // queue drops connections. Unfinished heads get no answer to wait for.
    auto held = SetUp(connections, complete ? 4 : 64, request, complete);
    std::this_thread::sleep_for(std::chrono::seconds(complete ? 0 : 2));
    long answered = 0, ok = 0, closed = 0, refused = 0;
    for (auto& [fd, h] : held) {
        answered += h.Answered;
        ok += h.In.starts_with("HTTP/1.1 200 ");
    }
    Settle(held, closed, refused);
    std::printf("open connections=%ld answered=%ld ok=%ld refused431=%ld closed=%ld "
                "seconds=%.1f",
                static_cast<long>(held.size()), answered, ok, refused, closed, Seconds(begun));
    HoldUntilTold();
    Settle(held, closed, refused);
    CloseAll(held);
    std::printf("closed_by_server=%ld refused431=%ld\n", closed, refused);
    return 0;
}

int Idle(long connections) {
    auto begun = Clock::now();
    auto held = SetUp(connections, 256, "", false);
    long connected = 0;
    for (auto& [fd, h] : held) {
        connected += h.Connected && !h.Closed;
    }
    std::printf("open connections=%ld connected=%ld seconds=%.1f", static_cast<long>(held.size()),
                connected, Seconds(begun));
    HoldUntilTold();
    long closed = 0, refused = 0;
    Settle(held, closed, refused);
    CloseAll(held);
    std::printf("closed_by_server=%ld\n", closed);
    return 0;
}

// --- a slow reader beside a client timing its requests -----------------------------

int Slow(const std::string& bigTarget, const std::string& target, double seconds, long rate) {
    int slow = Connect(4096);
    int timed = Connect();
    if (slow < 0 || timed < 0) {
        std::printf("errors=1\n");
        return 1;
    }
    // Both sockets block from here on, each with a time limit.
    for (int fd : {slow, timed}) {
        ::fcntl(fd, F_SETFL, 0);
        timeval limit{10, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    }
    std::string out = Get(bigTarget);
    ::send(slow, out.data(), out.size(), MSG_NOSIGNAL);
    long long slowBytes = 0;
    bool slowFailed = false;
    std::thread reader([&] {
        auto begun = Clock::now();
        char buffer[4096];
        while (Seconds(begun) < seconds) {
            size_t due = static_cast<size_t>(Seconds(begun) * static_cast<double>(rate));
            if (static_cast<size_t>(slowBytes) >= due) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            ssize_t n = ::recv(slow, buffer,
                               std::min(sizeof buffer, due - static_cast<size_t>(slowBytes)), 0);
            if (n <= 0) {
                slowFailed = true;
                return;
            }
            slowBytes += n;
        }
    });
    std::vector<uint32_t> micros;
    long ok = 0, errors = 0;
    const std::string request = Get(target);
    auto begun = Clock::now();
    std::string in;
    while (Seconds(begun) < seconds && errors == 0) {
        auto sent = Clock::now();
        if (::send(timed, request.data(), request.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(request.size())) {
            ++errors;
            break;
        }
        int status = 0;
        size_t whole = 0;
        char buffer[65536];
        while ((whole = WholeAnswer(in, status)) == 0) {
            ssize_t n = ::recv(timed, buffer, sizeof buffer, 0);
            if (n <= 0) {
                break;
            }
            in.append(buffer, static_cast<size_t>(n));
        }
        if (whole == 0) {
            ++errors;
            break;
        }
        micros.push_back(MicrosSince(sent));
        ok += status == 200;
        in.erase(0, whole);
    }
    reader.join();
    ::close(timed);
    ::close(slow);
    long requests = static_cast<long>(micros.size());
    Percentiles p = Summarise(micros);
    std::printf("slow_bytes=%lld slow_failed=%d requests=%ld ok=%ld errors=%ld p50_ms=%.3f "
                "p99_ms=%.3f max_ms=%.1f\n",
                slowBytes, slowFailed ? 1 : 0, requests, ok, errors, p.P50, p.P99, p.Max);
    return 0;
}

int Usage() {
    std::fprintf(stderr, "usage: quenloft-load keepalive|resets|heads|unfinished|idle|slow PORT "
                         "... (see the source)\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        return Usage();
    }
    std::string mode = argv[1];
    gPort = std::atoi(argv[2]);
    const char* limit = std::getenv("QUENLOFT_LOAD_LIMIT");
    gGiveUp = Clock::now() + std::chrono::seconds(limit ? std::atoi(limit) : 600);
    // Thousands of connections need thousands of descriptors.
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);

    long count = std::atol(argv[3]);
    if (mode == "keepalive" && argc == 6) {
        return KeepAlive(static_cast<int>(count), std::atol(argv[4]), argv[5]);
    }
    if (mode == "resets" && argc == 6) {
        return Resets(count, std::atoi(argv[4]), argv[5]);
    }
    if (mode == "heads" && argc == 6) {
        return Heads(count, std::strtoul(argv[4], nullptr, 10), argv[5], true);
    }
    if (mode == "unfinished" && argc == 5) {
        return Heads(count, std::strtoul(argv[4], nullptr, 10), "/", false);
    }
    if (mode == "idle" && argc == 4) {
        return Idle(count);
    }
    if (mode == "slow" && argc == 7) {
        return Slow(argv[3], argv[4], std::atof(argv[5]), std::atol(argv[6]));
    }
    return Usage();
}
