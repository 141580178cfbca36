#include "ui/ui_dialog.h"

#include <commctrl.h>

#include <exception>

#include "ui/resource.h"

namespace ui {

namespace {

constexpr wchar_t kWindowText[] = L"Sweep Tool";
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kDarkGrey = RGB(49, 49, 49);
constexpr int kHeaderBottom = 96;
constexpr int kFrameWidth = 8;
constexpr int kPenWidth = 3;
constexpr int kRightMargin = 52;
constexpr int kStatePictureX = 9;
constexpr int kStatePictureY = 97;

// Selects a solid brush and a pen of `width` in `colour` for the life of the object.
class SolidPaint {
  public:
    SolidPaint(HDC dc, COLORREF colour, int width)
        : dc_(dc), brush_(CreateSolidBrush(colour)), pen_(CreatePen(PS_SOLID, width, colour)) {
        oldBrush_ = SelectObject(dc_, brush_);
        oldPen_ = SelectObject(dc_, pen_);
    }
    ~SolidPaint() {
        SelectObject(dc_, oldBrush_);
        SelectObject(dc_, oldPen_);
        DeleteObject(brush_);
        DeleteObject(pen_);
    }
    SolidPaint(const SolidPaint&) = delete;
    SolidPaint& operator=(const SolidPaint&) = delete;

  private:
    HDC dc_;
    HBRUSH brush_;
    HPEN pen_;
    HGDIOBJ oldBrush_;
    HGDIOBJ oldPen_;
};

HICON LoadIconSized(HINSTANCE instance, int cxMetric, int cyMetric) {
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_SWEEPTOOL), IMAGE_ICON,
                                         GetSystemMetrics(cxMetric), GetSystemMetrics(cyMetric), 0));
}

void ShowAndEnable(HWND control, bool on) {
    ShowWindow(control, on ? SW_SHOW : SW_HIDE);
    EnableWindow(control, on ? TRUE : FALSE);
}

}  // namespace

UIDialog::UIDialog(HINSTANCE instance, platform::Platform& os)
    : ModalDialog(instance, IDD_SWEEPTOOL),
      bigIcon_(LoadIconSized(instance, SM_CXICON, SM_CYICON)),
      smallIcon_(LoadIconSized(instance, SM_CXSMICON, SM_CYSMICON)),
      os_(os) {}

UIDialog::~UIDialog() {
    // The worker uses this object and the cleaner: it must be gone before either.
    run_.reset();
    spinner_.Stop();
}

app::DialogResult UIDialog::Run(app::Cleaner& runCleaner) {
    cleaner = &runCleaner;
    run_ = std::make_unique<app::DialogRun>(
        os_, [this] { RunCleaner(); }, [this] { OnRunFinished(); });
    INT_PTR ended = DoModal(nullptr);
    // Every close path waits for the worker (see OnCloseRequest); its end is still waited
    // for here, since it touches the dialog's controls after the finished buttons appear.
    run_->Wait();
    spinner_.Stop();
    if (ended == -1) return app::DialogResult::NotShown;
    if (ended == IDOK) return app::DialogResult::Restart;
    return run_->state() == app::DialogRun::State::Ready ? app::DialogResult::CancelledBeforeStart
                                                         : app::DialogResult::Later;
}

BOOL UIDialog::OnInitDialog() {
    HWND dialog = hwnd();
    SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_.get()));
    SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.get()));

    start_.Attach(Item(IDC_START));
    cancel_.Attach(Item(IDC_CANCEL_BUTTON));
    restart_.Attach(Item(IDC_RESTART));
    later_.Attach(Item(IDC_LATER));
    headerLeft_.Attach(Item(IDC_HEADER_LEFT));
    headerRight_.Attach(Item(IDC_HEADER_RIGHT));
    statePicture_.Attach(Item(IDC_STATE_PICTURE));
    footer_.Attach(Item(IDC_FOOTER));
    spinner_.Attach(Item(IDC_SPINNER));

    SetWindowTextW(dialog, kWindowText);
    RECT client{};
    GetClientRect(dialog, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    SetWindowPos(dialog, nullptr, 0, 0, width + 1, height, SWP_NOMOVE | SWP_NOZORDER);

    MoveControl(headerLeft_.hwnd(), 1, 1);
    MoveControl(headerRight_.hwnd(), width - SizeOf(headerRight_.hwnd()).cx, 1);
    MoveControl(statePicture_.hwnd(), kStatePictureX, kStatePictureY);
    MoveControl(footer_.hwnd(), 1, height - SizeOf(footer_.hwnd()).cy - 1);

    start_.LoadPictures(instance(), L"START");
    cancel_.LoadPictures(instance(), L"CANCEL");
    restart_.LoadPictures(instance(), L"RESTART");
    later_.LoadPictures(instance(), L"LATER");

    MoveControl(cancel_.hwnd(), width - SizeOf(cancel_.hwnd()).cx - kRightMargin,
                PositionOf(cancel_.hwnd()).y);

    ShowAndEnable(spinner_.hwnd(), false);
    // The frames are drawn through the control's own device context, which clips them to the
    // control: it takes the frames' size, around the same middle height.
    const POINT spinnerAt = PositionOf(spinner_.hwnd());
    const int spinnerY = spinnerAt.y + SizeOf(spinner_.hwnd()).cy / 2 - WProgress::kImageSize / 2;
    SetWindowPos(spinner_.hwnd(), nullptr, 0, 0, WProgress::kImageSize, WProgress::kImageSize,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    MoveControl(spinner_.hwnd(), width / 2 - SizeOf(spinner_.hwnd()).cx / 2, spinnerY);

    ShowAndEnable(restart_.hwnd(), false);
    ShowAndEnable(later_.hwnd(), false);
    MoveControl(later_.hwnd(), width - SizeOf(later_.hwnd()).cx - kRightMargin, PositionOf(later_.hwnd()).y);
    return TRUE;
}

bool UIDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    switch (message) {
        case WM_PAINT:
            OnPaint();
            return true;
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            for (const PictureButton* button : {&start_, &cancel_, &restart_, &later_}) {
                if (item->hwndItem == button->hwnd()) {
                    button->Draw(*item);
                    return true;
                }
            }
            return false;
        }
        case WM_CTLCOLORSTATIC:
            // The spinner has no picture of its own: let it show the dialog's white.
            if (reinterpret_cast<HWND>(lParam) != spinner_.hwnd()) return false;
            SetBkColor(reinterpret_cast<HDC>(wParam), kWhite);
            result = reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
            return true;
        case WM_COMMAND:
            if (HIWORD(wParam) != BN_CLICKED) return false;
            OnCommand(LOWORD(wParam));
            return true;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) != SC_CLOSE) return false;
            OnCloseRequest();
            return true;
        case WM_CLOSE:
            OnCloseRequest();
            return true;
        default:
            return false;
    }
}

void UIDialog::OnCommand(int id) {
    switch (id) {
        case IDC_START:
            OnStart();
            break;
        case IDC_CANCEL_BUTTON:
            OnCancelButton();
            break;
        case IDC_RESTART:
            OnRestart();
            break;
        case IDC_LATER:
            OnLater();
            break;
        case IDOK: {
            // Enter: the focused picture button, as a click would.
            HWND focus = GetFocus();
            for (const PictureButton* button : {&start_, &cancel_, &restart_, &later_}) {
                if (focus == button->hwnd() && IsWindowVisible(focus) && IsWindowEnabled(focus))
                    OnCommand(GetDlgCtrlID(focus));
            }
            break;
        }
        case IDCANCEL:
            OnCloseRequest();
            break;
        default:
            break;
    }
}

void UIDialog::OnPaint() {
    PAINTSTRUCT paint{};
    HDC dc = BeginPaint(hwnd(), &paint);
    if (dc == nullptr) return;
    RECT client{};
    GetClientRect(hwnd(), &client);
    const LONG right = client.right;
    const LONG bottom = client.bottom;
    PaintBox(dc, kWhite, client);
    PaintBox(dc, kBlack, RECT{0, 0, right, kHeaderBottom});
    {
        SolidPaint black(dc, kBlack, kPenWidth);
        Rectangle(dc, 0, 0, right, kFrameWidth);
        Rectangle(dc, 0, 0, kFrameWidth, bottom);
        Rectangle(dc, right - kFrameWidth, 0, right, bottom);
    }
    HBRUSH border = CreateSolidBrush(kDarkGrey);
    FrameRect(dc, &client, border);
    DeleteObject(border);
    EndPaint(hwnd(), &paint);
}

void UIDialog::PaintBox(HDC dc, COLORREF colour, const RECT& box) {
    SolidPaint paint(dc, colour, kPenWidth);
    Rectangle(dc, box.left, box.top, box.right, box.bottom);
}

void UIDialog::OnStart() {
    // START is hidden at once, but a second click may already be queued.
    if (run_->state() != app::DialogRun::State::Ready) return;
    ShowRunningState();
    // A worker that cannot start finishes the run at once (OnRunFinished): otherwise the
    // dialog would turn its spinner for ever with no way out.
    (void)run_->Start();
}

void UIDialog::ShowRunningState() {
    ShowAndEnable(start_.hwnd(), false);
    ShowAndEnable(cancel_.hwnd(), false);
    statePicture_.SetPicture(instance(), IDB_STATE_RUNNING);
    spinner_.CenterImage();
    spinner_.SetImageList(ImageList_LoadImageW(instance(), MAKEINTRESOURCEW(IDB_SPINNER),
                                               WProgress::kImageSize, 4, CLR_DEFAULT, IMAGE_BITMAP,
                                               LR_CREATEDIBSECTION | LR_LOADTRANSPARENT));
    ShowWindow(spinner_.hwnd(), SW_SHOW);
    spinner_.Start();
    InvalidateRect(hwnd(), nullptr, TRUE);
}

void UIDialog::RunCleaner() {
    if (cleaner != nullptr) cleaner->Run();
}

void UIDialog::OnRunFinished() {
    spinner_.Stop();
    ShowWindow(spinner_.hwnd(), SW_HIDE);
    ShowFinishedButtons();
    HWND first = run_->OffersRestart() ? restart_.hwnd() : later_.hwnd();
    PostMessageW(hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(first), TRUE);
    SetWindowPos(hwnd(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    SetForegroundWindow(hwnd());
}

void UIDialog::ShowFinishedButtons() {
    // Nothing ran when the worker could not start: there is nothing to restart for.
    ShowAndEnable(restart_.hwnd(), run_->OffersRestart());
    ShowAndEnable(later_.hwnd(), true);
    statePicture_.SetPicture(instance(), IDB_STATE_FINISHED);
    InvalidateRect(hwnd(), nullptr, TRUE);
}

void UIDialog::OnRestart() {
    if (!run_->OffersRestart()) return;
    if (cleaner != nullptr) cleaner->Restart();
    EndDialog(IDOK);
}

void UIDialog::OnLater() {
    if (run_->state() != app::DialogRun::State::Finished) return;
    EndDialog(IDCANCEL);
}

void UIDialog::OnCancelButton() {
    if (run_->state() != app::DialogRun::State::Ready) return;
    EndDialog(IDCANCEL);
}

void UIDialog::OnCloseRequest() {
    // While the worker runs the dialog must stay: the cleaner it uses is the application's
    // and is destroyed as soon as the dialog returns.
    switch (run_->state()) {
        case app::DialogRun::State::Ready:
            OnCancelButton();
            break;
        case app::DialogRun::State::Running:
            break;
        case app::DialogRun::State::Finished:
            OnLater();
            break;
    }
}

void UIDialog::MoveControl(HWND control, int x, int y) {
    SetWindowPos(control, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

POINT UIDialog::PositionOf(HWND control) const {
    RECT box{};
    GetWindowRect(control, &box);
    MapWindowPoints(HWND_DESKTOP, hwnd(), reinterpret_cast<POINT*>(&box), 2);
    return POINT{box.left, box.top};
}

SIZE UIDialog::SizeOf(HWND control) const {
    RECT box{};
    GetWindowRect(control, &box);
    return SIZE{box.right - box.left, box.bottom - box.top};
}

app::DialogResult RunMainDialog(HINSTANCE instance, platform::Platform& os, app::Cleaner& cleaner) {
    static const bool initialised = [] {
        INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
        return InitCommonControlsEx(&controls) != FALSE;
    }();
    (void)initialised;
    try {
        UIDialog dialog(instance, os);
        return dialog.Run(cleaner);
    } catch (const std::exception&) {
        // The spinner's event could not be made: there is no dialog to show.
        return app::DialogResult::NotShown;
    }
}

}  // namespace ui
