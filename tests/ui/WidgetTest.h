// What the widget tests share: one application object on the offscreen platform with
// the sockets' loop driven by it, a fresh data folder and stores per test, waits with a
// watchdog, answers to modal dialogs, and loopback sockets.
#pragma once

#include "app/modMain.h"
#include "http/clsHTTP.h"
#include "platform/UniqueFd.h"
#include "support/TempFolder.h"
#include "ui/frmSettings.h"
#include "ui/modDesktop.h"
#include "ui/modProgram.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QTimer>
#include <arpa/inet.h>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace quenloft::testing {

// Runs the toolkit's loop until `done` holds; false when `timeoutMs` passed first.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return done();
}

// Answers the next modal dialog from inside its own loop; a dialog still open after
// `timeoutMs` is closed, so no test waits forever.
class ModalAnswer {
public:
    explicit ModalAnswer(std::function<void(QWidget*)> answer, int timeoutMs = 5000) {
        clock_.start();
        QObject::connect(&timer_, &QTimer::timeout, [this, answer, timeoutMs] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal && !answered_) {
                answered_ = true;
                answer(modal);
            } else if (modal && clock_.elapsed() > timeoutMs) {
                modal->close();
            }
        });
        timer_.start(10);
    }
    bool Answered() const { return answered_; }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    bool answered_ = false;
};

// The controls of `window` whose one-line text is wider than the room their place leaves
// it, measured with the font they really get; as "name: text".
inline QStringList TextsThatDoNotFit(QWidget* window) {
    QStringList clipped;
    for (QWidget* control : window->findChildren<QWidget*>()) {
        QString text;
        int room = 0;
        if (auto* label = qobject_cast<QLabel*>(control)) {
            if (label->textFormat() == Qt::RichText || label->wordWrap()) {
                continue;
            }
            text = label->text();
            room = label->contentsRect().width() - 2 * label->margin();
        } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = button->text();
            auto element = qobject_cast<QCheckBox*>(button) ? QStyle::SE_CheckBoxContents
                                                            : QStyle::SE_PushButtonContents;
            if (!qobject_cast<QCheckBox*>(button) && !qobject_cast<QPushButton*>(button)) {
                continue;
            }
            text = button->text();
            room = button->style()->subElementRect(element, &option, button).width();
        } else {
            continue;
        }
        QString shown = QString(text).replace("&&", "\x01").remove('&').replace("\x01", "&");
        if (control->fontMetrics().horizontalAdvance(shown) > room) {
            clipped << control->objectName() + ": " + shown;
        }
    }
    return clipped;
}

inline sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(uint16_t(port));
    return address;
}

// A socket listening on 127.0.0.1 at a port of the system's choice.
struct Listener {
    UniqueFd Fd{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    int Port = [this] {
        sockaddr_in address = Loopback(0);
        socklen_t length = sizeof address;
        ::bind(Fd.Get(), reinterpret_cast<sockaddr*>(&address), length);
        ::listen(Fd.Get(), 4);
        ::getsockname(Fd.Get(), reinterpret_cast<sockaddr*>(&address), &length);
        return int(ntohs(address.sin_port));
    }();
};

// Presses `start` (the window's button) and gives the port the server then listens on. The
// window takes its port from the settings, 1 to 65535, and cannot listen on one of the
// system's choice and say which: the port is one nobody listened on a moment ago, and when
// another program took it meanwhile the error box is answered and the start tried again on
// another. `port`, when given, is the one the settings already hold, tried first.
inline int StartOnAFreePort(const std::function<void()>& start, int port = 0) {
    for (int attempt = 1;; ++attempt) {
        if (port == 0) {
            port = Listener().Port;
            gSettings.SetVariableValue("ServerPort", Variant(std::to_string(port)));
        }
        bool taken = false;
        ModalAnswer answer([&](QWidget* modal) {
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                taken = box->text().contains("Address already in use");
                box->button(QMessageBox::Ok)->click();
            }
        });
        start();
        if (!taken || attempt == 5) {
            return port;
        }
        port = 0;
    }
}

// A connected client socket, or -1 when nothing accepts at 127.0.0.1:port.
inline int Connect(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    return fd;
}

inline bool Accepts(int port) {
    int fd = Connect(port);
    return fd >= 0 && ::close(fd) == 0;
}

// One GET over loopback: the whole answer, read until the server closes (the request
// asks it to) or 5 seconds pass without a byte.
inline std::string Fetch(int port, const std::string& target) {
    std::string request = "GET " + target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    std::string answer;
    int fd = Connect(port);
    if (fd >= 0 && ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) > 0) {
        char buffer[4096];
        for (ssize_t got; (got = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
            answer.append(buffer, size_t(got));
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
            ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
            static int argc = 1;
            static char* argv[] = {const_cast<char*>("ui_widget_tests"), nullptr};
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
    }

    TempFolder data;
};

} // namespace quenloft::testing
