// The main dialog: ready (START, CANCEL), running (the spinner turns while a worker thread
// runs the cleanup), finished (RESTART, LATER). Every text it shows is a picture.
#pragma once

#include <windows.h>

#include <memory>

#include "app/dialog_run.h"
#include "app/scour_app.h"
#include "ui/modal_dialog.h"
#include "ui/picture_button.h"
#include "ui/picture_static.h"
#include "ui/ui_handles.h"
#include "ui/wprogress.h"

namespace ui {

class UIDialog : public ModalDialog {
  public:
    UIDialog(HINSTANCE instance, platform::Platform& os);
    ~UIDialog() override;

    // Runs the dialog modally for `cleaner`, which must outlive the call; how it ended.
    app::DialogResult Run(app::Cleaner& cleaner);

    // Attached by the application before the dialog is shown; the application's.
    app::Cleaner* cleaner = nullptr;

  protected:
    BOOL OnInitDialog() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    virtual void OnPaint();
    virtual void RunCleaner();

  private:
    void PaintBox(HDC dc, COLORREF colour, const RECT& box);
    void OnStart();
    void ShowRunningState();
    void OnRunFinished();
    void ShowFinishedButtons();
    void OnRestart();
    void OnLater();
    void OnCancelButton();
    // Escape, Alt+F4 and the close command.
    void OnCloseRequest();
    void OnCommand(int id);
    void MoveControl(HWND control, int x, int y);
    POINT PositionOf(HWND control) const;
    SIZE SizeOf(HWND control) const;

    UniqueIcon bigIcon_;
    UniqueIcon smallIcon_;
    PictureButton start_;
    PictureButton cancel_;
    PictureButton restart_;
    PictureButton later_;
    PictureStatic headerLeft_;
    PictureStatic headerRight_;
    PictureStatic statePicture_;
    PictureStatic footer_;
    WProgress spinner_;
    platform::Platform& os_;
    // Made by Run; it goes first, waiting for the worker, which uses the controls above.
    std::unique_ptr<app::DialogRun> run_;
};

// The application's dialog runner: the dialog for `cleaner`, or NotShown when it cannot
// be created.
app::DialogResult RunMainDialog(HINSTANCE instance, platform::Platform& os, app::Cleaner& cleaner);

}  // namespace ui
