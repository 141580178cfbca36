#include "ui/modal_dialog.h"

namespace ui {

ModalDialog::ModalDialog(HINSTANCE instance, int templateId) : instance_(instance), templateId_(templateId) {}

ModalDialog::~ModalDialog() = default;

INT_PTR ModalDialog::DoModal(HWND parent) {
    INT_PTR result = DialogBoxParamW(instance_, MAKEINTRESOURCEW(templateId_), parent,
                                     &ModalDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    hwnd_ = nullptr;
    return result;
}

bool ModalDialog::OnMessage(UINT, WPARAM, LPARAM, INT_PTR&) { return false; }

void ModalDialog::EndDialog(INT_PTR result) { ::EndDialog(hwnd_, result); }

HWND ModalDialog::Item(int id) const { return GetDlgItem(hwnd_, id); }

INT_PTR CALLBACK ModalDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    ModalDialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<ModalDialog*>(lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        self->hwnd_ = hwnd;
        return self->OnInitDialog();
    }
    self = reinterpret_cast<ModalDialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    // Messages before WM_INITDIALOG (WM_SETFONT) have no object yet.
    if (self == nullptr) return FALSE;
    INT_PTR result = TRUE;
    if (!self->OnMessage(message, wParam, lParam, result)) return FALSE;
    return result;
}

}  // namespace ui
