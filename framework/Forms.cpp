#include "Forms.h"
#include "TextConv.h"
#include <algorithm>

TApplication* Application = nullptr;

namespace {
const TPropInfo FormProps[] = {
    IntegerProperty<&TForm::SetClientHeight>("ClientHeight"),
    IntegerProperty<&TForm::SetClientWidth>("ClientWidth"),
    EventProperty<&TForm::OnCloseQuery>("OnCloseQuery"),
};

constexpr UINT kOwnerFocus = CM_ENTER; // posted to itself: give the focus away
const wchar_t kAppClass[] = L"TApp";

struct ThreadWindows {
    HWND Owner;
    std::vector<HWND> Windows;
};

BOOL CALLBACK CollectThreadWindow(HWND hwnd, LPARAM l) {
    auto* t = reinterpret_cast<ThreadWindows*>(l);
    if (hwnd != t->Owner) t->Windows.push_back(hwnd);
    return TRUE;
}

std::vector<HWND> OtherThreadWindows(HWND owner) {
    ThreadWindows t{owner, {}};
    EnumThreadWindows(GetCurrentThreadId(), CollectThreadWindow, reinterpret_cast<LPARAM>(&t));
    return t.Windows;
}

bool IsTopMost(HWND h) {
    return (GetWindowLongW(h, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
}
} // namespace

const TClassInfo TApplication::Info{"TApplication", &TComponent::Info, nullptr, {}, {}, {}};
const TClassInfo TForm::Info{"TForm", &TWinControl::Info, &CreateComponent<TForm>, FormProps, {}, {}};

void InitFramework(bool display) {
    SetDisplayless(!display);
    if (!Application) Application = new TApplication(nullptr, display);
}

void DoneFramework() {
    delete Application;
    Application = nullptr;
}

// ---- TApplication

TApplication::TApplication(TComponent* owner, bool ownerWindow) : TComponent(owner) {
    if (!ownerWindow) return;
    WNDCLASSW wc{};
    if (!GetClassInfoW(ModuleInstance(), kAppClass, &wc)) {
        wc = WNDCLASSW{};
        wc.lpfnWndProc = OwnerWndProc;
        wc.hInstance = ModuleInstance();
        wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        wc.lpszClassName = kAppClass;
        if (!RegisterClassW(&wc)) throw Exception("Cannot register the window class TApp");
    }
    handle_ = CreateWindowExW(WS_EX_LEFT, kAppClass, L"",
                              WS_POPUPWINDOW | WS_CLIPSIBLINGS | WS_DLGFRAME | WS_MINIMIZEBOX, 0, 0, 0, 0,
                              nullptr, nullptr, ModuleInstance(), nullptr);
    if (handle_) SetWindowLongPtrW(handle_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

TApplication::~TApplication() {
    if (handle_) {
        SetWindowLongPtrW(handle_, GWLP_USERDATA, 0);
        DestroyWindow(handle_);
    }
}

void TApplication::SetTitle(const std::wstring& title) {
    if (handle_) SetWindowTextW(handle_, title.c_str());
}

bool TApplication::PumpOneMessage() {
    MSG msg;
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
    if (msg.message == WM_QUIT) {
        terminated_ = true;
        return true;
    }
    // Key messages go first to the control they are meant for, renumbered, so
    // that it may take them as dialog keys (Tab, Enter, Escape, mnemonics).
    if (msg.message >= WM_KEYDOWN && msg.message <= WM_SYSDEADCHAR && !GetCapture() &&
        TWinControl::FromHandle(msg.hwnd) &&
        SendMessageW(msg.hwnd, msg.message + CN_BASE, msg.wParam, msg.lParam) != 0)
        return true;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
    return true;
}

void TApplication::NormalizeTopMosts() {
    if (topMostLevel_++ != 0) return;
    topMosts_.clear();
    HWND firstNormal = nullptr;
    for (HWND h : OtherThreadWindows(handle_)) {
        if (GetWindow(h, GW_OWNER) != handle_ || !IsWindowVisible(h)) continue;
        if (IsTopMost(h))
            topMosts_.push_back(h);
        else if (!firstNormal)
            firstNormal = h;
    }
    for (HWND h : topMosts_)
        SetWindowPos(h, firstNormal ? firstNormal : HWND_NOTOPMOST, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void TApplication::RestoreTopMosts() {
    if (topMostLevel_ == 0 || --topMostLevel_ != 0) return;
    for (auto it = topMosts_.rbegin(); it != topMosts_.rend(); ++it)
        if (IsWindow(*it))
            SetWindowPos(*it, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    topMosts_.clear();
}

LRESULT CALLBACK TApplication::OwnerWndProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
    auto* app = reinterpret_cast<TApplication*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!app) return DefWindowProcW(hwnd, msg, w, l);
    try {
        return app->OwnerWindowMessage(msg, w, l);
    } catch (...) {
        ShowCriticalError();
    }
    return 0;
}

LRESULT TApplication::OwnerWindowMessage(UINT msg, WPARAM w, LPARAM l) {
    switch (msg) {
    case WM_SETFOCUS:
        PostMessageW(handle_, kOwnerFocus, 0, 0);
        return DefWindowProcW(handle_, msg, w, l);
    case kOwnerFocus:
        if (GetFocus() == handle_) {
            HWND normal = nullptr, topmost = nullptr;
            for (HWND h : OtherThreadWindows(handle_)) {
                if (!IsWindowVisible(h) || !IsWindowEnabled(h)) continue;
                if (IsTopMost(h)) {
                    if (!topmost) topmost = h;
                } else if (!normal) {
                    normal = h;
                }
            }
            if (HWND target = normal ? normal : topmost) SetFocus(target);
        }
        return 0;
    case WM_ENABLE:
        if (!w) {
            LRESULT r = DefWindowProcW(handle_, msg, w, l);
            disabled_.clear();
            for (HWND h : OtherThreadWindows(handle_)) {
                if (IsWindowVisible(h) && IsWindowEnabled(h)) {
                    disabled_.push_back(h);
                    EnableWindow(h, FALSE);
                }
            }
            NormalizeTopMosts();
            return r;
        }
        RestoreTopMosts();
        for (HWND h : disabled_)
            if (IsWindow(h)) EnableWindow(h, TRUE);
        disabled_.clear();
        return DefWindowProcW(handle_, msg, w, l);
    case WM_CLOSE:
    case CM_APPSYSCOMMAND:
        return 0;
    case WM_ERASEBKGND:
        return DefWindowProcW(handle_, WM_ICONERASEBKGND, w, l);
    case WM_ENDSESSION:
        // The session ends with this process: the program has its last word.
        if (w) {
            if (OnEndSession) OnEndSession();
            ExitProcess(0);
        }
        return 0;
    case WM_ACTIVATEAPP: {
        LRESULT r = DefWindowProcW(handle_, msg, w, l);
        active_ = w != 0;
        if (active_) {
            RestoreTopMosts();
            PostMessageW(handle_, CM_ACTIVATE, 0, 0);
        } else {
            NormalizeTopMosts();
            PostMessageW(handle_, CM_DEACTIVATE, 0, 0);
        }
        return r;
    }
    case CM_ACTIVATE:
    case CM_DEACTIVATE:
        return 0;
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
        return SendMessageW(reinterpret_cast<HWND>(l), msg + CN_BASE, w, l);
    default:
        return DefWindowProcW(handle_, msg, w, l);
    }
}

// ---- TForm

TForm::TForm(TComponent* owner) : TWinControl(owner) {
    ControlStyle |= csAcceptsControls;
    visible_ = false;
    color_ = clBtnFace;
    parentColor_ = false;
    parentFont_ = false;
}

TForm::~TForm() {
    Destroying();
    DestroyComponents();
}

void TForm::LoadDefinition() {
    formState_ |= 1;
    try {
        LoadFromClassResources(this, &TForm::Info);
    } catch (...) {
        formState_ &= static_cast<std::uint8_t>(~1);
        throw;
    }
    formState_ &= static_cast<std::uint8_t>(~1);
    if (formState_ & 2) {
        formState_ &= static_cast<std::uint8_t>(~2);
        UpdateShowing();
    }
}

bool TForm::ShouldShow() {
    if (formState_ & 1) {
        if (visible_) formState_ |= 2; // shown once the definition is read
        return false;
    }
    return visible_ && !(ControlState & cstReading);
}

void TForm::CreateParams(TCreateParams& p) {
    TWinControl::CreateParams(p);
    if (!parent_) p.WndParent = Application ? Application->Handle() : nullptr;
    p.Style &= ~static_cast<DWORD>(WS_CHILD | WS_MAXIMIZEBOX | WS_MINIMIZEBOX);
    p.Style |= WS_CAPTION | WS_SYSMENU;
    p.ClassStyle = CS_DBLCLKS;
}

void TForm::AfterCreateWnd() {
    if (Application && Application->Icon)
        SendMessageW(handle_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(Application->Icon));
}

void TForm::ShowingChanged() {
    if (!handle_ || !showing_) return; // a form's window stays until it is destroyed
    RECT r;
    GetWindowRect(handle_, &r);
    int w = r.right - r.left, h = r.bottom - r.top;
    int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
    SetWindowPos(handle_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    left_ = x;
    top_ = y;
    ShowWindow(handle_, SW_SHOWNORMAL);
}

SIZE TForm::ClientSizeFor(int width, int height) {
    if (handle_) {
        RECT r;
        GetClientRect(handle_, &r);
        return {r.right, r.bottom};
    }
    // The frame's size is a display metric; a form that is never shown has none.
    if (Displayless()) return {width, height};
    RECT frame{0, 0, 0, 0};
    AdjustWindowRectEx(&frame, WS_CAPTION | WS_SYSMENU | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, FALSE,
                       WS_EX_CONTROLPARENT);
    return {width - (frame.right - frame.left), height - (frame.bottom - frame.top)};
}

int TForm::ClientWidth() {
    return ClientSizeFor(width_, height_).cx;
}
int TForm::ClientHeight() {
    return ClientSizeFor(width_, height_).cy;
}

void TForm::SetClientWidth(std::int32_t v) {
    if (ControlState & cstReading) {
        pendingClientWidth_ = v;
        return;
    }
    SetBounds(left_, top_, width_ + v - ClientWidth(), height_);
}

void TForm::SetClientHeight(std::int32_t v) {
    if (ControlState & cstReading) {
        pendingClientHeight_ = v;
        return;
    }
    SetBounds(left_, top_, width_, height_ + v - ClientHeight());
}

void TForm::Rescale(int m, int d) {
    TWinControl::Rescale(m, d);
    if (m != d) font_.SetSize(MulDiv(font_.Size(), m, d));
}

void TForm::LoadState(TReader& reader) {
    pendingClientWidth_ = pendingClientHeight_ = 0;
    designTextHeight_ = 13;
    TWinControl::LoadState(reader);
    int ppi = ScreenPixelsPerInch();
    if ((ScalingFlags & sfFont) && ppi != 96) font_.SetHeight(MulDiv(font_.Height(), ppi, 96));
    canvas_.Font().Assign(font_);
    int measured = canvas_.TextExtent(L"0").cy;
    bool rescaled = measured > 0 && measured != designTextHeight_;
    if (rescaled) {
        for (TControl* c : std::vector<TControl*>(controls_)) c->Rescale(measured, designTextHeight_);
        if (pendingClientWidth_)
            pendingClientWidth_ = MulDiv(pendingClientWidth_, measured, designTextHeight_);
        if (pendingClientHeight_)
            pendingClientHeight_ = MulDiv(pendingClientHeight_, measured, designTextHeight_);
    }
    textHeight_ = rescaled ? measured : designTextHeight_;
    if (pendingClientWidth_ > 0) SetClientWidth(pendingClientWidth_);
    if (pendingClientHeight_ > 0) SetClientHeight(pendingClientHeight_);
    ScalingFlags = 0;
    if (!rescaled)
        for (TControl* c : std::vector<TControl*>(controls_)) c->Rescale(1, 1);
}

int TForm::Scaled(int designValue) const {
    return MulDiv(designValue, textHeight_, designTextHeight_);
}

void TForm::ShowKeyboardCues() {
    // The system changes nothing (and tells no control) when they already show.
    if (handle_)
        SendMessageW(handle_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS | UISF_HIDEACCEL), 0);
}

void TForm::SetActiveControl(TWinControl* control) {
    if (control == activeControl_) return;
    activeControl_ = control;
    if (active_ && handle_) {
        if (control && control->HandleAllocated())
            ::SetFocus(control->WindowHandle());
        else
            ::SetFocus(handle_);
    }
}

void TForm::FocusControl(TWinControl* control) {
    if (!control || !control->CanFocus()) return;
    if (control == this) activeControl_ = nullptr; // the form itself, not its active control
    if (active_ && control->HandleAllocated())
        ::SetFocus(control->WindowHandle());
    else
        activeControl_ = control == this ? nullptr : control;
}

bool TForm::SendFocusNotice(TControl* control, UINT msg) {
    int count = FocusCount;
    control->Perform(msg);
    return FocusCount == count;
}

bool TForm::SetFocusedControl(TWinControl* control) {
    ++FocusCount;
    activeControl_ = control == this ? nullptr : control;
    TWinControl* previous = focusedControl_;
    focusedControl_ = control;
    TWinControl* common = previous;
    while (common && !common->ContainsControl(control)) {
        if (!SendFocusNotice(common, CM_EXIT)) return false;
        common = common->Parent();
    }
    std::vector<TWinControl*> entered;
    for (TWinControl* c = control; c && c != common; c = c->Parent()) entered.push_back(c);
    for (auto it = entered.rbegin(); it != entered.rend(); ++it)
        if (!SendFocusNotice(*it, CM_ENTER)) return false;
    Perform(CM_FOCUSCHANGED, 0, reinterpret_cast<LPARAM>(control));
    return true;
}

void TForm::ControlGoing(TControl* control) {
    if (ComponentState() & csDestroying) {
        if (control == focusedControl_ || control == activeControl_)
            focusedControl_ = activeControl_ = nullptr;
        return;
    }
    auto* w = dynamic_cast<TWinControl*>(control);
    if (!w) return;
    if (focusedControl_ && w->ContainsControl(focusedControl_)) focusedControl_ = w->Parent();
    if (activeControl_ && w->ContainsControl(activeControl_)) SetActiveControl(nullptr);
}

bool TForm::AskClose() {
    bool canClose = true;
    OnCloseQuery(this, canClose);
    return canClose;
}

int TForm::RunModal() {
    HWND previous = GetActiveWindow();
    int focusCount = FocusCount;
    Show();
    if (handle_) SetWindowPos(handle_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    Perform(CM_ACTIVATE);
    ModalResult = mrNone;
    do {
        if (!Application->PumpOneMessage()) WaitMessage();
        if (Application->Terminated())
            ModalResult = mrCancel;
        else if (ModalResult != mrNone && !AskClose())
            ModalResult = mrNone;
    } while (ModalResult == mrNone);
    Perform(CM_DEACTIVATE);
    Hide();
    if (handle_ && GetActiveWindow() == handle_ && previous) SetActiveWindow(previous);
    FocusCount = focusCount;
    return ModalResult;
}

void TForm::WndProc(TMessage& m) {
    switch (m.Msg) {
    case WM_CLOSE:
        ModalResult = mrCancel;
        m.Result = 0;
        return;
    case WM_QUERYENDSESSION:
        m.Result = AskClose();
        return;
    case CM_APPSYSCOMMAND:
        m.Result = 0;
        return;
    case CM_RELEASE:
        DestroyHandle();
        return;
    case WM_ACTIVATE:
        DefaultHandler(m);
        active_ = LOWORD(m.WParam) != WA_INACTIVE;
        if (active_) {
            if (!activeControl_) activeControl_ = NextTabStop(nullptr, true);
            if (activeControl_ && activeControl_->HandleAllocated())
                ::SetFocus(activeControl_->WindowHandle());
            else
                ::SetFocus(handle_);
        }
        m.Result = 0;
        return;
    case WM_SETFOCUS:
        // As in a dialog, focus given to the form (by the system, once a modal
        // box or dialog closes) passes on to its active control.
        if (activeControl_ && activeControl_->CanFocus() && activeControl_->HandleAllocated()) {
            ::SetFocus(activeControl_->WindowHandle());
            return;
        }
        // The form itself took the focus: no control of it is active.
        if (focusedControl_ != this) SetFocusedControl(this);
        DefaultHandler(m);
        return;
    case WM_DESTROY:
        SendMessageW(handle_, WM_SETICON, ICON_BIG, 0);
        DefaultHandler(m);
        return;
    case WM_MOVE:
    case WM_SIZE:
        if (handle_ && !IsIconic(handle_)) {
            RECT r;
            GetWindowRect(handle_, &r);
            left_ = r.left;
            top_ = r.top;
            width_ = r.right - r.left;
            height_ = r.bottom - r.top;
        }
        DefaultHandler(m);
        return;
    case CM_DIALOGKEY:
        if (m.WParam == VK_TAB && !(GetKeyState(VK_MENU) & 0x8000) && !(GetKeyState(VK_CONTROL) & 0x8000)) {
            SelectNext(activeControl_, !(GetKeyState(VK_SHIFT) & 0x8000));
            m.Result = 1;
            return;
        }
        Broadcast(m);
        return;
    default:
        TWinControl::WndProc(m);
    }
}
