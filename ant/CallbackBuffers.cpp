#include "ant/CallbackBuffers.h"

// Never destroyed: the library's thread may still write a registered row while the process
// runs its static destructors.
TResponseBuffers &ResponseBuffers()
{
    static auto *table = new TResponseBuffers;
    return *table;
}

TRxBuffers &RxBuffers()
{
    static auto *table = new TRxBuffers;
    return *table;
}

uint8_t *GlobalResponseBuffer()
{
    static auto *buffer = new std::array<uint8_t, ResponseRowSize>{};
    return buffer->data();
}
