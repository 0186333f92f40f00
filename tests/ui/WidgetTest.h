// What the widget tests share: one application object on the offscreen platform with
// the sockets' loop driven by it, a fresh data folder and stores per test, waits with a
// watchdog, answers to modal dialogs, and a loopback client.
#pragma once

#include "app/modMain.h"
#include "http/clsHTTP.h"
#include "ui/frmSettings.h"
#include "ui/modDesktop.h"
#include "ui/modProgram.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <arpa/inet.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <netinet/in.h>
#include <stdlib.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace quenloft::testing {

// Runs the toolkit's loop until `done` holds; false when `timeoutMs` passed first.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Answers the next modal dialog from inside its own loop. The dialog is closed anyway
// when no answer came in time, so no test waits forever.
class ModalAnswer {
public:
    explicit ModalAnswer(std::function<void(QWidget*)> answer, int timeoutMs = 5000)
        : answer_(std::move(answer)) {
        clock_.start();
        QObject::connect(&timer_, &QTimer::timeout, [this, timeoutMs] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal && !answered_) {
                answered_ = true;
                answer_(modal);
            } else if (clock_.elapsed() > timeoutMs) {
                timer_.stop();
                if (modal) {
                    modal->close();
                }
            }
        });
        timer_.start(10);
    }
    bool Answered() const { return answered_; }

private:
    std::function<void(QWidget*)> answer_;
    QTimer timer_;
    QElapsedTimer clock_;
    bool answered_ = false;
};

// A temporary folder, removed with its contents.
class TempFolder {
public:
    TempFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quenloft-ui-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& Path() const { return path_; }
    std::string Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(path_ + "/" + name, std::ios::binary) << bytes;
        return path_ + "/" + name;
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(path_ + "/" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    std::string path_;
};

// A listening socket on 127.0.0.1 with a port of the system's choice.
class Listener {
public:
    Listener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(fd_, 4);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~Listener() { Close(); }
    void Close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    int Port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

// A port nobody listens on at the moment.
inline int FreePort() {
    return Listener().Port();
}

// Whether something accepts connections on 127.0.0.1:port.
inline bool Accepts(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(uint16_t(port));
    bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// One request over loopback from a blocking client; the whole answer, read until the
// server closes (the request asks it to) or 5 seconds pass.
inline std::string Fetch(int port, const std::string& target) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(uint16_t(port));
    std::string answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        std::string request =
            "GET " + target + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n";
        if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size())) {
            char buffer[4096];
            ssize_t got;
            while ((got = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
                answer.append(buffer, size_t(got));
            }
        }
    }
    ::close(fd);
    return answer;
}

// Each test starts with empty stores in a folder of its own, the server stopped and no
// settings dialog; the application and the loop's driver are made once.
class WidgetTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!qApp) {
            if (!std::getenv("QT_QPA_PLATFORM")) {
                ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            }
            static int argc = 1;
            static char name[] = "ui_widget_tests";
            static char* argv[] = {name, nullptr};
            new QApplication(argc, argv);
            QApplication::setQuitOnLastWindowClosed(false);
            DriveProgramLoop(qApp);
        }
    }
    void SetUp() override {
        SetDataFolder(data.Path());
        gSettings = clsSettings();
        gStatistics = clsSettings();
    }
    void TearDown() override {
        gServer().StopServer();
        delete LoadedSettingsForm();
        SetNotificationAreaAvailable(std::nullopt);
        QApplication::processEvents();
    }

    TempFolder data;
};

} // namespace quenloft::testing
