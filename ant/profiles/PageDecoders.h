#pragma once
// Page decoding without a controller: each decoder writes one receive row (byte 0 the channel
// number, byte n + 1 payload byte n) into a record and returns what its caller has to do
// afterwards, in order. State that outlives a page is passed in explicitly.
#include "ant/profiles/ANTPlusProfileData.h"
#include "ant/profiles/AntTypes.h"
#include "ant/profiles/PageNumbers.h"

#include <array>
#include <cassert>
#include <cstdint>
#include <string>

enum class TPageActionKind : uint8_t {
    Log,                   // Text
    LogNumber,             // Text followed by Value in decimal
    ConsoleKeyDown,        // Value: the TConsoleKey
    CalibrationStatus,     // Value: the TAntCalibrationStatus
    SendUserConfiguration, // page 55 in its controller form
    SendConsoleKeepAlive,  // ConsoleKeepAlivePacket as a broadcast
    PADataReceived         // Value: index of the completed pedal record
};

struct TPageAction {
    TPageActionKind Kind;
    const char *Text; // static text, never owned
    int32_t Value;

    // The log line of a Log or LogNumber action.
    std::string LogLine() const;
};

struct TPageOutcome {
    // The most one page asks for: four console keys raised and logged, then the keep-alive
    // and its line.
    static constexpr size_t Capacity = 10;

    // Only the first Count are set: a page without actions costs no clearing.
    std::array<TPageAction, Capacity> Actions;
    uint8_t Count = 0;

    void Add(TPageActionKind Kind, const char *Text = nullptr, int32_t Value = 0)
    {
        assert(Count < Capacity);
        Actions[Count++] = TPageAction{Kind, Text, Value};
    }
    bool Empty() const { return Count == 0; }
    const TPageAction *begin() const { return Actions.data(); }
    const TPageAction *end() const { return Actions.data() + Count; }
};

// Kept by the controller for all its channels.
struct TPageDecoderState {
    // Pages in a row without a new cadence event, shared by both cadence decoders.
    int32_t CadenceStallCount = 0;
    // Console keys seen down on the last page, indexed by TConsoleKey.
    std::array<bool, 4> KeyLatch{};
};

constexpr TChannelSendPacket ConsoleKeepAlivePacket{ConsolePageKeepAlive, 0, 0, 0, 0, 0, 0, 0};

namespace PageDecoders {

void DecodeHeartRatePage(TANTProfileDataHR &Record, const TAntRxRow &Row);
void DecodeSpeedCadencePage(TANTProfileDataSC &Record, const TAntRxRow &Row, TPageDecoderState &State);
void DecodeCadencePage(TAntProfileDataCadence &Record, const TAntRxRow &Row, TPageDecoderState &State);
// EventCount: the channel's event count, which times the keep-alive.
TPageOutcome DecodeConsolePage(const TAntRxRow &Row, int32_t EventCount, TPageDecoderState &State);
// Distance accumulates only while DistanceState is dsRunning.
TPageOutcome DecodeFitnessEquipmentPage(TAntProfileFE &Record, const TAntRxRow &Row, TAntDistanceState DistanceState);
TPageOutcome DecodePedalPage(TANTUlmoraPAData &Record, const TAntRxRow &Row);

} // namespace PageDecoders
