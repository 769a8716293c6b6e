// The form reader on small definitions: value codes by property kind, events,
// children, the stream position, the after-load order, class resources, and
// damaged definitions.
#include "Classes.h"
#include "DfmConvert.h"
#include "StandIns.h"
#include <gtest/gtest.h>
#include <map>
#include <string>

using namespace std::string_literals;

namespace {
// A binary definition written byte by byte, for codes the converter never picks.
class Def {
public:
    Def() : bytes("TPF0") {}
    Def& S(std::string_view s) {
        bytes += static_cast<char>(s.size());
        bytes += s;
        return *this;
    }
    Def& B(std::initializer_list<int> values) {
        for (int v : values) bytes += static_cast<char>(v);
        return *this;
    }
    Def& End() { return B({0}); }
    std::string bytes;
};

void Load(const std::string& bytes, TComponent& root) {
    TReadOnlyMemoryStream stream(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    ReadComponent(stream, root);
}

void LoadText(const char* text, TComponent& root) {
    Load(ConvertFormText(text), root);
}

template <typename T>
T* Child(const TComponent& owner, const char* name) {
    auto* c = dynamic_cast<T*>(owner.FindComponent(name));
    EXPECT_NE(c, nullptr) << name;
    return c;
}

// The message of the EReadError a load ends with ("" when it succeeds).
std::string LoadError(const std::string& bytes, TComponent& root) {
    try {
        Load(bytes, root);
    } catch (const EReadError& e) {
        return e.Message();
    }
    return "";
}

class ReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterStandIns();
        AfterLoadLog().clear();
    }
};
} // namespace

TEST_F(ReaderTest, IntegersBySignedCode) {
    Def d;
    d.S("TForm").S("F");
    d.S("Left").B({2, 0xF6});
    d.S("Top").B({3, 0xFF, 0xFF});
    d.S("Width").B({4, 0x78, 0x56, 0x34, 0x12});
    d.S("Height").B({0, 0x00, 0x00, 0x00, 0x80}); // any other code: four bytes
    d.S("ClientWidth").B({3, 0x00, 0x80});
    d.End().End();
    TForm form(nullptr);
    Load(d.bytes, form);
    EXPECT_EQ(form.Left, -10);
    EXPECT_EQ(form.Top, -1);
    EXPECT_EQ(form.Width, 0x12345678);
    EXPECT_EQ(form.Height, INT32_MIN);
    EXPECT_EQ(form.ClientWidth, -32768);
    EXPECT_EQ(form.ScalingFlags, 15);
    EXPECT_EQ(form.Name(), "F");
}

TEST_F(ReaderTest, EnumerationsByIdentifier) {
    Def d;
    d.S("TForm").S("F").End();
    d.S("TLabel").S("Off").S("AutoSize").B({8}).End().End();
    d.S("TCheckBox").S("On").S("Checked").B({7}).S("tRUE").End().End();
    d.S("TPanel").S("P");
    d.S("BevelInner").B({7}).S("BVRAISED");
    d.S("bevelouter").B({7}).S("bvSunken"); // no such name
    d.S("Color").B({2, 5}).End().End();
    d.S("TBevel").S("Bv");
    d.S("Shape").B({0}); // no identifier, and nothing more
    d.S("Left").B({2, 3}).End().End();
    d.S("TButton").S("Btn").S("Default").B({9}).S("Cancel").B({7}).S("False").End().End();
    d.End();
    TForm form(nullptr);
    Load(d.bytes, form);
    EXPECT_FALSE(Child<TLabel>(form, "Off")->AutoSize);
    EXPECT_TRUE(Child<TCheckBox>(form, "On")->Checked);
    auto* panel = Child<TPanel>(form, "P");
    EXPECT_EQ(panel->BevelInner, bvRaised);
    EXPECT_EQ(panel->BevelOuter, 0xFF); // -1 in its one byte
    EXPECT_EQ(panel->Color, 5);
    auto* bevel = Child<TBevel>(form, "Bv");
    EXPECT_EQ(bevel->Shape, -1);
    EXPECT_EQ(bevel->Written, "Shape=-1 Left=3");
    EXPECT_TRUE(Child<TButton>(form, "Btn")->Default);
    EXPECT_FALSE(Child<TButton>(form, "Btn")->Cancel);
}

TEST_F(ReaderTest, StringsWhateverTheirCode) {
    Def d;
    d.S("TForm").S("F").End();
    d.S("TButton").S("A").S("Caption").B({6}).S("  ?  ").End().End();
    d.S("TButton").S("B");
    d.S("Caption").B({0x12, 3, 'a', 0, 'b'});
    d.S("Caption").B({6, 0});
    d.S("Left").B({2, 1}).End().End();
    d.End();
    TForm form(nullptr);
    Load(d.bytes, form);
    EXPECT_EQ(Child<TButton>(form, "A")->Caption, "  ?  ");
    EXPECT_EQ(Child<TButton>(form, "B")->Written, "Caption='a\0b' Caption='' Left=1"s);
}

TEST_F(ReaderTest, EventsBindToTheRootsPublishedMethods) {
    TMainForm form(nullptr);
    LoadText(R"(object Form: TMainForm
                  OnCloseQuery = formclosequery
                  object Cleared: TButton
                    OnClick = BNClk
                    OnClick = nil
                  end
                  object Kept: TButton
                    OnClick = BNClk
                    OnClick = NoSuchMethod
                    OnClick = False
                  end
                  object Combo: TComboBox
                    OnChange = LngChg
                  end
                end)",
             form);
    EXPECT_FALSE(Child<TButton>(form, "Cleared")->OnClick);
    auto* kept = Child<TButton>(form, "Kept");
    ASSERT_TRUE(kept->OnClick);
    EXPECT_EQ(kept->OnClick.Method.Data, &form);
    kept->OnClick(kept);
    Child<TComboBox>(form, "Combo")->OnChange(&form);
    bool canClose = true;
    form.OnCloseQuery(&form, canClose);
    EXPECT_FALSE(canClose);
    EXPECT_EQ(form.Calls, (std::vector<std::string>{"BNClk Kept", "LngChg Form", "FormCloseQuery Form"}));

    // A root without the method leaves the event alone.
    TForm plain(nullptr);
    LoadText("object F: TForm\n OnCloseQuery = FormCloseQuery\nend", plain);
    EXPECT_FALSE(plain.OnCloseQuery);
}

TEST_F(ReaderTest, ChildrenAreOwnedByTheRootAndAttachedBeforeTheyAreNamed) {
    TMainForm form(nullptr);
    LoadText(R"(object MainForm: TMainForm
                  object WPan: TPanel
                    Left = 123
                    object WelLbl: TLabel
                      Left = 12
                    end
                  end
                  object NBtn: TButton
                  end
                  object NBtn: TButton
                    Default = True
                  end
                end)",
             form);
    ASSERT_EQ(form.ComponentCount(), 4);
    EXPECT_NE(form.WPan, nullptr);
    ASSERT_NE(form.WelLbl, nullptr);
    EXPECT_EQ(form.WelLbl->Owner(), &form);
    EXPECT_EQ(form.WelLbl->Parent, form.WPan);
    EXPECT_EQ(form.WPan->Parent, &form);
    EXPECT_EQ(form.WelLbl->NameWhenAttached, "");
    EXPECT_TRUE(form.WelLbl->LoadingWhenAttached);
    EXPECT_TRUE(form.WelLbl->ParentSeenByLoadState);
    // Both buttons of the same name load; the field holds the later one.
    EXPECT_EQ(form.NBtn, form.Components()[3]);
    EXPECT_TRUE(form.NBtn->Default);
    EXPECT_FALSE(static_cast<TButton*>(form.Components()[2])->Default);
    for (TComponent* c : form.Components()) EXPECT_EQ(c->ComponentState(), 0) << c->Name();
    EXPECT_EQ(form.ComponentState(), 0);
}

TEST_F(ReaderTest, FormBodyRunsBetweenTheFormsOwnSteps) {
    TForm form(nullptr);
    LoadText("object F: TForm\n ClientHeight = 351\n ClientWidth = 492\n object P: TPanel\n end\nend", form);
    EXPECT_EQ(form.WrittenBeforeBody, "");
    EXPECT_EQ(form.Written, "ClientHeight=351 ClientWidth=492");
    EXPECT_EQ(form.ChildrenAfterBody, 1);
}

TEST_F(ReaderTest, AfterLoadRunsOnceEverythingIsRead) {
    TForm form(nullptr);
    LoadText(R"(object Root: TForm
                  object A: TPanel
                    object A1: TLabel
                    end
                    object A2: TPanel
                      object A21: TLabel
                      end
                    end
                  end
                  object B: TLabel
                  end
                end)",
             form);
    EXPECT_EQ(AfterLoadLog(), (std::vector<std::string>{"Root", "A1", "A21", "A2", "A", "B"}));
}

TEST_F(ReaderTest, StreamStandsRightAfterTheDefinition) {
    for (int labels : {1, 400}) { // one buffer, and many refills
        std::string text = "object F: TForm\n";
        for (int i = 0; i < labels; ++i)
            text += " object L" + std::to_string(i) + ": TLabel\n Left = 1000\n end\n";
        std::string def = ConvertFormText(text + "end\n");
        std::string bytes = def + "TAIL";
        TReadOnlyMemoryStream stream(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        TForm form(nullptr);
        ReadComponent(stream, form);
        EXPECT_EQ(form.ComponentCount(), labels);
        EXPECT_EQ(stream.Position(), static_cast<std::int32_t>(def.size()));
        char tail[5] = {};
        EXPECT_EQ(stream.Read(tail, 4), 4);
        EXPECT_STREQ(tail, "TAIL");
    }
}

TEST_F(ReaderTest, NewRootOfTheClassTheDefinitionNames) {
    std::string bytes = ConvertFormText("object Pan: TPanel\n Width = 5\n object L: TLabel\n end\nend");
    TReadOnlyMemoryStream stream(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    std::unique_ptr<TComponent> root = ReadComponent(stream);
    auto* panel = dynamic_cast<TPanel*>(root.get());
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->Name(), "Pan");
    EXPECT_EQ(panel->Width, 5);
    EXPECT_EQ(panel->Owner(), nullptr);
    ASSERT_EQ(panel->ComponentCount(), 1);
    EXPECT_EQ(panel->Components()[0]->Owner(), panel);

    // Forms are not registered: only an existing instance can read them.
    std::string form = ConvertFormText("object F: TForm\n object L: TLabel\n end\nend");
    TReadOnlyMemoryStream formStream(form.data(), static_cast<std::int32_t>(form.size()));
    try {
        ReadComponent(formStream);
        FAIL() << "read an unregistered root";
    } catch (const EReadError& e) {
        EXPECT_NE(e.Message().find("TForm"), std::string::npos) << e.Message();
    }
}

namespace {
enum TFrameStyle : std::int16_t { fsFlat, fsRaised };

struct TFrame : TPersistent {
    static const TClassInfo Info;
    const TClassInfo* ClassType() const override { return &Info; }
    std::int16_t Width = 0;
    TFrameStyle Style = fsFlat;
    std::int8_t Tag = 0;
};

struct TBox : TComponent {
    static const TClassInfo Info;
    using TComponent::TComponent;
    const TClassInfo* ClassType() const override { return &Info; }
    TFrame* GetFrame() { return &frame; }
    TFrame frame;
    TFrame* NoFrame = nullptr;
    std::int32_t Left = 0;
};

const char* const FrameStyleNames[] = {"fsFlat", "fsRaised"};
const TPropInfo FrameProps[] = {
    IntegerProperty<&TFrame::Width>("Width"),
    EnumProperty<&TFrame::Style>("Style", FrameStyleNames),
    IntegerProperty<&TFrame::Tag>("Tag"),
};
const TPropInfo BoxProps[] = {
    ObjectProperty<&TBox::GetFrame>("Frame"),
    ObjectProperty<&TBox::NoFrame>("NoFrame"),
    IntegerProperty<&TBox::Left>("Left"),
    OtherProperty("Hint"),
};
const TClassInfo TFrame::Info{"TFrame", &TPersistent::Info, nullptr, FrameProps, {}, {}};
const TClassInfo TBox::Info{"TBox", &TComponent::Info, &CreateComponent<TBox>, BoxProps, {}, {}};

std::string BoxDef(std::string_view property, std::initializer_list<int> value) {
    return Def().S("TBox").S("Box").S(property).B(value).S("Left").B({2, 7}).End().End().bytes;
}
} // namespace

TEST_F(ReaderTest, DottedNamesReachObjectProperties) {
    TBox box(nullptr);
    Load(BoxDef("Frame.Width", {3, 0x2C, 0x01}), box);
    Load(BoxDef("FRAME.style", {7, 8, 'F', 'S', 'R', 'A', 'I', 'S', 'E', 'D'}), box);
    Load(BoxDef("Frame.Tag", {2, 0x80}), box);
    EXPECT_EQ(box.frame.Width, 300);
    EXPECT_EQ(box.frame.Style, fsRaised);
    EXPECT_EQ(box.frame.Tag, -128);
    EXPECT_EQ(box.Left, 7);
    // Kinds the reader does not handle take no bytes: Left follows at once.
    box.Left = 0;
    Load(BoxDef("Hint", {}), box);
    EXPECT_EQ(box.Left, 7);
    box.Left = 0;
    Load(BoxDef("Frame", {}), box);
    EXPECT_EQ(box.Left, 7);

    EXPECT_EQ(LoadError(BoxDef("Left.Width", {2, 1}), box),
              "Error reading Box.Left.Width: Left is not an object");
    EXPECT_EQ(LoadError(BoxDef("Frame.Height", {2, 1}), box),
              "Error reading Box.Frame.Height: property Height does not exist");
    EXPECT_EQ(LoadError(BoxDef("Frame..Width", {2, 1}), box),
              "Error reading Box.Frame..Width: property  does not exist");
    EXPECT_EQ(LoadError(BoxDef("NoFrame.Width", {2, 1}), box),
              "Error reading Box.NoFrame.Width: NoFrame holds no object");
    EXPECT_EQ(LoadError(BoxDef("Colour", {2, 1}), box),
              "Error reading Box.Colour: property Colour does not exist");
}

namespace {
std::map<std::string, std::string>& Resources() {
    static std::map<std::string, std::string> r;
    return r;
}

std::unique_ptr<TStream> OpenTestResource(const std::string& className) {
    auto it = Resources().find(className);
    if (it == Resources().end()) return nullptr;
    auto stream = std::make_unique<TMemoryStream>();
    stream->Write(it->second.data(), static_cast<std::int32_t>(it->second.size()));
    stream->SetPosition(0);
    return stream;
}

struct OpenerScope {
    TClassResourceOpener previous = SetClassResourceOpener(&OpenTestResource);
    ~OpenerScope() {
        SetClassResourceOpener(previous);
        Resources().clear();
    }
};
} // namespace

TEST_F(ReaderTest, ClassResourcesAncestorsFirstWithOneAfterLoad) {
    OpenerScope opener;
    Resources()["TForm"] =
        ConvertFormText("object Base: TForm\n ClientWidth = 10\n object A: TLabel\n end\nend");
    Resources()["TMainForm"] = ConvertFormText(
        "object MainForm: TMainForm\n ClientWidth = 20\n object NBtn: TButton\n OnClick = BNClk\n end\nend");

    TMainForm only(nullptr);
    LoadFromClassResources(&only, &TForm::Info);
    EXPECT_EQ(only.Written, "ClientWidth=20");
    EXPECT_EQ(AfterLoadLog(), (std::vector<std::string>{"MainForm", "NBtn"}));

    AfterLoadLog().clear();
    TMainForm both(nullptr);
    LoadFromClassResources(&both, &TWinControl::Info);
    EXPECT_EQ(both.Written, "ClientWidth=10 ClientWidth=20");
    EXPECT_EQ(both.Name(), "MainForm");
    EXPECT_EQ(both.ComponentCount(), 2);
    ASSERT_NE(both.NBtn, nullptr);
    EXPECT_EQ(both.NBtn->OnClick.Method.Data, &both);
    // The root once, first; AfterLoad only after the last definition.
    EXPECT_EQ(AfterLoadLog(), (std::vector<std::string>{"MainForm", "A", "NBtn"}));

    // A missing definition names itself; the next load is not disturbed.
    Resources().erase("TForm");
    TMainForm missing(nullptr);
    try {
        LoadFromClassResources(&missing, &TWinControl::Info);
        FAIL() << "loaded without a TForm definition";
    } catch (const EResNotFound& e) {
        EXPECT_EQ(e.Message(), "Resource TForm not found");
    }
    AfterLoadLog().clear();
    TForm plain(nullptr);
    LoadText("object P: TForm\nend", plain);
    EXPECT_EQ(AfterLoadLog(), (std::vector<std::string>{"P"}));
}

TEST_F(ReaderTest, DamagedDefinitionsNameWhatIsWrong) {
    struct Case {
        std::string bytes;
        const char* message;
    };
    const Case cases[] = {
        {Def().S("TForm").S("F").End().S("TGadget").S("G").End().End().End().bytes,
         "Error reading G: class TGadget not found"},
        {Def().S("TForm").S("F").End().S("TGadget").S("").End().End().End().bytes,
         "Error reading TGadget: class TGadget not found"},
        {Def().S("TForm").S("F").End().S("TPersistent").S("P").End().End().End().bytes,
         "Error reading P: class TPersistent cannot be created"},
        {Def().S("TForm").S("F").End().S("TPanel").S("TopPan").S("Colour").B({2, 1}).End().End().End().bytes,
         "Error reading TopPan.Colour: property Colour does not exist"},
        {Def().S("TForm").S("F").S("Left").B({3, 1}).bytes,
         "Error reading F.Left: the definition ends early"},
        {Def().S("TForm").S("F").B({4, 'L', 'e'}).bytes, "Error reading F: the definition ends early"},
        {Def().S("TForm").S("F").End().S("TLabel").S("L").End().End().bytes,
         "Error reading F: the definition ends early"},
        {Def().S("TForm").bytes, "Error reading TForm: the definition ends early"},
        {"TPF", "Error reading the form definition: the definition ends early"},
        {"", "Error reading the form definition: the definition ends early"},
    };
    for (const Case& c : cases) {
        TForm form(nullptr);
        std::string message = LoadError(c.bytes, form);
        EXPECT_EQ(message, c.message);
    }
}

TEST_F(ReaderTest, DamagedDefinitionsOfTheMainForm) {
    TMainForm form(nullptr);
    // A field of another class than the component's.
    EXPECT_EQ(LoadError(ConvertFormText("object M: TMainForm\n object NBtn: TPanel\n end\nend"), form),
              "Error reading NBtn: field NBtn of TMainForm cannot hold a TPanel");
    // A handler of another signature.
    EXPECT_EQ(
        LoadError(ConvertFormText("object M: TMainForm\n object B: TButton\n OnClick = FormCloseQuery\n "
                                  "end\nend"),
                  form),
        "Error reading B.OnClick: method FormCloseQuery does not fit this event");
    EXPECT_EQ(LoadError(ConvertFormText("object M: TMainForm\n OnCloseQuery = BNClk\nend"), form),
              "Error reading M.OnCloseQuery: method BNClk does not fit this event");
    // What was made before the fault stays with the root, which frees it.
    EXPECT_EQ(form.ComponentCount(), 1);
}

TEST_F(ReaderTest, DeepNestingStopsAtTheLimit) {
    for (int depth : {TReader::MaxDepth, TReader::MaxDepth + 1, 10000}) {
        Def def;
        def.S("TForm").S("F").End();
        for (int i = 0; i < depth; ++i) def.S("TPanel").S("P").End();
        for (int i = 0; i < depth + 1; ++i) def.End();
        TForm form(nullptr);
        std::string message = LoadError(def.bytes, form);
        if (depth <= TReader::MaxDepth)
            EXPECT_EQ(message, "");
        else
            EXPECT_EQ(message, "Error reading P: components are nested too deeply");
        EXPECT_EQ(form.ComponentCount(), std::min(depth, TReader::MaxDepth));
    }
}
