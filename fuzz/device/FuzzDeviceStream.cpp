// A device read from a text component stream, including the hex data of its photo: only the
// framework's exceptions may come out, and whatever was read survives a second round.
#include "device/ZelDeviceBaseClasses.h"
#include "framework/Exception.h"
#include "framework/Streams.h"
#include "persist/PersistentStreamer.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    TMemoryStream in;
    if (Size > 0)
        in.WriteBuffer(Data, static_cast<int64_t>(Size));
    in.SetPosition(0);
    TZelCustomDevice device(nullptr);
    try {
        TPersistentReader(in, psfText).ReadObject(&device);
    } catch (const Exception &) {
        return 0;
    }
    TMemoryStream out;
    TPersistentWriter(out, psfText).WriteObject(&device);
    out.SetPosition(0);
    TZelCustomDevice again(nullptr);
    TPersistentReader(out, psfText).ReadObject(&again);
    if (again.Photo()->Data() != device.Photo()->Data() || again.RiderName() != device.RiderName())
        std::abort();
    return 0;
}
