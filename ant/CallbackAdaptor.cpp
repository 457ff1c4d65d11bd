#include "ant/CallbackAdaptor.h"

#include <ffi.h>

#include <new>

// The call description must live as long as the closure that refers to it.
struct TCallbackAdaptor::TClosure {
    ffi_cif Cif{};
    ffi_type *ArgTypes[2] = {&ffi_type_uint8, &ffi_type_uint8};
    ffi_closure *Closure = nullptr;
};

TCallbackAdaptor::TCallbackAdaptor(TTarget Target)
    : FTarget(std::move(Target)), FClosure(std::make_unique<TClosure>())
{
    void *code = nullptr;
    FClosure->Closure = static_cast<ffi_closure *>(ffi_closure_alloc(sizeof(ffi_closure), &code));
    if (FClosure->Closure == nullptr)
        throw std::bad_alloc();
    // bool travels as an 8-bit integer in the C calling convention.
    const bool ok =
        ffi_prep_cif(&FClosure->Cif, FFI_DEFAULT_ABI, 2, &ffi_type_uint8, FClosure->ArgTypes) == FFI_OK &&
        ffi_prep_closure_loc(
            FClosure->Closure, &FClosure->Cif,
            [](ffi_cif *cif, void *result, void **args, void *user) { Forward(cif, result, args, user); },
            this, code) == FFI_OK;
    if (!ok) {
        ffi_closure_free(FClosure->Closure);
        throw std::bad_alloc();
    }
    FEntry = reinterpret_cast<TAntCallbackEntry>(code);
}

TCallbackAdaptor::~TCallbackAdaptor()
{
    ffi_closure_free(FClosure->Closure);
}

void TCallbackAdaptor::Forward(void *, void *Result, void **Args, void *UserData)
{
    auto *self = static_cast<TCallbackAdaptor *>(UserData);
    const uint8_t a = *static_cast<const uint8_t *>(Args[0]);
    const uint8_t b = *static_cast<const uint8_t *>(Args[1]);
    bool answer = false;
    // Nothing may unwind into the library's reader thread: a throwing target answers false.
    try {
        answer = self->FTarget(a, b);
    } catch (...) {
        answer = false;
    }
    // Integral results narrower than a register are returned through a whole ffi_arg.
    *static_cast<ffi_arg *>(Result) = answer ? 1 : 0;
}
