#include "ui/modDesktop.h"

#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QNetworkInterface>
#include <QPainter>
#include <QPointer>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QWidget>
#include <QWindow>
#include <cstring>
#include <map>
#include <memory>
#include <wayland-client.h>

namespace quenloft {

namespace {

// ---- Icon handles

std::map<uintptr_t, QIcon>& IconTable() {
    static std::map<uintptr_t, QIcon> table;
    return table;
}

uintptr_t nextIconHandle = 1;

// Stock icons are shared: made once, never destroyed.
std::map<int32_t, uintptr_t> stockHandles;

std::optional<QStyle::StandardPixmap> StockPixmap(int32_t id) {
    switch (id) {
    case IDI_EXCLAMATION:
        return QStyle::SP_MessageBoxWarning;
    case IDI_ASTERISK:
        return QStyle::SP_MessageBoxInformation;
    default:
        return std::nullopt;
    }
}

// The size a stock icon is drawn at.
constexpr int NormalIconSize = 32;

class QtIconServices : public IconServices {
public:
    uintptr_t LoadIcon(int32_t id) override {
        if (auto found = stockHandles.find(id); found != stockHandles.end()) {
            return found->second;
        }
        auto pixmap = StockPixmap(id);
        if (!pixmap) {
            return 0;
        }
        return stockHandles[id] = NewIconHandle(QApplication::style()->standardIcon(*pixmap));
    }
    uintptr_t DuplicateIcon(uintptr_t icon) override {
        return IconTable().count(icon) ? NewIconHandle(IconOfHandle(icon)) : 0;
    }
    void DestroyIcon(uintptr_t icon) override { ReleaseIconHandle(icon); }
    void DrawIcon(uintptr_t hdc, int32_t x, int32_t y, uintptr_t icon) override {
        auto* painter = reinterpret_cast<QPainter*>(hdc);
        QIcon shown = IconOfHandle(icon);
        if (painter && !shown.isNull()) {
            painter->drawPixmap(x, y, shown.pixmap(NormalIconSize, NormalIconSize));
        }
    }
};

// ---- The notification area

std::optional<bool> areaOverride;

// The code of a mouse action on an icon.
uint32_t ActionCode(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        return WM_LBUTTONDOWN;
    case QSystemTrayIcon::DoubleClick:
        return WM_LBUTTONDBLCLK;
    case QSystemTrayIcon::Context:
        return WM_RBUTTONDOWN;
    case QSystemTrayIcon::MiddleClick:
        return WM_MBUTTONDOWN;
    default:
        return WM_MOUSEMOVE;
    }
}

// Each icon is a QSystemTrayIcon, known by its receiver and identifier. The icon's
// callback message 513 reaches the receiver as a posted press of the left button, with
// the action's code as X.
class QtNotifyArea : public NotifyArea {
public:
    void ShellNotifyIcon(uint32_t message, const NotifyIconData& data) override {
        Key key{data.hWnd, data.uID};
        auto found = icons_.find(key);
        if (message == NIM_DELETE && found != icons_.end()) {
            icons_.erase(found);
        } else if (message == NIM_ADD && found == icons_.end()) {
            Update(icons_[key] = MakeIcon(data), data);
        } else if (message == NIM_MODIFY && found != icons_.end()) {
            Update(found->second, data);
        }
    }

    QList<QSystemTrayIcon*> Shown() const {
        QList<QSystemTrayIcon*> shown;
        for (const auto& [key, entry] : icons_) {
            shown.append(entry.Icon.get());
        }
        return shown;
    }

    void Clear() { icons_.clear(); }

private:
    struct Key {
        uintptr_t Window;
        uint32_t Id;
        auto operator<=>(const Key&) const = default;
    };
    struct Entry {
        std::unique_ptr<QSystemTrayIcon> Icon;
        uint32_t Callback = 0;
    };

public:
    QPointer<QMenu> Menu;

private:
    Entry MakeIcon(const NotifyIconData& data) {
        Entry entry{std::make_unique<QSystemTrayIcon>()};
        entry.Icon->setContextMenu(Menu);
        QPointer<QWidget> receiver = reinterpret_cast<QWidget*>(data.hWnd);
        QObject::connect(entry.Icon.get(), &QSystemTrayIcon::activated,
                         [this, key = Key{data.hWnd, data.uID},
                          receiver](QSystemTrayIcon::ActivationReason reason) {
                             Report(key, receiver, ActionCode(reason));
                         });
        return entry;
    }

    void Report(Key key, const QPointer<QWidget>& receiver, uint32_t code) {
        auto found = icons_.find(key);
        if (!receiver || found == icons_.end() || found->second.Callback != WM_LBUTTONDOWN) {
            return;
        }
        // Posted, as the desktop posts it: the receiver may remove the very icon that
        // reports, which must not happen inside the icon's own signal.
        QCoreApplication::postEvent(receiver.data(),
                                    new QMouseEvent(QEvent::MouseButtonPress, QPointF(code, 0),
                                                    QPointF(code, 0), Qt::LeftButton,
                                                    Qt::LeftButton, Qt::NoModifier));
    }

    static void Update(Entry& entry, const NotifyIconData& data) {
        if (data.uFlags & NIF_ICON) {
            entry.Icon->setIcon(IconOfHandle(data.hIcon));
        }
        if (data.uFlags & NIF_TIP) {
            entry.Icon->setToolTip(QString::fromUtf8(data.Tip()));
        }
        if (data.uFlags & NIF_MESSAGE) {
            entry.Callback = data.uCallbackMessage;
        }
        entry.Icon->show();
    }

    std::map<Key, Entry> icons_;
};

// ---- Wayland

// Whether the Wayland compositor offers xdg-activation; asked once, over a connection of
// its own, so nothing of the toolkit's connection is touched.
bool CompositorActivates() {
    static std::optional<bool> known;
    if (known) {
        return *known;
    }
    known = false;
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        return false;
    }
    static const wl_registry_listener listener = {
        [](void* found, wl_registry*, uint32_t, const char* interface, uint32_t) {
            if (std::strcmp(interface, "xdg_activation_v1") == 0) {
                *static_cast<bool*>(found) = true;
            }
        },
        [](void*, wl_registry*, uint32_t) {},
    };
    bool found = false;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &listener, &found);
    wl_display_roundtrip(display);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    known = found;
    return found;
}

// ---- Network addresses

std::optional<std::vector<NetworkAddress>> addressesOverride;

// ---- Program-wide objects

struct DesktopObjects {
    QtIconServices Services;
    QtNotifyArea Area;
    std::unique_ptr<clsTray> Tray;
    std::unique_ptr<clsIcon> Icon;
};

DesktopObjects& Desktop() {
    static DesktopObjects objects;
    return objects;
}

} // namespace

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {48, 32, 16}) {
        icon.addFile(QString(":/quenloft/quenloft-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

// Where the desktop maps Arial to a face of another measure, a face of Arial's measure
// that is installed comes first.
QFont DialogFont() {
    QFont font("Arial");
    font.setFamilies({"Arial", "Liberation Sans", "Arimo"});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(8.25);
    font.setBold(false);
    return font;
}

void SetUpFixedWindow(QWidget* window, Qt::WindowFlags kind, const char* title, QSize size) {
    window->setWindowFlags(kind | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint);
    window->setWindowTitle(title);
    window->setFixedSize(size);
    window->setFont(DialogFont());
}

uintptr_t NewIconHandle(const QIcon& icon) {
    uintptr_t handle = nextIconHandle++;
    IconTable()[handle] = icon;
    return handle;
}

QIcon IconOfHandle(uintptr_t handle) {
    auto found = IconTable().find(handle);
    return found == IconTable().end() ? QIcon() : found->second;
}

void ReleaseIconHandle(uintptr_t handle) {
    IconTable().erase(handle);
}

uintptr_t WindowHandle(QWidget* window) {
    return reinterpret_cast<uintptr_t>(window);
}

uintptr_t SurfaceHandle(QPainter& painter) {
    return reinterpret_cast<uintptr_t>(&painter);
}

bool NotificationAreaAvailable() {
    return areaOverride.value_or(QSystemTrayIcon::isSystemTrayAvailable());
}

void SetNotificationAreaAvailable(std::optional<bool> available) {
    areaOverride = available;
}

QList<QSystemTrayIcon*> ShownTrayIcons() {
    return Desktop().Area.Shown();
}

std::vector<NetworkAddress> MachineAddresses() {
    if (addressesOverride) {
        return *addressesOverride;
    }
    std::vector<NetworkAddress> addresses;
    for (const QNetworkInterface& face : QNetworkInterface::allInterfaces()) {
        QNetworkInterface::InterfaceFlags flags = face.flags();
        for (const QNetworkAddressEntry& entry : face.addressEntries()) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol) {
                addresses.push_back(
                    {entry.ip().toString().toStdString(),
                     bool(flags & QNetworkInterface::IsLoopBack),
                     (flags & QNetworkInterface::IsUp) && (flags & QNetworkInterface::IsRunning)});
            }
        }
    }
    return addresses;
}

void SetMachineAddresses(std::optional<std::vector<NetworkAddress>> addresses) {
    addressesOverride = std::move(addresses);
}

void SetNotificationAreaMenu(QMenu* menu) {
    Desktop().Area.Menu = menu;
}

QPixmap QRPixmap(const QRCode& code, int moduleSize, int quietModules) {
    int side = (code.Size + 2 * quietModules) * moduleSize;
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    for (int y = 0; y < code.Size; ++y) {
        for (int x = 0; x < code.Size; ++x) {
            if (code.IsDark(x, y)) {
                painter.fillRect((x + quietModules) * moduleSize, (y + quietModules) * moduleSize,
                                 moduleSize, moduleSize, Qt::black);
            }
        }
    }
    painter.end();
    return QPixmap::fromImage(image);
}

namespace {

// Watches a window for its first paint; once that frame has gone to the compositor (the
// next turn of the loop), the window is on the screen and is minimised.
class FirstFrame : public QObject {
public:
    explicit FirstFrame(QWidget* window) : QObject(window), window_(window) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            QMetaObject::invokeMethod(
                this,
                [this] {
                    window_->showMinimized();
                    deleteLater();
                },
                Qt::QueuedConnection);
        }
        return false;
    }

private:
    QWidget* window_;
};

} // namespace

void MinimiseOnceShown(QWidget* window) {
    window->installEventFilter(new FirstFrame(window));
}

void BringWindowForward(QWidget* window, const QString& activationToken) {
    if (QGuiApplication::platformName() == "wayland") {
        if (!activationToken.isEmpty()) {
            qputenv("XDG_ACTIVATION_TOKEN", activationToken.toUtf8());
        }
        if (!CompositorActivates()) {
            window->hide();
        }
    }
    window->show();
    window->raise();
    window->activateWindow();
}

// The window leaves the taskbar by being hidden, once it has finished minimising.
void ShowInTaskbar(bool Show, QWidget* window) {
    if (Show) {
        BringWindowForward(window, {});
        return;
    }
    QPointer<QWidget> later = window;
    QMetaObject::invokeMethod(
        window,
        [later] {
            if (later && later->isMinimized()) {
                later->hide();
            }
        },
        Qt::QueuedConnection);
}

clsTray& gTray() {
    DesktopObjects& desktop = Desktop();
    if (!desktop.Tray) {
        desktop.Tray = std::make_unique<clsTray>(desktop.Area);
    }
    return *desktop.Tray;
}

clsIcon& gIcon() {
    DesktopObjects& desktop = Desktop();
    if (!desktop.Icon) {
        desktop.Icon = std::make_unique<clsIcon>(desktop.Services);
    }
    return *desktop.Icon;
}

void ReleaseDesktopObjects() {
    DesktopObjects& desktop = Desktop();
    desktop.Tray.reset();
    desktop.Icon.reset();
    desktop.Area.Clear();
    stockHandles.clear();
    IconTable().clear();
}

} // namespace quenloft
