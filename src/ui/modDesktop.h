// The desktop behind the toolkit-free icon classes, on Qt: icons held under handles,
// the notification area, the taskbar button of a window; and the program-wide gTray
// and gIcon.
#pragma once

#include "ui/AddressLine.h"
#include "ui/QRCode.h"
#include "ui/clsIcon.h"
#include "ui/clsTray.h"

#include <QFont>
#include <QIcon>
#include <QList>
#include <cstdint>
#include <optional>
#include <vector>

class QMenu;
class QPainter;
class QPixmap;
class QSystemTrayIcon;
class QWidget;

namespace quenloft {

// The program's own icon (a blue and green globe circled by a light-blue ring), with
// images of 48, 32 and 16 pixels.
QIcon ProgramIcon();

// The windows' normal font: Arial, or a face of Arial's measure (Liberation Sans, Arimo),
// plain, at 8.25 pt: the face and size their fixed layouts are drawn for.
QFont DialogFont();

// Makes `window` a fixed window of `size` in the dialog font, with a title bar and a
// close box; `kind` gives the window's kind and any other title-bar buttons.
void SetUpFixedWindow(QWidget* window, Qt::WindowFlags kind, const char* title, QSize size);

// Puts a control at its fixed place, in pixels of its window or frame, under its name.
template <typename Control>
Control* Place(Control* control, int x, int y, int width, int height, const char* name) {
    control->setObjectName(name);
    control->setGeometry(x, y, width, height);
    return control;
}

// Icons travel between the classes as handles; 0 is none.
uintptr_t NewIconHandle(const QIcon& icon);
QIcon IconOfHandle(uintptr_t handle);
void ReleaseIconHandle(uintptr_t handle);

// A window as the icon table's receiver handle: it gets the icon's mouse actions as
// presses of the left button whose X is the action's code.
uintptr_t WindowHandle(QWidget* window);
// A painter as the surface handle that PaintIcon draws on.
uintptr_t SurfaceHandle(QPainter& painter);

// Whether the desktop has a notification area. A test may say it has one; its icons
// are then made all the same, only nobody sees them.
bool NotificationAreaAvailable();
void SetNotificationAreaAvailable(std::optional<bool> available);
// The icons the notification area shows now.
QList<QSystemTrayIcon*> ShownTrayIcons();

// The IPv4 addresses of the machine's network interfaces. A test may give its own list.
std::vector<NetworkAddress> MachineAddresses();
void SetMachineAddresses(std::optional<std::vector<NetworkAddress>> addresses);

// The menu that a right click on any of the notification area's icons opens.
void SetNotificationAreaMenu(QMenu* menu);

// `code` drawn in black on white, each module `moduleSize` pixels, with a light margin of
// `quietModules` modules around it.
QPixmap QRPixmap(const QRCode& code, int moduleSize, int quietModules);

// Shows `window`, raises it and gives it the activation. On Wayland the desktop's
// `activationToken` of the launch that asks (may be empty) lets the compositor do so; a
// compositor that cannot activate windows cannot bring a minimised one back either, so
// there the window is mapped anew.
void BringWindowForward(QWidget* window, const QString& activationToken);

// Minimises `window` as soon as it is on the screen.
void MinimiseOnceShown(QWidget* window);

// Takes the window's taskbar button away (Show false: the window is hidden) or gives it
// back (Show true: the window is shown and brought forward).
void ShowInTaskbar(bool Show, QWidget* window);

// The program-wide icon table and held icon, created at their first use.
clsTray& gTray();
clsIcon& gIcon();
// Ends both (the table's icons leave the notification area) and every icon handle;
// before the application object ends.
void ReleaseDesktopObjects();

} // namespace quenloft
