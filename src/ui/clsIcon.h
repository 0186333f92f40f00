// Holds one icon of its own, a copy of a stock icon, and paints it. It knows nothing of
// the toolkit: the desktop's icon services are reached through IconServices.
#pragma once

#include <cstdint>

namespace quenloft {

// Stock icons.
inline constexpr int32_t IDI_EXCLAMATION = 32515; // warning
inline constexpr int32_t IDI_ASTERISK = 32516;    // information

// The desktop's icon services.
class IconServices {
public:
    virtual ~IconServices() = default;
    // A shared stock icon (0 when there is none); it must not be destroyed.
    virtual uintptr_t LoadIcon(int32_t id) = 0;
    // A copy of an icon that belongs to the caller; 0 when it fails.
    virtual uintptr_t DuplicateIcon(uintptr_t icon) = 0;
    virtual void DestroyIcon(uintptr_t icon) = 0;
    // Draws an icon at its normal size with its top-left corner at x, y of the surface.
    virtual void DrawIcon(uintptr_t hdc, int32_t x, int32_t y, uintptr_t icon) = 0;
};

class clsIcon {
public:
    // `services` must outlive the object: the destructor destroys the held icon.
    explicit clsIcon(IconServices& services) : services_(services) {}
    ~clsIcon() { CleanUp(); }
    clsIcon(const clsIcon&) = delete;
    clsIcon& operator=(const clsIcon&) = delete;

    // The held icon; 0 when there is none. An icon handed in belongs to the object.
    uintptr_t Handle() const { return handle_; }
    void SetHandle(uintptr_t handle) { handle_ = handle; }

    // Replaces the held icon with a copy of the stock icon `lpIcon`.
    void OpenIcon(int32_t lpIcon);
    // Draws the held icon at X, Y of the surface `hdc`; nothing when none is held.
    void PaintIcon(uintptr_t hdc, int32_t X, int32_t Y);
    // Destroys the held icon.
    void CleanUp();

private:
    IconServices& services_;
    uintptr_t handle_ = 0;
};

} // namespace quenloft
