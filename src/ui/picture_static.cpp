#include "ui/picture_static.h"

#include <utility>

namespace ui {

bool PictureStatic::SetPicture(HINSTANCE instance, int id) {
    UniqueBitmap picture(static_cast<HBITMAP>(
        LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    if (!picture) return false;
    SendMessageW(hwnd_, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture.get()));
    // The control no longer shows the previous picture this object gave it.
    picture_ = std::move(picture);
    return true;
}

}  // namespace ui
