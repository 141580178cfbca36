#include "ui/wprogress.h"

#include <process.h>

#include <stdexcept>

namespace ui {

WProgress::WProgress() : stopEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    if (!stopEvent_) throw std::runtime_error("failed to create event");
}

WProgress::~WProgress() { Stop(); }

void WProgress::CenterImage() {
    RECT client{};
    GetClientRect(hwnd_, &client);
    originX_ = (client.right - client.left) / 2 - kImageSize / 2;
    originY_ = (client.bottom - client.top) / 2 - kImageSize / 2;
}

void WProgress::SetImageList(HIMAGELIST list) {
    // The animation thread reads the list: never swap it under a running thread.
    Stop();
    images_.reset(list);
    imageCount_ = list != nullptr ? ImageList_GetImageCount(list) : 0;
}

void WProgress::Start() {
    if (thread_) return;
    ResetEvent(stopEvent_.get());
    uintptr_t thread = _beginthreadex(nullptr, 0, &WProgress::ThreadEntry, this, 0, nullptr);
    // Without the thread the spinner simply stays still; the run does not depend on it.
    thread_.reset(reinterpret_cast<HANDLE>(thread));
}

void WProgress::Stop() {
    SetEvent(stopEvent_.get());
    if (!thread_) return;
    WaitForSingleObject(thread_.get(), INFINITE);
    thread_.reset();
}

void WProgress::DrawFrame(int index) {
    if (!images_ || index < 0 || index >= imageCount_) return;
    if (dc_ == nullptr) dc_ = GetDC(hwnd_);
    if (dc_ == nullptr) return;
    // The frame is composed on white off screen and copied whole: drawn transparently
    // straight onto the control, every earlier frame's dark dot would stay, and after one
    // turn the ring would be dark all round.
    HDC memory = CreateCompatibleDC(dc_);
    HBITMAP canvas = memory != nullptr ? CreateCompatibleBitmap(dc_, kImageSize, kImageSize) : nullptr;
    if (canvas != nullptr) {
        HGDIOBJ old = SelectObject(memory, canvas);
        RECT square{0, 0, kImageSize, kImageSize};
        FillRect(memory, &square, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        ImageList_DrawEx(images_.get(), index, memory, 0, 0, kImageSize, kImageSize, CLR_NONE, CLR_NONE,
                         ILD_TRANSPARENT);
        BitBlt(dc_, originX_, originY_, kImageSize, kImageSize, memory, 0, 0, SRCCOPY);
        SelectObject(memory, old);
        DeleteObject(canvas);
    }
    if (memory != nullptr) DeleteDC(memory);
}

unsigned WProgress::AnimationLoop() {
    unsigned counter = 0;
    do {
        if (imageCount_ > 0) DrawFrame(static_cast<int>(counter % static_cast<unsigned>(imageCount_)));
        ++counter;
    } while (WaitForSingleObject(stopEvent_.get(), kFrameMs) == WAIT_TIMEOUT);
    if (dc_ != nullptr) {
        ReleaseDC(hwnd_, dc_);
        dc_ = nullptr;
    }
    return 0;
}

unsigned __stdcall WProgress::ThreadEntry(void* self) {
    return static_cast<WProgress*>(self)->AnimationLoop();
}

}  // namespace ui
