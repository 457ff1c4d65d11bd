// Feeds arbitrary receive rows to every page decoder. The input is read in chunks of 17 bytes:
// a selector (bits 0-2: channel profile, bits 4-5: distance state; bits 3 and 6 chose the event
// and the channel's connection when the controller was in the loop, and select nothing now)
// followed by the 16-byte row.
#include "ant/profiles/PageDecoders.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// Every action a decoder returns must be one its caller can carry out.
void CheckOutcome(const TPageOutcome &Outcome)
{
    if (Outcome.Count > TPageOutcome::Capacity)
        __builtin_trap();
    for (const TPageAction &action : Outcome) {
        switch (action.Kind) {
        case TPageActionKind::Log:
        case TPageActionKind::LogNumber:
            if (action.Text == nullptr || action.LogLine().empty())
                __builtin_trap();
            break;
        case TPageActionKind::ConsoleKeyDown:
            if (action.Value < ckPlus || action.Value > ckTab)
                __builtin_trap();
            break;
        case TPageActionKind::CalibrationStatus:
            if (action.Value <= acsNone || action.Value > acsZeroOffsetDone)
                __builtin_trap();
            break;
        case TPageActionKind::PADataReceived:
            if (action.Value < 0)
                __builtin_trap();
            break;
        case TPageActionKind::SendUserConfiguration:
        case TPageActionKind::SendConsoleKeepAlive: break;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    TPageDecoderState state;
    TANTProfileDataHR hr;
    TANTProfileDataSC sc;
    TAntProfileDataCadence cad;
    TAntProfileFE fe;
    TANTUlmoraPAData pedal;
    TANTUlmoraPAData pedalHs;
    sc.SetWheelCircumference(2096.0L);

    int32_t events = 0;
    for (size_t pos = 0; pos + 17 <= size; pos += 17) {
        const uint8_t selector = data[pos];
        const auto distance = static_cast<TAntDistanceState>(((selector >> 4) & 0x03) % 3);
        TAntRxRow row;
        std::memcpy(row.data(), data + pos + 1, row.size());
        ++events;
        switch (selector & 0x07) {
        case 0: PageDecoders::DecodeHeartRatePage(hr, row); break;
        case 1: PageDecoders::DecodeSpeedCadencePage(sc, row, state); break;
        case 2: PageDecoders::DecodeCadencePage(cad, row, state); break;
        case 3: CheckOutcome(PageDecoders::DecodeFitnessEquipmentPage(fe, row, distance)); break;
        case 4: CheckOutcome(PageDecoders::DecodeConsolePage(row, events, state)); break;
        case 5: CheckOutcome(PageDecoders::DecodePedalPage(pedal, row)); break;
        case 6: CheckOutcome(PageDecoders::DecodePedalPage(pedalHs, row)); break;
        default: break; // a channel profile without a decoder
        }
    }
    return 0;
}
