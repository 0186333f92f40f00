// The settings dialog on real widgets: its layout, the keys it writes, Enter and Escape,
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
#include <functional>

namespace quenloft::testing {
namespace {

class frmSettingsTest : public WidgetTest {
protected:
    // The dialog as the main window's "&Configure" opens it.
    frmSettings& Open() {
        SettingsForm().show();
        SettingsForm().LoadSettings();
        return SettingsForm();
    }
    template <typename Control = QWidget>
    Control* Get(const char* name) {
        return SettingsForm().findChild<Control*>(name);
    }
    void Click(const char* button) { QTest::mouseClick(Get(button), Qt::LeftButton); }
    QStringList Entries() {
        QStringList entries;
        for (int i = 0; i < Get<QListWidget>("lstIndexFiles")->count(); ++i) {
            entries << Get<QListWidget>("lstIndexFiles")->item(i)->text();
        }
        return entries;
    }
};

TEST_F(frmSettingsTest, ControlsSitWhereTheLayoutPutsThem) {
    frmSettings& form = Open();
    EXPECT_EQ(form.windowTitle(), "Settings");
    EXPECT_EQ(form.size(), QSize(406, 360));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_EQ(form.windowFlags() & (Qt::Tool | Qt::WindowMinMaxButtonsHint), Qt::Tool);
    EXPECT_FALSE(form.isModal());
    const struct {
        const char *Name, *Frame;
        QRect Place;
        const char* Text;
    } controls[] = {
        {"frameSettings", "", {8, 8, 388, 297}, "Server:"},
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
        {"cmdCancel", "", {224, 328, 81, 25}, "&Cancel"},
        {"cmdOK", "", {312, 328, 81, 25}, "&Ok"},
    };
    for (const auto& c : controls) {
        SCOPED_TRACE(c.Name);
        QWidget* control = Get(c.Name);
        ASSERT_TRUE(control);
        EXPECT_EQ(control->geometry(), c.Place);
        EXPECT_EQ(control->parentWidget()->objectName(), c.Frame);
        QVariant text = control->property(qobject_cast<QGroupBox*>(control) ? "title" : "text");
        EXPECT_EQ(text.toString(), c.Text);
        bool bold = qobject_cast<QGroupBox*>(control) || control->objectName() == "lblFormat";
        EXPECT_EQ(control->font().bold(), bold);
    }
    EXPECT_TRUE(Get<QPushButton>("cmdOK")->isDefault());
}

// The fixed places were drawn for Arial: the face the windows really get has its measure,
// and every text is whole in that face.
TEST_F(frmSettingsTest, EveryTextFitsItsPlaceInTheFaceTheProgramGets) {
    frmSettings& form = Open();
    for (const char* name : {"lblIndexPath", "chkNameColumn", "chkDateColumn", "cmdAddFile"}) {
        QString face = QFontInfo(Get(name)->font()).family();
        EXPECT_TRUE(face == "Arial" || face == "Liberation Sans" || face == "Arimo")
            << name << ": " << face.toStdString();
    }
    EXPECT_EQ(TextsThatDoNotFit(&form).join("; ").toStdString(), "");
}

TEST_F(frmSettingsTest, EmptyStoreShowsDefaultsAndOkWritesTheKeys) {
    Open();
    EXPECT_EQ(Get<QLineEdit>("txtPort")->text(), "80");
    for (auto [box, state] : {std::pair("chkDLEnable", Qt::Checked),
                              {"chkDLShow", Qt::Unchecked},
                              {"chkNameColumn", Qt::PartiallyChecked},
                              {"chkSizeColumn", Qt::Checked},
                              {"chkDateColumn", Qt::Checked}}) {
        EXPECT_EQ(Get<QCheckBox>(box)->checkState(), state) << box;
    }
    Click("chkNameColumn"); // shows a fact, cannot be changed
    EXPECT_EQ(Get<QCheckBox>("chkNameColumn")->checkState(), Qt::PartiallyChecked);

    Click("cmdOK");
    EXPECT_FALSE(SettingsForm().isVisible());
    ASSERT_EQ(gSettings.VariableCount(), 7);
    EXPECT_EQ(gSettings.VariableName(Variant(0)), Variant("IndexPath"));
    EXPECT_EQ(gSettings.VariableValue("ServerPort"), Variant("80"));
    EXPECT_EQ(gSettings.VariableValue("DLShowSize"), Variant(int16_t(1)));
}

TEST_F(frmSettingsTest, EnterActsAsOkAndEscapeAsCancel) {
    gSettings.SetVariableValue("ServerPort", Variant("81"));
    Open();
    auto* port = Get<QLineEdit>("txtPort");
    port->setText("8080");
    QTest::keyClick(port, Qt::Key_Escape);
    EXPECT_FALSE(SettingsForm().isVisible());
    EXPECT_EQ(gSettings.VariableValue("ServerPort"), Variant("81"));
    Open();
    EXPECT_EQ(port->text(), "81"); // the edit is dropped, as "&Cancel" drops it
    port->setText("8080");
    QTest::keyClick(port, Qt::Key_Return);
    EXPECT_FALSE(SettingsForm().isVisible());
    EXPECT_EQ(gSettings.VariableValue("ServerPort"), Variant("8080"));

    for (const char* name : {"lstIndexFiles", "chkDLShow"}) {
        Open();
        Get<QCheckBox>("chkDLEnable")->setCheckState(Qt::Unchecked);
        QTest::keyClick(Get(name), Qt::Key_Enter);
        EXPECT_FALSE(SettingsForm().isVisible()) << name;
        EXPECT_EQ(gSettings.VariableValue("DLEnabled"), Variant(int16_t(0))) << name;
        gSettings.SetVariableValue("DLEnabled", Variant(int16_t(1)));
        Open();
        QTest::keyClick(Get(name), Qt::Key_Escape);
        EXPECT_FALSE(SettingsForm().isVisible()) << name;
    }
}

TEST_F(frmSettingsTest, AddNameAddsOnlyAConfirmedNameAndDeleteRemovesTheSelectedEntry) {
    Open();
    QString asked;
    const struct {
        QString Typed;
        bool Confirmed;
    } answers[] = {{"index.html", true}, {"default.htm", false}, {"", true}, {"index.html", true}};
    for (const auto& answer : answers) {
        ModalAnswer prompt([&](QWidget* modal) {
            auto* input = qobject_cast<QInputDialog*>(modal);
            asked = input->windowTitle() + "|" + input->labelText() + "|" + input->textValue();
            input->setTextValue(answer.Typed);
            answer.Confirmed ? input->accept() : input->reject();
        });
        Click("cmdAddFile");
        EXPECT_TRUE(prompt.Answered());
    }
    EXPECT_EQ(asked, "Quenloft|Write the name:|");
    EXPECT_EQ(Entries(), (QStringList{"index.html", "index.html"})); // a name may come twice

    Click("cmdDelete"); // nothing selected
    EXPECT_EQ(Entries().size(), 2);
    Get<QListWidget>("lstIndexFiles")->item(1)->setSelected(true);
    Click("cmdDelete");
    EXPECT_EQ(Entries(), QStringList{"index.html"});
    // Nothing is selected after a removal: a second press removes nothing more.
    EXPECT_TRUE(Get<QListWidget>("lstIndexFiles")->selectedItems().isEmpty());
    Click("cmdDelete");
    EXPECT_EQ(Entries().size(), 1);
    Get<QListWidget>("lstIndexFiles")->setCurrentRow(0); // as a click on an entry
    Click("cmdDelete");
    EXPECT_TRUE(Entries().isEmpty());
}

// The desktop hands the activation to the main window while a prompt closes, as openbox
// and xfwm4 do; the dialog takes it back and the next keys reach it.
TEST_F(frmSettingsTest, FocusComesBackToTheDialogAfterEachPrompt) {
    QWidget other;
    other.setWindowTitle("Quenloft");
    other.show();
    Open();
    SettingsForm().activateWindow();
    ASSERT_TRUE(WaitUntil([] { return QApplication::activeWindow() == &SettingsForm(); }));
    TempFolder served;
    const struct {
        const char* Button;
        std::function<void(QWidget*)> Answer;
    } prompts[] = {
        {"cmdAddFile", [](QWidget* modal) { static_cast<QDialog*>(modal)->accept(); }},
        {"cmdAddFile", [](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); }},
        {"cmdBrowse", [](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); }},
        {"cmdBrowse",
         [&](QWidget* modal) {
             qobject_cast<QFileDialog*>(modal)->setDirectory(QString::fromStdString(served.Path()));
             static_cast<QDialog*>(modal)->accept();
         }},
    };
    for (const auto& prompt : prompts) {
        SCOPED_TRACE(prompt.Button);
        ModalAnswer answer([&](QWidget* modal) {
            prompt.Answer(modal);
            other.activateWindow(); // the desktop's choice
        });
        Click(prompt.Button);
        ASSERT_TRUE(answer.Answered());
        EXPECT_TRUE(WaitUntil([] { return QApplication::activeWindow() == &SettingsForm(); }));
        EXPECT_EQ(QApplication::focusWidget(), Get(prompt.Button));
    }
    EXPECT_EQ(Get<QLineEdit>("txtIndexPath")->text().toStdString(), served.Path());
    // The next keys reach the dialog: Escape closes it.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_FALSE(SettingsForm().isVisible());
}

TEST_F(frmSettingsTest, BrowseOffersOnlyFoldersAndKeepsTheBoxWhenCancelled) {
    Open();
    TempFolder served;
    QString asked;
    ModalAnswer chosen([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        asked = dialog->windowTitle();
        EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
        EXPECT_TRUE(dialog->testOption(QFileDialog::ShowDirsOnly));
        dialog->setDirectory(QString::fromStdString(served.Path()));
        static_cast<QDialog*>(dialog)->accept();
    });
    Click("cmdBrowse");
    EXPECT_EQ(asked, "Select the index folder:");
    EXPECT_EQ(Get<QLineEdit>("txtIndexPath")->text().toStdString(), served.Path());

    ModalAnswer cancelled([](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); });
    Click("cmdBrowse");
    EXPECT_TRUE(cancelled.Answered());
    EXPECT_EQ(Get<QLineEdit>("txtIndexPath")->text().toStdString(), served.Path());
}

TEST_F(frmSettingsTest, CancelKeepsTheStoreAndTheCloseBoxEndsTheDialog) {
    gSettings.SetVariableValue("IndexPath", Variant("/srv/www"));
    frmSettings* first = &Open();
    Get<QLineEdit>("txtIndexPath")->setText("/elsewhere");
    Click("cmdCancel");
    EXPECT_FALSE(first->isVisible());
    EXPECT_EQ(gSettings.VariableCount(), 1);
    EXPECT_EQ(&Open(), first); // hidden, not ended: the same dialog, refilled
    EXPECT_EQ(Get<QLineEdit>("txtIndexPath")->text(), "/srv/www");

    Get<QLineEdit>("txtPort")->setText("1");
    first->close();
    EXPECT_EQ(LoadedSettingsForm(), nullptr);
    EXPECT_EQ(gSettings.VariableCount(), 1);
    EXPECT_EQ(Get<QLineEdit>("txtPort")->text(), "80"); // a new dialog
}

} // namespace
} // namespace quenloft::testing
