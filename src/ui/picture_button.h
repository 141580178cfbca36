// An owner-drawn button shown as one of four pictures: pressed, focused, disabled or up.
#pragma once

#include <windows.h>

#include <string>

#include "ui/ui_handles.h"

namespace ui {

class PictureButton {
  public:
    void Attach(HWND button) { hwnd_ = button; }
    HWND hwnd() const { return hwnd_; }

    // Loads the bitmaps named caption + "U", "D", "F", "X" and sizes the button to the up
    // picture. False when the up picture is missing (the button then draws nothing).
    bool LoadPictures(HINSTANCE instance, const std::wstring& caption);
    // WM_DRAWITEM for this button.
    void Draw(const DRAWITEMSTRUCT& item) const;

    int width() const { return width_; }
    int height() const { return height_; }

  private:
    HWND hwnd_ = nullptr;
    UniqueBitmap up_, down_, focused_, disabled_;
    int width_ = 0;
    int height_ = 0;
};

}  // namespace ui
