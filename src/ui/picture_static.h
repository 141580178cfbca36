// A bitmap static whose picture can be replaced (STM_SETIMAGE). The pictures it was given
// are its to delete; the one the template loaded stays the control's.
#pragma once

#include <windows.h>

#include "ui/ui_handles.h"

namespace ui {

class PictureStatic {
  public:
    void Attach(HWND control) { hwnd_ = control; }
    HWND hwnd() const { return hwnd_; }

    // Shows bitmap `id` of the module; false (the old picture stays) when it cannot be loaded.
    bool SetPicture(HINSTANCE instance, int id);

  private:
    HWND hwnd_ = nullptr;
    UniqueBitmap picture_;
};

}  // namespace ui
