// Resistance-map text from outside (a trainer's burst or a file) through parsing, scaling,
// power limits and the power lookup. Input: 8 control bytes, then the map text (lines split
// at LF, CR removed, so a final LF leaves the empty last line the trainer's text has).
//   byte 0: bit 0 comma as system decimal separator, bit 1 speed in miles, bit 2 version 3.5
//   byte 1: adapter in tenths (0 = none given)
//   bytes 2-3: target power in watts (little endian, signed)
//   bytes 4-5: speed in tenths of the unit (little endian, signed)
//   bytes 6-7: unused
#include "framework/Exception.h"
#include "framework/SysUtils.h"
#include "maps/EMZel.h"
#include "maps/ResistanceMap.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    uint8_t control[8] = {};
    const size_t head = size < sizeof(control) ? size : sizeof(control);
    for (size_t i = 0; i < head; ++i)
        control[i] = data[i];
    const std::string text(reinterpret_cast<const char *>(data) + head, size - head);

    SetFormatSettingsOverride(TFormatSettings{(control[0] & 1) ? ',' : '.', "hh:nn:ss"});
    TResistanceMap map(nullptr);
    if (control[0] & 4)
        map.SetTarvoVersion(3.5);
    map.SetResistanceMapAdapter(control[1] / 10.0);

    std::string line;
    for (char ch : text) {
        if (ch == '\n') {
            map.Strings()->Add(line);
            line.clear();
        } else if (ch != '\r') {
            line += ch;
        }
    }
    map.Strings()->Add(line);

    try {
        map.LoadMap();
    } catch (const EMZel &e) {
        if (e.ErrorCode() != 4)
            __builtin_trap();
        SetFormatSettingsOverride(std::nullopt);
        return 0;
    }
    map.ApplyAdapter();
    map.ComputePowerLimits();
    if (map.MaxPower() < 0 || map.MinPower() <= 0)
        __builtin_trap();

    const int16_t target = static_cast<int16_t>(control[2] | (control[3] << 8));
    const int16_t speed = static_cast<int16_t>(control[4] | (control[5] << 8));
    int32_t out = -12345;
    try {
        const uint8_t status =
            map.LimitPower(out, target, speed / 10.0, (control[0] & 2) ? umMiles : umKm);
        if (status > 3 || (status == 0 && out != -12345) || (status == 3 && out != target))
            __builtin_trap();
    } catch (const EMZel &) {
        __builtin_trap(); // lookups never raise map-reading errors
    } catch (const Exception &e) {
        if (e.Message() != "x1>x2 or y1>y2")
            __builtin_trap();
    }
    SetFormatSettingsOverride(std::nullopt);
    return 0;
}
