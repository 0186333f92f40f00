// quenloft-serve FOLDER [PORT]: the server without windows, for tests and benchmarks.
// FOLDER stands for the program folder: the stores are loaded from it and the log is
// written there. Serves until SIGTERM or SIGINT, then stops the server and saves both
// stores as the program does at exit.
#include "Harness.h"
#include "platform/MessageLoop.h"

#include <clocale>
#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <thread>

using namespace quenloft;

namespace {

// The port from the command line, else the stored "ServerPort", else 80.
bool ChoosePort(int argc, char** argv, int32_t& port) {
    if (argc == 3) {
        return bench::ParsePort(argv[2], port);
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
    if (argc < 2 || argc > 3 || argv[1][0] == '-') { // an option is no folder
        std::fprintf(stderr, "usage: quenloft-serve FOLDER [PORT]\n");
        return 2;
    }
    std::setlocale(LC_ALL, ""); // dates in the user's locale, as the windowed program has them
    // The signals are taken by one waiting thread, which ends the loop from outside it.
    // A shell starts background jobs with SIGINT ignored, which would discard it unseen.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    bench::StartProgram(argv[1]);
    int32_t port = 80;
    if (!ChoosePort(argc, argv, port)) {
        std::fprintf(stderr, "quenloft-serve: not a port number\n");
        return 2;
    }
    if (!bench::StartServing(port)) {
        return 1;
    }
    bench::SayServing(argv[1]);

    std::thread waiter([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        ProgramLoop().Quit();
    });
    ProgramLoop().Run();
    waiter.join();
    return bench::EndProgram(0);
}
