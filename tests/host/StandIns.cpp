#include "StandIns.h"
#include "MainFormTable.h"

std::vector<std::string>& AfterLoadLog() {
    static std::vector<std::string> log;
    return log;
}

void TControl::Record(const std::string& what) {
    if (!Written.empty()) Written += ' ';
    Written += what;
}

void TControl::Store(const char* name, std::int32_t v, std::int32_t& field, std::uint8_t flag) {
    field = v;
    ScalingFlags |= flag;
    Record(std::string(name) + "=" + std::to_string(v));
}

void TControl::AttachToParent(TComponent* parent) {
    Parent = parent;
    NameWhenAttached = Name();
    LoadingWhenAttached = (ComponentState() & csLoading) != 0;
}

void TControl::LoadState(TReader& reader) {
    ParentSeenByLoadState = reader.Parent() == Parent && Written.empty();
    TComponent::LoadState(reader);
}

void TControl::AfterLoad() {
    AfterLoadLog().push_back(Name());
    TComponent::AfterLoad();
}

void TForm::LoadState(TReader& reader) {
    WrittenBeforeBody = Written;
    TWinControl::LoadState(reader);
    ChildrenAfterBody = ComponentCount();
}

void TMainForm::Called(const char* method, TPersistent* sender) {
    auto* c = dynamic_cast<TComponent*>(sender);
    Calls.push_back(std::string(method) + " " + (c ? c->Name() : "?"));
}

static const TPropInfo ControlProps[] = {
    IntegerProperty<&TControl::SetLeft>("Left"),
    IntegerProperty<&TControl::SetTop>("Top"),
    IntegerProperty<&TControl::SetWidth>("Width"),
    IntegerProperty<&TControl::SetHeight>("Height"),
};
static const TPropInfo ComboProps[] = {EventProperty<&TComboBox::OnChange>("OnChange")};
static const TPropInfo ButtonProps[] = {
    BooleanProperty<&TButton::Cancel>("Cancel"),
    StringProperty<&TButton::SetCaption>("Caption"),
    BooleanProperty<&TButton::Default>("Default"),
    EventProperty<&TButton::OnClick>("OnClick"),
};
static const TPropInfo CheckBoxProps[] = {
    StringProperty<&TCheckBox::SetCaption>("Caption"),
    BooleanProperty<&TCheckBox::SetChecked>("Checked"),
};
static const TPropInfo LabelProps[] = {
    BooleanProperty<&TLabel::SetAutoSize>("AutoSize"),
    StringProperty<&TLabel::SetCaption>("Caption"),
};
static const char* const BevelShapeNames[] = {"bsBox", "bsLeftLine"};
static const TPropInfo BevelProps[] = {EnumProperty<&TBevel::SetShape>("Shape", BevelShapeNames)};
static const char* const PanelBevelNames[] = {"bvNone", "bvLowered", "bvRaised"};
static const TPropInfo PanelProps[] = {
    EnumProperty<&TPanel::BevelInner>("BevelInner", PanelBevelNames),
    EnumProperty<&TPanel::BevelOuter>("BevelOuter", PanelBevelNames),
    IntegerProperty<&TPanel::SetColor>("Color"),
};
static const TPropInfo FormProps[] = {
    IntegerProperty<&TForm::SetClientHeight>("ClientHeight"),
    IntegerProperty<&TForm::SetClientWidth>("ClientWidth"),
    EventProperty<&TForm::OnCloseQuery>("OnCloseQuery"),
};

const TClassInfo TControl::Info{"TControl", &TComponent::Info, &CreateComponent<TControl>, ControlProps, {},
                                {}};
const TClassInfo TWinControl::Info{"TWinControl", &TControl::Info, &CreateComponent<TWinControl>, {}, {}, {}};
const TClassInfo TGraphicControl::Info{
    "TGraphicControl", &TControl::Info, &CreateComponent<TGraphicControl>, {}, {}, {}};
const TClassInfo TCustomControl::Info{
    "TCustomControl", &TWinControl::Info, &CreateComponent<TCustomControl>, {}, {}, {}};
const TClassInfo TButtonControl::Info{
    "TButtonControl", &TWinControl::Info, &CreateComponent<TButtonControl>, {}, {}, {}};
const TClassInfo TButton::Info{"TButton", &TButtonControl::Info, &CreateComponent<TButton>, ButtonProps, {},
                               {}};
const TClassInfo TCheckBox::Info{
    "TCheckBox", &TButtonControl::Info, &CreateComponent<TCheckBox>, CheckBoxProps, {}, {}};
const TClassInfo TLabel::Info{"TLabel", &TWinControl::Info, &CreateComponent<TLabel>, LabelProps, {}, {}};
const TClassInfo TComboBox::Info{"TComboBox", &TWinControl::Info, &CreateComponent<TComboBox>, ComboProps, {},
                                 {}};
const TClassInfo TEdit::Info{"TEdit", &TWinControl::Info, &CreateComponent<TEdit>, {}, {}, {}};
const TClassInfo TMemo::Info{"TMemo", &TEdit::Info, &CreateComponent<TMemo>, {}, {}, {}};
const TClassInfo TPanel::Info{"TPanel", &TCustomControl::Info, &CreateComponent<TPanel>, PanelProps, {}, {}};
const TClassInfo TBevel::Info{"TBevel", &TGraphicControl::Info, &CreateComponent<TBevel>, BevelProps, {}, {}};
const TClassInfo TImage::Info{"TImage", &TGraphicControl::Info, &CreateComponent<TImage>, {}, {}, {}};
const TClassInfo TForm::Info{"TForm", &TWinControl::Info, &CreateComponent<TForm>, FormProps, {}, {}};
const TClassInfo TMainForm::Info{"TMainForm",
                                 &TForm::Info,
                                 &CreateComponent<TMainForm>,
                                 {},
                                 MainFormFieldTable<TMainForm>,
                                 MainFormMethodTable<TMainForm>};

void RegisterStandIns() {
    static const TClassInfo* const classes[] = {&TBevel::Info,    &TButton::Info, &TCheckBox::Info,
                                                &TComboBox::Info, &TEdit::Info,   &TImage::Info,
                                                &TLabel::Info,    &TMemo::Info,   &TPanel::Info};
    RegisterClassList(classes);
}
