#include "ui/clsIcon.h"

namespace quenloft {

// Only the copy is held: the shared stock icon belongs to the desktop.
void clsIcon::OpenIcon(int32_t lpIcon) {
    CleanUp();
    uintptr_t stock = services_.LoadIcon(lpIcon);
    handle_ = stock ? services_.DuplicateIcon(stock) : 0;
}

void clsIcon::PaintIcon(uintptr_t hdc, int32_t X, int32_t Y) {
    if (handle_ != 0) {
        services_.DrawIcon(hdc, X, Y, handle_);
    }
}

void clsIcon::CleanUp() {
    if (handle_ != 0) {
        services_.DestroyIcon(handle_);
        handle_ = 0;
    }
}

} // namespace quenloft
