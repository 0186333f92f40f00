// What the program tells at start-up: the store files that start-up could not use, told
// once.
#include "ui/modProgram.h"

#include "WidgetTest.h"

#include <QMessageBox>
#include <QPushButton>
#include <filesystem>

namespace quenloft::testing {
namespace {

class StoreTroublesTest : public WidgetTest {
protected:
    // The text of the box that start-up shows, or empty when it shows none.
    QString Told() {
        QString told;
        ModalAnswer answer([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            told = box->windowTitle() + "|" + box->text();
            box->button(QMessageBox::Ok)->click();
        });
        TellStoreTroubles(nullptr);
        return told;
    }
};

TEST_F(StoreTroublesTest, DamagedStoresAreToldInOneBoxThatNamesThem) {
    std::string settings = data.Write("HTTP-Settings.dat", "damaged");
    std::string statistics = data.Write("HTTP-Statistic.dat", "damaged too");
    Main();
    QString told = Told();
    EXPECT_TRUE(told.startsWith("Quenloft|The settings file was damaged:\n" +
                                QString::fromStdString(settings) +
                                "\n\nIt is kept beside as HTTP-Settings.dat.bad. Quenloft "
                                "starts with the default settings"))
        << told.toStdString();
    EXPECT_TRUE(
        told.contains("The statistics file was damaged:\n" + QString::fromStdString(statistics)));
    EXPECT_TRUE(std::filesystem::exists(settings + ".bad"));

    Main(); // the next start finds nothing wrong, and says nothing
    EXPECT_EQ(Told(), "");
}

} // namespace
} // namespace quenloft::testing
