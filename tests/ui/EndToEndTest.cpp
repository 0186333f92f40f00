// The whole program in-process: start-up from the store files, the server started from
// the main window, a file and a listing fetched over loopback by a client thread while a
// modal prompt is open, then the window closed and the files checked.
#include "WidgetTest.h"
#include "ui/frmMain.h"

#include <QDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <thread>

namespace quenloft::testing {
namespace {

class EndToEnd : public WidgetTest {};

TEST_F(EndToEnd, ServesOverLoopbackAndKeepsCountsAndLogAtExit) {
    TempFolder served;
    std::string body(1500, 'q'); // two pieces
    served.Write("hello.txt", body);
    int port = Listener().Port;
    clsSettings stored;
    stored.SetVariableValue("IndexPath", Variant(served.Path()));
    stored.SetVariableValue("DLEnabled", Variant(int16_t(1)));
    stored.SetVariableValue("ServerPort", Variant(std::to_string(port)));
    stored.SaveData(data / "HTTP-Settings.dat");

    frmMain window;
    QSignalSpy unloaded(&window, &frmMain::Unloaded);
    Main([&] {
        window.show();
        window.SetStatus(0);
    });
    EXPECT_EQ(gLog.FileName(), data / "Log.dat");
    auto* start = window.findChild<QPushButton*>("cmdStart");
    port = StartOnAFreePort([&] { QTest::mouseClick(start, Qt::LeftButton); }, port);
    ASSERT_EQ(start->text(), "&Stop");

    // The requests arrive while the settings dialog's input prompt is open: its modal
    // loop keeps serving.
    QTest::mouseClick(window.findChild<QPushButton*>("cmdSettings"), Qt::LeftButton);
    std::string file, listing;
    bool finished = false;
    ModalAnswer prompt([&](QWidget* modal) {
        std::atomic<bool> done{false};
        std::thread client([&] {
            file = Fetch(port, "/hello.txt");
            listing = Fetch(port, "/");
            done = true;
        });
        finished = WaitUntil([&] { return done.load(); }, 15000);
        client.join();
        qobject_cast<QDialog*>(modal)->reject();
    });
    QTest::mouseClick(SettingsForm().findChild<QPushButton*>("cmdAddFile"), Qt::LeftButton);
    ASSERT_TRUE(prompt.Answered());
    ASSERT_TRUE(finished);
    EXPECT_EQ(file.substr(0, 15), "HTTP/1.1 200 OK");
    EXPECT_EQ(file.substr(file.size() - body.size()), body);
    EXPECT_EQ(listing.substr(0, 15), "HTTP/1.1 200 OK");
    EXPECT_NE(listing.find("hello.txt"), std::string::npos);

    window.close();
    EXPECT_EQ(unloaded.count(), 1);
    clsSettings settings, statistics;
    settings.LoadData(data / "HTTP-Settings.dat");
    statistics.LoadData(data / "HTTP-Statistic.dat");
    EXPECT_EQ(settings.VariableValue("ServerPort"), Variant(std::to_string(port)));
    EXPECT_EQ(statistics.VariableValue("RequestsOK").ToLong(), 1);
    EXPECT_EQ(statistics.VariableValue("RequestsDirectoryListing").ToLong(), 1);
    EXPECT_EQ(statistics.VariableValue("BytesSend").ToLong(), 1500);

    std::string log = TempFolder::Read(data / "Log.dat");
    size_t fileLine = log.find("@:");
    ASSERT_NE(fileLine, std::string::npos);
    EXPECT_NE(log.find("127.0.0.1@:"), std::string::npos);
    EXPECT_NE(log.find("  GET /hello.txt HTTP/1.1\r\n"), std::string::npos);
    EXPECT_NE(log.find("  GET / HTTP/1.1\r\n"), std::string::npos);
    EXPECT_LT(log.find("/hello.txt"), log.find("GET / "));
}

} // namespace
} // namespace quenloft::testing
