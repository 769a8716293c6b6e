// Ownership, names bound to the owner's fields, free notifications, the order of
// destruction, published lookups and the class registry.
#include "Classes.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {
std::vector<std::string> destroyed;

class TTracked : public TComponent {
public:
    static const TClassInfo Info;
    explicit TTracked(TComponent* owner) : TComponent(owner) {}
    ~TTracked() override {
        std::string entry = Name();
        if (ComponentState() & csDestroying) entry += "*";
        for (TComponent* c : Components())
            if (!(c->ComponentState() & csDestroying)) entry += "!";
        destroyed.push_back(entry);
    }
    const TClassInfo* ClassType() const override { return &Info; }
    std::vector<std::string> told;

protected:
    void Notification(TComponent* gone) override {
        told.push_back(gone->Name());
        TComponent::Notification(gone);
    }
};

class TOther : public TComponent {
public:
    static const TClassInfo Info;
    using TComponent::TComponent;
    const TClassInfo* ClassType() const override { return &Info; }
};

class THolder : public TTracked {
public:
    static const TClassInfo Info;
    using TTracked::TTracked;
    const TClassInfo* ClassType() const override { return &Info; }
    TTracked* Alpha = nullptr;
    TTracked* Beta = nullptr;
};

const TFieldInfo HolderFields[] = {PublishedField<&THolder::Alpha>("Alpha"),
                                   PublishedField<&THolder::Beta>("Beta")};
const TClassInfo TTracked::Info{"TTracked", &TComponent::Info, &CreateComponent<TTracked>, {}, {}, {}};
const TClassInfo TOther::Info{"TOther", &TComponent::Info, &CreateComponent<TOther>, {}, {}, {}};
const TClassInfo THolder::Info{"THolder", &TTracked::Info, &CreateComponent<THolder>, {}, HolderFields, {}};

TTracked* Make(TComponent* owner, const std::string& name) {
    auto* c = new TTracked(owner);
    c->SetName(name);
    return c;
}

std::vector<std::string> Names(const TComponent& owner) {
    std::vector<std::string> names;
    for (TComponent* c : owner.Components()) names.push_back(c->Name());
    return names;
}
} // namespace

TEST(Names, PublishedCaseRule) {
    EXPECT_TRUE(SameName("BVRAISED", "bvRaised"));
    EXPECT_TRUE(SameName("onclick", "OnClick"));
    EXPECT_TRUE(SameName("", ""));
    EXPECT_FALSE(SameName("Left", "Lefts"));
    EXPECT_FALSE(SameName("Left", "Lift"));
    // Only bit 0x20 is ignored, so a few non-letters pair up too.
    EXPECT_TRUE(SameName("@[", "`{"));
    EXPECT_FALSE(SameName("A", "\xC1"));
}

TEST(Ownership, OwnedInInsertionOrderAndFreedWithTheOwner) {
    destroyed.clear();
    {
        TComponent holder(nullptr);
        Make(&holder, "a");
        Make(&holder, "b");
        TTracked* c = Make(&holder, "c");
        Make(c, "d");
        EXPECT_EQ(Names(holder), (std::vector<std::string>{"a", "b", "c"}));
        EXPECT_EQ(holder.FindComponent("B"), holder.Components()[1]);
        EXPECT_EQ(holder.FindComponent("d"), nullptr); // only its own list
        EXPECT_EQ(c->Owner(), &holder);
    }
    // Last to first, each one's own components after its own body, every one
    // already marked as destroying before any went.
    EXPECT_EQ(destroyed, (std::vector<std::string>{"c*", "d*", "b*", "a*"}));
}

TEST(Ownership, DeletedChildLeavesItsOwnerAndCanChangeOwner) {
    THolder one(nullptr), two(nullptr);
    TTracked* a = Make(&one, "a");
    TTracked* b = Make(&one, "b");
    delete a;
    EXPECT_EQ(Names(one), (std::vector<std::string>{"b"}));

    two.InsertComponent(b);
    EXPECT_EQ(one.ComponentCount(), 0);
    EXPECT_TRUE(one.Components().empty());
    EXPECT_EQ(b->Owner(), &two);
    // A component never comes to own its own owner.
    b->InsertComponent(&two);
    EXPECT_EQ(two.Owner(), nullptr);

    two.RemoveComponent(b);
    EXPECT_EQ(b->Owner(), nullptr);
    EXPECT_EQ(two.ComponentCount(), 0);
    delete b; // ours now
}

TEST(Rename, BindsAndUnbindsTheOwnersField) {
    THolder holder(nullptr);
    auto* x = new TTracked(&holder);
    EXPECT_EQ(holder.Alpha, nullptr); // created nameless: nothing bound
    x->SetName("ALPHA");
    EXPECT_EQ(holder.Alpha, x);
    x->SetName("beta");
    EXPECT_EQ(holder.Alpha, nullptr);
    EXPECT_EQ(holder.Beta, x);
    holder.Beta = nullptr;
    x->SetName("beta"); // the same name changes nothing
    EXPECT_EQ(holder.Beta, nullptr);
    x->SetName("Beta"); // another spelling is a rename
    EXPECT_EQ(holder.Beta, x);
    x->SetName("");
    EXPECT_EQ(holder.Beta, nullptr);

    // A component of another class does not fit the field.
    auto* other = new TOther(&holder);
    other->SetName("Alpha");
    EXPECT_EQ(holder.Alpha, nullptr);
    EXPECT_EQ(holder.FindComponent("alpha"), other);

    // Moving to another owner unbinds it from the first.
    THolder second(nullptr);
    x->SetName("Alpha");
    EXPECT_EQ(holder.Alpha, x);
    second.InsertComponent(x);
    EXPECT_EQ(holder.Alpha, nullptr);
    EXPECT_EQ(second.Alpha, x);
}

TEST(Rename, SameNamesKeepTheFieldOnTheLaterOne) {
    THolder holder(nullptr);
    TTracked* first = Make(&holder, "Alpha");
    TTracked* second = Make(&holder, "Alpha");
    EXPECT_EQ(holder.Alpha, second);
    // The earlier one going, or renamed, must not clear what the later one holds.
    first->SetName("other");
    EXPECT_EQ(holder.Alpha, second);
    delete first;
    EXPECT_EQ(holder.Alpha, second);
    delete second;
    EXPECT_EQ(holder.Alpha, nullptr);
}

TEST(FreeNotification, LinkedAndOwnedComponentsAreTold) {
    THolder holder(nullptr);
    TTracked* a = Make(&holder, "a");
    TTracked* b = Make(&holder, "b");
    TTracked* c = Make(b, "c");
    THolder outsider(nullptr);
    outsider.SetName("outsider");
    a->FreeNotification(&outsider);

    delete a;
    EXPECT_EQ(outsider.told, (std::vector<std::string>{"a"}));
    // The owner and everything it owns hear of an owned component going.
    EXPECT_EQ(holder.told, (std::vector<std::string>{"a"}));
    EXPECT_EQ(b->told, (std::vector<std::string>{"a"}));
    EXPECT_EQ(c->told, (std::vector<std::string>{"a"}));

    // The link works both ways: the listener going first unlinks itself, so the
    // other is not told about a dead object later (ASan checks).
    auto* listener = new THolder(nullptr);
    b->FreeNotification(listener);
    b->FreeNotification(listener); // once only
    delete listener;
    delete b;

    THolder watcher(nullptr);
    {
        THolder watched(nullptr);
        watched.SetName("watched");
        watched.FreeNotification(&watcher);
        watched.RemoveFreeNotification(&watcher);
    }
    EXPECT_TRUE(watcher.told.empty());
}

TEST(Persistent, AssignAsksTheSource) {
    struct TCopyable : TPersistent {
        int value = 0;
        void AssignTo(TPersistent* dest) override { static_cast<TCopyable*>(dest)->value = value; }
    };
    TCopyable from, to;
    from.value = 7;
    to.Assign(&from);
    EXPECT_EQ(to.value, 7);
    to.Assign(nullptr); // nothing to copy from
    EXPECT_EQ(to.value, 7);
    TPersistent plain;
    to.Assign(&plain); // the base copies nothing
    EXPECT_EQ(to.value, 7);
}

namespace {
struct TBaseProps : TPersistent {
    static const TClassInfo Info;
    const TClassInfo* ClassType() const override { return &Info; }
    void Run(TPersistent*) {}
};
struct TDerivedProps : TBaseProps {
    static const TClassInfo Info;
    const TClassInfo* ClassType() const override { return &Info; }
    std::int32_t size = 0;
    void Go(TPersistent*) {}
};
const TPropInfo BaseProps[] = {OtherProperty("Size"), OtherProperty("Base")};
const TPropInfo DerivedProps[] = {IntegerProperty<&TDerivedProps::size>("Size")};
const TMethodInfo BaseMethods[] = {PublishedMethod<&TBaseProps::Run>("Run")};
const TMethodInfo DerivedMethods[] = {PublishedMethod<&TDerivedProps::Go>("Go")};
const TClassInfo TBaseProps::Info{"TBaseProps", &TPersistent::Info, nullptr, BaseProps, {}, BaseMethods};
const TClassInfo TDerivedProps::Info{"TDerivedProps", &TBaseProps::Info, nullptr, DerivedProps, {},
                                     DerivedMethods};
} // namespace

TEST(Metadata, OwnClassFirstThenAncestors) {
    const TPropInfo* size = FindPropInfo(&TDerivedProps::Info, "SIZE");
    ASSERT_NE(size, nullptr);
    EXPECT_EQ(size->Kind, TPropKind::Integer); // the derived one hides the base one
    EXPECT_EQ(FindPropInfo(&TDerivedProps::Info, "base"), &BaseProps[1]);
    EXPECT_EQ(FindPropInfo(&TBaseProps::Info, "Size"), &BaseProps[0]);
    EXPECT_EQ(FindPropInfo(&TDerivedProps::Info, "Sized"), nullptr);
    EXPECT_EQ(FindMethodInfo(&TDerivedProps::Info, "run"), &BaseMethods[0]);
    EXPECT_EQ(FindMethodInfo(&TBaseProps::Info, "Go"), nullptr);
    EXPECT_EQ(FindPropInfo(&TComponent::Info, "name")->Kind, TPropKind::String);
    EXPECT_TRUE(InheritsFrom(&TDerivedProps::Info, &TPersistent::Info));
    EXPECT_FALSE(InheritsFrom(&TBaseProps::Info, &TDerivedProps::Info));
}

namespace {
struct TRegA : TComponent {
    static const TClassInfo Info;
    using TComponent::TComponent;
};
struct TRegB : TRegA {
    static const TClassInfo Info;
    using TRegA::TRegA;
};
const TClassInfo TRegA::Info{"TRegA", &TComponent::Info, &CreateComponent<TRegA>, {}, {}, {}};
const TClassInfo TRegB::Info{"TRegB", &TRegA::Info, &CreateComponent<TRegB>, {}, {}, {}};
const TClassInfo RegTwinA{"TRegTwin", &TComponent::Info, &CreateComponent<TRegA>, {}, {}, {}};
const TClassInfo RegTwinB{"TREGTWIN", &TComponent::Info, &CreateComponent<TRegB>, {}, {}, {}};
} // namespace

TEST(Registry, AncestorsComeAlongAndTheNewestWins) {
    EXPECT_EQ(FindRegisteredClass("TRegB"), nullptr);
    const TClassInfo* list[] = {&TRegB::Info};
    RegisterClassList(list);
    EXPECT_EQ(FindRegisteredClass("tregb"), &TRegB::Info);
    EXPECT_EQ(FindRegisteredClass("TRegA"), &TRegA::Info);
    EXPECT_EQ(FindRegisteredClass("TComponent"), &TComponent::Info);
    EXPECT_EQ(FindRegisteredClass("TPersistent"), &TPersistent::Info);
    EXPECT_EQ(FindRegisteredClass("TReg"), nullptr);

    const TClassInfo* twins[] = {&RegTwinA, &RegTwinB};
    RegisterClassList(twins);
    EXPECT_EQ(FindRegisteredClass("TRegTwin"), &RegTwinB);
}
