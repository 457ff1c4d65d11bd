#pragma once
// A plain C entry point with the ANT library's callback signature, bool(uint8_t, uint8_t),
// that forwards every call to one bound target. The library's callbacks carry no user data,
// so each registration needs an entry point of its own: each adaptor is a libffi closure, a
// distinct function address whose call reaches this adaptor's target.
//
// The entry point may be called from any thread and re-entrantly: a call keeps no state in
// the adaptor. Whoever frees an adaptor must first make sure the library can no longer call
// it (see TAntComControl's binding).
#include <cstdint>
#include <functional>
#include <memory>

using TAntCallbackEntry = bool (*)(uint8_t, uint8_t);

class TCallbackAdaptor {
public:
    using TTarget = std::function<bool(uint8_t, uint8_t)>;

    // std::bad_alloc when no closure can be made.
    explicit TCallbackAdaptor(TTarget Target);
    ~TCallbackAdaptor();
    TCallbackAdaptor(const TCallbackAdaptor &) = delete;
    TCallbackAdaptor &operator=(const TCallbackAdaptor &) = delete;

    // Valid until the adaptor is destroyed.
    TAntCallbackEntry EntryPoint() const { return FEntry; }

private:
    struct TClosure;
    static void Forward(void *Cif, void *Result, void **Args, void *UserData);

    TTarget FTarget;
    std::unique_ptr<TClosure> FClosure;
    TAntCallbackEntry FEntry = nullptr;
};

// An adaptor for one method of one object; the method is reached through the object's
// virtual table, so an override receives the calls.
template <class TObjectClass>
std::unique_ptr<TCallbackAdaptor> MakeCallbackAdaptor(TObjectClass *Object,
                                                      bool (TObjectClass::*Method)(uint8_t, uint8_t))
{
    return std::make_unique<TCallbackAdaptor>(
        [Object, Method](uint8_t A, uint8_t B) { return (Object->*Method)(A, B); });
}

// The entry point of an adaptor, or none.
inline TAntCallbackEntry EntryPointOf(const TCallbackAdaptor *Adaptor)
{
    return Adaptor ? Adaptor->EntryPoint() : nullptr;
}
