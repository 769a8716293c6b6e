// The test form of GuiForm.dfm (resource TGUIFORM): its published fields and
// handlers, with counters the tests read. Each test program has its own copy.
#pragma once
#include "ExtCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"
#include <vector>

namespace {
class TGuiForm : public TForm {
public:
    static const TClassInfo Info;
    const TClassInfo* ClassType() const override { return &Info; }
    explicit TGuiForm(const std::wstring& face = L"", int fontHeight = 0) : TForm(nullptr) {
        if (!face.empty()) Font().SetName(face);
        if (fontHeight) Font().SetHeight(fontHeight);
        LoadDefinition();
    }
    TPanel* Pan = nullptr;
    TLabel* Lbl = nullptr;
    TEdit* Edt = nullptr;
    TCheckBox* Box = nullptr;
    TBevel* Bvl = nullptr;
    TButton* OkBtn = nullptr;
    TButton* CancelBtn = nullptr;

    int okClicks = 0, cancelClicks = 0, closeQueries = 0;
    bool refuseClose = false;
    std::vector<int> modalSeen;
    void OkClk(TPersistent*) { ++okClicks; }
    void CancelClk(TPersistent*) { ++cancelClicks; }
    void FormCloseQuery(TPersistent*, bool& canClose) {
        ++closeQueries;
        if (refuseClose) {
            canClose = false;
            refuseClose = false;
        }
    }
    void WndProc(TMessage& m) override {
        if (m.Msg == WM_APP) {
            modalSeen.push_back(ModalResult);
            return;
        }
        TForm::WndProc(m);
    }
};

const TFieldInfo GuiFields[] = {
    PublishedField<&TGuiForm::Pan>("Pan"),
    PublishedField<&TGuiForm::Lbl>("Lbl"),
    PublishedField<&TGuiForm::Edt>("Edt"),
    PublishedField<&TGuiForm::Box>("Box"),
    PublishedField<&TGuiForm::Bvl>("Bvl"),
    PublishedField<&TGuiForm::OkBtn>("OkBtn"),
    PublishedField<&TGuiForm::CancelBtn>("CancelBtn"),
};
const TMethodInfo GuiMethods[] = {
    PublishedMethod<&TGuiForm::OkClk>("OkClk"),
    PublishedMethod<&TGuiForm::CancelClk>("CancelClk"),
    PublishedMethod<&TGuiForm::FormCloseQuery>("FormCloseQuery"),
};
} // namespace
const TClassInfo TGuiForm::Info{"TGuiForm", &TForm::Info, nullptr, {}, GuiFields, GuiMethods};
