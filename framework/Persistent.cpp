#include "framework/Persistent.h"

#include "framework/Exception.h"
#include "framework/SysUtils.h"

#include <map>
#include <mutex>

void TPersistent::Assign(const TPersistent *Source)
{
    if (Source == nullptr)
        AssignError(nullptr);
    Source->AssignTo(this);
}

void TPersistent::AssignTo(TPersistent *Dest) const
{
    Dest->AssignError(this);
}

void TPersistent::AssignError(const TPersistent *Source) const
{
    const std::string sourceName = Source ? Source->ClassName() : std::string("nil");
    throw EConvertError("Cannot assign a " + sourceName + " to a " + ClassName());
}

const TPropList &TPersistent::Properties() const
{
    static const TPropList none;
    return none;
}

void TPersistent::DefineProperties(TFiler &Filer)
{
    (void)Filer;
}

const TPropInfo *FindProperty(const TPersistent &Obj, const std::string &Name)
{
    for (const TPropInfo &p : Obj.Properties())
        if (SameText(p.Name, Name))
            return &p;
    return nullptr;
}

void AssignPublishedProperties(const TPersistent &Source, TPersistent &Dest)
{
    if (&Source == &Dest)
        return;
    for (const TPropInfo &dp : Dest.Properties()) {
        const TPropInfo *sp = FindProperty(Source, dp.Name);
        if (sp == nullptr || sp->Kind != dp.Kind)
            continue;
        switch (dp.Kind) {
        case TPropKind::Integer:
        case TPropKind::Int64:
        case TPropKind::Boolean:
        case TPropKind::Enumeration:
            if (sp->GetOrd && dp.SetOrd)
                dp.SetOrd(Dest, sp->GetOrd(Source));
            break;
        case TPropKind::Float:
            if (sp->GetFloat && dp.SetFloat)
                dp.SetFloat(Dest, sp->GetFloat(Source));
            break;
        case TPropKind::String:
            if (sp->GetStr && dp.SetStr)
                dp.SetStr(Dest, sp->GetStr(Source));
            break;
        case TPropKind::Object: {
            // A non-stored object property is a reference to somebody else's object: copying
            // into it would overwrite that object, so only owned sub-objects are assigned.
            if (!dp.Stored || !sp->GetObj || !dp.GetObj)
                break;
            TPersistent *src = sp->GetObj(Source);
            TPersistent *dst = dp.GetObj(Dest);
            if (src != nullptr && dst != nullptr && src != dst)
                dst->Assign(src);
            break;
        }
        }
    }
}

bool IsPropertyStored(const TPersistent &Obj, const TPropInfo &Prop)
{
    if (!Prop.Stored)
        return false;
    switch (Prop.Kind) {
    case TPropKind::Integer:
    case TPropKind::Int64:
    case TPropKind::Boolean:
    case TPropKind::Enumeration:
        if (Prop.Default && Prop.GetOrd)
            return Prop.GetOrd(Obj) != *Prop.Default;
        return true;
    case TPropKind::String:
        return Prop.GetStr ? !Prop.GetStr(Obj).empty() : false;
    case TPropKind::Float:
    case TPropKind::Object:
        return true;
    }
    return true;
}

TPropList InheritProps(const TPropList &Base, std::initializer_list<TPropInfo> Own)
{
    TPropList result(Base);
    result.insert(result.end(), Own.begin(), Own.end());
    return result;
}

namespace {

struct CaseInsensitiveLess {
    bool operator()(const std::string &a, const std::string &b) const
    {
        return UpperCase(a) < UpperCase(b);
    }
};

struct ClassRegistry {
    std::mutex Lock;
    std::map<std::string, TPersistentFactory, CaseInsensitiveLess> Classes;
};

ClassRegistry &Registry()
{
    static ClassRegistry registry;
    return registry;
}

} // namespace

void RegisterClass(const std::string &ClassName, TPersistentFactory Factory)
{
    ClassRegistry &r = Registry();
    std::lock_guard<std::mutex> guard(r.Lock);
    // The first registration of a name stays: factories already handed out remain valid.
    r.Classes.try_emplace(ClassName, std::move(Factory));
}

const TPersistentFactory *FindClassFactory(const std::string &ClassName)
{
    ClassRegistry &r = Registry();
    std::lock_guard<std::mutex> guard(r.Lock);
    auto it = r.Classes.find(ClassName);
    // Map nodes are stable and registrations are never removed, so the pointer stays valid.
    return it == r.Classes.end() ? nullptr : &it->second;
}
