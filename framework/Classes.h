// Components and the reader that builds them from a stored form definition.
//
// A component is created with `new` through its class's virtual constructor and
// belongs to its owner, which deletes it (a component without an owner belongs to
// whoever created it). What a definition may name is described by plain tables: a
// TClassInfo per class with its published properties, fields and methods, looked
// up from the object's own class towards its ancestors.
//
// Window classes build on four virtual hooks of TComponent: LoadState (reads the
// component's body; an override may run code before and after the default body,
// TReader::ReadComponentBody), AttachToParent (a child learns its parent before
// its name and properties are set), AfterLoad (runs once the whole definition has
// been read) and Notification (a component is going).
#pragma once
#include "Streams.h"
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

class TPersistent;
class TComponent;
class TReader;
struct TClassInfo;

// Published names match ignoring ASCII letter case: the same length, and every
// pair of bytes equal once bit 0x20 of their difference is cleared.
bool SameName(std::string_view a, std::string_view b);

// ---- Events

// A handler: the code of a published method's thunk and the object it runs on.
using TMethodCode = void (*)();
struct TMethod {
    TMethodCode Code = nullptr;
    TPersistent* Data = nullptr;
    friend bool operator==(const TMethod&, const TMethod&) = default;
};

// Tells event signatures apart, so that a handler is only called through its own.
using TEventType = const void*;

template <typename... Args>
class TEvent {
public:
    using Thunk = void (*)(TPersistent* data, Args...);
    static constexpr TEventType Type() { return &typeTag_; }

    TEvent() = default;
    explicit TEvent(const TMethod& method) : Method(method) {}
    TEvent(Thunk code, TPersistent* data) : Method{reinterpret_cast<TMethodCode>(code), data} {}

    explicit operator bool() const { return Method.Code != nullptr; }
    // Calls the handler; an unassigned event does nothing.
    void operator()(Args... args) const {
        if (Method.Code) reinterpret_cast<Thunk>(Method.Code)(Method.Data, args...);
    }

    TMethod Method;

private:
    static constexpr char typeTag_ = 0;
};

using TNotifyEvent = TEvent<TPersistent*>;            // (sender)
using TCloseQueryEvent = TEvent<TPersistent*, bool&>; // (sender, can close)

// The static thunk that calls a member function on the handler's data.
template <auto Fn, typename = decltype(Fn)>
struct TMethodThunk;
template <auto Fn, typename C, typename... Args>
struct TMethodThunk<Fn, void (C::*)(Args...)> {
    using Class = C;
    using Event = TEvent<Args...>;
    static void Call(TPersistent* data, Args... args) { (static_cast<C*>(data)->*Fn)(args...); }
};

// An event bound to a member function of an object: MakeEvent<&TMainForm::BNClk>(form).
template <auto Fn>
typename TMethodThunk<Fn>::Event MakeEvent(typename TMethodThunk<Fn>::Class* object) {
    return typename TMethodThunk<Fn>::Event(&TMethodThunk<Fn>::Call, object);
}

// ---- Published metadata

enum class TPropKind : std::uint8_t { Integer, Enumeration, Method, String, Class, Other };

// One published property. The writer matching the kind is set: ordinal for
// integers and enumerations, string, method; class properties give their object.
struct TPropInfo {
    const char* Name;
    TPropKind Kind;
    std::span<const char* const> EnumNames = {}; // enumeration: the names by value
    TEventType EventType = nullptr;              // method: the signature handlers must have
    void (*SetOrdinal)(TPersistent*, std::int32_t) = nullptr;
    void (*SetString)(TPersistent*, const std::string&) = nullptr;
    void (*SetMethod)(TPersistent*, const TMethod&) = nullptr;
    TPersistent* (*GetObject)(TPersistent*) = nullptr;
};

// A published field of a form: a component pointer bound by its component's name.
struct TFieldInfo {
    const char* Name;
    const TClassInfo* Class; // what the field may hold
    TComponent* (*Get)(TComponent* owner);
    void (*Set)(TComponent* owner, TComponent* value);
};

// A published method: an event handler a definition may name.
struct TMethodInfo {
    const char* Name;
    TMethodCode Code; // the thunk, called with the root as data
    TEventType Type;
};

using TComponentCreator = TComponent* (*)(TComponent* owner);

struct TClassInfo {
    const char* Name;
    const TClassInfo* Parent;
    TComponentCreator Create; // the virtual constructor; nil when a definition cannot create it
    std::span<const TPropInfo> Properties;
    std::span<const TFieldInfo> Fields;
    std::span<const TMethodInfo> Methods;
};

template <typename T>
TComponent* CreateComponent(TComponent* owner) {
    return new T(owner);
}

bool InheritsFrom(const TClassInfo* cls, const TClassInfo* ancestor);
// Each searches the class first, then its ancestors in turn; nil when none matches.
const TPropInfo* FindPropInfo(const TClassInfo* cls, std::string_view name);
const TFieldInfo* FindFieldInfo(const TClassInfo* cls, std::string_view name);
const TMethodInfo* FindMethodInfo(const TClassInfo* cls, std::string_view name);

// The names of Boolean, an enumeration: False 0, True 1.
extern const char* const BooleanNames[2];

// Table builders. A writer is either a setter member function (called with the
// value) or a data member (stored directly: integers, bools and enumerations of
// 1, 2 or 4 bytes; enumerations stored directly need a fixed underlying type).
namespace prop_detail {
template <typename M>
struct Member;
template <typename C, typename V>
struct Member<V C::*> {
    using Class = C;
    using Value = V;
};
template <typename C, typename P>
struct Member<void (C::*)(P)> {
    using Class = C;
    using Value = std::remove_cvref_t<P>;
};
template <typename C, typename T>
struct Member<T* (C::*)()> {
    using Class = C;
    using Value = T*;
};
template <typename C, typename T>
struct Member<T* (C::*)() const> {
    using Class = C;
    using Value = T*;
};

// Stores a value of the writer's own type through its setter or into its field.
template <auto W>
void Write(TPersistent* object, const typename Member<decltype(W)>::Value& value) {
    auto* self = static_cast<typename Member<decltype(W)>::Class*>(object);
    if constexpr (std::is_member_function_pointer_v<decltype(W)>)
        (self->*W)(value);
    else
        self->*W = value;
}

template <auto W>
void WriteOrdinal(TPersistent* object, std::int32_t value) {
    using V = typename Member<decltype(W)>::Value;
    static_assert(std::is_integral_v<V> || std::is_enum_v<V>, "an ordinal property needs an ordinal writer");
    static_assert(sizeof(V) == 1 || sizeof(V) == 2 || sizeof(V) == 4, "ordinals are 1, 2 or 4 bytes");
    if constexpr (std::is_same_v<V, bool>)
        Write<W>(object, value != 0);
    else
        Write<W>(object, static_cast<V>(value));
}

template <auto W>
void WriteString(TPersistent* object, const std::string& value) {
    Write<W>(object, value);
}

template <auto W>
void WriteMethod(TPersistent* object, const TMethod& value) {
    using E = typename Member<decltype(W)>::Value;
    Write<W>(object, E(value));
}

template <auto G>
TPersistent* ReadObject(TPersistent* object) {
    auto* self = static_cast<typename Member<decltype(G)>::Class*>(object);
    if constexpr (std::is_member_function_pointer_v<decltype(G)>)
        return (self->*G)();
    else
        return self->*G;
}

template <auto F>
TComponent* GetField(TComponent* owner) {
    return static_cast<typename Member<decltype(F)>::Class*>(owner)->*F;
}

template <auto F>
void SetField(TComponent* owner, TComponent* value) {
    using T = std::remove_pointer_t<typename Member<decltype(F)>::Value>;
    static_cast<typename Member<decltype(F)>::Class*>(owner)->*F = static_cast<T*>(value);
}
} // namespace prop_detail

template <auto W>
constexpr TPropInfo IntegerProperty(const char* name) {
    return {.Name = name, .Kind = TPropKind::Integer, .SetOrdinal = &prop_detail::WriteOrdinal<W>};
}

template <auto W>
constexpr TPropInfo EnumProperty(const char* name, std::span<const char* const> names) {
    return {.Name = name,
            .Kind = TPropKind::Enumeration,
            .EnumNames = names,
            .SetOrdinal = &prop_detail::WriteOrdinal<W>};
}

template <auto W>
constexpr TPropInfo BooleanProperty(const char* name) {
    return EnumProperty<W>(name, BooleanNames);
}

template <auto W>
constexpr TPropInfo StringProperty(const char* name) {
    return {.Name = name, .Kind = TPropKind::String, .SetString = &prop_detail::WriteString<W>};
}

template <auto W>
constexpr TPropInfo EventProperty(const char* name) {
    using E = typename prop_detail::Member<decltype(W)>::Value;
    return {.Name = name,
            .Kind = TPropKind::Method,
            .EventType = E::Type(),
            .SetMethod = &prop_detail::WriteMethod<W>};
}

// A property holding an object whose own properties a dotted name reaches.
template <auto G>
constexpr TPropInfo ObjectProperty(const char* name) {
    return {.Name = name, .Kind = TPropKind::Class, .GetObject = &prop_detail::ReadObject<G>};
}

// A property of a kind the reader does not handle: its value takes no bytes.
constexpr TPropInfo OtherProperty(const char* name) {
    return {.Name = name, .Kind = TPropKind::Other};
}

template <auto F>
TFieldInfo PublishedField(const char* name) {
    using T = std::remove_pointer_t<typename prop_detail::Member<decltype(F)>::Value>;
    return {name, &T::Info, &prop_detail::GetField<F>, &prop_detail::SetField<F>};
}

template <auto Fn>
TMethodInfo PublishedMethod(const char* name) {
    using T = TMethodThunk<Fn>;
    return {name, reinterpret_cast<TMethodCode>(&T::Call), T::Event::Type()};
}

// ---- Classes

class TPersistent {
public:
    static const TClassInfo Info;

    TPersistent() = default;
    TPersistent(const TPersistent&) = delete;
    TPersistent& operator=(const TPersistent&) = delete;
    virtual ~TPersistent() = default;

    // Every class declares its own Info and returns it here: lookups, the
    // registry and the field checks go by it.
    virtual const TClassInfo* ClassType() const { return &Info; }
    const char* ClassName() const;
    bool InheritsFrom(const TClassInfo* ancestor) const { return ::InheritsFrom(ClassType(), ancestor); }

    // Copies this object's state into dest; the base copies nothing.
    virtual void AssignTo(TPersistent* dest);
    // Asks the source to copy itself into this object.
    virtual void Assign(TPersistent* source);
};

enum TComponentStateFlag : std::uint8_t {
    csLoading = 1,   // from creation by the reader until AfterLoad
    csReading = 2,   // while its own properties and children are read
    csDestroying = 8 // its destruction has begun
};

class TComponent : public TPersistent {
public:
    static const TClassInfo Info;

    // Appends the new component to the owner's list; the owner will delete it.
    explicit TComponent(TComponent* owner);
    // Tells the components linked by FreeNotification, deletes the owned
    // components from the last to the first, and leaves the owner.
    ~TComponent() override;
    const TClassInfo* ClassType() const override { return &Info; }

    TComponent* Owner() const { return owner_; }
    const std::string& Name() const { return name_; }
    // Renames: clears the owner's field of the old name and binds the one of the
    // new name. The same name (exactly) changes nothing. Names need not be unique.
    void SetName(const std::string& name);
    std::uint8_t ComponentState() const { return state_; }

    // The owned components in insertion order.
    std::span<TComponent* const> Components() const;
    int ComponentCount() const { return static_cast<int>(Components().size()); }
    // The first owned component of that name (published case rule), or nil.
    TComponent* FindComponent(std::string_view name) const;
    // Takes over a component (from its former owner, if any) and binds its field.
    void InsertComponent(TComponent* component);
    // Lets go of an owned component without deleting it; the caller owns it then.
    void RemoveComponent(TComponent* component);

    // The given component will be told (Notification) when this one goes. The
    // link works both ways, so whichever goes first unlinks the other.
    void FreeNotification(TComponent* component);
    void RemoveFreeNotification(TComponent* component);

    // Runs after the whole definition is read (every class resource of a form):
    // siblings' properties are set by then. Clears the loading flag.
    virtual void AfterLoad();
    // Reads this component's properties and children; the default is
    // reader.ReadComponentBody(*this).
    virtual void LoadState(TReader& reader);
    // Tells a new child of a definition whose parent it is; does nothing here.
    virtual void AttachToParent(TComponent* parent);

protected:
    // A component is going: it is linked to this one by FreeNotification, or
    // it is owned by this one (or by something this one owns). The default drops
    // it from the free-notification list and passes the news on to the owned
    // components.
    virtual void Notification(TComponent* gone);
    // Sets the destroying flag here and on everything owned, recursively.
    void Destroying();
    // Deletes the owned components, the last first. A class whose owned
    // components refer back to it while they go calls Destroying() and this at
    // the start of its own destructor.
    void DestroyComponents();

private:
    friend class TReader;
    friend void BindOwnerField(TComponent* component, bool bind);

    TComponent* owner_ = nullptr;
    std::string name_;
    std::uint8_t state_ = 0;
    // Raw pointers: a component leaves these lists itself when it is deleted.
    std::unique_ptr<std::vector<TComponent*>> components_;   // owned; created on first insert
    std::unique_ptr<std::vector<TComponent*>> freeNotifies_; // created on first use
};

// Sets (bind) or clears the owner's published field named like the component.
// Binding skips a field whose class cannot hold the component; clearing only
// clears a field that holds this very component.
void BindOwnerField(TComponent* component, bool bind);

// ---- Class registry

// Adds each class and its ancestors, up to TPersistent or to one already listed.
void RegisterClassList(std::span<const TClassInfo* const> classes);
// The most recently registered class of that name, or nil.
const TClassInfo* FindRegisteredClass(std::string_view name);

// ---- Reader

// Reads form definitions: a 4-byte signature, then component records (class
// name, object name, properties ended by a zero byte, children ended by a zero
// byte). Bytes come through a 4096-byte buffer; when the reader is freed the
// stream is moved back over what was buffered but not used, so it stands just
// after the definition. A damaged definition throws EReadError naming the class
// or property; what was created by then stays with its owner.
class TReader {
public:
    static constexpr std::int32_t BufferSize = 4096;
    static constexpr int MaxDepth = 64; // children within children

    explicit TReader(TStream& stream);
    ~TReader();
    TReader(const TReader&) = delete;
    TReader& operator=(const TReader&) = delete;

    // Reads one definition into root, or, when root is nil, into a new object of
    // the registered class the definition names (the caller owns it then).
    // Runs AfterLoad on everything read unless a shared load is under way.
    TComponent* ReadRoot(TComponent* root);
    // The default body: properties, then children with this component as parent.
    void ReadComponentBody(TComponent& component);

    TComponent* Root() const { return root_; }
    TComponent* Owner() const { return owner_; }
    // The component whose children are being read.
    TComponent* Parent() const { return parent_; }

private:
    std::uint8_t ReadByte();
    bool EndOfList();
    void Need(std::int32_t count);
    void ReadBytes(void* dest, std::int32_t count);
    std::string ReadShortString();
    std::string ReadIdent(std::uint8_t code);
    void ReadProperty(TPersistent& instance);
    void ReadValue(TPersistent& object, const TPropInfo& prop);
    void ReadChild();
    [[noreturn]] void Fail(const std::string& why) const;

    TStream& stream_;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::int32_t pos_ = 0;
    std::int32_t end_ = 0;
    TComponent* root_ = nullptr;
    TComponent* owner_ = nullptr;
    TComponent* parent_ = nullptr;
    std::vector<TComponent*>* loaded_ = nullptr;
    int depth_ = 0;
    std::string where_;    // the component being read, for messages
    std::string property_; // the property being read, for messages
};

// Reads one definition from the stream into an existing instance.
void ReadComponent(TStream& stream, TComponent& instance);
// Reads one definition into a new object of the class it names.
std::unique_ptr<TComponent> ReadComponent(TStream& stream);

// Opens the stored definition named after a class (nil when there is none). The
// program opens its RCDATA resources; tests supply their own bytes.
using TClassResourceOpener = std::unique_ptr<TStream> (*)(const std::string& className);
// Installs the opener; answers the one it replaces.
TClassResourceOpener SetClassResourceOpener(TClassResourceOpener opener);

// Reads the definitions named after each class of the instance, from the class
// just below stopClass (or TComponent) down to the instance's own, ancestors
// first, then runs AfterLoad on everything read. A missing definition throws
// EResNotFound.
void LoadFromClassResources(TComponent* instance, const TClassInfo* stopClass);
