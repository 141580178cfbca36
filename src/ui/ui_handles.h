// Owners for the handles the dialog holds: one move-only template, one line per kind.
#pragma once

#include <windows.h>
// Needs the types windows.h declares.
#include <commctrl.h>

namespace ui {

template <typename T, auto Close>
class UniqueAny {
  public:
    UniqueAny() = default;
    explicit UniqueAny(T value) : value_(value) {}
    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;
    UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
    UniqueAny& operator=(UniqueAny&& other) noexcept {
        reset(other.release());
        return *this;
    }
    ~UniqueAny() { reset(); }

    T get() const { return value_; }
    explicit operator bool() const { return value_ != T{}; }
    T release() {
        T value = value_;
        value_ = T{};
        return value;
    }
    void reset(T value = T{}) {
        if (value_ != T{}) Close(value_);
        value_ = value;
    }

  private:
    T value_{};
};

inline void CloseKernelHandle(HANDLE h) { ::CloseHandle(h); }
inline void DeleteBitmap(HBITMAP b) { ::DeleteObject(b); }
inline void DeleteIcon(HICON i) { ::DestroyIcon(i); }
inline void DeleteImageList(HIMAGELIST l) { ::ImageList_Destroy(l); }

using UniqueHandle = UniqueAny<HANDLE, CloseKernelHandle>;  // null is empty (events, threads)
using UniqueBitmap = UniqueAny<HBITMAP, DeleteBitmap>;
using UniqueIcon = UniqueAny<HICON, DeleteIcon>;
using UniqueImageList = UniqueAny<HIMAGELIST, DeleteImageList>;

}  // namespace ui
