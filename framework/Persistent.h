#pragma once
// TObject / TPersistent and the published-property table that assignment and the component
// streamer walk. Each class lists its published properties once, in declaration order, with
// the streaming default it declares (if any).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TFiler;
class TPersistent;

class TObject {
public:
    virtual ~TObject() = default;
    // The class name as the system knows it ("TAntDevice"); used in messages and streams.
    virtual std::string ClassName() const { return "TObject"; }
};

using TNotifyEvent = std::function<void(TObject *Sender)>;

enum class TPropKind {
    Integer,     // any signed or unsigned integer up to 32 bits (Byte, Word, Integer, Cardinal)
    Int64,
    Boolean,
    Enumeration, // stored by name in the text form
    Float,       // double or extended
    String,      // text (also wide text; UTF-8 in memory)
    Object       // owned sub-object (collection, string list, persistent): streamed inline
};

struct TPropInfo {
    std::string Name;
    TPropKind Kind = TPropKind::Integer;
    std::string TypeName;                        // "Word", "Boolean", "TAntChannelProfile", ...
    std::vector<std::string> EnumNames;          // Enumeration: name of each ordinal
    std::optional<int64_t> Default;              // declared streaming default of an ordinal
    bool Stored = true;                          // false: never written (references, events)
    std::function<int64_t(const TPersistent &)> GetOrd;   // Integer, Int64, Boolean, Enumeration
    std::function<void(TPersistent &, int64_t)> SetOrd;
    std::function<long double(const TPersistent &)> GetFloat;
    std::function<void(TPersistent &, long double)> SetFloat;
    std::function<std::string(const TPersistent &)> GetStr;
    std::function<void(TPersistent &, const std::string &)> SetStr;
    std::function<TPersistent *(const TPersistent &)> GetObj;
};

using TPropList = std::vector<TPropInfo>;

class TPersistent : public TObject {
public:
    std::string ClassName() const override { return "TPersistent"; }
    // Copies Source into this object. The default asks Source->AssignTo(this); with no source
    // or no class that knows how, EConvertError "Cannot assign a %s to a %s".
    virtual void Assign(const TPersistent *Source);
    // Published properties in declaration order, the base class's first.
    virtual const TPropList &Properties() const;
    // Extra stream data beyond the published properties (custom stream properties).
    virtual void DefineProperties(TFiler &Filer);
    // Owner for name paths (collections: their owner; items: their collection).
    virtual TPersistent *GetOwner() const { return nullptr; }

protected:
    virtual void AssignTo(TPersistent *Dest) const;
    // Raises EConvertError "Cannot assign a <Source class or nil> to a <this class>".
    [[noreturn]] void AssignError(const TPersistent *Source) const;
    friend class TPersistentAccess;
};

// Lets a class's Assign call another object's protected AssignTo.
class TPersistentAccess {
public:
    static void AssignTo(const TPersistent &Source, TPersistent *Dest) { Source.AssignTo(Dest); }
};

// Finds a property by name (case-insensitive); nullptr when absent.
const TPropInfo *FindProperty(const TPersistent &Obj, const std::string &Name);
// Copies every published property from Source to Dest (same class), sub-objects by Assign.
void AssignPublishedProperties(const TPersistent &Source, TPersistent &Dest);
// Whether the streamer writes this property of Obj: Stored, and for ordinals a value different
// from the declared default (always when none is declared), for text a non-empty value, for
// floats always, for objects always.
bool IsPropertyStored(const TPersistent &Obj, const TPropInfo &Prop);

// ---- helpers to declare properties concisely -------------------------------------------------
template <class C, class V>
TPropInfo IntProp(std::string name, std::string typeName, V (C::*get)() const, void (C::*set)(V),
                  std::optional<int64_t> def = std::nullopt)
{
    TPropInfo p;
    p.Name = std::move(name);
    p.Kind = TPropKind::Integer;
    p.TypeName = std::move(typeName);
    p.Default = def;
    p.GetOrd = [get](const TPersistent &o) { return static_cast<int64_t>((static_cast<const C &>(o).*get)()); };
    p.SetOrd = [set](TPersistent &o, int64_t v) { (static_cast<C &>(o).*set)(static_cast<V>(v)); };
    return p;
}

template <class C>
TPropInfo BoolProp(std::string name, bool (C::*get)() const, void (C::*set)(bool),
                   std::optional<bool> def = std::nullopt)
{
    TPropInfo p;
    p.Name = std::move(name);
    p.Kind = TPropKind::Boolean;
    p.TypeName = "Boolean";
    if (def)
        p.Default = *def ? 1 : 0;
    p.GetOrd = [get](const TPersistent &o) { return static_cast<int64_t>((static_cast<const C &>(o).*get)()); };
    p.SetOrd = [set](TPersistent &o, int64_t v) { (static_cast<C &>(o).*set)(v != 0); };
    return p;
}

template <class C, class E>
TPropInfo EnumProp(std::string name, std::string typeName, std::vector<std::string> names,
                   E (C::*get)() const, void (C::*set)(E), std::optional<int64_t> def = std::nullopt)
{
    TPropInfo p;
    p.Name = std::move(name);
    p.Kind = TPropKind::Enumeration;
    p.TypeName = std::move(typeName);
    p.EnumNames = std::move(names);
    p.Default = def;
    p.GetOrd = [get](const TPersistent &o) { return static_cast<int64_t>((static_cast<const C &>(o).*get)()); };
    p.SetOrd = [set](TPersistent &o, int64_t v) { (static_cast<C &>(o).*set)(static_cast<E>(v)); };
    return p;
}

template <class C, class V>
TPropInfo FloatProp(std::string name, std::string typeName, V (C::*get)() const, void (C::*set)(V))
{
    TPropInfo p;
    p.Name = std::move(name);
    p.Kind = TPropKind::Float;
    p.TypeName = std::move(typeName);
    p.GetFloat = [get](const TPersistent &o) { return static_cast<long double>((static_cast<const C &>(o).*get)()); };
    p.SetFloat = [set](TPersistent &o, long double v) { (static_cast<C &>(o).*set)(static_cast<V>(v)); };
    return p;
}

template <class C, class G, class S>
TPropInfo StrProp(std::string name, G get, S set, std::string typeName = "string")
{
    TPropInfo p;
    p.Name = std::move(name);
    p.Kind = TPropKind::String;
    p.TypeName = std::move(typeName);
    p.GetStr = [get](const TPersistent &o) { return std::string((static_cast<const C &>(o).*get)()); };
    p.SetStr = [set](TPersistent &o, const std::string &v) { (static_cast<C &>(o).*set)(v); };
    return p;
}

template <class C, class G>
TPropInfo ObjProp(std::string name, std::string typeName, G get)
{
    TPropInfo p;
    p.Name = std::move(name);
    p.Kind = TPropKind::Object;
    p.TypeName = std::move(typeName);
    p.GetObj = [get](const TPersistent &o) -> TPersistent * { return (static_cast<const C &>(o).*get)(); };
    return p;
}

// Base table followed by the class's own properties.
TPropList InheritProps(const TPropList &Base, std::initializer_list<TPropInfo> Own);

// ---- class registry: streams name classes, readers create them ---------------------------------
using TPersistentFactory = std::function<TPersistent *()>;
void RegisterClass(const std::string &ClassName, TPersistentFactory Factory);
// nullptr when the class is not registered.
const TPersistentFactory *FindClassFactory(const std::string &ClassName);
