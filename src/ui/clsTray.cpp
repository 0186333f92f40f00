#include "ui/clsTray.h"

#include <algorithm>

namespace quenloft {

namespace {

// The record's size on the desktop this table was first written for; kept so that a
// record reads the same everywhere.
constexpr uint32_t RecordSize = 88;

// The tip, cut to 63 characters so that a NUL always ends it, then blanks.
void SetTip(NotifyIconData& data, std::string_view description) {
    data.szTip.fill(' ');
    std::string_view shown = description.substr(0, TipLength - 1);
    std::copy(shown.begin(), shown.end(), data.szTip.begin());
    data.szTip[shown.size()] = '\0';
}

} // namespace

std::string NotifyIconData::Tip() const {
    auto end = std::find(szTip.begin(), szTip.end(), '\0');
    return std::string(szTip.begin(), end);
}

clsTray::clsTray(NotifyArea& area) : area_(area), slots_(1) {}

// Every icon still shown disappears with the table; free slots are passed on too,
// and the area finds nothing to remove for them.
clsTray::~clsTray() {
    for (const NotifyIconData& slot : slots_) {
        area_.ShellNotifyIcon(NIM_DELETE, slot);
    }
}

int32_t clsTray::AddTrayIcon(uintptr_t hwnd, std::string_view Description, uintptr_t Bitmap) {
    int16_t slot = FindFreeSlot();
    if (size_t(slot) >= slots_.size()) {
        slots_.resize(size_t(slot) + 1);
    }
    NotifyIconData& data = slots_[size_t(slot)];
    data.cbSize = RecordSize;
    data.hWnd = hwnd;
    data.uID = uint32_t(slot) + 1;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = WM_LBUTTONDOWN;
    data.hIcon = Bitmap;
    SetTip(data, Description);
    area_.ShellNotifyIcon(NIM_ADD, data);
    return slot;
}

int32_t clsTray::ChangeIcon(int16_t Index, uintptr_t Bitmap) {
    NotifyIconData* slot = SlotAt(Index);
    if (!slot) {
        return 1;
    }
    slot->hIcon = Bitmap;
    area_.ShellNotifyIcon(NIM_MODIFY, *slot);
    return 0;
}

int32_t clsTray::ChangeDescription(int16_t Index, std::string_view Description) {
    NotifyIconData* slot = SlotAt(Index);
    if (!slot) {
        return 1;
    }
    SetTip(*slot, Description);
    area_.ShellNotifyIcon(NIM_MODIFY, *slot);
    return 0;
}

// The slot becomes free; its other fields keep their values.
int32_t clsTray::DeleteIcon(int16_t Index) {
    NotifyIconData* slot = SlotAt(Index);
    if (!slot) {
        return 1;
    }
    area_.ShellNotifyIcon(NIM_DELETE, *slot);
    slot->hWnd = 0;
    return 0;
}

int32_t clsTray::IconCount() const {
    return int32_t(std::count_if(slots_.begin(), slots_.end(),
                                 [](const NotifyIconData& slot) { return slot.hWnd != 0; }));
}

// The lowest free slot, or one past the last when every slot is in use.
int16_t clsTray::FindFreeSlot() const {
    for (size_t i = 0; i < slots_.size(); ++i) {
        if (slots_[i].hWnd == 0) {
            return int16_t(i);
        }
    }
    return int16_t(slots_.size());
}

// The slot at `index`, or null for an index outside the table.
NotifyIconData* clsTray::SlotAt(int16_t index) {
    return index >= 0 && size_t(index) < slots_.size() ? &slots_[size_t(index)] : nullptr;
}

} // namespace quenloft
