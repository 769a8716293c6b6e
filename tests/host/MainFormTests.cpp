// The wizard's definition as the build converted it: its size, its component
// tree with every stored value, its fields and events, and the reader's answer
// to every truncation and to random damage.
#include "Classes.h"
#include "StandIns.h"
#include <gtest/gtest.h>
#include <cstdio>
#include <random>
#include <string>

namespace {
std::string MainFormBytes() {
    std::string bytes;
    if (std::FILE* f = std::fopen(MAINFORM_BIN, "rb")) {
        char block[4096];
        std::size_t n;
        while ((n = std::fread(block, 1, sizeof block, f)) > 0) bytes.append(block, n);
        std::fclose(f);
    }
    return bytes;
}

struct Expected {
    const char* name;
    const char* className;
    const char* parent;
    const char* written;
};

// In stream order: what each component gets from the definition.
const Expected Tree[] = {
    {"TopPan", "TPanel", "MainForm", "Width=492 Height=46 Color=16777215"},
    {"TopLbl", "TLabel", "TopPan", "Left=20 Top=14"},
    {"LftPan", "TPanel", "MainForm", "Top=46 Width=123 Height=301"},
    {"LogoImg", "TImage", "LftPan", "Width=120 Height=260"},
    {"LftBvl", "TBevel", "LftPan", "Left=121 Width=2 Height=301 Shape=1"},
    {"WPan", "TPanel", "MainForm", "Left=123 Top=47 Width=369 Height=261"},
    {"WelLbl", "TLabel", "WPan", "Left=12 Top=27 Width=345 Height=75 AutoSize=False"},
    {"LngLbl", "TLabel", "WPan", ""},
    {"LngBx", "TComboBox", "WPan", ""},
    {"LPan", "TPanel", "MainForm", ""},
    {"LicMemo", "TMemo", "LPan", "Left=12 Top=10 Width=345 Height=215"},
    {"LicBx", "TCheckBox", "LPan", "Left=12 Top=235 Width=345 Checked=True"},
    {"DPan", "TPanel", "MainForm", ""},
    {"DstEdt", "TEdit", "DPan", "Left=12 Top=30 Width=252"},
    {"BwsBtn", "TButton", "DPan", "Left=266 Top=30 Width=90 Height=22"},
    {"PortBx", "TCheckBox", "DPan", "Left=12 Top=80"},
    {"PortIBtn", "TButton", "DPan", "Top=77 Width=40 Height=22 Caption='  ?  '"},
    {"SPan", "TPanel", "MainForm", ""},
    {"StartLbl", "TLabel", "SPan", "Left=12 Top=27 Width=345 Height=100 AutoSize=False"},
    {"Inst2AllBx", "TCheckBox", "SPan", "Left=12 Top=189 Width=300"},
    {"DskBx", "TCheckBox", "SPan", "Left=12 Top=212 Width=300"},
    {"IPan", "TPanel", "MainForm", ""},
    {"FPan", "TPanel", "MainForm", ""},
    {"FinLbl", "TLabel", "FPan", "Left=12 Top=27 Width=345 Height=150 AutoSize=False"},
    {"FinBx", "TCheckBox", "FPan", "Left=12 Top=190 Width=300"},
    {"BtmBvlPan", "TPanel", "MainForm", "Top=306 Width=492 Height=2"},
    {"BtmBvl", "TBevel", "BtmBvlPan", "Left=1 Width=491 Height=2"},
    {"BtmPan", "TPanel", "MainForm", "Top=307 Width=492 Height=44"},
    {"BBtn", "TButton", "BtmPan", "Left=210 Top=12 Width=85 Height=22"},
    {"NBtn", "TButton", "BtmPan", "Left=295 Top=12 Width=85 Height=22"},
    {"CBtn", "TButton", "BtmPan", "Left=392 Top=12 Width=85 Height=22"},
};

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterStandIns();
        AfterLoadLog().clear();
        bytes = MainFormBytes();
        ASSERT_FALSE(bytes.empty()) << "cannot read " << MAINFORM_BIN;
    }

    // Loads (a piece of) the definition into a new form; false on EReadError.
    static bool TryLoad(const std::string& data, TMainForm& form) {
        TReadOnlyMemoryStream stream(data.data(), static_cast<std::int32_t>(data.size()));
        try {
            ReadComponent(stream, form);
        } catch (const EReadError& e) {
            EXPECT_EQ(e.Message().rfind("Error reading ", 0), 0u) << e.Message();
            return false;
        }
        return true;
    }

    std::string bytes;
};
} // namespace

TEST_F(MainFormTest, IsReadExactlyIntoTheWizardsTree) {
    EXPECT_EQ(bytes.size(), 1419u);
    EXPECT_EQ(bytes.substr(0, 23), std::string("TPF0\x09TMainForm\x08MainForm"));

    std::string withTail = bytes + "next";
    TReadOnlyMemoryStream stream(withTail.data(), static_cast<std::int32_t>(withTail.size()));
    TMainForm form(nullptr);
    ReadComponent(stream, form);
    EXPECT_EQ(stream.Position(), 1419);

    EXPECT_EQ(form.Name(), "MainForm");
    EXPECT_EQ(form.Written, "ClientHeight=351 ClientWidth=492");
    ASSERT_EQ(form.ComponentCount(), 31);
    for (std::size_t i = 0; i < std::size(Tree); ++i) {
        const Expected& e = Tree[i];
        auto* c = dynamic_cast<TControl*>(form.Components()[i]);
        ASSERT_NE(c, nullptr) << i;
        SCOPED_TRACE(e.name);
        EXPECT_EQ(c->Name(), e.name);
        EXPECT_STREQ(c->ClassName(), e.className);
        ASSERT_NE(c->Parent, nullptr);
        EXPECT_EQ(c->Parent->Name(), e.parent);
        EXPECT_EQ(c->Owner(), &form);
        EXPECT_EQ(c->Written, e.written);
        EXPECT_EQ(c->ComponentState(), 0);
    }
    // Every component had its AfterLoad, the form first.
    ASSERT_EQ(AfterLoadLog().size(), 32u);
    EXPECT_EQ(AfterLoadLog()[0], "MainForm");

    // Values stored directly, not through a setter.
    EXPECT_EQ(form.TopPan->BevelInner, bvRaised);
    EXPECT_EQ(form.TopPan->BevelOuter, bvLowered);
    EXPECT_EQ(form.WPan->BevelInner, bvNone); // untouched defaults
    EXPECT_EQ(form.WPan->BevelOuter, bvRaised);
    for (TButton* b : {form.BBtn, form.NBtn, form.CBtn, form.BwsBtn, form.PortIBtn}) {
        EXPECT_EQ(b->Default, b == form.NBtn) << b->Name();
        EXPECT_EQ(b->Cancel, b == form.CBtn) << b->Name();
    }
    EXPECT_EQ(form.PortIBtn->Caption, "  ?  ");
}

TEST_F(MainFormTest, FieldsAndEventsAreBoundToTheForm) {
    TMainForm form(nullptr);
    ASSERT_TRUE(TryLoad(bytes, form));

    // Every published field holds the component of its name; six have none.
    std::vector<std::string> unbound;
    for (TComponent* c : form.Components()) {
        const TFieldInfo* field = FindFieldInfo(&TMainForm::Info, c->Name());
        if (!field)
            unbound.push_back(c->Name());
        else
            EXPECT_EQ(field->Get(&form), c) << c->Name();
    }
    EXPECT_EQ(unbound,
              (std::vector<std::string>{"LftPan", "LftBvl", "LngLbl", "BtmBvlPan", "BtmBvl", "BtmPan"}));
    EXPECT_EQ(TMainForm::Info.Fields.size(), 25u);

    for (TButton* b : {form.BBtn, form.NBtn, form.CBtn, form.BwsBtn, form.PortIBtn}) b->OnClick(b);
    bool canClose = true;
    form.OnCloseQuery(&form, canClose);
    EXPECT_FALSE(canClose);
    EXPECT_FALSE(form.LngBx->OnChange); // the wizard binds it itself
    EXPECT_EQ(form.Calls, (std::vector<std::string>{"BNClk BBtn", "BNClk NBtn", "CClk CBtn", "BwsClk BwsBtn",
                                                    "PortIClk PortIBtn", "FormCloseQuery MainForm"}));
}

TEST_F(MainFormTest, EveryTruncationFailsCleanly) {
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        TMainForm form(nullptr);
        EXPECT_FALSE(TryLoad(bytes.substr(0, cut), form)) << cut;
        EXPECT_TRUE(AfterLoadLog().empty()) << cut;
    }
}

TEST_F(MainFormTest, RandomDamageLoadsOrFailsCleanly) {
    std::mt19937 random(20240517);
    int failed = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string damaged = bytes;
        int changes = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < changes; ++i)
            damaged[random() % damaged.size()] = static_cast<char>(random() % 4 == 0 ? 0 : random());
        TMainForm form(nullptr);
        if (!TryLoad(damaged, form)) ++failed;
    }
    // Most damage is noticed; the rest changes values the reader accepts.
    EXPECT_GT(failed, 1000);
}
