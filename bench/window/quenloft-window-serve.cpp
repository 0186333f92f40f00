// quenloft-window-serve FOLDER PORT: the server run by the toolkit's main loop the way the
// window runs it (DriveProgramLoop), beside a small window and a 10 ms timer. The timer's
// lateness tells how long the window's own events wait while the server works.
//   SIGUSR1  starts recording the lateness afresh
//   SIGUSR2  prints "lateness p50 P p99 P max M samples N" (milliseconds) on one line
//   SIGTERM, SIGINT  stop the server, save both stores and end
// FOLDER stands for the program folder, as for quenloft-serve.
#include "Harness.h"
#include "ui/modProgram.h"

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <thread>
#include <vector>

using namespace quenloft;

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto Period = std::chrono::milliseconds(10);

// A single-shot timer set again each time it fires; how late each firing came is kept.
class LatenessProbe {
public:
    LatenessProbe() {
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Fired(); });
        Arm();
    }
    void Restart() { samples_.clear(); }
    void Print() {
        std::vector<double> sorted = samples_;
        std::sort(sorted.begin(), sorted.end());
        auto at = [&](double share) {
            if (sorted.empty()) {
                return 0.0;
            }
            return sorted[std::min(sorted.size() - 1, static_cast<size_t>(share * sorted.size()))];
        };
        std::printf("lateness p50 %.3f p99 %.3f max %.3f samples %zu\n", at(0.5), at(0.99),
                    sorted.empty() ? 0.0 : sorted.back(), sorted.size());
        std::fflush(stdout);
    }

private:
    void Arm() {
        armed_ = Clock::now();
        timer_.start(Period);
    }
    void Fired() {
        std::chrono::duration<double, std::milli> late = Clock::now() - armed_ - Period;
        samples_.push_back(std::max(late.count(), 0.0));
        Arm();
    }

    QTimer timer_;
    Clock::time_point armed_;
    std::vector<double> samples_;
};

} // namespace

int main(int argc, char** argv) {
    int32_t port = 0;
    if (argc != 3 || !bench::ParsePort(argv[2], port)) {
        std::fprintf(stderr, "usage: quenloft-window-serve FOLDER PORT\n");
        return 2;
    }
    // Signals are taken by one waiting thread and handed to the main loop as events.
    sigset_t handled;
    sigemptyset(&handled);
    for (int signal : {SIGTERM, SIGINT, SIGUSR1, SIGUSR2}) {
        sigaddset(&handled, signal);
    }
    pthread_sigmask(SIG_BLOCK, &handled, nullptr);

    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    QLabel window("Quenloft");
    window.show();
    LatenessProbe probe;

    bench::StartProgram(argv[1]);
    if (!bench::StartServing(port)) {
        return 1;
    }
    DriveProgramLoop(&app);
    bench::SayServing(argv[1]);

    std::thread waiter([&] {
        for (;;) {
            int signal = 0;
            sigwait(&handled, &signal);
            if (signal == SIGUSR1) {
                QMetaObject::invokeMethod(
                    &app, [&] { probe.Restart(); }, Qt::QueuedConnection);
            } else if (signal == SIGUSR2) {
                QMetaObject::invokeMethod(
                    &app, [&] { probe.Print(); }, Qt::QueuedConnection);
            } else {
                QMetaObject::invokeMethod(
                    &app, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
                return;
            }
        }
    });
    int status = app.exec();
    waiter.join();
    return bench::EndProgram(status);
}
