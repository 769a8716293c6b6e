#include "StdCtrls.h"
#include "Forms.h"
#include "TextConv.h"

namespace {
const TPropInfo ComboProps[] = {EventProperty<&TComboBox::OnChange>("OnChange")};
const TPropInfo ButtonProps[] = {
    BooleanProperty<&TButton::Cancel>("Cancel"),
    StringProperty<&TButton::SetCaption>("Caption"),
    BooleanProperty<&TButton::SetDefault>("Default"),
    EventProperty<&TButton::OnClick>("OnClick"),
};
const TPropInfo CheckBoxProps[] = {
    StringProperty<&TCheckBox::SetCaption>("Caption"),
    BooleanProperty<&TCheckBox::SetChecked>("Checked"),
};
const TPropInfo LabelProps[] = {
    BooleanProperty<&TLabel::SetAutoSize>("AutoSize"),
    StringProperty<&TLabel::SetCaption>("Caption"),
};

// True when a typed character is the caption's mnemonic (compared without case).
bool IsMnemonic(const std::string& caption, WPARAM typed) {
    wchar_t mnemonic = MnemonicOf(Utf8ToUtf16(caption));
    auto upper = [](wchar_t c) {
        return CharUpperW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(static_cast<unsigned short>(c))));
    };
    return mnemonic && upper(mnemonic) == upper(static_cast<wchar_t>(typed));
}

bool ShiftStateFree() {
    return !(GetKeyState(VK_SHIFT) & 0x8000) && !(GetKeyState(VK_CONTROL) & 0x8000) &&
           !(GetKeyState(VK_MENU) & 0x8000);
}
} // namespace

const TClassInfo TEdit::Info{"TEdit", &TWinControl::Info, &CreateComponent<TEdit>, {}, {}, {}};
const TClassInfo TMemo::Info{"TMemo", &TEdit::Info, &CreateComponent<TMemo>, {}, {}, {}};
const TClassInfo TComboBox::Info{"TComboBox", &TWinControl::Info, &CreateComponent<TComboBox>, ComboProps, {},
                                 {}};
const TClassInfo TLabel::Info{"TLabel", &TWinControl::Info, &CreateComponent<TLabel>, LabelProps, {}, {}};
const TClassInfo TButtonControl::Info{
    "TButtonControl", &TWinControl::Info, &CreateComponent<TButtonControl>, {}, {}, {}};
const TClassInfo TButton::Info{"TButton", &TButtonControl::Info, &CreateComponent<TButton>, ButtonProps, {},
                               {}};
const TClassInfo TCheckBox::Info{
    "TCheckBox", &TButtonControl::Info, &CreateComponent<TCheckBox>, CheckBoxProps, {}, {}};

wchar_t MnemonicOf(const std::wstring& caption) {
    for (std::size_t i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != L'&') continue;
        if (caption[i + 1] == L'&') {
            ++i;
            continue;
        }
        return caption[i + 1];
    }
    return 0;
}

// ---- TEdit

TEdit::TEdit(TComponent* owner) : TWinControl(owner) {
    width_ = 121;
    height_ = 25;
    TabStop = true;
    parentColor_ = false;
    color_ = clWindow;
    ControlStyle |= csFixedHeight; // with auto-height the font decides the height
}

void TEdit::SetReadOnly(bool value) {
    readOnly_ = value;
    if (handle_) SendMessageW(handle_, EM_SETREADONLY, value, 0);
}

void TEdit::CreateParams(TCreateParams& p) {
    TWinControl::CreateParams(p);
    p.SystemClass = L"EDIT";
    p.Style |= ES_AUTOHSCROLL | ES_AUTOVSCROLL;
    if (readOnly_) p.Style |= ES_READONLY;
    p.Style &= ~static_cast<DWORD>(WS_BORDER);
    p.ExStyle |= WS_EX_CLIENTEDGE;
}

void TEdit::AfterCreateWnd() {
    AdjustHeight();
}

void TEdit::AdjustHeight() {
    if (!AutoHeight) return;
    HDC dc = GetDC(nullptr);
    if (!dc) return; // nothing to measure with: the stored height stays
    HGDIOBJ old = SelectObject(dc, font_.Handle());
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    SetBounds(left_, top_, width_, tm.tmHeight + 8 * GetSystemMetrics(SM_CYBORDER));
}

void TEdit::WndProc(TMessage& m) {
    switch (m.Msg) {
    case CN_COMMAND:
        if (HIWORD(m.WParam) == EN_CHANGE && !creatingWindow_) Perform(CM_CHANGED);
        return;
    case CM_FONTCHANGED:
        TWinControl::WndProc(m);
        if (handle_) AdjustHeight();
        return;
    default:
        TWinControl::WndProc(m);
    }
}

// ---- TMemo

TMemo::TMemo(TComponent* owner) : TEdit(owner) {
    width_ = 185;
    height_ = 89;
    AutoHeight = false;
    ControlStyle &= ~static_cast<std::uint32_t>(csFixedHeight);
}

void TMemo::CreateParams(TCreateParams& p) {
    TEdit::CreateParams(p);
    p.Style &= ~static_cast<DWORD>(ES_AUTOHSCROLL);
    p.Style |= ES_MULTILINE | WS_VSCROLL;
    p.Caption.clear(); // the text follows by WM_SETTEXT
}

void TMemo::SetText(const std::string& text) {
    // A multi-line edit breaks lines at CR LF only.
    std::string t;
    t.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r') {
            t += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (c == '\n') {
            t += "\r\n";
        } else {
            t.push_back(c);
        }
    }
    TEdit::SetText(t);
}

void TMemo::WndProc(TMessage& m) {
    if (m.Msg == WM_GETDLGCODE) {
        TEdit::WndProc(m);
        // Tab, Enter and Escape keep their meaning in the dialog.
        m.Result &= ~static_cast<LRESULT>(DLGC_WANTTAB | DLGC_WANTALLKEYS);
        return;
    }
    if (m.Msg == WM_CREATE) {
        TEdit::WndProc(m);
        if (!text_.empty()) {
            std::wstring w = Utf8ToUtf16(text_);
            CallWindowProcW(defWndProc_, handle_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(w.c_str()));
        }
        return;
    }
    TEdit::WndProc(m);
}

// ---- TComboBox

TComboBox::TComboBox(TComponent* owner) : TWinControl(owner) {
    width_ = 145;
    height_ = 25;
    TabStop = true;
    parentColor_ = false;
    color_ = clWindow;
}

void TComboBox::CreateParams(TCreateParams& p) {
    TWinControl::CreateParams(p);
    p.SystemClass = L"COMBOBOX";
    p.Style |= CBS_DROPDOWNLIST | CBS_AUTOHSCROLL | CBS_HASSTRINGS | WS_VSCROLL;
    p.ExStyle |= WS_EX_CLIENTEDGE;
    p.Height = 200; // room for the drop-down list
}

void TComboBox::AfterCreateWnd() {
    for (const auto& item : items_) {
        std::wstring w = Utf8ToUtf16(item);
        SendMessageW(handle_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(w.c_str()));
    }
}

void TComboBox::AddItem(const std::string& item) {
    items_.push_back(item);
    if (handle_) {
        std::wstring w = Utf8ToUtf16(item);
        SendMessageW(handle_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(w.c_str()));
    }
}

void TComboBox::WndProc(TMessage& m) {
    switch (m.Msg) {
    case CN_COMMAND:
        if (HIWORD(m.WParam) == CBN_SELCHANGE) {
            LRESULT i = SendMessageW(handle_, CB_GETCURSEL, 0, 0);
            if (i >= 0 && static_cast<std::size_t>(i) < items_.size())
                text_ = items_[static_cast<std::size_t>(i)];
            Perform(CM_CHANGED);
            OnChange(this);
        }
        return;
    case WM_GETDLGCODE:
        TWinControl::WndProc(m);
        if (handle_ && SendMessageW(handle_, CB_GETDROPPEDSTATE, 0, 0)) m.Result |= DLGC_WANTALLKEYS;
        return;
    default:
        TWinControl::WndProc(m); // colour requests: its font colour on its brush
    }
}

// ---- TLabel

TLabel::TLabel(TComponent* owner) : TWinControl(owner) {
    width_ = 65;
    height_ = 17;
}

void TLabel::CreateParams(TCreateParams& p) {
    TWinControl::CreateParams(p);
    p.SystemClass = L"STATIC";
    p.Style |= SS_NOTIFY | SS_LEFT;
}

void TLabel::SetAutoSize(bool value) {
    if (value == autoSize_) return;
    autoSize_ = value;
    AdjustBounds();
}

void TLabel::AdjustBounds() {
    if (!autoSize_ || (ComponentState() & csReading) || (ControlState & cstReading) || Displayless()) return;
    TCanvas canvas;
    canvas.Font().Assign(font_);
    SIZE s = canvas.TextExtent(Utf8ToUtf16(Text()));
    SetBounds(left_, top_, s.cx + s.cy / 4, s.cy + s.cy / 4);
}

void TLabel::AfterLoad() {
    TWinControl::AfterLoad();
    AdjustBounds();
}

void TLabel::WndProc(TMessage& m) {
    switch (m.Msg) {
    case CM_FONTCHANGED:
    case CM_TEXTCHANGED:
        TWinControl::WndProc(m);
        AdjustBounds();
        return;
    case CN_CTLCOLORSTATIC:
        if (ThemesActive()) {
            HDC dc = reinterpret_cast<HDC>(m.WParam);
            SetBkMode(dc, TRANSPARENT);
            SetTextColor(dc, ColorToRGB(font_.Color()));
            ThemeApi().DrawThemeParentBackground(handle_, dc, nullptr);
            m.Result = reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
            return;
        }
        TWinControl::WndProc(m);
        return;
    default:
        TWinControl::WndProc(m);
    }
}

// ---- TButtonControl

TButtonControl::TButtonControl(TComponent* owner) : TWinControl(owner) {
    TabStop = true;
}

void TButtonControl::WndProc(TMessage& m) {
    if (ThemesActive()) {
        switch (m.Msg) {
        case WM_ERASEBKGND:
            m.Result = 1;
            return;
        case CN_CTLCOLORBTN:
        case CN_CTLCOLORSTATIC: {
            HDC dc = reinterpret_cast<HDC>(m.WParam);
            SetBkMode(dc, TRANSPARENT);
            ThemeApi().DrawThemeParentBackground(handle_, dc, nullptr);
            m.Result = reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
            return;
        }
        }
    }
    TWinControl::WndProc(m);
}

// ---- TButton

TButton::TButton(TComponent* owner) : TButtonControl(owner) {}

void TButton::CreateParams(TCreateParams& p) {
    TButtonControl::CreateParams(p);
    p.SystemClass = L"BUTTON";
    p.Style |= default_ ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
}

void TButton::SetDefault(bool value) {
    if (value == default_) return;
    default_ = value;
    if (TForm* form = ParentForm()) {
        TWinControl* focused = form->ActiveControl();
        SetActiveDefault(focused == this || (!dynamic_cast<TButton*>(focused) && default_));
    }
}

void TButton::SetActiveDefault(bool active) {
    if (active == active_) return;
    active_ = active;
    if (handle_) SendMessageW(handle_, BM_SETSTYLE, active ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, 1);
}

void TButton::Click() {
    if (TForm* form = ParentForm()) form->ModalResult = ModalResult;
    TButtonControl::Click();
}

void TButton::WndProc(TMessage& m) {
    switch (m.Msg) {
    case CN_COMMAND:
        if (HIWORD(m.WParam) == BN_CLICKED) Click();
        return;
    case CM_FOCUSCHANGED: {
        auto* focused = reinterpret_cast<TWinControl*>(m.LParam);
        SetActiveDefault(focused == this || (!dynamic_cast<TButton*>(focused) && default_));
        m.Result = 0;
        return;
    }
    case CM_DIALOGKEY:
        if (((m.WParam == VK_RETURN && active_) || (m.WParam == VK_ESCAPE && Cancel)) && ShiftStateFree() &&
            CanFocus()) {
            Click();
            m.Result = 1;
            return;
        }
        m.Result = 0;
        return;
    case CM_DIALOGCHAR:
        // As in a dialog: the mnemonic focuses the button and presses it; a
        // hidden or disabled button (or one on a hidden page) never answers.
        if (IsMnemonic(Text(), m.WParam) && CanFocus() && handle_) {
            SetFocus();
            Click();
            m.Result = 1;
            return;
        }
        m.Result = 0;
        return;
    default:
        TButtonControl::WndProc(m);
    }
}

// ---- TCheckBox

TCheckBox::TCheckBox(TComponent* owner) : TButtonControl(owner) {
    width_ = 97;
    height_ = 17;
}

void TCheckBox::CreateParams(TCreateParams& p) {
    TButtonControl::CreateParams(p);
    p.SystemClass = L"BUTTON";
    p.Style |= BS_3STATE;
}

void TCheckBox::Rescale(int m, int d) {
    // The default height is a design size like the stored ones: it grows with the
    // form, so that the system's glyph and the caption stay whole at any scale.
    if (ComponentState() & csLoading) ScalingFlags |= sfHeight;
    TButtonControl::Rescale(m, d);
}

void TCheckBox::AfterCreateWnd() {
    SendMessageW(handle_, BM_SETCHECK, checked_ ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TCheckBox::SetChecked(bool value) {
    if (value == checked_) return;
    checked_ = value;
    if (handle_) SendMessageW(handle_, BM_SETCHECK, value ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TCheckBox::WndProc(TMessage& m) {
    switch (m.Msg) {
    case CN_COMMAND:
        if (HIWORD(m.WParam) == BN_CLICKED) {
            Toggle();
            Click();
        }
        return;
    case CM_DIALOGCHAR:
        if (IsMnemonic(Text(), m.WParam) && CanFocus()) {
            SetFocus();
            Toggle();
            Click();
            m.Result = 1;
            return;
        }
        m.Result = 0;
        return;
    default:
        TButtonControl::WndProc(m);
    }
}
