#include "ui/frmMain.h"

#include "app/modMain.h"
#include "http/clsHTTP.h"
#include "ui/AddressLine.h"
#include "ui/ServerDisplay.h"
#include "ui/frmAddressCode.h"
#include "ui/frmSettings.h"
#include "ui/modDesktop.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <QToolTip>
#include <cstdio>
#include <functional>

namespace quenloft {

namespace {

// The status panel: a sunken panel whose paint procedure is the window's, and whose
// tip shows the statistics as they are when it is shown.
class StatusPanel : public QFrame {
public:
    StatusPanel(QWidget* parent, std::function<void(QPainter&)> paint)
        : QFrame(parent), paint_(std::move(paint)) {
        setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    }

protected:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::ToolTip) {
            setToolTip(QString::fromUtf8(StatisticsText(gStatistics)));
        }
        return QFrame::event(event);
    }

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

// The advice, when there is one, goes below the error's own text.
void ShowError(QWidget* owner, const Error& failure, const std::string& advice = {}) {
    QMessageBox box(QMessageBox::Critical, "Error",
                    QString::fromStdString(ErrorMessageText(failure)), QMessageBox::Ok, owner);
    box.setInformativeText(QString::fromStdString(advice));
    box.exec();
}

// The served folder as the settings hold it.
std::string StoredFolder() {
    std::string folder;
    ResumeNext([&] { folder = gSettings.VariableValue("IndexPath", Variant("")).ToText(); });
    return folder;
}

// A link for the first address, and for each next one while it fits on the line
// together with the count of those left out.
QString AddressLinks(const std::vector<std::string>& urls, const QString& lead,
                     const QFontMetrics& metrics, int width) {
    auto more = [&](size_t shown) {
        return shown < urls.size() ? QString(" and %1 more").arg(urls.size() - shown) : QString();
    };
    QString plain = lead + QString::fromStdString(urls.front());
    size_t shown = 1;
    for (; shown < urls.size(); ++shown) {
        QString longer = plain + ", " + QString::fromStdString(urls[shown]);
        if (metrics.horizontalAdvance(longer + more(shown + 1)) > width) {
            break;
        }
        plain = longer;
    }
    QStringList links;
    for (size_t i = 0; i < shown; ++i) {
        links << QString("<a href=\"%1\">%1</a>").arg(QString::fromStdString(urls[i]));
    }
    return lead + links.join(", ") + more(shown);
}

} // namespace

// A fixed window with a minimise button and no maximise button.
frmMain::frmMain() {
    SetUpFixedWindow(this, Qt::Window | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint,
                     "Quenloft", QSize(448, 144));
    setWindowIcon(ProgramIcon());
    iconHandle_ = NewIconHandle(windowIcon());
    CreateControls();
    CreateServedPlace();
    CreateTrayMenu();
    connect(cmdStart, &QPushButton::clicked, this, &frmMain::cmdStart_Click);
    connect(cmdSettings, &QPushButton::clicked, this, &frmMain::cmdSettings_Click);
    connect(cmdCopy, &QPushButton::clicked, this, &frmMain::cmdCopy_Click);
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

// Below the status panel, in the window's free space: the address line with its copy
// button beside the start and settings buttons, and the folder line under it.
void frmMain::CreateServedPlace() {
    lblAddress = Place(new QLabel(this), 16, 96, 328, 17, "lblAddress");
    lblAddress->setTextFormat(Qt::RichText);
    lblAddress->setTextInteractionFlags(Qt::TextBrowserInteraction);
    lblAddress->setOpenExternalLinks(true);
    cmdCopy = Place(new QPushButton("Co&py", this), 352, 92, 65, 25, "cmdCopy");
    cmdCopy->setToolTip("Copy the address");
    cmdCopy->hide(); // shown while the server runs
    lblFolder = Place(new QLabel(this), 16, 120, 368, 17, "lblFolder");
    lblFolder->setTextFormat(Qt::PlainText);
    // Above the buttons, the address as a small QR code; a click shows it large.
    cmdQR = Place(new QToolButton(this), 396, 2, 44, 44, "cmdQR");
    cmdQR->setText("QR");
    cmdQR->setAutoRaise(true);
    cmdQR->setIconSize(QSize(40, 40));
    cmdQR->setShortcut(QKeySequence("Alt+Q"));
    cmdQR->setToolTip("Show the address as a QR code, for a phone or a tablet (Alt+Q)");
    cmdQR->hide(); // shown while the server runs
    connect(cmdQR, &QToolButton::clicked, this, &frmMain::cmdQR_Click);
}

// The notification-area icon's right-click menu: the window, the server, the end.
void frmMain::CreateTrayMenu() {
    trayMenu_ = new QMenu(this);
    trayMenu_->setObjectName("trayMenu");
    trayMenu_->addAction("S&how", this, [this] { BringForward(); });
    trayStartStop_ = trayMenu_->addAction(StartCaption, this, [this] { cmdStart_Click(); });
    trayMenu_->addSeparator();
    trayMenu_->addAction("&Quit", this, &QWidget::close);
    SetNotificationAreaMenu(trayMenu_);
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
    ShowServedPlace();
}

void frmMain::ShowServedPlace() {
    bool running =
        StatusOf(cmdStart->text().toStdString()) == StatusRunning && gServer().PrimarySocket();
    if (running) {
        int32_t port = gServer().PrimarySocket()->LocalPort();
        std::vector<std::string> urls = OpenAddresses(MachineAddresses(), port);
        urls.empty() ? ShowAddresses({LoopbackAddress(port)}, true) : ShowAddresses(urls, false);
    } else {
        firstAddress_.clear();
        lblAddress->clear();
        lblAddress->setToolTip({});
    }
    cmdCopy->setVisible(running);
    ShowAddressCode();
    trayStartStop_->setText(cmdStart->text());
    ShowFolder();
    if (gTray().IconCount() > 0) {
        gTray().ChangeDescription(0, TrayTip());
    }
}

// Without a network address only this machine can reach the server, and the line says so.
void frmMain::ShowAddresses(const std::vector<std::string>& urls, bool thisMachineOnly) {
    firstAddress_ = urls.front();
    QString lead = thisMachineOnly   ? "This computer only: "
                   : urls.size() > 1 ? "Addresses: "
                                     : "Address: ";
    lblAddress->setText(AddressLinks(urls, lead, lblAddress->fontMetrics(), lblAddress->width()));
    QStringList all;
    for (const std::string& url : urls) {
        all << QString::fromStdString(url);
    }
    lblAddress->setToolTip(thisMachineOnly
                               ? "No network address was found: only this computer can open it."
                               : "Open in a browser on another machine of the network:\n" +
                                     all.join('\n'));
}

// A long path loses its middle; the tip has it whole.
void frmMain::ShowFolder() {
    FolderLine line = DescribeServedFolder(StoredFolder());
    QString lead = QString::fromUtf8(line.Lead);
    QString path = QFile::decodeName(line.Path.c_str());
    QFontMetrics metrics = lblFolder->fontMetrics();
    int room = lblFolder->width() - metrics.horizontalAdvance(lead);
    lblFolder->setText(lead + metrics.elidedText(path, Qt::ElideMiddle, room));
    lblFolder->setToolTip(path);
    QPalette palette = this->palette();
    if (line.Problem) {
        palette.setColor(QPalette::WindowText, QColor(192, 0, 0));
    }
    lblFolder->setPalette(palette);
}

std::string frmMain::TrayTip() const {
    return firstAddress_.empty() ? "Quenloft" : "Quenloft\n" + firstAddress_;
}

// The small code follows the address line's first address; the large one, while open,
// follows it too and closes when the server stops.
void frmMain::ShowAddressCode() {
    if (firstAddress_.empty()) {
        cmdQR->hide();
        if (addressCode_) {
            addressCode_->close();
        }
        return;
    }
    cmdQR->setIcon(QRPixmap(EncodeQR(firstAddress_), 1, 2));
    cmdQR->show();
    if (addressCode_) {
        addressCode_->ShowAddress(firstAddress_);
    }
}

void frmMain::cmdQR_Click() {
    if (firstAddress_.empty()) {
        return;
    }
    if (!addressCode_) {
        addressCode_ = new frmAddressCode(this);
        addressCode_->setAttribute(Qt::WA_DeleteOnClose);
    }
    addressCode_->ShowAddress(firstAddress_);
    addressCode_->show();
    addressCode_->raise();
    addressCode_->activateWindow();
}

void frmMain::cmdCopy_Click() {
    QString address = QString::fromStdString(firstAddress_);
    QGuiApplication::clipboard()->setText(address);
    QToolTip::showText(cmdCopy->mapToGlobal(QPoint(0, cmdCopy->height())), "Copied: " + address,
                       cmdCopy);
}

void frmMain::PressStart() {
    if (StatusOf(cmdStart->text().toStdString()) == StatusStopped) {
        cmdStart_Click();
    }
}

// A Wayland compositor minimises only a window it has shown: there the window is shown
// first and minimised as soon as it is on the screen.
void frmMain::WaitInNotificationArea() {
    if (NotificationAreaAvailable()) {
        setWindowState(windowState() | Qt::WindowMinimized);
    } else if (QGuiApplication::platformName() == "wayland") {
        show();
        MinimiseOnceShown(this);
    } else {
        showMinimized();
    }
}

// From the notification area the resize handler brings the window back.
void frmMain::BringForward(const QString& activationToken) {
    if (isMinimized()) {
        setWindowState(windowState() & ~Qt::WindowMinimized);
    }
    BringWindowForward(this, activationToken);
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
        ShowError(this, *outcome.Failure, outcome.Advice);
        return;
    }
    cmdStart->setText(QString::fromStdString(outcome.Caption));
    SetStatus(StatusOf(outcome.Caption));
}

// A second click brings the dialog forward and drops edits not confirmed with "&Ok". A
// window manager may draw a minimise button on the dialog all the same: a minimised
// dialog is restored.
void frmMain::cmdSettings_Click() {
    frmSettings& settings = SettingsForm();
    connect(&settings, &frmSettings::Saved, this, &frmMain::ShowServedPlace, Qt::UniqueConnection);
    settings.setWindowState(settings.windowState() & ~Qt::WindowMinimized);
    settings.show();
    settings.raise();
    settings.activateWindow();
    settings.LoadSettings();
}

void frmMain::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) {
        Form_Resize();
    } else if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        ShowServedPlace(); // the network or the folder may have changed meanwhile
    }
}

// Minimised, the window trades its taskbar button for one notification-area icon; a
// desktop without a notification area minimises it the ordinary way.
void frmMain::Form_Resize() {
    if (isMinimized()) {
        if (NotificationAreaAvailable() && gTray().IconCount() == 0) {
            ShowInTaskbar(false, this);
            gTray().AddTrayIcon(WindowHandle(picHook), TrayTip(), iconHandle_);
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
        std::fprintf(stderr, "Quenloft: %s\n", ErrorMessageText(failure).c_str());
        if (askedByUser) {
            ShowError(nullptr, failure);
        }
    }
    emit Unloaded();
}

} // namespace quenloft
