// The main window: whether the server runs, the buttons that start and stop it and open
// the settings dialog, and below them the addresses to open and the folder served;
// minimised, it waits in the notification area; closed, it ends the program.
#pragma once

#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <string>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QPainter;
class QPushButton;
class QToolButton;

namespace quenloft {

class frmMain : public QWidget {
    Q_OBJECT
public:
    frmMain();
    ~frmMain() override;

    // 0 shows the stopped state, 1 the running state; any other value only repaints.
    void SetStatus(int32_t lngStatus);

    // Starts the server as "&Start" does, when it is stopped.
    void PressStart();
    // Goes straight to the notification area (minimised when the desktop has none),
    // without showing the window first.
    void WaitInNotificationArea();
    // Shows the window wherever it waits (the notification area, minimised) and brings
    // it forward; `activationToken` is the desktop's token of the launch that asks, if any.
    void BringForward(const QString& activationToken = {});
    // Refreshes the address and folder lines from the server and the settings.
    void ShowServedPlace();

signals:
    // The window is closed: both stores are written and every other window is closed.
    void Unloaded();

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateControls();
    void CreateServedPlace();
    void CreateTrayMenu();
    void ShowAddressCode();
    void ShowAddresses(const std::vector<std::string>& urls, bool thisMachineOnly);
    void ShowFolder();
    std::string TrayTip() const;
    void cmdStart_Click();
    void cmdCopy_Click();
    void cmdQR_Click();
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
    QLabel* lblAddress;
    QPushButton* cmdCopy;
    QLabel* lblFolder;
    QToolButton* cmdQR;
    QMenu* trayMenu_;
    QAction* trayStartStop_;
    QPointer<class frmAddressCode> addressCode_; // the large code, while it is open

    bool painting_ = false;
    bool unloaded_ = false;
    uintptr_t iconHandle_ = 0; // the window's icon, as the notification area gets it
    std::string firstAddress_; // what "Co&py" copies; empty while stopped
};

} // namespace quenloft
