#include "ui/picture_button.h"

namespace ui {

namespace {

HBITMAP LoadNamedBitmap(HINSTANCE instance, const std::wstring& name) {
    return static_cast<HBITMAP>(LoadImageW(instance, name.c_str(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
}

}  // namespace

bool PictureButton::LoadPictures(HINSTANCE instance, const std::wstring& caption) {
    up_.reset(LoadNamedBitmap(instance, caption + L"U"));
    down_.reset(LoadNamedBitmap(instance, caption + L"D"));
    focused_.reset(LoadNamedBitmap(instance, caption + L"F"));
    disabled_.reset(LoadNamedBitmap(instance, caption + L"X"));
    BITMAP info{};
    if (!up_ || GetObjectW(up_.get(), sizeof(info), &info) == 0) return false;
    width_ = info.bmWidth;
    height_ = info.bmHeight;
    SetWindowPos(hwnd_, nullptr, 0, 0, width_, height_, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    return true;
}

void PictureButton::Draw(const DRAWITEMSTRUCT& item) const {
    HBITMAP picture = up_.get();
    if ((item.itemState & ODS_SELECTED) && down_)
        picture = down_.get();
    else if ((item.itemState & ODS_FOCUS) && focused_)
        picture = focused_.get();
    else if ((item.itemState & ODS_DISABLED) && disabled_)
        picture = disabled_.get();
    if (picture == nullptr) return;
    HDC source = CreateCompatibleDC(item.hDC);
    if (source == nullptr) return;
    HGDIOBJ old = SelectObject(source, picture);
    BitBlt(item.hDC, item.rcItem.left, item.rcItem.top, width_, height_, source, 0, 0, SRCCOPY);
    SelectObject(source, old);
    DeleteDC(source);
}

}  // namespace ui
