// The table of notification-area icons the main window shows while it is minimised.
// It knows nothing of the toolkit: the desktop's notification area is reached through
// NotifyArea, which the toolkit side provides.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quenloft {

// Messages to the notification area.
inline constexpr uint32_t NIM_ADD = 0;
inline constexpr uint32_t NIM_MODIFY = 1;
inline constexpr uint32_t NIM_DELETE = 2;
// Which fields of a record are valid.
inline constexpr uint32_t NIF_MESSAGE = 1;
inline constexpr uint32_t NIF_ICON = 2;
inline constexpr uint32_t NIF_TIP = 4;
// Mouse action codes reported for an icon; WM_LBUTTONDOWN is also its callback message.
inline constexpr uint32_t WM_MOUSEMOVE = 0x200;
inline constexpr uint32_t WM_LBUTTONDOWN = 0x201;
inline constexpr uint32_t WM_LBUTTONDBLCLK = 0x203;
inline constexpr uint32_t WM_RBUTTONDOWN = 0x204;
inline constexpr uint32_t WM_MBUTTONDOWN = 0x207;

inline constexpr size_t TipLength = 64;

// One icon as the notification area is told about it.
struct NotifyIconData {
    uint32_t cbSize = 0;
    uintptr_t hWnd = 0; // receiver of the icon's mouse actions; 0 marks a free slot
    uint32_t uID = 0;
    uint32_t uFlags = 0;
    uint32_t uCallbackMessage = 0;
    uintptr_t hIcon = 0;
    std::array<char, TipLength> szTip{};

    // The tip as shown: the field up to its first NUL.
    std::string Tip() const;
};

// The desktop's notification area.
class NotifyArea {
public:
    virtual ~NotifyArea() = default;
    // NIM_ADD, NIM_MODIFY or NIM_DELETE the icon that `data` describes; icons are
    // told apart by hWnd and uID. Refusals are not reported.
    virtual void ShellNotifyIcon(uint32_t message, const NotifyIconData& data) = 0;
};

class clsTray {
public:
    // `area` must outlive the table: the destructor removes the icons from it.
    explicit clsTray(NotifyArea& area);
    ~clsTray();
    clsTray(const clsTray&) = delete;
    clsTray& operator=(const clsTray&) = delete;

    // Adds an icon in the first free slot (the table grows when none is free) and
    // returns that slot.
    int32_t AddTrayIcon(uintptr_t hwnd, std::string_view Description, uintptr_t Bitmap);
    // These three return 0, or 1 for an index outside the table (nothing changes then).
    int32_t ChangeIcon(int16_t Index, uintptr_t Bitmap);
    int32_t ChangeDescription(int16_t Index, std::string_view Description);
    int32_t DeleteIcon(int16_t Index);
    // The number of slots in use.
    int32_t IconCount() const;

private:
    int16_t FindFreeSlot() const;
    NotifyIconData* SlotAt(int16_t index);

    NotifyArea& area_;
    std::vector<NotifyIconData> slots_;
};

} // namespace quenloft
