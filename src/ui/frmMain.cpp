#include "ui/frmMain.h"

#include "app/modMain.h"
#include "http/clsHTTP.h"
#include "ui/ServerDisplay.h"
#include "ui/frmSettings.h"
#include "ui/modDesktop.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <cstdio>
#include <functional>

namespace quenloft {

namespace {

// The status panel: a sunken panel whose paint procedure is the window's.
class StatusPanel : public QFrame {
public:
    StatusPanel(QWidget* parent, std::function<void(QPainter&)> paint)
        : QFrame(parent), paint_(std::move(paint)) {
        setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    }

protected:
    // Places inside the panel count from the inside of its border.
    void paintEvent(QPaintEvent* event) override {
        QFrame::paintEvent(event);
        QPainter painter(this);
        painter.translate(contentsRect().topLeft());
        painter.setClipRect(QRect(QPoint(0, 0), contentsRect().size()));
        paint_(painter);
    }

private:
    std::function<void(QPainter&)> paint_;
};

// The receiver of the notification-area icon's mouse actions: a press with the
// toolkit's usual arguments (button, shift state, X, Y in pixels).
class HookBox : public QWidget {
public:
    HookBox(QWidget* parent, std::function<void(int, int, int, int)> mouseDown)
        : QWidget(parent), mouseDown_(std::move(mouseDown)) {}

protected:
    void mousePressEvent(QMouseEvent* event) override {
        int button = event->button() == Qt::LeftButton    ? 1
                     : event->button() == Qt::RightButton ? 2
                                                          : 4;
        Qt::KeyboardModifiers keys = event->modifiers();
        int shift = (keys & Qt::ShiftModifier ? 1 : 0) | (keys & Qt::ControlModifier ? 2 : 0) |
                    (keys & Qt::AltModifier ? 4 : 0);
        QPoint at = event->position().toPoint();
        mouseDown_(button, shift, at.x(), at.y());
    }

private:
    std::function<void(int, int, int, int)> mouseDown_;
};

// The dialog font's face at 14.25 pt; where the desktop has neither Arial nor a font of
// its measure, a smaller size keeps the longest sentence whole in the label.
QFont StatusFont(int width) {
    QFont font = DialogFont();
    font.setPointSizeF(14.25);
    const QString longest = QString::fromUtf8(DisplayFor(StatusStopped)->Text);
    while (font.pointSizeF() > 8 && QFontMetrics(font).horizontalAdvance(longest) > width) {
        font.setPointSizeF(font.pointSizeF() - 0.25);
    }
    return font;
}

// Every other window of the program closes with the main window.
void UnloadOtherForms(QWidget* mainWindow) {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window != mainWindow && (window->isVisible() || window == LoadedSettingsForm())) {
            window->close();
        }
    }
}

void ShowError(QWidget* owner, const Error& failure) {
    QMessageBox box(QMessageBox::Critical, "Error",
                    QString::fromStdString(ErrorMessageText(failure)), QMessageBox::Ok, owner);
    box.exec();
}

} // namespace

// A fixed window with a minimise button and no maximise button.
frmMain::frmMain() {
    SetUpFixedWindow(this, Qt::Window | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint,
                     "Quenloft", QSize(448, 144));
    setWindowIcon(ProgramIcon());
    iconHandle_ = NewIconHandle(windowIcon());
    CreateControls();
    connect(cmdStart, &QPushButton::clicked, this, &frmMain::cmdStart_Click);
    connect(cmdSettings, &QPushButton::clicked, this, &frmMain::cmdSettings_Click);
}

frmMain::~frmMain() {
    ReleaseIconHandle(iconHandle_);
}

void frmMain::CreateControls() {
    picStatus = Place(new StatusPanel(this, [this](QPainter& p) { picStatus_Paint(p); }), 16, 48,
                      273, 41, "picStatus");
    QPoint inside = picStatus->contentsRect().topLeft();
    lblStatus = Place(new QLabel("The server is running!", picStatus), inside.x() + 48,
                      inside.y() + 8, 217, 25, "lblStatus");
    lblStatus->setFont(StatusFont(lblStatus->width()));
    cmdStart = Place(new QPushButton(StartCaption, this), 288, 56, 65, 25, "cmdStart");
    cmdSettings = Place(new QPushButton("&Configure", this), 352, 56, 65, 25, "cmdSettings");
    picHook = Place(
        new HookBox(this, [this](int b, int s, int x, int y) { picHook_MouseDown(b, s, x, y); }),
        392, 120, 25, 25, "picHook");
}

void frmMain::SetStatus(int32_t lngStatus) {
    if (auto display = DisplayFor(lngStatus)) {
        lblStatus->setText(QString::fromUtf8(display->Text));
        QPalette palette = lblStatus->palette();
        palette.setColor(QPalette::WindowText, QColor(display->Red, display->Green, display->Blue));
        lblStatus->setPalette(palette);
        gIcon().OpenIcon(display->IconId);
    }
    picStatus->repaint();
}

// The paint procedure never runs inside itself; the label draws itself.
void frmMain::picStatus_Paint(QPainter& painter) {
    if (painting_) {
        return;
    }
    painting_ = true;
    painter.fillRect(painter.clipBoundingRect(), palette().window());
    gIcon().PaintIcon(SurfaceHandle(painter), 10, 5);
    painting_ = false;
}

// A failed step leaves the caption and the status as they were.
void frmMain::cmdStart_Click() {
    ServerControls server{[](int32_t port) { gServer().StartServer(port); },
                          [] { gServer().StopServer(); }};
    ButtonOutcome outcome = PressStartStop(cmdStart->text().toStdString(), gSettings, server);
    if (outcome.Failure) {
        ShowError(this, *outcome.Failure);
        return;
    }
    cmdStart->setText(QString::fromStdString(outcome.Caption));
    SetStatus(StatusOf(outcome.Caption));
}

// A second click brings the dialog forward and drops edits not confirmed with "&Ok".
void frmMain::cmdSettings_Click() {
    frmSettings& settings = SettingsForm();
    settings.show();
    settings.raise();
    settings.activateWindow();
    settings.LoadSettings();
}

void frmMain::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) {
        Form_Resize();
    }
}

// Minimised, the window trades its taskbar button for one notification-area icon; a
// desktop without a notification area minimises it the ordinary way.
void frmMain::Form_Resize() {
    if (isMinimized()) {
        if (NotificationAreaAvailable() && gTray().IconCount() == 0) {
            ShowInTaskbar(false, this);
            gTray().AddTrayIcon(WindowHandle(picHook), "Quenloft", iconHandle_);
        }
    } else if (gTray().IconCount() > 0) {
        ShowInTaskbar(true, this);
        setWindowState(windowState() & ~Qt::WindowMinimized);
        gTray().DeleteIcon(0);
    }
}

// X carries the code of the mouse action on the notification-area icon: 513 is a
// press of the left button. Every other action does nothing.
void frmMain::picHook_MouseDown(int, int, int X, int) {
    if (X == 513) {
        setWindowState(windowState() & ~Qt::WindowMinimized);
    }
}

void frmMain::closeEvent(QCloseEvent* event) {
    Form_Unload(event->spontaneous());
    event->accept();
}

// Writes both stores and closes every other window. A store that could not be written
// is told on the terminal, and in a message box when the user closed the window.
void frmMain::Form_Unload(bool askedByUser) {
    if (unloaded_) {
        return;
    }
    unloaded_ = true;
    try {
        ExitProgram([this] { UnloadOtherForms(this); });
    } catch (const Error& failure) {
        std::fprintf(stderr, "Quenloft: the settings and statistics could not be saved: %s\n",
                     ErrorMessageText(failure).c_str());
        if (askedByUser) {
            ShowError(nullptr, failure);
        }
    }
    emit Unloaded();
}

} // namespace quenloft
