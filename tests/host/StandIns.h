// Stand-ins for the window classes: the same names, ancestry and published
// properties as the real controls, recording what a definition writes to them.
#pragma once
#include "Classes.h"
#include <string>
#include <vector>

// Names of components in the order their AfterLoad ran.
std::vector<std::string>& AfterLoadLog();

// Registers the nine control classes a definition may name.
void RegisterStandIns();

class TControl : public TComponent {
public:
    static const TClassInfo Info;
    explicit TControl(TComponent* owner) : TComponent(owner) {}
    const TClassInfo* ClassType() const override { return &Info; }

    void AttachToParent(TComponent* parent) override;
    void LoadState(TReader& reader) override;
    void AfterLoad() override;

    void SetLeft(std::int32_t v) { Store("Left", v, Left, 1); }
    void SetTop(std::int32_t v) { Store("Top", v, Top, 2); }
    void SetWidth(std::int32_t v) { Store("Width", v, Width, 4); }
    void SetHeight(std::int32_t v) { Store("Height", v, Height, 8); }
    void SetCaption(const std::string& s) {
        Caption = s;
        Record("Caption='" + s + "'");
    }
    void Record(const std::string& what);

    TComponent* Parent = nullptr;
    std::string NameWhenAttached = "-";
    bool LoadingWhenAttached = false;
    bool ParentSeenByLoadState = false;
    std::int32_t Left = 0, Top = 0, Width = 0, Height = 0;
    std::uint8_t ScalingFlags = 0;
    std::string Caption;
    std::string Written; // "Left=20 Top=14 ..." in the order written

private:
    void Store(const char* name, std::int32_t v, std::int32_t& field, std::uint8_t flag);
};

class TWinControl : public TControl {
public:
    static const TClassInfo Info;
    using TControl::TControl;
    const TClassInfo* ClassType() const override { return &Info; }
};

class TGraphicControl : public TControl {
public:
    static const TClassInfo Info;
    using TControl::TControl;
    const TClassInfo* ClassType() const override { return &Info; }
};

class TCustomControl : public TWinControl {
public:
    static const TClassInfo Info;
    using TWinControl::TWinControl;
    const TClassInfo* ClassType() const override { return &Info; }
};

class TButtonControl : public TWinControl {
public:
    static const TClassInfo Info;
    using TWinControl::TWinControl;
    const TClassInfo* ClassType() const override { return &Info; }
};

class TButton : public TButtonControl {
public:
    static const TClassInfo Info;
    using TButtonControl::TButtonControl;
    const TClassInfo* ClassType() const override { return &Info; }
    bool Cancel = false;
    bool Default = false;
    TNotifyEvent OnClick;
};

class TCheckBox : public TButtonControl {
public:
    static const TClassInfo Info;
    using TButtonControl::TButtonControl;
    const TClassInfo* ClassType() const override { return &Info; }
    void SetChecked(bool v) {
        Checked = v;
        Record(v ? "Checked=True" : "Checked=False");
    }
    bool Checked = false;
};

class TLabel : public TWinControl {
public:
    static const TClassInfo Info;
    using TWinControl::TWinControl;
    const TClassInfo* ClassType() const override { return &Info; }
    void SetAutoSize(bool v) {
        AutoSize = v;
        Record(v ? "AutoSize=True" : "AutoSize=False");
    }
    bool AutoSize = true;
};

class TComboBox : public TWinControl {
public:
    static const TClassInfo Info;
    using TWinControl::TWinControl;
    const TClassInfo* ClassType() const override { return &Info; }
    TNotifyEvent OnChange;
};

class TEdit : public TWinControl {
public:
    static const TClassInfo Info;
    using TWinControl::TWinControl;
    const TClassInfo* ClassType() const override { return &Info; }
};

class TMemo : public TEdit {
public:
    static const TClassInfo Info;
    using TEdit::TEdit;
    const TClassInfo* ClassType() const override { return &Info; }
};

enum TPanelBevel : std::uint8_t { bvNone, bvLowered, bvRaised };

class TPanel : public TCustomControl {
public:
    static const TClassInfo Info;
    using TCustomControl::TCustomControl;
    const TClassInfo* ClassType() const override { return &Info; }
    void SetColor(std::int32_t v) {
        Color = v;
        Record("Color=" + std::to_string(v));
    }
    TPanelBevel BevelInner = bvNone;
    TPanelBevel BevelOuter = bvRaised;
    std::int32_t Color = static_cast<std::int32_t>(0x80000005u);
};

class TBevel : public TGraphicControl {
public:
    static const TClassInfo Info;
    using TGraphicControl::TGraphicControl;
    const TClassInfo* ClassType() const override { return &Info; }
    void SetShape(std::int32_t v) {
        Shape = v;
        Record("Shape=" + std::to_string(v));
    }
    std::int32_t Shape = 0; // bsBox
};

class TImage : public TGraphicControl {
public:
    static const TClassInfo Info;
    using TGraphicControl::TGraphicControl;
    const TClassInfo* ClassType() const override { return &Info; }
};

// Runs code around the default body, as the real form's scaling does.
class TForm : public TWinControl {
public:
    static const TClassInfo Info;
    using TWinControl::TWinControl;
    const TClassInfo* ClassType() const override { return &Info; }
    void LoadState(TReader& reader) override;
    void SetClientWidth(std::int32_t v) {
        ClientWidth = v;
        Record("ClientWidth=" + std::to_string(v));
    }
    void SetClientHeight(std::int32_t v) {
        ClientHeight = v;
        Record("ClientHeight=" + std::to_string(v));
    }
    std::int32_t ClientWidth = 0, ClientHeight = 0;
    TCloseQueryEvent OnCloseQuery;
    std::string WrittenBeforeBody = "-";
    int ChildrenAfterBody = -1;
};

class TMainForm : public TForm {
public:
    static const TClassInfo Info;
    using TForm::TForm;
    const TClassInfo* ClassType() const override { return &Info; }

    TPanel* TopPan = nullptr;
    TLabel* TopLbl = nullptr;
    TImage* LogoImg = nullptr;
    TPanel* WPan = nullptr;
    TLabel* WelLbl = nullptr;
    TComboBox* LngBx = nullptr;
    TPanel* LPan = nullptr;
    TMemo* LicMemo = nullptr;
    TCheckBox* LicBx = nullptr;
    TPanel* DPan = nullptr;
    TEdit* DstEdt = nullptr;
    TButton* BwsBtn = nullptr;
    TCheckBox* PortBx = nullptr;
    TButton* PortIBtn = nullptr;
    TPanel* SPan = nullptr;
    TLabel* StartLbl = nullptr;
    TCheckBox* Inst2AllBx = nullptr;
    TCheckBox* DskBx = nullptr;
    TPanel* IPan = nullptr;
    TPanel* FPan = nullptr;
    TLabel* FinLbl = nullptr;
    TCheckBox* FinBx = nullptr;
    TButton* BBtn = nullptr;
    TButton* NBtn = nullptr;
    TButton* CBtn = nullptr;

    void BNClk(TPersistent* sender) { Called("BNClk", sender); }
    void CClk(TPersistent* sender) { Called("CClk", sender); }
    void LngChg(TPersistent* sender) { Called("LngChg", sender); }
    void BwsClk(TPersistent* sender) { Called("BwsClk", sender); }
    void PortIClk(TPersistent* sender) { Called("PortIClk", sender); }
    void FormCloseQuery(TPersistent* sender, bool& canClose) {
        Called("FormCloseQuery", sender);
        canClose = false;
    }

    std::vector<std::string> Calls; // "BNClk NBtn"

private:
    void Called(const char* method, TPersistent* sender);
};
