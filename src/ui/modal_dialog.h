// The small part of a dialog framework the tool needs: a modal dialog made from a resource
// template whose messages reach the object that runs it.
#pragma once

#include <windows.h>

namespace ui {

class ModalDialog {
  public:
    ModalDialog(HINSTANCE instance, int templateId);
    ModalDialog(const ModalDialog&) = delete;
    ModalDialog& operator=(const ModalDialog&) = delete;
    virtual ~ModalDialog();

    // Runs the dialog until it ends; the value given to EndDialog, or -1 when the dialog
    // could not be created.
    INT_PTR DoModal(HWND parent);

    HWND hwnd() const { return hwnd_; }
    HINSTANCE instance() const { return instance_; }

  protected:
    // WM_INITDIALOG; true lets the system set the focus.
    virtual BOOL OnInitDialog() = 0;
    // Every other message; true when handled (DWLP_MSGRESULT may carry a result).
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);

    void EndDialog(INT_PTR result);
    HWND Item(int id) const;

  private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    HINSTANCE instance_;
    int templateId_;
    HWND hwnd_ = nullptr;
};

}  // namespace ui
