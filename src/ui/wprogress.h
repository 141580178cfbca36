// The spinner: a static control in which an animation thread draws the frames of an image
// list in turn, every 50 ms, until it is stopped.
#pragma once

#include <windows.h>
// Needs the types windows.h declares.
#include <commctrl.h>

#include "ui/ui_handles.h"

namespace ui {

class WProgress {
  public:
    static constexpr DWORD kFrameMs = 50;
    static constexpr int kImageSize = 64;

    // Throws std::runtime_error("failed to create event") when the stop event cannot be made.
    WProgress();
    WProgress(const WProgress&) = delete;
    WProgress& operator=(const WProgress&) = delete;
    virtual ~WProgress();

    void Attach(HWND control) { hwnd_ = control; }
    HWND hwnd() const { return hwnd_; }

    // Centres a 64 x 64 image on the control.
    void CenterImage();
    // Takes the list over (it is destroyed with the spinner, after the thread has ended).
    virtual void SetImageList(HIMAGELIST list);
    virtual void Start();
    // Sets the stop event and waits for the animation thread to end.
    virtual void Stop();
    virtual void DrawFrame(int index);
    virtual unsigned AnimationLoop();

    int imageCount() const { return imageCount_; }

  private:
    static unsigned __stdcall ThreadEntry(void* self);

    HWND hwnd_ = nullptr;
    UniqueHandle stopEvent_;
    UniqueHandle thread_;
    HDC dc_ = nullptr;  // the animation thread's, from its first frame to its end
    int originX_ = 0;
    int originY_ = 0;
    int imageCount_ = 0;
    UniqueImageList images_;
};

}  // namespace ui
