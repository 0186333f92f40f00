// quenloft-serve FOLDER [PORT]: the server without windows, for tests and benchmarks.
// FOLDER stands for the program folder: the stores are loaded from it and the log is
// written there. Serves until SIGTERM or SIGINT, then stops the server and saves both
// stores as the program does at exit.
#include "app/modMain.h"
#include "base/Error.h"
#include "http/clsHTTP.h"
#include "platform/MessageLoop.h"

#include <charconv>
#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <string_view>
#include <thread>

using namespace quenloft;

namespace {

// The port from the command line, else the stored "ServerPort", else 80.
bool ChoosePort(int argc, char** argv, int32_t& port) {
    if (argc == 3) {
        std::string_view text = argv[2];
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
        return ec == std::errc() && end == text.data() + text.size();
    }
    try {
        port = gSettings.VariableValue(Variant("ServerPort"), Variant(int16_t(80))).ToLong();
        return true;
    } catch (const Error&) {
        return false;
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: quenloft-serve FOLDER [PORT]\n");
        return 2;
    }
    // The signals are taken by one waiting thread, which ends the loop from outside it.
    // A shell starts background jobs with SIGINT ignored, which would discard it unseen.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    SetDataFolder(argv[1]);
    Main();
    int32_t port = 80;
    if (!ChoosePort(argc, argv, port)) {
        std::fprintf(stderr, "quenloft-serve: not a port number\n");
        return 2;
    }
    try {
        gServer().StartServer(port);
    } catch (const Error& e) {
        std::printf("Error %d: %s\n", e.Number(), e.Description().c_str());
        return 1;
    }
    std::printf("Quenloft serving %s on port %d\n", argv[1], gServer().PrimarySocket->LocalPort());
    std::fflush(stdout);

    std::thread waiter([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        ProgramLoop().Quit();
    });
    ProgramLoop().Run();
    waiter.join();

    gServer().StopServer();
    try {
        ExitProgram();
    } catch (const Error& e) {
        std::printf("Error %d: %s\n", e.Number(), e.Description().c_str());
        return 1;
    }
    return 0;
}
