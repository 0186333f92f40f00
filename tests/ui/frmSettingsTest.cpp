// The settings dialog on real widgets: its layout, what it shows and writes, its keys,
// its buttons with the prompt and the folder dialog, and its life.
#include "WidgetTest.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

namespace quenloft::testing {
namespace {

class frmSettingsTest : public WidgetTest {
protected:
    // The dialog as the main window's "&Configure" opens it.
    frmSettings& Open() {
        frmSettings& form = SettingsForm();
        form.show();
        form.LoadSettings();
        return form;
    }
    template <typename Control>
    Control* Get(const char* name) {
        auto* control = SettingsForm().findChild<Control*>(name);
        EXPECT_TRUE(control) << name;
        return control;
    }
    QStringList Entries() {
        QStringList entries;
        auto* list = Get<QListWidget>("lstIndexFiles");
        for (int i = 0; i < list->count(); ++i) {
            entries << list->item(i)->text();
        }
        return entries;
    }
};

TEST_F(frmSettingsTest, ControlsSitWhereTheLayoutPutsThem) {
    frmSettings& form = Open();
    EXPECT_EQ(form.windowTitle(), "Settings");
    EXPECT_EQ(form.size(), QSize(406, 360));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_TRUE(form.windowFlags().testFlag(Qt::Tool));
    EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_FALSE(form.isModal());

    struct Place {
        const char* Name;
        const char* Frame;
        QRect Geometry;
        const char* Text;
    };
    const Place places[] = {
        {"frameSettings", nullptr, {8, 8, 388, 297}, "Server:"},
        {"lblIndexPath", "frameSettings", {16, 24, 97, 17}, "&Upper path: "},
        {"txtIndexPath", "frameSettings", {96, 24, 217, 19}, ""},
        {"cmdBrowse", "frameSettings", {320, 24, 57, 19}, "&Browse"},
        {"lblPort", "frameSettings", {16, 56, 65, 17}, "Server port:"},
        {"txtPort", "frameSettings", {96, 56, 217, 19}, "80"},
        {"frameIndexFiles", "frameSettings", {8, 96, 177, 193}, "File indexes:"},
        {"lstIndexFiles", "frameIndexFiles", {8, 24, 161, 134}, ""},
        {"cmdAddFile", "frameIndexFiles", {8, 160, 81, 25}, "&Add name"},
        {"cmdDelete", "frameIndexFiles", {88, 160, 81, 25}, "&Delete"},
        {"frameDirectoryListing", "frameSettings", {192, 96, 185, 193}, "Directory listing:"},
        {"chkDLEnable", "frameDirectoryListing", {8, 24, 153, 17}, "Use directory listing"},
        {"chkDLShow", "frameDirectoryListing", {8, 48, 145, 17}, "Show hidden files"},
        {"lblFormat", "frameDirectoryListing", {16, 80, 89, 17}, "Format:"},
        {"chkNameColumn", "frameDirectoryListing", {16, 104, 89, 17}, "Name column:"},
        {"chkSizeColumn", "frameDirectoryListing", {16, 128, 89, 17}, "Size column:"},
        {"chkDateColumn", "frameDirectoryListing", {16, 152, 89, 17}, "Date column:"},
        {"cmdCancel", nullptr, {224, 328, 81, 25}, "&Cancel"},
        {"cmdOK", nullptr, {312, 328, 81, 25}, "&Ok"},
    };
    for (const Place& place : places) {
        SCOPED_TRACE(place.Name);
        auto* control = Get<QWidget>(place.Name);
        ASSERT_TRUE(control);
        EXPECT_EQ(control->geometry(), place.Geometry);
        EXPECT_EQ(control->parentWidget()->objectName(), place.Frame ? place.Frame : "");
        QString text = control->property("text").isValid() ? control->property("text").toString()
                                                           : control->property("title").toString();
        EXPECT_EQ(text, place.Text);
        bool bold = qobject_cast<QGroupBox*>(control) || control->objectName() == "lblFormat";
        EXPECT_EQ(control->font().bold(), bold);
        // Every text is whole at its fixed width (a hint may count a focus margin).
        int needed = 0;
        if (qobject_cast<QPushButton*>(control)) {
            needed = control->fontMetrics().horizontalAdvance(QString(text).remove('&')) + 4;
        } else if (qobject_cast<QLabel*>(control) || qobject_cast<QCheckBox*>(control)) {
            needed = control->sizeHint().width();
        }
        EXPECT_LE(needed, place.Geometry.width() + 2) << "clipped: " << text.toStdString();
    }
    EXPECT_TRUE(Get<QPushButton>("cmdOK")->isDefault());
    EXPECT_EQ(Get<QListWidget>("lstIndexFiles")->selectionMode(),
              QAbstractItemView::SingleSelection);
}

TEST_F(frmSettingsTest, EmptyStoreShowsDefaultsAndOkWritesThem) {
    Open();
    EXPECT_EQ(Get<QLineEdit>("txtIndexPath")->text(), "");
    EXPECT_EQ(Get<QLineEdit>("txtPort")->text(), "80");
    EXPECT_EQ(Get<QCheckBox>("chkDLEnable")->checkState(), Qt::Checked);
    EXPECT_EQ(Get<QCheckBox>("chkDLShow")->checkState(), Qt::Unchecked);
    EXPECT_EQ(Get<QCheckBox>("chkNameColumn")->checkState(), Qt::PartiallyChecked);
    EXPECT_EQ(Get<QCheckBox>("chkSizeColumn")->checkState(), Qt::Checked);
    EXPECT_EQ(Get<QCheckBox>("chkDateColumn")->checkState(), Qt::Checked);
    EXPECT_TRUE(Entries().isEmpty());

    // The name column's box cannot be changed.
    QTest::mouseClick(Get<QCheckBox>("chkNameColumn"), Qt::LeftButton);
    EXPECT_EQ(Get<QCheckBox>("chkNameColumn")->checkState(), Qt::PartiallyChecked);

    QTest::mouseClick(Get<QPushButton>("cmdOK"), Qt::LeftButton);
    EXPECT_FALSE(SettingsForm().isVisible());
    ASSERT_EQ(gSettings.VariableCount(), 7);
    const char* order[] = {"IndexPath",  "IndexNames", "DLEnabled", "DLShowHiddenFiles",
                           "DLShowSize", "DLShowDate", "ServerPort"};
    for (int32_t i = 0; i < 7; ++i) {
        EXPECT_EQ(gSettings.VariableName(Variant(i)).ToText(), order[i]);
    }
    EXPECT_EQ(gSettings.VariableValue("ServerPort"), Variant("80"));
    EXPECT_EQ(gSettings.VariableValue("DLShowSize"), Variant(int16_t(1)));
    EXPECT_TRUE(gSettings.VariableValue("IndexNames").IsEmpty());
}

TEST_F(frmSettingsTest, EnterActsAsOkAndEscapeDoesNothing) {
    Open();
    auto* port = Get<QLineEdit>("txtPort");
    port->setFocus();
    port->selectAll();
    QTest::keyClicks(port, "8080");
    QTest::keyClick(port, Qt::Key_Escape);
    EXPECT_TRUE(SettingsForm().isVisible());
    EXPECT_EQ(gSettings.VariableCount(), 0);

    QTest::keyClick(port, Qt::Key_Return);
    EXPECT_FALSE(SettingsForm().isVisible());
    EXPECT_EQ(gSettings.VariableValue("ServerPort"), Variant("8080"));

    // From the list and from a check box as well.
    for (const char* name : {"lstIndexFiles", "chkDLShow"}) {
        SCOPED_TRACE(name);
        Open();
        Get<QCheckBox>("chkDLEnable")->setCheckState(Qt::Unchecked);
        auto* control = Get<QWidget>(name);
        control->setFocus();
        QTest::keyClick(control, Qt::Key_Enter);
        EXPECT_FALSE(SettingsForm().isVisible());
        EXPECT_EQ(gSettings.VariableValue("DLEnabled"), Variant(int16_t(0)));
        gSettings.SetVariableValue("DLEnabled", Variant(int16_t(1)));
    }
}

TEST_F(frmSettingsTest, AddNameAsksAndDeleteRemovesTheSelectedEntry) {
    Open();
    auto* add = Get<QPushButton>("cmdAddFile");
    QString title, label, offered = "not asked";
    ModalAnswer named([&](QWidget* modal) {
        auto* prompt = qobject_cast<QInputDialog*>(modal);
        ASSERT_TRUE(prompt);
        title = prompt->windowTitle();
        label = prompt->labelText();
        offered = prompt->textValue();
        prompt->setTextValue("index.html");
        prompt->accept();
    });
    QTest::mouseClick(add, Qt::LeftButton);
    EXPECT_TRUE(named.Answered());
    EXPECT_EQ(title, "Quenloft");
    EXPECT_EQ(label, "Write the name:");
    EXPECT_EQ(offered, "");

    ModalAnswer cancelled([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    QTest::mouseClick(add, Qt::LeftButton);
    ModalAnswer again([](QWidget* modal) {
        auto* prompt = qobject_cast<QInputDialog*>(modal);
        prompt->setTextValue("index.html");
        prompt->accept();
    });
    QTest::mouseClick(add, Qt::LeftButton);
    EXPECT_EQ(Entries(), (QStringList{"index.html", "", "index.html"}));

    auto* list = Get<QListWidget>("lstIndexFiles");
    list->clearSelection();
    QTest::mouseClick(Get<QPushButton>("cmdDelete"), Qt::LeftButton);
    EXPECT_EQ(Entries().size(), 3);
    list->item(1)->setSelected(true);
    QTest::mouseClick(Get<QPushButton>("cmdDelete"), Qt::LeftButton);
    EXPECT_EQ(Entries(), (QStringList{"index.html", "index.html"}));

    QTest::mouseClick(Get<QPushButton>("cmdOK"), Qt::LeftButton);
    Variant names = gSettings.VariableValue("IndexNames");
    ASSERT_TRUE(names.IsArray());
    EXPECT_EQ(names.Items().size(), 2u);
}

TEST_F(frmSettingsTest, BrowseOffersOnlyFoldersAndKeepsTheBoxWhenCancelled) {
    Open();
    auto* path = Get<QLineEdit>("txtIndexPath");
    path->setText("/before");
    TempFolder served;
    QString title;
    bool foldersOnly = false;
    ModalAnswer chosen([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_TRUE(dialog);
        title = dialog->windowTitle();
        foldersOnly = dialog->fileMode() == QFileDialog::Directory &&
                      dialog->testOption(QFileDialog::ShowDirsOnly);
        dialog->setDirectory(QString::fromStdString(served.Path()));
        static_cast<QDialog*>(dialog)->accept();
    });
    QTest::mouseClick(Get<QPushButton>("cmdBrowse"), Qt::LeftButton);
    EXPECT_TRUE(chosen.Answered());
    EXPECT_EQ(title, "Select the index folder:");
    EXPECT_TRUE(foldersOnly);
    EXPECT_EQ(path->text().toStdString(), served.Path());

    ModalAnswer cancelled([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    QTest::mouseClick(Get<QPushButton>("cmdBrowse"), Qt::LeftButton);
    EXPECT_TRUE(cancelled.Answered());
    EXPECT_EQ(path->text().toStdString(), served.Path());
}

TEST_F(frmSettingsTest, CancelKeepsTheStoreAndTheCloseBoxEndsTheDialog) {
    gSettings.SetVariableValue("IndexPath", Variant("/srv/www"));
    frmSettings* first = &Open();
    Get<QLineEdit>("txtIndexPath")->setText("/elsewhere");
    QTest::mouseClick(Get<QPushButton>("cmdCancel"), Qt::LeftButton);
    EXPECT_FALSE(first->isVisible());
    EXPECT_EQ(gSettings.VariableValue("IndexPath"), Variant("/srv/www"));
    EXPECT_EQ(gSettings.VariableCount(), 1);
    EXPECT_EQ(&Open(), first); // hidden, not ended: the same dialog, refilled
    EXPECT_EQ(Get<QLineEdit>("txtIndexPath")->text(), "/srv/www");

    Get<QLineEdit>("txtIndexPath")->setText("/elsewhere");
    first->close();
    EXPECT_EQ(LoadedSettingsForm(), nullptr);
    EXPECT_EQ(gSettings.VariableValue("IndexPath"), Variant("/srv/www"));
    EXPECT_TRUE(WaitUntil([] { return QApplication::topLevelWidgets().size() <= 1; }));
    EXPECT_EQ(Get<QLineEdit>("txtIndexPath")->text(), ""); // a new dialog, design-time contents
}

} // namespace
} // namespace quenloft::testing
