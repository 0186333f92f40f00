// The main window on real widgets with the real server: its layout and states, the
// start/stop button and its message box, the settings dialog it opens, the notification
// area, and closing.
#include "ui/frmMain.h"

#include "WidgetTest.h"

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <csignal>

namespace quenloft::testing {
namespace {

// What a message box showed before it was answered with OK.
struct Shown {
    QString Text, Title;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons Buttons;
};

class frmMainTest : public WidgetTest {
protected:
    void SetUp() override {
        WidgetTest::SetUp();
        window.show();
        window.SetStatus(0);
    }
    template <typename Control>
    Control* Get(const char* name) {
        auto* control = window.findChild<Control*>(name);
        EXPECT_TRUE(control) << name;
        return control;
    }
    QString Caption() { return Get<QPushButton>("cmdStart")->text(); }
    QString Status() { return Get<QLabel>("lblStatus")->text(); }
    QColor StatusColour() {
        return Get<QLabel>("lblStatus")->palette().color(QPalette::WindowText);
    }
    void Press(const char* button) { QTest::mouseClick(Get<QPushButton>(button), Qt::LeftButton); }

    // Presses "&Start" and answers the message box it shows.
    Shown PressStartExpectingError() {
        Shown shown;
        ModalAnswer answer([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_TRUE(box);
            shown = {box->text(), box->windowTitle(), box->icon(), box->standardButtons()};
            box->button(QMessageBox::Ok)->click();
        });
        Press("cmdStart");
        EXPECT_TRUE(answer.Answered());
        return shown;
    }
    // The status panel's picture where the state icon lies.
    QImage IconArea() {
        auto* panel = Get<QWidget>("picStatus");
        QPoint inside = panel->contentsRect().topLeft();
        return panel->grab(QRect(inside + QPoint(10, 5), QSize(32, 32))).toImage();
    }

    frmMain window;
};

TEST_F(frmMainTest, OpensStoppedWithItsLayout) {
    EXPECT_EQ(window.windowTitle(), "Quenloft");
    EXPECT_EQ(window.size(), QSize(448, 144));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(window.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    for (int size : {16, 32, 48}) {
        EXPECT_TRUE(window.windowIcon().availableSizes().contains(QSize(size, size))) << size;
    }

    auto* panel = Get<QWidget>("picStatus");
    EXPECT_EQ(panel->geometry(), QRect(16, 48, 273, 41));
    auto* label = Get<QLabel>("lblStatus");
    EXPECT_EQ(label->parentWidget(), panel);
    EXPECT_EQ(label->geometry(),
              QRect(panel->contentsRect().topLeft() + QPoint(48, 8), QSize(217, 25)));
    EXPECT_EQ(Get<QWidget>("cmdStart")->geometry(), QRect(288, 56, 65, 25));
    EXPECT_EQ(Get<QWidget>("cmdSettings")->geometry(), QRect(352, 56, 65, 25));
    EXPECT_EQ(Get<QWidget>("picHook")->geometry(), QRect(392, 120, 25, 25));
    EXPECT_EQ(Get<QPushButton>("cmdSettings")->text(), "&Configure");

    EXPECT_EQ(Caption(), "&Start");
    EXPECT_EQ(Status(), "The server is not started!");
    EXPECT_EQ(StatusColour(), QColor(255, 0, 0));
    EXPECT_EQ(label->font().family(), "Arial");
    EXPECT_FALSE(label->font().bold());
    EXPECT_LE(label->fontMetrics().horizontalAdvance(Status()), 217);
    if (QFontInfo(label->font()).family() == "Liberation Sans") {
        EXPECT_EQ(label->font().pointSizeF(), 14.25); // Arial's measure: no need to shrink
    }
}

TEST_F(frmMainTest, StartAndStopOnAFreePort) {
    int port = FreePort();
    gSettings.SetVariableValue("ServerPort", Variant(std::to_string(port)));
    QImage stoppedIcon = IconArea();

    Press("cmdStart");
    EXPECT_EQ(Caption(), "&Stop");
    EXPECT_EQ(Status(), "The server is running!");
    EXPECT_EQ(StatusColour(), QColor(0, 192, 0));
    EXPECT_TRUE(Accepts(port));
    QImage runningIcon = IconArea();
    EXPECT_NE(runningIcon, stoppedIcon); // warning, then information
    QImage blank(runningIcon.size(), runningIcon.format());
    blank.fill(window.palette().window().color());
    EXPECT_NE(runningIcon, blank);

    Press("cmdStart");
    EXPECT_EQ(Caption(), "&Start");
    EXPECT_EQ(Status(), "The server is not started!");
    EXPECT_EQ(StatusColour(), QColor(255, 0, 0));
    EXPECT_FALSE(Accepts(port));
    EXPECT_EQ(IconArea(), stoppedIcon);
}

TEST_F(frmMainTest, TakenPortShowsTheSocketErrorAndStaysStopped) {
    Listener other;
    gSettings.SetVariableValue("ServerPort", Variant(std::to_string(other.Port())));
    Shown shown = PressStartExpectingError();
    EXPECT_EQ(shown.Text, "Error 10048: Address already in use.");
    EXPECT_EQ(shown.Title, "Error");
    EXPECT_EQ(shown.Icon, QMessageBox::Critical);
    EXPECT_EQ(shown.Buttons, QMessageBox::Ok);
    EXPECT_EQ(Caption(), "&Start");
    EXPECT_EQ(Status(), "The server is not started!");

    // Once the port is free again, the same press starts the server.
    other.Close();
    Press("cmdStart");
    EXPECT_EQ(Caption(), "&Stop");
}

TEST_F(frmMainTest, PortTypedAsLettersFailsWithTypeMismatch) {
    Press("cmdSettings");
    frmSettings& settings = SettingsForm();
    auto* port = settings.findChild<QLineEdit*>("txtPort");
    port->setText("abc");
    QTest::keyClick(port, Qt::Key_Return);
    EXPECT_EQ(gSettings.VariableValue("ServerPort"), Variant("abc"));

    Shown shown = PressStartExpectingError();
    EXPECT_EQ(shown.Text, "Error 13: Type mismatch");
    EXPECT_EQ(Caption(), "&Start");
    EXPECT_EQ(StatusColour(), QColor(255, 0, 0));
}

TEST_F(frmMainTest, ConfigureTwiceRefillsFromTheStore) {
    gSettings.SetVariableValue("IndexPath", Variant("/srv/www"));
    Press("cmdSettings");
    frmSettings* first = &SettingsForm();
    EXPECT_TRUE(first->isVisible());
    auto* path = first->findChild<QLineEdit*>("txtIndexPath");
    EXPECT_EQ(path->text(), "/srv/www");
    path->setText("/not/confirmed");

    Press("cmdSettings");
    EXPECT_EQ(&SettingsForm(), first);
    EXPECT_EQ(path->text(), "/srv/www");
    EXPECT_TRUE(window.isEnabled()); // non-modal: the main window stays usable
}

TEST_F(frmMainTest, MinimiseAndRestoreNeverLeaveMoreThanOneIcon) {
    SetNotificationAreaAvailable(true);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        window.setWindowState(Qt::WindowMinimized);
        ASSERT_TRUE(WaitUntil([&] { return !window.isVisible(); }));
        // The window hears of its state again while it is in the notification area.
        QWindowStateChangeEvent again(Qt::WindowMinimized);
        QApplication::sendEvent(&window, &again);
        ASSERT_EQ(ShownTrayIcons().size(), 1);
        QPointer<QSystemTrayIcon> icon = ShownTrayIcons().front();
        EXPECT_EQ(icon->toolTip(), "Quenloft");
        EXPECT_FALSE(icon->icon().isNull());

        // Only a press of the left button restores the window.
        for (auto other : {QSystemTrayIcon::Context, QSystemTrayIcon::MiddleClick,
                           QSystemTrayIcon::DoubleClick}) {
            ASSERT_TRUE(icon);
            emit icon->activated(other);
            QApplication::processEvents();
        }
        EXPECT_FALSE(window.isVisible());
        EXPECT_EQ(ShownTrayIcons().size(), 1);

        ASSERT_TRUE(icon);
        emit icon->activated(QSystemTrayIcon::Trigger);
        EXPECT_TRUE(WaitUntil([&] { return window.isVisible(); }));
        EXPECT_FALSE(window.isMinimized());
        EXPECT_TRUE(ShownTrayIcons().isEmpty());
    }
    EXPECT_EQ(gTray().IconCount(), 0);
}

TEST_F(frmMainTest, WithoutANotificationAreaMinimisingIsOrdinary) {
    SetNotificationAreaAvailable(false);
    window.setWindowState(Qt::WindowMinimized);
    QApplication::processEvents();
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.isMinimized());
    EXPECT_TRUE(ShownTrayIcons().isEmpty());
    window.setWindowState(Qt::WindowNoState);
    EXPECT_TRUE(window.isVisible());
}

TEST_F(frmMainTest, ClosingWritesBothStoresAndClosesTheSettingsDialog) {
    gStatistics.IncreseVariable("RequestsOK", Variant(int16_t(3)));
    Press("cmdSettings");
    QPointer<frmSettings> settings = &SettingsForm();
    settings->findChild<QLineEdit*>("txtPort")->setText("8123");
    QTest::keyClick(settings->findChild<QLineEdit*>("txtPort"), Qt::Key_Return);
    Press("cmdSettings");
    QSignalSpy unloaded(&window, &frmMain::Unloaded);

    window.close();
    EXPECT_EQ(unloaded.count(), 1);
    EXPECT_TRUE(WaitUntil([&] { return settings.isNull(); }));
    clsSettings savedSettings, savedStatistics;
    savedSettings.LoadData(data.Path() + "/HTTP-Settings.dat");
    savedStatistics.LoadData(data.Path() + "/HTTP-Statistic.dat");
    EXPECT_EQ(savedSettings.VariableValue("ServerPort"), Variant("8123"));
    EXPECT_EQ(savedStatistics.VariableValue("RequestsOK"), Variant(int16_t(3)));

    window.close(); // a second close changes nothing
    EXPECT_EQ(unloaded.count(), 1);
}

TEST_F(frmMainTest, EndSignalsCloseTheWindowTheSameWay) {
    RouteEndRequests(&window);
    gStatistics.IncreseVariable("RequestsOK", Variant(int16_t(2)));
    QSignalSpy unloaded(&window, &frmMain::Unloaded);
    ::raise(SIGTERM);
    ::raise(SIGINT); // a second request finds the program already ending
    EXPECT_TRUE(WaitUntil([&] { return unloaded.count() == 1; }));
    QApplication::processEvents();
    EXPECT_EQ(unloaded.count(), 1);
    EXPECT_FALSE(window.isVisible());
    clsSettings saved;
    saved.LoadData(data.Path() + "/HTTP-Statistic.dat");
    EXPECT_EQ(saved.VariableValue("RequestsOK"), Variant(int16_t(2)));
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        ::signal(signal, SIG_DFL);
    }
}

} // namespace
} // namespace quenloft::testing
