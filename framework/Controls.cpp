#include "Controls.h"
#include "Forms.h"
#include "TextConv.h"
#include <algorithm>

int FocusCount = 0;

HINSTANCE ModuleInstance() {
    return GetModuleHandleW(nullptr);
}

namespace {
const TPropInfo ControlProps[] = {
    IntegerProperty<&TControl::SetLeft>("Left"),
    IntegerProperty<&TControl::SetTop>("Top"),
    IntegerProperty<&TControl::SetWidth>("Width"),
    IntegerProperty<&TControl::SetHeight>("Height"),
};

// The window property that ties a window to its control: "_" and the thread's
// identifier, so that it stays unique per thread.
ATOM ControlAtom() {
    static ATOM atom = [] {
        char name[16];
        wsprintfA(name, "_%08X", static_cast<unsigned>(GetCurrentThreadId()));
        return GlobalAddAtomA(name);
    }();
    return atom;
}

// The control whose window is being created: the first message binds them.
TWinControl* CreationControl = nullptr;

// Window classes registered by the framework, with the procedure of the class they wrap.
struct RegisteredClass {
    std::wstring Name;
    WNDPROC DefProc;
};
std::vector<RegisteredClass>& RegisteredClasses() {
    static std::vector<RegisteredClass> list;
    return list;
}
} // namespace

LRESULT CALLBACK InitWndProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l);

const TClassInfo TControl::Info{"TControl", &TComponent::Info, &CreateComponent<TControl>, ControlProps, {},
                                {}};
const TClassInfo TWinControl::Info{"TWinControl", &TControl::Info, &CreateComponent<TWinControl>, {}, {}, {}};
const TClassInfo TGraphicControl::Info{
    "TGraphicControl", &TControl::Info, &CreateComponent<TGraphicControl>, {}, {}, {}};
const TClassInfo TCustomControl::Info{
    "TCustomControl", &TWinControl::Info, &CreateComponent<TCustomControl>, {}, {}, {}};

namespace {
bool criticalErrorShown = false;
} // namespace

bool CriticalErrorShown() {
    return criticalErrorShown;
}

void ShowCriticalError() {
    criticalErrorShown = true;
    if (GetCapture()) SendMessageW(GetCapture(), WM_CANCELMODE, 0, 0);
    // A run that shows nothing never waits for a person.
    if (Displayless()) return;
    std::wstring text = Utf8ToUtf16("Critical error");
    MessageBoxW(nullptr, text.c_str(), nullptr, MB_TASKMODAL | MB_ICONERROR);
}

// ---- TControl

TControl::TControl(TComponent* owner) : TComponent(owner) {
    font_.OnChange = [this] { FontChanged(); };
}

TControl::~TControl() {
    font_.OnChange = nullptr;
    if (parent_) parent_->RemoveControl(this);
}

void TControl::SetParent(TWinControl* parent) {
    if (parent == parent_) return;
    if (parent == this) return;
    if (parent_) parent_->RemoveControl(this);
    if (parent) parent->InsertControl(this);
}

TForm* TControl::ParentForm() {
    TControl* c = this;
    while (c->parent_) c = c->parent_;
    return dynamic_cast<TForm*>(c);
}

void TControl::SetLeft(std::int32_t v) {
    SetBounds(v, top_, width_, height_);
    ScalingFlags |= sfLeft;
}
void TControl::SetTop(std::int32_t v) {
    SetBounds(left_, v, width_, height_);
    ScalingFlags |= sfTop;
}
void TControl::SetWidth(std::int32_t v) {
    SetBounds(left_, top_, v, height_);
    ScalingFlags |= sfWidth;
}
void TControl::SetHeight(std::int32_t v) {
    SetBounds(left_, top_, width_, v);
    ScalingFlags |= sfHeight;
}

void TControl::SetBounds(int left, int top, int width, int height) {
    if (left == left_ && top == top_ && width == width_ && height == height_) return;
    Invalidate();
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    Invalidate();
    BoundsChanged();
}

RECT TControl::ClientRect() {
    return {0, 0, width_, height_};
}

POINT TControl::ClientOrigin() {
    POINT p{left_, top_};
    if (parent_) {
        POINT o = parent_->ClientOrigin();
        p.x += o.x;
        p.y += o.y;
    }
    return p;
}

void TControl::SetVisible(bool visible) {
    if (visible == visible_) return;
    Perform(CM_VISIBLECHANGED, visible);
    visible_ = visible;
    Perform(CM_VISIBLECHANGED, visible, 1);
}

void TControl::SetEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    Perform(CM_ENABLEDCHANGED);
}

std::string TControl::Text() {
    return text_;
}

void TControl::SetText(const std::string& text) {
    if (text == Text()) return;
    text_ = text;
    Perform(CM_TEXTCHANGED);
}

void TControl::SetColor(TColor color) {
    parentColor_ = false;
    if (color == color_) return;
    color_ = color;
    Perform(CM_COLORCHANGED);
}

void TControl::SetParentFont(bool value) {
    parentFont_ = value;
    if (value && parent_) Perform(CM_PARENTFONTCHANGED);
}

void TControl::SetParentColor(bool value) {
    parentColor_ = value;
    if (value && parent_) Perform(CM_PARENTCOLORCHANGED);
}

void TControl::FontChanged() {
    parentFont_ = false;
    if (ComponentState() & csReading) ScalingFlags |= sfFont;
    Perform(CM_FONTCHANGED);
}

void TControl::Click() {
    OnClick(this);
}

LRESULT TControl::Perform(UINT msg, WPARAM w, LPARAM l) {
    TMessage m{msg, w, l, 0};
    WndProc(m);
    return m.Result;
}

void TControl::WndProc(TMessage& m) {
    switch (m.Msg) {
    case CM_PARENTFONTCHANGED:
        if (parentFont_ && parent_) {
            font_.OnChange = nullptr;
            font_.Assign(parent_->Font());
            font_.OnChange = [this] { FontChanged(); };
            Perform(CM_FONTCHANGED);
        }
        return;
    case CM_PARENTCOLORCHANGED:
        if (parentColor_ && parent_) {
            color_ = parent_->Color();
            Perform(CM_COLORCHANGED);
        }
        return;
    case CM_VISIBLECHANGED:
    case CM_COLORCHANGED:
    case CM_TEXTCHANGED:
        if (m.LParam || m.Msg != CM_VISIBLECHANGED) Invalidate();
        return;
    default:
        DefaultHandler(m);
    }
}

void TControl::DefaultHandler(TMessage&) {}

void TControl::Invalidate() {
    if (parent_ && parent_->HandleAllocated() && visible_) {
        RECT r = BoundsRect();
        InvalidateRect(parent_->WindowHandle(), &r, TRUE);
    }
}

void TControl::Rescale(int m, int d) {
    if (m != d) {
        std::uint8_t flags = (ComponentState() & csLoading) ? ScalingFlags : static_cast<std::uint8_t>(sfAll);
        int left = left_, top = top_, width = width_, height = height_;
        if (flags & sfLeft) left = MulDiv(left_, m, d);
        if (flags & sfTop) top = MulDiv(top_, m, d);
        if ((flags & sfWidth) && !(ControlStyle & csFixedWidth))
            width = (flags & sfLeft) ? MulDiv(left_ + width_, m, d) - left : MulDiv(width_, m, d);
        if ((flags & sfHeight) && !(ControlStyle & csFixedHeight))
            height = (flags & sfTop) ? MulDiv(top_ + height_, m, d) - top : MulDiv(height_, m, d);
        SetBounds(left, top, width, height);
        if (!parentFont_ && (flags & sfFont)) font_.SetSize(MulDiv(font_.Size(), m, d));
    }
    ScalingFlags = 0;
}

void TControl::AttachToParent(TComponent* parent) {
    if (auto* p = dynamic_cast<TWinControl*>(parent)) SetParent(p);
}

void TControl::LoadState(TReader& reader) {
    ControlState |= cstReading;
    if (auto* p = dynamic_cast<TWinControl*>(reader.Parent())) SetParent(p);
    reader.ReadComponentBody(*this);
    ControlState &= static_cast<std::uint8_t>(~cstReading);
    if (parent_) {
        Perform(CM_PARENTCOLORCHANGED);
        Perform(CM_PARENTFONTCHANGED);
    }
}

// ---- TGraphicControl, TCustomControl

void TGraphicControl::Paint(TCanvas&) {}

void TCustomControl::Paint(TCanvas&) {}

void TCustomControl::WndProc(TMessage& m) {
    if (m.Msg == WM_PAINT && HandleAllocated()) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(handle_, &ps);
        TCanvas canvas;
        canvas.SetHandle(dc);
        canvas.Font().Assign(Font());
        Paint(canvas);
        PaintControls(dc, &ps.rcPaint);
        canvas.SetHandle(nullptr);
        EndPaint(handle_, &ps);
        m.Result = 0;
        return;
    }
    TWinControl::WndProc(m);
}

// ---- TWinControl

TWinControl::TWinControl(TComponent* owner) : TControl(owner) {}

TWinControl::~TWinControl() {
    Destroying();
    DestroyComponents();
    // Children owned elsewhere lose their parent, not their life.
    while (!controls_.empty()) RemoveControl(controls_.back());
    DestroyHandle();
}

void TWinControl::InsertControl(TControl* child) {
    child->parent_ = this;
    controls_.push_back(child);
    if (auto* w = dynamic_cast<TWinControl*>(child)) {
        if (!(child->ControlState & cstReading)) w->UpdateShowing();
    } else {
        child->Invalidate();
    }
}

void TWinControl::RemoveControl(TControl* child) {
    auto it = std::find(controls_.begin(), controls_.end(), child);
    if (it == controls_.end()) return;
    if (TForm* form = ParentForm()) form->ControlGoing(child);
    child->Invalidate();
    controls_.erase(it);
    child->parent_ = nullptr;
    if (auto* w = dynamic_cast<TWinControl*>(child)) {
        w->DestroyHandle();
        w->showing_ = false;
    }
}

bool TWinControl::ContainsControl(const TControl* control) const {
    for (const TControl* c = control; c; c = c->Parent())
        if (c == this) return true;
    return false;
}

HWND TWinControl::Handle() {
    if (!handle_ && !creatingWindow_) CreateWnd();
    return handle_;
}

void TWinControl::CreateParams(TCreateParams& p) {
    p.Caption = Utf8ToUtf16(text_);
    p.Style = WS_CHILD | WS_CLIPSIBLINGS;
    if (ControlStyle & csAcceptsControls) {
        p.Style |= WS_CLIPCHILDREN;
        p.ExStyle |= WS_EX_CONTROLPARENT;
    }
    if (!enabled_) p.Style |= WS_DISABLED;
    if (TabStop) p.Style |= WS_TABSTOP;
    p.X = left_;
    p.Y = top_;
    p.Width = width_;
    p.Height = height_;
    p.WndParent = parent_ ? parent_->Handle() : nullptr;
    p.ClassStyle = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    p.ClassName = Utf8ToUtf16(ClassName());
}

void TWinControl::RegisterWindowClass(TCreateParams& p) {
    for (const auto& c : RegisteredClasses()) {
        if (c.Name == p.ClassName) {
            defWndProc_ = c.DefProc;
            return;
        }
    }
    WNDCLASSW wc{};
    wc.style = p.ClassStyle;
    wc.lpfnWndProc = DefWindowProcW;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hInstance = ModuleInstance();
    if (!p.SystemClass.empty()) {
        WNDCLASSW sys{};
        if (GetClassInfoW(ModuleInstance(), p.SystemClass.c_str(), &sys) ||
            GetClassInfoW(nullptr, p.SystemClass.c_str(), &sys)) {
            wc = sys;
            wc.hInstance = ModuleInstance();
            wc.style = (wc.style & ~(CS_OWNDC | CS_CLASSDC | CS_PARENTDC | CS_GLOBALCLASS)) | CS_VREDRAW |
                       CS_HREDRAW;
        }
    }
    defWndProc_ = wc.lpfnWndProc;
    wc.lpfnWndProc = InitWndProc;
    wc.lpszClassName = p.ClassName.c_str();
    WNDCLASSW existing{};
    if (GetClassInfoW(ModuleInstance(), p.ClassName.c_str(), &existing))
        UnregisterClassW(p.ClassName.c_str(), ModuleInstance());
    // Without its class no window of this kind can be made: say which. A class
    // still in use by a window of its own stays as it was registered.
    if (!RegisterClassW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        throw Exception("Cannot register the window class " + Utf16ToUtf8(p.ClassName));
    RegisteredClasses().push_back({p.ClassName, defWndProc_});
}

void TWinControl::CreateWnd() {
    TCreateParams p;
    CreateParams(p);
    if ((p.Style & WS_CHILD) && !p.WndParent) return; // a child window needs its parent's window
    RegisterWindowClass(p);
    creatingWindow_ = true;
    CreationControl = this;
    HWND h = CreateWindowExW(p.ExStyle, p.ClassName.c_str(), p.Caption.c_str(), p.Style, p.X, p.Y, p.Width,
                             p.Height, p.WndParent, nullptr, ModuleInstance(), nullptr);
    CreationControl = nullptr;
    creatingWindow_ = false;
    if (!h) {
        handle_ = nullptr;
        throw Exception("Cannot create the window of " + Name());
    }
    text_.clear(); // the window holds the text from now on
    if (parent_) {
        // Later siblings lie above earlier ones, whatever order the windows are made in.
        HWND above = HWND_TOP;
        const auto& siblings = parent_->controls_;
        auto me = std::find(siblings.begin(), siblings.end(), this);
        for (auto it = me == siblings.end() ? me : me + 1; it != siblings.end(); ++it) {
            auto* w = dynamic_cast<TWinControl*>(*it);
            if (w && w->handle_) {
                above = w->handle_;
                break;
            }
        }
        SetWindowPos(h, above, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Handle()), 1);
    AfterCreateWnd();
}

LRESULT CALLBACK InitWndProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
    TWinControl* c = CreationControl;
    if (!c) return DefWindowProcW(hwnd, msg, w, l);
    CreationControl = nullptr;
    c->handle_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TWinControl::StdWndProc));
    if ((GetWindowLongW(hwnd, GWL_STYLE) & WS_CHILD) && GetWindowLongPtrW(hwnd, GWLP_ID) == 0)
        SetWindowLongPtrW(hwnd, GWLP_ID, reinterpret_cast<LONG_PTR>(hwnd));
    SetPropW(hwnd, MAKEINTATOM(ControlAtom()), c);
    return TWinControl::StdWndProc(hwnd, msg, w, l);
}

TWinControl* TWinControl::FromHandle(HWND hwnd) {
    if (!hwnd) return nullptr;
    return static_cast<TWinControl*>(GetPropW(hwnd, MAKEINTATOM(ControlAtom())));
}

LRESULT CALLBACK TWinControl::StdWndProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
    TWinControl* c = FromHandle(hwnd);
    if (!c) return DefWindowProcW(hwnd, msg, w, l);
    TMessage m{msg, w, l, 0};
    try {
        c->WndProc(m);
    } catch (...) {
        ShowCriticalError();
    }
    if (msg == WM_NCDESTROY) {
        RemovePropW(hwnd, MAKEINTATOM(ControlAtom()));
        if (c->handle_ == hwnd) c->handle_ = nullptr;
    }
    return m.Result;
}

void TWinControl::DefaultHandler(TMessage& m) {
    if (handle_ && m.Msg < CM_ACTIVATE)
        m.Result = CallWindowProcW(defWndProc_, handle_, m.Msg, m.WParam, m.LParam);
}

void TWinControl::DestroyHandle() {
    if (!handle_) return;
    // Keep the text for a window made again later.
    text_ = Text();
    for (TControl* c : controls_)
        if (auto* w = dynamic_cast<TWinControl*>(c)) w->DestroyHandle();
    HWND h = handle_;
    DestroyWindow(h);
    handle_ = nullptr;
}

std::string TWinControl::Text() {
    if (!handle_) return text_;
    int n = static_cast<int>(SendMessageW(handle_, WM_GETTEXTLENGTH, 0, 0));
    std::wstring s(static_cast<std::size_t>(n) + 1, L'\0');
    int got =
        static_cast<int>(SendMessageW(handle_, WM_GETTEXT, s.size(), reinterpret_cast<LPARAM>(s.data())));
    s.resize(static_cast<std::size_t>(std::clamp(got, 0, n)));
    return Utf16ToUtf8(s);
}

void TWinControl::SetText(const std::string& text) {
    if (!handle_) {
        TControl::SetText(text);
        return;
    }
    if (text == Text()) return;
    std::wstring w = Utf8ToUtf16(text);
    SendMessageW(handle_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(w.c_str()));
    Perform(CM_TEXTCHANGED);
}

void TWinControl::SetBounds(int left, int top, int width, int height) {
    if (left == left_ && top == top_ && width == width_ && height == height_) return;
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    if (handle_) SetWindowPos(handle_, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    BoundsChanged();
}

RECT TWinControl::ClientRect() {
    RECT r{0, 0, width_, height_};
    if (handle_) GetClientRect(handle_, &r);
    return r;
}

POINT TWinControl::ClientOrigin() {
    if (handle_) {
        POINT p{0, 0};
        ClientToScreen(handle_, &p);
        return p;
    }
    return TControl::ClientOrigin();
}

void TWinControl::Invalidate() {
    if (handle_) InvalidateRect(handle_, nullptr, TRUE);
}

void TWinControl::Rescale(int m, int d) {
    for (TControl* c : std::vector<TControl*>(controls_)) c->Rescale(m, d);
    TControl::Rescale(m, d);
}

void TWinControl::LoadState(TReader& reader) {
    TControl::LoadState(reader);
    UpdateShowing();
}

bool TWinControl::ShouldShow() {
    if (!visible_ || (ControlState & cstReading)) return false;
    return parent_ && parent_->Showing();
}

void TWinControl::UpdateShowing() {
    bool show = ShouldShow();
    if (show) {
        if (!handle_) Handle();
        if (!handle_) return;
    }
    if (show == showing_) {
        for (TControl* c : std::vector<TControl*>(controls_))
            if (auto* w = dynamic_cast<TWinControl*>(c)) w->UpdateShowing();
        return;
    }
    showing_ = show;
    if (show) {
        for (TControl* c : std::vector<TControl*>(controls_))
            if (auto* w = dynamic_cast<TWinControl*>(c)) w->UpdateShowing();
        ShowingChanged();
    } else {
        ShowingChanged();
        for (TControl* c : std::vector<TControl*>(controls_))
            if (auto* w = dynamic_cast<TWinControl*>(c)) w->UpdateShowing();
    }
    Perform(CM_SHOWINGCHANGED);
}

void TWinControl::ShowingChanged() {
    if (!handle_) return;
    SetWindowPos(handle_, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE |
                     (showing_ ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
}

HBRUSH TWinControl::Brush() {
    if (!brush_.get() || brushColor_ != color_) {
        brush_.reset(CreateSolidBrush(ColorToRGB(color_)));
        brushColor_ = color_;
    }
    return brush_.get();
}

bool TWinControl::CanFocus() {
    for (TWinControl* c = this; c; c = c->parent_) {
        if (!c->visible_ || !c->enabled_) return false;
        if (!c->parent_ && !dynamic_cast<TForm*>(c)) return false;
    }
    return true;
}

bool TWinControl::Focused() const {
    return handle_ && GetFocus() == handle_;
}

void TWinControl::SetFocus() {
    if (TForm* form = ParentForm()) form->FocusControl(this);
}

void TWinControl::TabOrderList(std::vector<TWinControl*>& list) {
    for (TControl* c : controls_) {
        auto* w = dynamic_cast<TWinControl*>(c);
        if (!w) continue;
        list.push_back(w);
        w->TabOrderList(list);
    }
}

TWinControl* TWinControl::NextTabStop(TWinControl* current, bool forward) {
    std::vector<TWinControl*> list;
    TabOrderList(list);
    if (list.empty()) return nullptr;
    auto at = std::find(list.begin(), list.end(), current);
    std::size_t n = list.size();
    std::size_t start =
        at == list.end() ? (forward ? n - 1 : 0) : static_cast<std::size_t>(at - list.begin());
    for (std::size_t step = 1; step <= n; ++step) {
        TWinControl* c = list[forward ? (start + step) % n : (start + n - step) % n];
        if (c->TabStop && c->CanFocus() && c->HandleAllocated()) return c;
    }
    return nullptr;
}

void TWinControl::SelectNext(TWinControl* current, bool forward) {
    if (TWinControl* next = NextTabStop(current, forward)) next->SetFocus();
}

LRESULT TWinControl::Broadcast(TMessage& m) {
    for (TControl* c : std::vector<TControl*>(controls_)) {
        c->WndProc(m);
        if (m.Result != 0) return m.Result;
    }
    return 0;
}

void TWinControl::PaintControls(HDC dc, const RECT* update) {
    for (TControl* c : controls_) {
        auto* g = dynamic_cast<TGraphicControl*>(c);
        if (!g || !g->Visible()) continue;
        RECT r = g->BoundsRect(), hit;
        if (update && !IntersectRect(&hit, &r, update)) continue;
        int saved = SaveDC(dc);
        SetViewportOrgEx(dc, r.left, r.top, nullptr);
        IntersectClipRect(dc, 0, 0, g->Width(), g->Height());
        TCanvas canvas;
        canvas.SetHandle(dc);
        g->Paint(canvas);
        canvas.SetHandle(nullptr);
        RestoreDC(dc, saved);
    }
}

void TWinControl::EraseBackground(HDC dc) {
    RECT r = ClientRect();
    if (ThemesActive() && (ControlStyle & csParentBackground)) {
        ThemeApi().DrawThemeParentBackground(handle_, dc, &r);
        return;
    }
    ::FillRect(dc, &r, Brush());
}

void TWinControl::WndProc(TMessage& m) {
    switch (m.Msg) {
    case WM_ERASEBKGND:
        EraseBackground(reinterpret_cast<HDC>(m.WParam));
        m.Result = 1;
        return;
    case WM_SETFOCUS:
        if (TForm* form = ParentForm()) {
            if (form != this && !form->SetFocusedControl(this)) return;
        }
        DefaultHandler(m);
        return;
    case WM_COMMAND:
        // A control's notification goes to the control that sent it.
        if (m.LParam) {
            if (TWinControl* child = FromHandle(reinterpret_cast<HWND>(m.LParam))) {
                m.Result = child->Perform(CN_COMMAND, m.WParam, m.LParam);
                return;
            }
        }
        DefaultHandler(m);
        return;
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
        if (TWinControl* child = FromHandle(reinterpret_cast<HWND>(m.LParam))) {
            m.Result = child->Perform(m.Msg + CN_BASE, m.WParam, m.LParam);
            return;
        }
        DefaultHandler(m);
        return;
    case CN_CTLCOLORMSGBOX:
    case CN_CTLCOLOREDIT:
    case CN_CTLCOLORLISTBOX:
    case CN_CTLCOLORBTN:
    case CN_CTLCOLORDLG:
    case CN_CTLCOLORSCROLLBAR:
    case CN_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(m.WParam);
        SetTextColor(dc, ColorToRGB(font_.Color()));
        SetBkColor(dc, ColorToRGB(color_));
        m.Result = reinterpret_cast<LRESULT>(Brush());
        return;
    }
    case CN_KEYDOWN:
    case CN_SYSKEYDOWN: {
        m.Result = 1;
        WPARAM key = m.WParam;
        if (TForm* form = ParentForm()) form->ShowKeyboardCues();
        if (Perform(CM_CHILDKEY, key, reinterpret_cast<LPARAM>(this)) != 0) return;
        LRESULT mask = 0;
        switch (key) {
        case VK_TAB:
            mask = DLGC_WANTTAB;
            break;
        case VK_LEFT:
        case VK_UP:
        case VK_RIGHT:
        case VK_DOWN:
            mask = DLGC_WANTARROWS;
            break;
        case VK_RETURN:
        case VK_ESCAPE:
        case VK_CANCEL:
        case VK_EXECUTE:
            mask = DLGC_WANTALLKEYS;
            break;
        }
        if (mask != 0 && Perform(CM_WANTSPECIALKEY, key) == 0 && (Perform(WM_GETDLGCODE) & mask) == 0) {
            if (TForm* form = ParentForm()) {
                if (form->Perform(CM_DIALOGKEY, key, m.LParam) != 0) return;
            }
        }
        m.Result = 0;
        return;
    }
    case CN_CHAR:
    case CN_SYSCHAR: {
        // Mnemonics: Alt+letter anywhere, a plain letter where typing means nothing.
        bool alt = m.Msg == CN_SYSCHAR;
        if (alt || !(Perform(WM_GETDLGCODE) & DLGC_WANTCHARS)) {
            if (TForm* form = ParentForm()) {
                if (form->Perform(CM_DIALOGCHAR, m.WParam, m.LParam) != 0) {
                    m.Result = 1;
                    return;
                }
            }
        }
        m.Result = 0;
        return;
    }
    case CM_CHILDKEY:
        if (parent_) {
            m.Result = parent_->Perform(CM_CHILDKEY, m.WParam, m.LParam);
            return;
        }
        m.Result = 0;
        return;
    case CM_DIALOGKEY:
    case CM_DIALOGCHAR:
        Broadcast(m);
        return;
    case CM_FOCUSCHANGED:
        Broadcast(m);
        m.Result = 0;
        return;
    case CM_VISIBLECHANGED:
        if (!m.LParam) {
            // Before hiding: the focus leaves this control and its children.
            if (!m.WParam) {
                if (TForm* form = ParentForm()) form->ControlGoing(this);
            }
            return;
        }
        UpdateShowing();
        return;
    case CM_ENABLEDCHANGED:
        if (!enabled_) {
            if (TForm* form = ParentForm()) form->ControlGoing(this);
        }
        if (handle_) EnableWindow(handle_, enabled_);
        return;
    case CM_FONTCHANGED:
        if (handle_) SendMessageW(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Handle()), 1);
        for (TControl* c : std::vector<TControl*>(controls_)) c->Perform(CM_PARENTFONTCHANGED);
        return;
    case CM_COLORCHANGED:
        Invalidate();
        for (TControl* c : std::vector<TControl*>(controls_)) c->Perform(CM_PARENTCOLORCHANGED);
        return;
    case CM_TEXTCHANGED:
        return;
    case WM_NCDESTROY:
        DefaultHandler(m);
        return;
    default:
        TControl::WndProc(m);
    }
}
