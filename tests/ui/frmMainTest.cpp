// The main window on real widgets with the real server: layout and states, the
// start/stop button and its message box, the settings dialog, the notification area,
// and the ways the program ends.
#include "ui/frmMain.h"

#include "WidgetTest.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QDialog>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTextDocument>
#include <QToolButton>
#include <QWindow>
#include <QtTest/qtestspontaneevent.h>
#include <csignal>
#include <filesystem>

namespace quenloft::testing {
namespace {

class frmMainTest : public WidgetTest {
protected:
    void SetUp() override {
        WidgetTest::SetUp();
        window.show();
        window.SetStatus(0);
    }
    template <typename Control = QWidget>
    Control* Get(const char* name) {
        return window.findChild<Control*>(name);
    }
    void Click(const char* button) { QTest::mouseClick(Get(button), Qt::LeftButton); }
    // Caption, sentence and colour of the display.
    std::string Display() {
        auto* label = Get<QLabel>("lblStatus");
        return (Get<QPushButton>("cmdStart")->text() + "|" + label->text() + "|" +
                label->palette().color(QPalette::WindowText).name())
            .toStdString();
    }
    // Presses "&Start" and answers the message box it shows; its title, icon, buttons, text.
    QString StartFails() {
        QString shown;
        ModalAnswer answer([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            shown = QString("%1|%2|%3|%4")
                        .arg(box->windowTitle())
                        .arg(box->icon())
                        .arg(box->standardButtons())
                        .arg(box->text());
            box->button(QMessageBox::Ok)->click();
        });
        Click("cmdStart");
        return shown;
    }
    // The status panel where the state icon lies.
    QImage IconArea() {
        auto* panel = Get<QFrame>("picStatus");
        return panel->grab(QRect(panel->contentsRect().topLeft() + QPoint(10, 5), QSize(32, 32)))
            .toImage();
    }

    frmMain window;
    const std::string stopped = "&Start|The server is not started!|#ff0000";
    const std::string running = "&Stop|The server is running!|#00c000";
    const QString errorBox =
        QString("Error|%1|%2|").arg(QMessageBox::Critical).arg(QMessageBox::Ok);
};

TEST_F(frmMainTest, OpensStoppedWithItsLayout) {
    EXPECT_EQ(window.windowTitle(), "Quenloft");
    EXPECT_EQ(window.size(), QSize(448, 144));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_EQ(window.windowFlags() & Qt::WindowMinMaxButtonsHint, Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(window.windowIcon().availableSizes(), (QList<QSize>{{48, 48}, {32, 32}, {16, 16}}));
    auto* panel = Get<QFrame>("picStatus");
    EXPECT_EQ(panel->geometry(), QRect(16, 48, 273, 41));
    auto* label = Get<QLabel>("lblStatus");
    EXPECT_EQ(label->parentWidget(), panel);
    EXPECT_EQ(label->geometry(),
              QRect(panel->contentsRect().topLeft() + QPoint(48, 8), QSize(217, 25)));
    EXPECT_EQ(Get("cmdStart")->geometry(), QRect(288, 56, 65, 25));
    EXPECT_EQ(Get("cmdSettings")->geometry(), QRect(352, 56, 65, 25));
    EXPECT_EQ(Get<QPushButton>("cmdSettings")->text(), "&Configure");
    EXPECT_EQ(Get("picHook")->geometry(), QRect(392, 120, 25, 25));
    EXPECT_EQ(Display(), stopped);
    EXPECT_EQ(label->font().family(), "Arial");
    QString face = QFontInfo(label->font()).family();
    EXPECT_TRUE(face == "Arial" || face == "Liberation Sans" || face == "Arimo")
        << face.toStdString();
    EXPECT_EQ(label->font().pointSizeF(), 14.25); // Arial's measure needs no smaller size
    EXPECT_EQ(TextsThatDoNotFit(&window).join("; ").toStdString(), "");
    for (int status : {1, 0}) {
        window.SetStatus(status);
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), 217);
    }
}

TEST_F(frmMainTest, StartAndStopOnAFreePort) {
    QImage warning = IconArea();
    int port = StartOnAFreePort([&] { Click("cmdStart"); });
    EXPECT_EQ(Display(), running);
    EXPECT_TRUE(Accepts(port));
    QImage information = IconArea();
    EXPECT_NE(information, warning);
    QImage blank(information.size(), information.format());
    blank.fill(window.palette().window().color());
    EXPECT_NE(information, blank);

    Click("cmdStart");
    EXPECT_EQ(Display(), stopped);
    EXPECT_FALSE(Accepts(port));
    EXPECT_EQ(IconArea(), warning);
}

TEST_F(frmMainTest, TakenPortOrLettersShowTheErrorAndStayStopped) {
    {
        Listener other;
        gSettings.SetVariableValue("ServerPort", Variant(std::to_string(other.Port)));
        EXPECT_EQ(StartFails(), errorBox + "Error 10048: Address already in use.");
        EXPECT_EQ(Display(), stopped);
    }
    Click("cmdStart"); // the port is free again
    EXPECT_EQ(Display(), running);
    Click("cmdStart");

    Click("cmdSettings");
    auto* port = SettingsForm().findChild<QLineEdit*>("txtPort");
    port->setText("abc");
    QTest::keyClick(port, Qt::Key_Return);
    EXPECT_EQ(StartFails(), errorBox + "Error 13: Type mismatch");
    EXPECT_EQ(Display(), stopped);
}

TEST_F(frmMainTest, PortOutsideTheRangeIsRefusedWithAnErrorBoxAndAdvice) {
    gSettings.SetVariableValue("ServerPort", Variant("0"));
    QString advice;
    ModalAnswer answer([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        advice = box->text() + "|" + box->informativeText();
        box->button(QMessageBox::Ok)->click();
    });
    Click("cmdStart");
    EXPECT_EQ(advice, "Error 5: Port 0 cannot be used: a port is a number from 1 to 65535.|"
                      "Please choose a port such as 8080 under Configure.");
    EXPECT_EQ(Display(), stopped);
    EXPECT_FALSE(gServer().PrimarySocket());
}

// A window manager may draw a minimise button on the dialog (openbox does).
TEST_F(frmMainTest, ConfigureRestoresAMinimisedDialog) {
    Click("cmdSettings");
    frmSettings* settings = &SettingsForm();
    settings->setWindowState(Qt::WindowMinimized);
    ASSERT_TRUE(settings->isMinimized());
    Click("cmdSettings");
    EXPECT_EQ(&SettingsForm(), settings);
    EXPECT_FALSE(settings->isMinimized());
    EXPECT_TRUE(settings->isVisible());
}

TEST_F(frmMainTest, ConfigureTwiceRefillsFromTheStore) {
    gSettings.SetVariableValue("IndexPath", Variant("/srv/www"));
    Click("cmdSettings");
    frmSettings* first = &SettingsForm();
    auto* path = first->findChild<QLineEdit*>("txtIndexPath");
    EXPECT_EQ(path->text(), "/srv/www");
    path->setText("/not/confirmed");
    Click("cmdSettings");
    EXPECT_EQ(&SettingsForm(), first);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(path->text(), "/srv/www");
}

TEST_F(frmMainTest, MinimiseAndRestoreNeverLeaveMoreThanOneIcon) {
    SetNotificationAreaAvailable(true);
    for (int round = 0; round < 3; ++round) {
        window.setWindowState(Qt::WindowMinimized);
        ASSERT_TRUE(WaitUntil([&] { return !window.isVisible(); }));
        QWindowStateChangeEvent again(Qt::WindowMinimized); // told twice while minimised
        QApplication::sendEvent(&window, &again);
        ASSERT_EQ(ShownTrayIcons().size(), 1);
        QPointer<QSystemTrayIcon> icon = ShownTrayIcons().front();
        EXPECT_EQ(icon->toolTip(), "Quenloft");
        EXPECT_FALSE(icon->icon().isNull());
        // Only a press of the left button restores the window.
        for (auto other : {QSystemTrayIcon::Context, QSystemTrayIcon::MiddleClick,
                           QSystemTrayIcon::DoubleClick, QSystemTrayIcon::Trigger}) {
            EXPECT_FALSE(window.isVisible());
            ASSERT_TRUE(icon);
            emit icon->activated(other);
            QApplication::processEvents();
        }
        EXPECT_TRUE(window.isVisible());
        EXPECT_FALSE(window.isMinimized());
        EXPECT_TRUE(ShownTrayIcons().isEmpty());
    }

    SetNotificationAreaAvailable(false); // minimised the ordinary way
    window.setWindowState(Qt::WindowMinimized);
    QApplication::processEvents();
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(ShownTrayIcons().isEmpty());
}

TEST_F(frmMainTest, StartsInTheNotificationAreaAndComesForwardFromIt) {
    SetNotificationAreaAvailable(true);
    frmMain waiting;
    waiting.WaitInNotificationArea();
    waiting.SetStatus(0);
    QApplication::processEvents();
    EXPECT_FALSE(waiting.isVisible());
    ASSERT_EQ(ShownTrayIcons().size(), 1);
    EXPECT_EQ(ShownTrayIcons().front()->toolTip(), "Quenloft");

    waiting.BringForward(); // as a second launch asks
    EXPECT_TRUE(waiting.isVisible());
    EXPECT_FALSE(waiting.isMinimized());
    EXPECT_TRUE(ShownTrayIcons().isEmpty());
    waiting.BringForward(); // already there: nothing changes
    EXPECT_TRUE(waiting.isVisible());
    EXPECT_TRUE(ShownTrayIcons().isEmpty());

    SetNotificationAreaAvailable(false); // minimised the ordinary way, and back
    waiting.WaitInNotificationArea();
    EXPECT_TRUE(waiting.isMinimized());
    EXPECT_TRUE(ShownTrayIcons().isEmpty());
    waiting.BringForward();
    EXPECT_FALSE(waiting.isMinimized());
    EXPECT_TRUE(waiting.isVisible());
    waiting.close();
}

TEST_F(frmMainTest, StatusPanelTipShowsTheStatistics) {
    gStatistics.IncreseVariable("RequestsOK", Variant(int16_t(12)));
    gStatistics.IncreseVariable("BytesSend", Variant(int16_t(3072)));
    auto* label = Get("lblStatus"); // the tip is the panel's, wherever the pointer is
    QHelpEvent over(QEvent::ToolTip, QPoint(5, 5), label->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(label, &over);
    EXPECT_EQ(Get("picStatus")->toolTip(), "Files: 12\nListings: 0\nNot found: 0\n"
                                           "Refused methods: 0\nBytes sent: 3.0 KiB");
    gStatistics.IncreseVariable("RequestsFileNotFound", Variant(int16_t(1)));
    QApplication::sendEvent(label, &over); // counted afresh each time it is shown
    EXPECT_TRUE(Get("picStatus")->toolTip().contains("Not found: 1"));
}

TEST_F(frmMainTest, ClosingWritesBothStoresAndClosesTheSettingsDialog) {
    gStatistics.IncreseVariable("RequestsOK", Variant(int16_t(3)));
    Click("cmdSettings");
    QPointer<frmSettings> settings = &SettingsForm();
    settings->findChild<QLineEdit*>("txtPort")->setText("8123");
    QTest::keyClick(settings->findChild<QLineEdit*>("txtPort"), Qt::Key_Return);
    Click("cmdSettings");
    QSignalSpy unloaded(&window, &frmMain::Unloaded);
    window.close();
    window.close(); // a second close changes nothing
    EXPECT_EQ(unloaded.count(), 1);
    EXPECT_TRUE(WaitUntil([&] { return settings.isNull(); }));
    clsSettings saved, counted;
    saved.LoadData(data / "HTTP-Settings.dat");
    counted.LoadData(data / "HTTP-Statistic.dat");
    EXPECT_EQ(saved.VariableValue("ServerPort"), Variant("8123"));
    EXPECT_EQ(counted.VariableValue("RequestsOK"), Variant(int16_t(3)));
}

TEST_F(frmMainTest, StoreThatCannotBeWrittenIsToldAndTheOtherIsStillWritten) {
    clsSettings old;
    old.SetVariableValue("ServerPort", Variant("81"));
    old.SaveData(data / "HTTP-Settings.dat");
    Main();
    gSettings.SetVariableValue("ServerPort", Variant("8123"));
    gStatistics.IncreseVariable("RequestsOK", Variant(int16_t(4)));
    data.MakeFolder("HTTP-Settings.dat.tmp"); // in the way

    // Closed with the close box: a message box tells the user, the program still ends.
    QSignalSpy unloaded(&window, &frmMain::Unloaded);
    QString shown;
    ModalAnswer told([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        shown = box->windowTitle() + "|" + box->text();
        box->button(QMessageBox::Ok)->click();
    });
    QCloseEvent closeBox; // as the desktop sends it
    QSpontaneKeyEvent::setSpontaneous(&closeBox);
    qApp->notify(window.windowHandle(), &closeBox);
    EXPECT_TRUE(shown.startsWith("Error|Error ")) << shown.toStdString();
    EXPECT_EQ(unloaded.count(), 1);
    clsSettings saved, counted;
    saved.LoadData(data / "HTTP-Settings.dat");
    counted.LoadData(data / "HTTP-Statistic.dat");
    EXPECT_EQ(saved.VariableValue("ServerPort"), Variant("81")); // the old store is whole
    EXPECT_EQ(counted.VariableValue("RequestsOK"), Variant(int16_t(4)));

    // Closed by the program (an end signal): nobody may be there to answer a box.
    frmMain other;
    other.show();
    QSignalSpy otherUnloaded(&other, &frmMain::Unloaded);
    ModalAnswer none([](QWidget* modal) { modal->close(); });
    other.close();
    EXPECT_FALSE(none.Answered());
    EXPECT_EQ(otherUnloaded.count(), 1);
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
    clsSettings counted;
    counted.LoadData(data / "HTTP-Statistic.dat");
    EXPECT_EQ(counted.VariableValue("RequestsOK"), Variant(int16_t(2)));
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        ::signal(signal, SIG_DFL);
    }
}

// The lines below the status panel: addresses while running, the folder always.
class AddressLineTest : public frmMainTest {
protected:
    void TearDown() override {
        SetMachineAddresses(std::nullopt);
        frmMainTest::TearDown();
    }
    QString Shown(const char* label) { return Get<QLabel>(label)->text(); }
    int StartOnAFreePort() {
        return quenloft::testing::StartOnAFreePort([&] { Click("cmdStart"); });
    }
};

TEST_F(AddressLineTest, TheirPlacesLeaveEveryOtherControlWhereItWas) {
    QRect client(QPoint(0, 0), window.size());
    for (const char* added : {"lblAddress", "cmdCopy", "lblFolder"}) {
        QRect place = Get(added)->geometry();
        EXPECT_TRUE(client.contains(place)) << added;
        EXPECT_GE(place.top(), Get("picStatus")->geometry().bottom()) << added;
        for (const char* kept : {"picStatus", "cmdStart", "cmdSettings", "picHook"}) {
            EXPECT_FALSE(place.intersects(Get(kept)->geometry())) << added << " " << kept;
        }
    }
    EXPECT_EQ(Get<QPushButton>("cmdCopy")->text(), "Co&py");
}

TEST_F(AddressLineTest, RunningShowsTheAddressesWithThePortListenedOn) {
    SetMachineAddresses(std::vector<NetworkAddress>{
        {"127.0.0.1", true, true}, {"192.168.1.23", false, true}, {"10.0.0.7", false, true}});
    EXPECT_EQ(Shown("lblAddress"), ""); // stopped
    EXPECT_FALSE(Get("cmdCopy")->isVisible());

    int port = StartOnAFreePort();
    QString first = QString("http://192.168.1.23:%1/").arg(port);
    QString second = QString("http://10.0.0.7:%1/").arg(port);
    EXPECT_EQ(
        Shown("lblAddress"),
        QString("Addresses: <a href=\"%1\">%1</a>, <a href=\"%2\">%2</a>").arg(first, second));
    auto* label = Get<QLabel>("lblAddress");
    EXPECT_TRUE(label->openExternalLinks()); // a click opens the default browser
    EXPECT_TRUE(label->toolTip().contains(second));
    EXPECT_TRUE(Get("cmdCopy")->isVisible());
    QGuiApplication::clipboard()->clear();
    Click("cmdCopy");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), first);

    SetNotificationAreaAvailable(true); // the tip adds the address
    window.setWindowState(Qt::WindowMinimized);
    ASSERT_EQ(ShownTrayIcons().size(), 1);
    EXPECT_EQ(ShownTrayIcons().front()->toolTip(), "Quenloft\n" + first);
    window.setWindowState(Qt::WindowNoState);

    Click("cmdStart");
    EXPECT_EQ(Shown("lblAddress"), "");
    EXPECT_FALSE(Get("cmdCopy")->isVisible());
}

TEST_F(AddressLineTest, ManyAddressesShowWhatFitsAndNoneShowsThisMachineOnly) {
    std::vector<NetworkAddress> many;
    for (int i = 10; i < 16; ++i) {
        many.push_back({"192.168.100." + std::to_string(i), false, true});
    }
    SetMachineAddresses(many);
    int port = StartOnAFreePort();
    QString text = Shown("lblAddress");
    EXPECT_TRUE(
        text.startsWith(QString("Addresses: <a href=\"http://192.168.100.10:%1/\">").arg(port)));
    EXPECT_TRUE(text.contains(QRegularExpression(" and \\d more$"))) << text.toStdString();
    QLabel* label = Get<QLabel>("lblAddress");
    QTextDocument plain;
    plain.setHtml(text);
    EXPECT_LE(label->fontMetrics().horizontalAdvance(plain.toPlainText()), label->width());
    EXPECT_TRUE(label->toolTip().contains("192.168.100.15"));
    Click("cmdStart");

    SetMachineAddresses(std::vector<NetworkAddress>{{"127.0.0.1", true, true}});
    port = StartOnAFreePort();
    EXPECT_EQ(
        Shown("lblAddress"),
        QString("This computer only: <a href=\"http://127.0.0.1:%1/\">http://127.0.0.1:%1/</a>")
            .arg(port));
}

TEST_F(AddressLineTest, FolderLineFollowsTheSettingsAndSaysWhyNothingIsServed) {
    EXPECT_EQ(Shown("lblFolder"), "No folder is set: choose one under Configure.");
    QColor problem = Get<QLabel>("lblFolder")->palette().color(QPalette::WindowText);
    EXPECT_EQ(problem, QColor(192, 0, 0));

    TempFolder served;
    Click("cmdSettings");
    auto* path = SettingsForm().findChild<QLineEdit*>("txtIndexPath");
    for (auto [typed, shown] :
         {std::pair(QString("www"),
                    QString("Not a full path, choose the folder under Configure: www")),
          std::pair(QString::fromStdString(served / "gone"),
                    QString::fromStdString("This folder does not exist: " + served / "gone")),
          std::pair(QString::fromStdString(served.Path()),
                    QString::fromStdString("Folder: " + served.Path()))}) {
        Click("cmdSettings");
        path->setText(typed);
        QTest::keyClick(path, Qt::Key_Return); // "&Ok"
        EXPECT_EQ(Shown("lblFolder"), shown);
    }
    EXPECT_NE(Get<QLabel>("lblFolder")->palette().color(QPalette::WindowText), problem);

    // A path too long for the line loses its middle; the tip has it whole.
    std::string deep = served.MakeFolder(std::string(60, 'a') + "/" + std::string(60, 'b'));
    gSettings.SetVariableValue("IndexPath", Variant(deep));
    window.ShowServedPlace();
    QString line = Shown("lblFolder");
    EXPECT_TRUE(line.startsWith("Folder: /")) << line.toStdString();
    EXPECT_TRUE(line.contains(QChar(0x2026)));
    EXPECT_TRUE(line.endsWith("bbbb"));
    EXPECT_EQ(Get("lblFolder")->toolTip().toStdString(), deep);
}

// What zbarimg reads in `image`, one line a code; empty when it cannot run.
QString ReadCodes(const QImage& image, const QString& file) {
    if (!image.save(file, "PNG")) {
        return {};
    }
    QProcess reader;
    reader.start("zbarimg", {"--raw", "-q", file});
    if (!reader.waitForFinished(30000)) {
        return {};
    }
    return QString::fromUtf8(reader.readAllStandardOutput()).trimmed();
}

TEST_F(AddressLineTest, TheQRCodesSmallAndLargeReadAsTheAddressLinesURL) {
    if (QStandardPaths::findExecutable("zbarimg").isEmpty()) {
        GTEST_SKIP() << "zbarimg is missing (tools/install-deps installs it)";
    }
    SetMachineAddresses(std::vector<NetworkAddress>{{"192.168.1.23", false, true}});
    EXPECT_FALSE(Get("cmdQR")->isVisible()); // stopped
    int port = StartOnAFreePort();
    QString url = QString("http://192.168.1.23:%1/").arg(port);
    EXPECT_TRUE(Shown("lblAddress").contains(url));

    auto* small = Get<QToolButton>("cmdQR");
    ASSERT_TRUE(small->isVisible());
    QImage icon = small->icon().pixmap(small->iconSize()).toImage();
    // Readers need a few pixels a module: the small code is read enlarged, as a camera would.
    EXPECT_EQ(ReadCodes(icon.scaled(icon.size() * 4), QString::fromStdString(data / "small.png")),
              url);

    Click("cmdQR");
    auto* large = window.findChild<QDialog*>();
    ASSERT_TRUE(large && large->isVisible());
    auto* picture = large->findChild<QLabel*>("picCode");
    EXPECT_GE(picture->pixmap().width(), 300);
    EXPECT_EQ(ReadCodes(picture->pixmap().toImage(), QString::fromStdString(data / "large.png")),
              url);
    EXPECT_EQ(large->findChild<QLabel*>("lblAddress")->text(), url);

    QPointer<QDialog> closed = large;
    Click("cmdStart"); // stopped: no address, no code
    EXPECT_FALSE(small->isVisible());
    EXPECT_TRUE(WaitUntil([&] { return closed.isNull() || !closed->isVisible(); }));
}

TEST_F(AddressLineTest, TheIconMenuShowsTheWindowFollowsTheServerAndQuitsAsClosingDoes) {
    auto* menu = Get<QMenu>("trayMenu");
    ASSERT_NE(menu, nullptr);
    auto texts = [&] {
        QStringList shown;
        for (QAction* action : menu->actions()) {
            shown << (action->isSeparator() ? "-" : action->text());
        }
        return shown.join("|");
    };
    EXPECT_EQ(texts(), "S&how|&Start|-|&Quit");
    menu->actions()[1]->trigger(); // Start
    EXPECT_EQ(Display(), running);
    EXPECT_EQ(texts(), "S&how|&Stop|-|&Quit");

    SetNotificationAreaAvailable(true);
    window.setWindowState(Qt::WindowMinimized);
    ASSERT_EQ(ShownTrayIcons().size(), 1);
    EXPECT_EQ(ShownTrayIcons().front()->contextMenu(), menu);
    menu->actions()[0]->trigger(); // Show
    EXPECT_TRUE(WaitUntil([&] { return window.isVisible() && !window.isMinimized(); }));
    EXPECT_TRUE(WaitUntil([&] { return ShownTrayIcons().isEmpty(); }));

    menu->actions()[1]->trigger(); // Stop
    EXPECT_EQ(Display(), stopped);
    gStatistics.IncreseVariable("RequestsOK", Variant(int16_t(2)));
    QSignalSpy unloaded(&window, &frmMain::Unloaded);
    menu->actions()[3]->trigger(); // Quit
    EXPECT_EQ(unloaded.count(), 1);
    clsSettings counted;
    counted.LoadData(data / "HTTP-Statistic.dat");
    EXPECT_EQ(counted.VariableValue("RequestsOK"), Variant(int16_t(2)));
    EXPECT_TRUE(std::filesystem::exists(data / "HTTP-Settings.dat"));
}

} // namespace
} // namespace quenloft::testing
