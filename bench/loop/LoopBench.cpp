// Measures the message loop and the socket path: a posted message's round trip, a 1 KiB
// echo over loopback, and a stream of 1024-byte pieces paced by send completions (the way
// the web server sends files).
#include "net/clsSocket.h"
#include "platform/MessageLoop.h"
#include "platform/ProcessSettings.h"

#include <benchmark/benchmark.h>
#include <memory>
#include <stdexcept>
#include <string>

namespace quenloft {
namespace {

// Runs passes of the program's loop until `done` holds (bounded, so a fault cannot hang).
template <typename Done>
void RunUntil(Done done) {
    MessageLoop& loop = ProgramLoop();
    for (long passes = 0; !done(); ++passes) {
        if (passes > 50'000'000) {
            throw std::runtime_error("the loop stopped making progress");
        }
        loop.Wait(100);
        loop.RunOnePass();
    }
}

void PostedMessageRoundTrip(benchmark::State& state) {
    MessageLoop loop;
    int64_t handled = 0;
    Window target = loop.CreateWindow([&](Window, uint32_t, uintptr_t, intptr_t) {
        ++handled;
        return intptr_t{0};
    });
    for (auto _ : state) {
        loop.Post(target, 0xC000, 1, 2);
        loop.RunOnePass(); // delivers it, then polls the (empty) socket set
    }
    if (handled != state.iterations()) {
        state.SkipWithError("messages were lost");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(PostedMessageRoundTrip);

// The accepting side: every connection echoes what it receives, or sends pieces.
struct Peer : SocketEvents {
    std::shared_ptr<clsSocket> Socket = std::make_shared<clsSocket>();
    std::string Piece = std::string(1024, 'p');
    int64_t PiecesLeft = 0;
    Peer() { Socket->SetOwner(this); }
    void OnDataArrival(int32_t) override {
        Variant data;
        Socket->GetData(data, static_cast<int32_t>(VarType::ByteArray));
        Socket->SendData(data);
    }
    void OnSendComplete() override {
        if (PiecesLeft > 0) {
            --PiecesLeft;
            Socket->SendData(Variant::Bytes(Piece));
        }
    }
};

struct Server : SocketEvents {
    std::shared_ptr<clsSocket> Listener = std::make_shared<clsSocket>();
    std::unique_ptr<Peer> Accepted;
    Server() {
        Listener->SetOwner(this);
        Listener->Bind(0, "127.0.0.1");
        Listener->Listen();
    }
    void OnConnectionRequest(int32_t requestID) override {
        Accepted = std::make_unique<Peer>();
        Accepted->Socket->Accept(requestID);
    }
};

struct Client : SocketEvents {
    std::shared_ptr<clsSocket> Socket = std::make_shared<clsSocket>();
    bool Connected = false;
    size_t Received = 0;
    Client() { Socket->SetOwner(this); }
    void OnConnect() override { Connected = true; }
    void OnDataArrival(int32_t) override {
        Variant data;
        Socket->GetData(data, static_cast<int32_t>(VarType::ByteArray));
        Received += data.Text().size();
    }
};

void EchoOneKiB(benchmark::State& state) {
    Server server;
    Client client;
    client.Socket->Connect("127.0.0.1", server.Listener->LocalPort());
    RunUntil([&] { return client.Connected && server.Accepted; });
    Variant block = Variant::Bytes(std::string(1024, 'e'));
    for (auto _ : state) {
        size_t expected = client.Received + 1024;
        client.Socket->SendData(block);
        RunUntil([&] { return client.Received == expected; });
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * 1024);
}
BENCHMARK(EchoOneKiB);

// One iteration: 1 MiB in 1024 pieces, each sent from the completion of the one before.
void PiecesBySendCompletion(benchmark::State& state) {
    Server server;
    Client client;
    client.Socket->Connect("127.0.0.1", server.Listener->LocalPort());
    RunUntil([&] { return client.Connected && server.Accepted; });
    Peer& peer = *server.Accepted;
    for (auto _ : state) {
        size_t expected = client.Received + 1024 * 1024;
        peer.PiecesLeft = 1023;
        peer.Socket->SendData(Variant::Bytes(peer.Piece));
        RunUntil([&] { return client.Received == expected; });
    }
    state.SetItemsProcessed(state.iterations() * 1024);
    state.SetBytesProcessed(state.iterations() * 1024 * 1024);
}
BENCHMARK(PiecesBySendCompletion);

} // namespace
} // namespace quenloft

// As the program starts: the same process-wide settings before anything is measured.
int main(int argc, char** argv) {
    quenloft::SetProcessWide();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
