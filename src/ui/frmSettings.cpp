#include "ui/frmSettings.h"

#include "app/modMain.h"
#include "ui/clsBrowse.h"
#include "ui/modDesktop.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QGroupBox>
#include <QInputDialog>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>

namespace quenloft {

namespace {

QString Text(const std::string& text) {
    return QString::fromUtf8(text);
}

std::string Text(const QString& text) {
    return text.toUtf8().toStdString();
}

int16_t CheckValue(const QCheckBox* box) {
    switch (box->checkState()) {
    case Qt::Checked:
        return Checked;
    case Qt::PartiallyChecked:
        return Grayed;
    default:
        return Unchecked;
    }
}

void SetCheckValue(QCheckBox* box, int16_t value) {
    box->setCheckState(value == Checked  ? Qt::Checked
                       : value == Grayed ? Qt::PartiallyChecked
                                         : Qt::Unchecked);
}

QFont Bold(QFont font) {
    font.setBold(true);
    return font;
}

QPointer<frmSettings> theForm;

// A check box that stays as it was set: it shows a fact, not a choice.
class FixedCheckBox : public QCheckBox {
public:
    using QCheckBox::QCheckBox;

protected:
    void nextCheckState() override {}
};

} // namespace

// A fixed tool window without minimise and maximise buttons, and no taskbar button.
frmSettings::frmSettings() {
    setAttribute(Qt::WA_DeleteOnClose);
    SetUpFixedWindow(this, Qt::Tool, "Settings", QSize(406, 360));
    CreateControls();
    connect(cmdAddFile, &QPushButton::clicked, this, &frmSettings::cmdAddFile_Click);
    connect(cmdDelete, &QPushButton::clicked, this, &frmSettings::cmdDelete_Click);
    connect(cmdBrowse, &QPushButton::clicked, this, &frmSettings::cmdBrowse_Click);
    connect(cmdOK, &QPushButton::clicked, this, &frmSettings::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmSettings::cmdCancel_Click);
}

void frmSettings::CreateControls() {
    const QFont normal = DialogFont();
    frameSettings = Place(new QGroupBox("Server:", this), 8, 8, 388, 297, "frameSettings");
    lblIndexPath =
        Place(new QLabel("&Upper path: ", frameSettings), 16, 24, 97, 17, "lblIndexPath");
    txtIndexPath = Place(new QLineEdit(frameSettings), 96, 24, 217, 19, "txtIndexPath");
    cmdBrowse = Place(new QPushButton("&Browse", frameSettings), 320, 24, 57, 19, "cmdBrowse");
    lblPort = Place(new QLabel("Server port:", frameSettings), 16, 56, 65, 17, "lblPort");
    txtPort = Place(new QLineEdit("80", frameSettings), 96, 56, 217, 19, "txtPort");
    lblIndexPath->setBuddy(txtIndexPath);

    frameIndexFiles =
        Place(new QGroupBox("File indexes:", frameSettings), 8, 96, 177, 193, "frameIndexFiles");
    lstIndexFiles = Place(new QListWidget(frameIndexFiles), 8, 24, 161, 134, "lstIndexFiles");
    lstIndexFiles->setSelectionMode(QAbstractItemView::SingleSelection);
    cmdAddFile = Place(new QPushButton("&Add name", frameIndexFiles), 8, 160, 81, 25, "cmdAddFile");
    cmdDelete = Place(new QPushButton("&Delete", frameIndexFiles), 88, 160, 81, 25, "cmdDelete");

    frameDirectoryListing = Place(new QGroupBox("Directory listing:", frameSettings), 192, 96, 185,
                                  193, "frameDirectoryListing");
    QWidget* listing = frameDirectoryListing;
    chkDLEnable =
        Place(new QCheckBox("Use directory listing", listing), 8, 24, 153, 17, "chkDLEnable");
    chkDLShow = Place(new QCheckBox("Show hidden files", listing), 8, 48, 145, 17, "chkDLShow");
    lblFormat = Place(new QLabel("Format:", listing), 16, 80, 89, 17, "lblFormat");
    chkNameColumn =
        Place(new FixedCheckBox("Name column:", listing), 16, 104, 89, 17, "chkNameColumn");
    chkSizeColumn = Place(new QCheckBox("Size column:", listing), 16, 128, 89, 17, "chkSizeColumn");
    chkDateColumn = Place(new QCheckBox("Date column:", listing), 16, 152, 89, 17, "chkDateColumn");

    cmdCancel = Place(new QPushButton("&Cancel", this), 224, 328, 81, 25, "cmdCancel");
    cmdOK = Place(new QPushButton("&Ok", this), 312, 328, 81, 25, "cmdOK");
    cmdOK->setDefault(true);

    // The name column is always listed: its box shows that and cannot be changed.
    chkNameColumn->setCheckState(Qt::PartiallyChecked);
    chkNameColumn->setFocusPolicy(Qt::NoFocus);

    // The boxes' texts stay whole at their fixed widths, as on the desktop the layout was
    // drawn for.
    setStyleSheet("QCheckBox { spacing: 4px; }");

    // Frame titles and "Format:" are bold; a frame's font would pass to its controls.
    for (QGroupBox* frame : {frameSettings, frameIndexFiles, frameDirectoryListing}) {
        frame->setFont(Bold(normal));
        for (QWidget* control : frame->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (!qobject_cast<QGroupBox*>(control)) {
                control->setFont(control == lblFormat ? Bold(normal) : normal);
            }
        }
    }
}

// Escape closes the dialog as "&Cancel" does; Enter is left to the dialog, which presses
// "&Ok".
void frmSettings::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        cmdCancel_Click();
        return;
    }
    QDialog::keyPressEvent(event);
}

// A desktop may give the activation to another window of the program when a prompt
// closes: the dialog takes it back, with the keyboard focus on `control`.
void frmSettings::TakeFocusBack(QWidget* control) {
    raise();
    activateWindow();
    control->setFocus(Qt::OtherFocusReason);
}

// Closed with its close box, the dialog ends: the next use makes a new one.
void frmSettings::closeEvent(QCloseEvent* event) {
    QDialog::closeEvent(event);
    if (event->isAccepted() && theForm == this) {
        theForm = nullptr;
    }
}

SettingsFields frmSettings::Fields() const {
    SettingsFields fields;
    fields.IndexPath = Text(txtIndexPath->text());
    fields.Port = Text(txtPort->text());
    for (int i = 0; i < lstIndexFiles->count(); ++i) {
        fields.IndexFiles.push_back(Text(lstIndexFiles->item(i)->text()));
    }
    fields.DLEnable = CheckValue(chkDLEnable);
    fields.DLShow = CheckValue(chkDLShow);
    fields.SizeColumn = CheckValue(chkSizeColumn);
    fields.DateColumn = CheckValue(chkDateColumn);
    return fields;
}

void frmSettings::ShowFields(const SettingsFields& fields) {
    txtIndexPath->setText(Text(fields.IndexPath));
    txtPort->setText(Text(fields.Port));
    lstIndexFiles->clear();
    for (const std::string& name : fields.IndexFiles) {
        lstIndexFiles->addItem(Text(name));
    }
    SetCheckValue(chkDLEnable, fields.DLEnable);
    SetCheckValue(chkDLShow, fields.DLShow);
    SetCheckValue(chkSizeColumn, fields.SizeColumn);
    SetCheckValue(chkDateColumn, fields.DateColumn);
}

void frmSettings::LoadSettings() {
    SettingsFields fields = Fields();
    LoadFields(gSettings, fields);
    ShowFields(fields);
}

void frmSettings::SaveSettings() {
    SaveFields(Fields(), gSettings);
}

// The answer is added as it is; a cancelled prompt or an empty answer adds nothing.
void frmSettings::cmdAddFile_Click() {
    QPointer<frmSettings> alive = this;
    bool answered = false;
    QString name = QInputDialog::getText(this, "Quenloft", "Write the name:", QLineEdit::Normal,
                                         QString(), &answered);
    if (!alive) {
        return;
    }
    if (answered && !name.isEmpty()) {
        lstIndexFiles->addItem(name);
    }
    TakeFocusBack(cmdAddFile);
}

// The list would select the entry after the removed one, and a second press would
// remove that too: after a removal nothing is selected.
void frmSettings::cmdDelete_Click() {
    for (QListWidgetItem* selected : lstIndexFiles->selectedItems()) {
        delete selected;
    }
    lstIndexFiles->clearSelection();
    lstIndexFiles->selectionModel()->clearCurrentIndex();
}

void frmSettings::cmdBrowse_Click() {
    QPointer<frmSettings> alive = this;
    clsBrowse browse;
    browse.Caption = "Select the index folder:";
    browse.BrowseForFolder(this);
    if (!alive) {
        return;
    }
    if (!browse.OutputPath.empty()) {
        txtIndexPath->setText(QFile::decodeName(browse.OutputPath.c_str()));
    }
    TakeFocusBack(cmdBrowse);
}

void frmSettings::cmdOK_Click() {
    SaveSettings();
    hide();
    emit Saved();
}

void frmSettings::cmdCancel_Click() {
    hide();
}

frmSettings& SettingsForm() {
    if (!theForm) {
        theForm = new frmSettings();
    }
    return *theForm;
}

frmSettings* LoadedSettingsForm() {
    return theForm.data();
}

} // namespace quenloft
