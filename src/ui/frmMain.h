// The main window: whether the server runs, the buttons that start and stop it and open
// the settings dialog; minimised, it waits in the notification area; closed, it ends
// the program.
#pragma once

#include <QWidget>
#include <cstdint>

class QLabel;
class QPainter;
class QPushButton;

namespace quenloft {

class frmMain : public QWidget {
    Q_OBJECT
public:
    frmMain();
    ~frmMain() override;

    // 0 shows the stopped state, 1 the running state; any other value only repaints.
    void SetStatus(int32_t lngStatus);

signals:
    // The window is closed: both stores are written and every other window is closed.
    void Unloaded();

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateControls();
    void cmdStart_Click();
    void cmdSettings_Click();
    void Form_Resize();
    void Form_Unload(bool askedByUser);
    void picHook_MouseDown(int Button, int Shift, int X, int Y);
    void picStatus_Paint(QPainter& painter);

    QWidget* picStatus;
    QLabel* lblStatus;
    QPushButton* cmdStart;
    QPushButton* cmdSettings;
    QWidget* picHook;

    bool painting_ = false;
    bool unloaded_ = false;
    uintptr_t iconHandle_ = 0; // the window's icon, as the notification area gets it
};

} // namespace quenloft
