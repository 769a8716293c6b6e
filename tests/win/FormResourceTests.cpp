// Resources as streams, and forms read from their RCDATA definitions.
#include "Classes.h"
#include "ResourceStream.h"
#include <gtest/gtest.h>

namespace {
class TTestButton : public TComponent {
public:
    static const TClassInfo Info;
    using TComponent::TComponent;
    const TClassInfo* ClassType() const override { return &Info; }
    std::int32_t Left = 0;
    std::string Caption;
    TNotifyEvent OnClick;
};

class TTestForm : public TComponent {
public:
    static const TClassInfo Info;
    using TComponent::TComponent;
    const TClassInfo* ClassType() const override { return &Info; }
    void OkClk(TPersistent*) { ++clicks; }
    std::int32_t Height = 0;
    TTestButton* OkBtn = nullptr;
    int clicks = 0;
};

// No definition is stored for this one.
class TUnstoredForm : public TTestForm {
public:
    static const TClassInfo Info;
    using TTestForm::TTestForm;
    const TClassInfo* ClassType() const override { return &Info; }
};

const TPropInfo ButtonProps[] = {
    IntegerProperty<&TTestButton::Left>("Left"),
    StringProperty<&TTestButton::Caption>("Caption"),
    EventProperty<&TTestButton::OnClick>("OnClick"),
};
const TPropInfo FormProps[] = {IntegerProperty<&TTestForm::Height>("Height")};
const TFieldInfo FormFields[] = {PublishedField<&TTestForm::OkBtn>("OkBtn")};
const TMethodInfo FormMethods[] = {PublishedMethod<&TTestForm::OkClk>("OkClk")};
const TClassInfo TTestButton::Info{
    "TTestButton", &TComponent::Info, &CreateComponent<TTestButton>, ButtonProps, {}, {}};
const TClassInfo TTestForm::Info{"TTestForm", &TComponent::Info, &CreateComponent<TTestForm>,
                                 FormProps,   FormFields,        FormMethods};
const TClassInfo TUnstoredForm::Info{
    "TUnstoredForm", &TTestForm::Info, &CreateComponent<TUnstoredForm>, {}, {}, {}};

HINSTANCE Self() {
    return GetModuleHandleW(nullptr);
}
} // namespace

TEST(ResourceStream, ReadsInPlaceAndIgnoresWrites) {
    TResourceStream stream(Self(), "plain", MAKEINTRESOURCEA(10));
    ASSERT_EQ(stream.Size(), 10);
    char bytes[16] = {};
    EXPECT_EQ(stream.Read(bytes, 4), 4);
    EXPECT_STREQ(bytes, "0123");
    EXPECT_EQ(stream.Write("xx", 2), 0);
    EXPECT_EQ(stream.Position(), 4);
    EXPECT_EQ(stream.Read(bytes, sizeof bytes), 6);
    EXPECT_EQ(std::string(bytes, 6), "456789");
    EXPECT_EQ(stream.Read(bytes, 1), 0);
    stream.SetPosition(0);
    EXPECT_EQ(stream.Read(bytes, 2), 2);
    EXPECT_EQ(std::string(bytes, 2), "01"); // the write changed nothing

    try {
        TResourceStream missing(Self(), "NOSUCHFORM", MAKEINTRESOURCEA(10));
        FAIL() << "opened a missing resource";
    } catch (const EResNotFound& e) {
        EXPECT_EQ(e.Message(), "Resource NOSUCHFORM not found");
    }
    // The right name with the wrong type is missing too.
    EXPECT_THROW(TResourceStream(Self(), "PLAIN", MAKEINTRESOURCEA(6)), EResNotFound);
}

TEST(ResourceStream, FormsReadTheDefinitionNamedAfterTheirClass) {
    const TClassInfo* classes[] = {&TTestButton::Info};
    RegisterClassList(classes);
    UseClassResourcesOf(Self());

    TTestForm form(nullptr);
    LoadFromClassResources(&form, &TComponent::Info);
    EXPECT_EQ(form.Name(), "TestForm");
    EXPECT_EQ(form.Height, 200);
    ASSERT_NE(form.OkBtn, nullptr);
    EXPECT_EQ(form.OkBtn->Left, -10);
    EXPECT_EQ(form.OkBtn->Caption, "OK\xE9");
    form.OkBtn->OnClick(form.OkBtn);
    EXPECT_EQ(form.clicks, 1);
    EXPECT_EQ(form.ComponentState(), 0);
    EXPECT_EQ(form.OkBtn->ComponentState(), 0);

    // Each class down from the stop class needs its own definition.
    TUnstoredForm unstored(nullptr);
    try {
        LoadFromClassResources(&unstored, &TComponent::Info);
        FAIL() << "read a form that has no definition";
    } catch (const EResNotFound& e) {
        EXPECT_EQ(e.Message(), "Resource TUnstoredForm not found");
    }
    // The ancestor's definition came first and stays read, without AfterLoad.
    ASSERT_NE(unstored.OkBtn, nullptr);
    EXPECT_EQ(unstored.ComponentCount(), 1);
    EXPECT_EQ(unstored.OkBtn->ComponentState(), csLoading);
    // Below TTestForm only TUnstoredForm's own one is wanted.
    TUnstoredForm again(nullptr);
    EXPECT_THROW(LoadFromClassResources(&again, &TTestForm::Info), EResNotFound);
    EXPECT_EQ(again.ComponentCount(), 0);
}

TEST(ResourceStream, SetupCarriesTheWizardsDefinition) {
    struct Module {
        HMODULE handle = LoadLibraryExW(SETUP_EXE, nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ~Module() {
            if (handle) FreeLibrary(handle);
        }
    } setup;
    ASSERT_NE(setup.handle, nullptr) << "cannot open " << SETUP_EXE;
    TResourceStream stream(setup.handle, "TMainForm", MAKEINTRESOURCEA(10));
    EXPECT_EQ(stream.Size(), 1419);
    char head[4];
    stream.ReadBuffer(head, 4);
    EXPECT_EQ(std::string(head, 4), "TPF0");
}
