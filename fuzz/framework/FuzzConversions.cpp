// Registry text reaches the integer and floating-point conversions; the same bytes also serve
// as a Format pattern. Every outcome is a value or a conversion error, and the values agree.
#include "framework/Exception.h"
#include "framework/SysUtils.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    TFormatSettings fs;
    fs.DecimalSeparator = size > 0 && (data[0] & 1) ? ',' : '.';
    SetFormatSettingsOverride(fs);

    int32_t i32 = 0;
    int64_t i64 = 0;
    const bool ok32 = TryStrToInt(text, i32);
    const bool ok64 = TryStrToInt64(text, i64);
    // Whatever reads as a 32-bit integer also reads as a 64-bit one, and decimal text agrees.
    if (ok32 && !ok64)
        std::abort();
    if (ok32 && text.find_first_of("$xX") == std::string::npos && i64 != i32)
        std::abort();
    if (ok32 && StrToInt(IntToStr(i32)) != i32)
        std::abort();

    long double f = 0;
    if (TryStrToFloat(text, f)) {
        const std::string shown = FloatToStr(f);
        long double back = 0;
        if (!TryStrToFloat(shown, back))
            std::abort();
    }
    try {
        (void)StrToFloat(text);
    } catch (const EConvertError &) {
    }

    try {
        (void)Format(text, {1, -2, "text", 'c', 2.5, static_cast<uint64_t>(7)});
    } catch (const EConvertError &) {
    }
    SetFormatSettingsOverride(std::nullopt);
    return 0;
}
