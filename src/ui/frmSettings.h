// The settings dialog: the served folder, the port, the index-file names and the
// listing switches, read from and written to the settings store in memory.
#pragma once

#include "ui/SettingsFields.h"

#include <QDialog>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace quenloft {

class frmSettings : public QDialog {
    Q_OBJECT
public:
    frmSettings();

    // Refills every field from gSettings; a value a field cannot take leaves it as it was.
    void LoadSettings();
    // Writes every field into gSettings.
    void SaveSettings();

signals:
    // "&Ok" has written the fields into gSettings.
    void Saved();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateControls();
    SettingsFields Fields() const;
    void ShowFields(const SettingsFields& fields);
    void TakeFocusBack(QWidget* control);

    void cmdAddFile_Click();
    void cmdDelete_Click();
    void cmdBrowse_Click();
    void cmdOK_Click();
    void cmdCancel_Click();

    QGroupBox* frameSettings;
    QLabel* lblIndexPath;
    QLineEdit* txtIndexPath;
    QPushButton* cmdBrowse;
    QLabel* lblPort;
    QLineEdit* txtPort;
    QGroupBox* frameIndexFiles;
    QListWidget* lstIndexFiles;
    QPushButton* cmdAddFile;
    QPushButton* cmdDelete;
    QGroupBox* frameDirectoryListing;
    QCheckBox* chkDLEnable;
    QCheckBox* chkDLShow;
    QLabel* lblFormat;
    QCheckBox* chkNameColumn;
    QCheckBox* chkSizeColumn;
    QCheckBox* chkDateColumn;
    QPushButton* cmdCancel;
    QPushButton* cmdOK;
};

// The one settings dialog, created at its first use; closing it with its close box ends
// it, and the next use creates it anew.
frmSettings& SettingsForm();
// The dialog when it exists, else null.
frmSettings* LoadedSettingsForm();

} // namespace quenloft
