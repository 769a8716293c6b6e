#include "Classes.h"
#include <algorithm>
#include <cstring>

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (((static_cast<unsigned char>(a[i]) ^ static_cast<unsigned char>(b[i])) & ~0x20u) != 0)
            return false;
    return true;
}

const char* const BooleanNames[2] = {"False", "True"};

// ---- Published metadata

bool InheritsFrom(const TClassInfo* cls, const TClassInfo* ancestor) {
    for (; cls; cls = cls->Parent)
        if (cls == ancestor) return true;
    return false;
}

// The table is a pointer to a member of TClassInfo, taken as a plain type parameter: the
// two clang-format releases the project supports lay out "T C::*table" differently.
template <typename Table>
static auto FindIn(const TClassInfo* cls, Table table, std::string_view name) -> decltype(&(cls->*table)[0]) {
    for (; cls; cls = cls->Parent)
        for (const auto& entry : cls->*table)
            if (SameName(entry.Name, name)) return &entry;
    return nullptr;
}

const TPropInfo* FindPropInfo(const TClassInfo* cls, std::string_view name) {
    return FindIn(cls, &TClassInfo::Properties, name);
}

const TFieldInfo* FindFieldInfo(const TClassInfo* cls, std::string_view name) {
    return FindIn(cls, &TClassInfo::Fields, name);
}

const TMethodInfo* FindMethodInfo(const TClassInfo* cls, std::string_view name) {
    return FindIn(cls, &TClassInfo::Methods, name);
}

// ---- TPersistent

const TClassInfo TPersistent::Info{"TPersistent", nullptr, nullptr, {}, {}, {}};

const char* TPersistent::ClassName() const {
    return ClassType()->Name;
}

void TPersistent::AssignTo(TPersistent*) {}

void TPersistent::Assign(TPersistent* source) {
    if (source) source->AssignTo(this);
}

// ---- TComponent

static const TPropInfo ComponentProperties[] = {
    StringProperty<&TComponent::SetName>("Name"),
};

const TClassInfo TComponent::Info{
    "TComponent", &TPersistent::Info, &CreateComponent<TComponent>, ComponentProperties, {}, {}};

TComponent::TComponent(TComponent* owner) {
    if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
    // Unlink from everything linked by FreeNotification and tell it.
    if (freeNotifies_) {
        while (!freeNotifies_->empty()) {
            TComponent* other = freeNotifies_->back();
            freeNotifies_->pop_back();
            if (other->freeNotifies_) std::erase(*other->freeNotifies_, this);
            other->Notification(this);
        }
    }
    Destroying();
    DestroyComponents();
    if (owner_) owner_->RemoveComponent(this);
}

void TComponent::SetName(const std::string& name) {
    if (name == name_) return;
    BindOwnerField(this, false);
    name_ = name;
    BindOwnerField(this, true);
}

std::span<TComponent* const> TComponent::Components() const {
    if (!components_) return {};
    return *components_;
}

TComponent* TComponent::FindComponent(std::string_view name) const {
    if (name.empty()) return nullptr;
    for (TComponent* c : Components())
        if (SameName(c->name_, name)) return c;
    return nullptr;
}

void TComponent::InsertComponent(TComponent* component) {
    if (!component || component->owner_ == this) return;
    // An owner cycle would never be freed.
    for (TComponent* o = this; o; o = o->owner_)
        if (o == component) return;
    if (component->owner_) component->owner_->RemoveComponent(component);
    if (!components_) components_ = std::make_unique<std::vector<TComponent*>>();
    components_->push_back(component);
    component->owner_ = this;
    BindOwnerField(component, true);
}

void TComponent::RemoveComponent(TComponent* component) {
    if (!component || component->owner_ != this) return;
    Notification(component);
    BindOwnerField(component, false);
    std::erase(*components_, component);
    if (components_->empty()) components_.reset();
    component->owner_ = nullptr;
}

void TComponent::FreeNotification(TComponent* component) {
    if (!component || component == this) return;
    auto link = [](TComponent* from, TComponent* to) {
        if (!from->freeNotifies_) from->freeNotifies_ = std::make_unique<std::vector<TComponent*>>();
        auto& list = *from->freeNotifies_;
        if (std::find(list.begin(), list.end(), to) == list.end()) list.push_back(to);
    };
    link(this, component);
    link(component, this);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
    if (!component) return;
    if (freeNotifies_) std::erase(*freeNotifies_, component);
    if (component->freeNotifies_) std::erase(*component->freeNotifies_, this);
}

void TComponent::Notification(TComponent* gone) {
    if (freeNotifies_) std::erase(*freeNotifies_, gone);
    // By index: an override may change the list while it is told.
    for (std::size_t i = Components().size(); i-- > 0;) {
        auto owned = Components();
        if (i < owned.size()) owned[i]->Notification(gone);
    }
}

void TComponent::Destroying() {
    if (state_ & csDestroying) return;
    state_ |= csDestroying;
    for (TComponent* c : Components()) c->Destroying();
}

void TComponent::DestroyComponents() {
    while (components_ && !components_->empty()) {
        TComponent* last = components_->back();
        RemoveComponent(last);
        delete last;
    }
}

void TComponent::AfterLoad() {
    state_ &= ~csLoading;
}

void TComponent::LoadState(TReader& reader) {
    reader.ReadComponentBody(*this);
}

void TComponent::AttachToParent(TComponent*) {}

void BindOwnerField(TComponent* component, bool bind) {
    TComponent* owner = component->owner_;
    // A going owner's fields are going too.
    if (!owner || (owner->state_ & csDestroying) || component->name_.empty()) return;
    const TFieldInfo* field = FindFieldInfo(owner->ClassType(), component->name_);
    if (!field) return;
    if (bind) {
        if (component->InheritsFrom(field->Class)) field->Set(owner, component);
    } else if (field->Get(owner) == component) {
        // Another component of the same name may hold the field by now.
        field->Set(owner, nullptr);
    }
}

// ---- Class registry

static std::vector<const TClassInfo*>& ClassRegistry() {
    static std::vector<const TClassInfo*> list;
    return list;
}

void RegisterClassList(std::span<const TClassInfo* const> classes) {
    auto& list = ClassRegistry();
    for (const TClassInfo* cls : classes) {
        for (; cls; cls = cls->Parent) {
            if (std::find(list.begin(), list.end(), cls) != list.end()) break;
            list.push_back(cls);
            if (cls == &TPersistent::Info) break;
        }
    }
}

const TClassInfo* FindRegisteredClass(std::string_view name) {
    const auto& list = ClassRegistry();
    for (auto it = list.rbegin(); it != list.rend(); ++it)
        if (SameName((*it)->Name, name)) return *it;
    return nullptr;
}

// ---- Reader

// The load list shared by the definitions of one form (nil when none is being
// read); the call stack of LoadFromClassResources keeps the outer ones.
static std::vector<TComponent*>* SharedLoadList = nullptr;

TReader::TReader(TStream& stream) : stream_(stream), buffer_(new std::uint8_t[BufferSize]) {}

TReader::~TReader() {
    try {
        if (end_ > pos_) stream_.Seek(pos_ - end_, soCurrent);
    } catch (...) {
        // The stream's position is lost; nothing more to do while unwinding.
    }
}

void TReader::Fail(const std::string& why) const {
    std::string where = where_.empty() ? "the form definition" : where_;
    if (!property_.empty()) where += "." + property_;
    throw EReadError("Error reading " + where + ": " + why);
}

// Makes at least count bytes (at most BufferSize) available in the buffer.
void TReader::Need(std::int32_t count) {
    if (end_ - pos_ >= count) return;
    std::int32_t kept = end_ - pos_;
    std::memmove(buffer_.get(), buffer_.get() + pos_, static_cast<std::size_t>(kept));
    pos_ = 0;
    end_ = kept;
    while (end_ < count) {
        std::int32_t n = stream_.Read(buffer_.get() + end_, BufferSize - end_);
        if (n <= 0) Fail("the definition ends early");
        end_ += std::min(n, BufferSize - end_);
    }
}

std::uint8_t TReader::ReadByte() {
    Need(1);
    return buffer_[pos_++];
}

bool TReader::EndOfList() {
    Need(1);
    return buffer_[pos_] == 0;
}

void TReader::ReadBytes(void* dest, std::int32_t count) {
    Need(count);
    std::memcpy(dest, buffer_.get() + pos_, static_cast<std::size_t>(count));
    pos_ += count;
}

std::string TReader::ReadShortString() {
    std::uint8_t length = ReadByte();
    std::string s(length, '\0');
    ReadBytes(s.data(), length);
    return s;
}

std::string TReader::ReadIdent(std::uint8_t code) {
    switch (code) {
    case 7:
        return ReadShortString();
    case 8:
        return "False";
    case 9:
        return "True";
    default:
        return {};
    }
}

TComponent* TReader::ReadRoot(TComponent* root) {
    where_.clear();
    property_.clear();
    parent_ = nullptr;
    depth_ = 0;
    std::uint8_t signature[4]; // "TPF0", not checked
    ReadBytes(signature, sizeof signature);
    std::string className = ReadShortString();
    where_ = className;
    std::unique_ptr<TComponent> created;
    if (!root) {
        const TClassInfo* cls = FindRegisteredClass(className);
        if (!cls) Fail("class " + className + " not found");
        if (!cls->Create) Fail("class " + className + " cannot be created");
        created.reset(cls->Create(nullptr));
        root = created.get();
    }
    std::string name = ReadShortString();
    if (!name.empty()) where_ = name;
    root->SetName(name);
    root_ = owner_ = root;

    std::vector<TComponent*> ownList;
    loaded_ = SharedLoadList ? SharedLoadList : &ownList;
    if (std::find(loaded_->begin(), loaded_->end(), root) == loaded_->end()) loaded_->push_back(root);
    root->state_ |= csLoading | csReading;
    try {
        root->LoadState(*this);
    } catch (...) {
        root->state_ &= ~csReading;
        loaded_ = nullptr;
        throw;
    }
    root->state_ &= ~csReading;
    loaded_ = nullptr;
    if (!SharedLoadList)
        for (std::size_t i = 0; i < ownList.size(); ++i) ownList[i]->AfterLoad();
    return created ? created.release() : root;
}

void TReader::ReadComponentBody(TComponent& component) {
    if (!root_ || !loaded_) Fail("a component body is read only within a root");
    while (!EndOfList()) ReadProperty(component);
    ReadByte();
    TComponent* savedParent = parent_;
    TComponent* savedOwner = owner_;
    parent_ = &component;
    if (!owner_) owner_ = root_;
    while (!EndOfList()) ReadChild();
    ReadByte();
    parent_ = savedParent;
    owner_ = savedOwner;
}

void TReader::ReadProperty(TPersistent& instance) {
    property_ = ReadShortString();
    TPersistent* object = &instance;
    std::string_view path = property_;
    for (std::size_t dot; (dot = path.find('.')) != std::string_view::npos; path.remove_prefix(dot + 1)) {
        std::string segment(path.substr(0, dot));
        const TPropInfo* prop = FindPropInfo(object->ClassType(), segment);
        if (!prop) Fail("property " + segment + " does not exist");
        if (prop->Kind != TPropKind::Class || !prop->GetObject) Fail(segment + " is not an object");
        object = prop->GetObject(object);
        if (!object) Fail(segment + " holds no object");
    }
    const TPropInfo* prop = FindPropInfo(object->ClassType(), path);
    if (!prop) Fail("property " + std::string(path) + " does not exist");
    ReadValue(*object, *prop);
    property_.clear();
}

void TReader::ReadValue(TPersistent& object, const TPropInfo& prop) {
    switch (prop.Kind) {
    case TPropKind::Integer: {
        std::int32_t value;
        std::uint8_t code = ReadByte();
        if (code == 2) {
            value = static_cast<std::int8_t>(ReadByte());
        } else if (code == 3) {
            std::uint8_t b[2];
            ReadBytes(b, 2);
            value = static_cast<std::int16_t>(b[0] | b[1] << 8);
        } else {
            std::uint8_t b[4];
            ReadBytes(b, 4);
            value = static_cast<std::int32_t>(b[0] | b[1] << 8 | b[2] << 16 | std::uint32_t(b[3]) << 24);
        }
        if (prop.SetOrdinal) prop.SetOrdinal(&object, value);
        break;
    }
    case TPropKind::Enumeration: {
        std::string ident = ReadIdent(ReadByte());
        std::int32_t value = -1;
        for (std::size_t i = 0; i < prop.EnumNames.size(); ++i)
            if (SameName(prop.EnumNames[i], ident)) {
                value = static_cast<std::int32_t>(i);
                break;
            }
        if (prop.SetOrdinal) prop.SetOrdinal(&object, value);
        break;
    }
    case TPropKind::Method: {
        std::uint8_t code = ReadByte();
        if (code == 13) {
            if (prop.SetMethod) prop.SetMethod(&object, TMethod{});
            break;
        }
        std::string ident = ReadIdent(code);
        const TMethodInfo* method = FindMethodInfo(root_->ClassType(), ident);
        if (!method) break; // an unknown handler leaves the event as it was
        // A handler of another signature would be called with the wrong arguments.
        if (method->Type != prop.EventType) Fail("method " + ident + " does not fit this event");
        if (prop.SetMethod) prop.SetMethod(&object, TMethod{method->Code, root_});
        break;
    }
    case TPropKind::String: {
        ReadByte(); // the value code, whatever it is
        std::string value = ReadShortString();
        if (prop.SetString) prop.SetString(&object, value);
        break;
    }
    case TPropKind::Class:
    case TPropKind::Other:
        break;
    }
}

void TReader::ReadChild() {
    std::string className = ReadShortString();
    std::string name = ReadShortString();
    std::string savedWhere = where_;
    if (!name.empty() || !className.empty()) where_ = name.empty() ? className : name;
    if (depth_ >= MaxDepth) Fail("components are nested too deeply");
    const TClassInfo* cls = FindRegisteredClass(className);
    if (!cls) Fail("class " + className + " not found");
    if (!cls->Create) Fail("class " + className + " cannot be created");
    // A field of another class would end up holding an object it cannot describe.
    const TFieldInfo* field = name.empty() ? nullptr : FindFieldInfo(owner_->ClassType(), name);
    if (field && !InheritsFrom(cls, field->Class))
        Fail("field " + name + " of " + owner_->ClassName() + " cannot hold a " + cls->Name);

    TComponent* savedParent = parent_;
    TComponent* child = cls->Create(owner_);
    child->state_ |= csLoading;
    child->AttachToParent(parent_);
    child->SetName(name);
    child->state_ |= csReading;
    ++depth_;
    try {
        child->LoadState(*this);
    } catch (...) {
        child->state_ &= ~csReading;
        throw;
    }
    --depth_;
    child->state_ &= ~csReading;
    loaded_->push_back(child);
    parent_ = savedParent;
    where_ = savedWhere;
}

void ReadComponent(TStream& stream, TComponent& instance) {
    TReader reader(stream);
    reader.ReadRoot(&instance);
}

std::unique_ptr<TComponent> ReadComponent(TStream& stream) {
    TReader reader(stream);
    return std::unique_ptr<TComponent>(reader.ReadRoot(nullptr));
}

static TClassResourceOpener ClassResourceOpener = nullptr;

TClassResourceOpener SetClassResourceOpener(TClassResourceOpener opener) {
    TClassResourceOpener previous = ClassResourceOpener;
    ClassResourceOpener = opener;
    return previous;
}

void LoadFromClassResources(TComponent* instance, const TClassInfo* stopClass) {
    if (!instance) return;
    struct SharedList {
        std::vector<TComponent*> list;
        std::vector<TComponent*>* outer = SharedLoadList;
        SharedList() { SharedLoadList = &list; }
        ~SharedList() { SharedLoadList = outer; }
    } shared;

    std::vector<const TClassInfo*> classes;
    for (const TClassInfo* cls = instance->ClassType(); cls && cls != stopClass && cls != &TComponent::Info;
         cls = cls->Parent)
        classes.push_back(cls);
    for (auto it = classes.rbegin(); it != classes.rend(); ++it) {
        std::string name = (*it)->Name;
        std::unique_ptr<TStream> stream = ClassResourceOpener ? ClassResourceOpener(name) : nullptr;
        if (!stream) throw EResNotFound("Resource " + name + " not found");
        TReader reader(*stream);
        reader.ReadRoot(instance);
    }
    for (std::size_t i = 0; i < shared.list.size(); ++i) shared.list[i]->AfterLoad();
}
