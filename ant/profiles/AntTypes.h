#pragma once
// Enumerations shared by the whole ANT stack: channels, sequencer, requests and controller.
// Lowest ANT header: no dependencies beyond the standard library.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

enum TAntChannelProfile : uint8_t {
    acpUnAssigned,
    acpAntUlmora,
    acpAntHR,
    acpAntSC,
    acpAntCad,
    acpAntFE,
    acpAntConsole,
    acpAntUlmoraPA,
    acpAntUlmoraPAHS
};

// A single byte: written from the library's thread as well as the user-interface thread.
enum TAntChannelState : uint8_t {
    chsIdle = 0,
    chsConnectRequested = 1,
    chsConnecting = 2,
    chsConnected = 3,
    chsConnectionLost = 4,
    chsActive = 5
};

enum TChannelConnectionStep : uint8_t {
    ccsSetStart = 0,
    ccsSetNetworkKey = 1,
    ccsAssignChannel = 2,
    ccsSetChannelID = 3,
    ccsChannelPeriod = 4,
    ccsSetChannelFreq = 5,
    ccsSetChannelPower = 6,
    ccsSetChannelSearchTimeout = 7,
    ccsSetChannelLPSearchTimeout = 8,
    ccsOpen = 9,
    ccsSetResp = 10,
    ccsSetChan = 11
};

enum TAntDistanceState : uint8_t { dsStop, dsRunning, dsPause };

enum TConsoleKey : uint8_t { ckPlus, ckMinus, ckEnter, ckTab };

// TAntRequestType (artThreaded, artWaitableTimer) is declared with the requests in
// ant/AntRequestList.h; the sequencer's TConnectChannelThreadType uses the same values.

enum TAntDllState : uint8_t {
    dllLoading = 0,
    dllLoaded = 1,
    dllReserved = 2, // never reported
    dllUnloaded = 3,
    dllLoadError = 4,
    dllUnloadError = 5
};

enum TDisconnectStep : uint8_t {
    adsRemoveResponseFunctions = 0,
    adsRemoveChannelEventFunctions = 1,
    adsUnassignAllResponseFunctions = 2,
    adsFreeLibrary = 3,
    adsDone = 4
};

// Names of the values, in ordinal order: used by the text stream form and by log lines.
inline const std::vector<std::string> &AntChannelProfileNames()
{
    static const std::vector<std::string> names = {
        "acpUnAssigned", "acpAntUlmora", "acpAntHR",       "acpAntSC",        "acpAntCad",
        "acpAntFE",      "acpAntConsole", "acpAntUlmoraPA", "acpAntUlmoraPAHS"};
    return names;
}

inline const std::vector<std::string> &AntChannelStateNames()
{
    static const std::vector<std::string> names = {"chsIdle",          "chsConnectRequested",
                                                   "chsConnecting",    "chsConnected",
                                                   "chsConnectionLost", "chsActive"};
    return names;
}

inline const std::vector<std::string> &ChannelConnectionStepNames()
{
    static const std::vector<std::string> names = {
        "ccsSetStart",       "ccsSetNetworkKey",  "ccsAssignChannel",
        "ccsSetChannelID",   "ccsChannelPeriod",  "ccsSetChannelFreq",
        "ccsSetChannelPower", "ccsSetChannelSearchTimeout", "ccsSetChannelLPSearchTimeout",
        "ccsOpen",           "ccsSetResp",        "ccsSetChan"};
    return names;
}

inline const std::vector<std::string> &AntDistanceStateNames()
{
    static const std::vector<std::string> names = {"dsStop", "dsRunning", "dsPause"};
    return names;
}

inline const std::vector<std::string> &ConsoleKeyNames()
{
    static const std::vector<std::string> names = {"ckPlus", "ckMinus", "ckEnter", "ckTab"};
    return names;
}

inline const std::vector<std::string> &AntDllStateNames()
{
    static const std::vector<std::string> names = {"dllLoading",  "dllLoaded",    "dllReserved",
                                                   "dllUnloaded", "dllLoadError", "dllUnloadError"};
    return names;
}

inline const std::vector<std::string> &DisconnectStepNames()
{
    static const std::vector<std::string> names = {
        "adsRemoveResponseFunctions", "adsRemoveChannelEventFunctions",
        "adsUnassignAllResponseFunctions", "adsFreeLibrary", "adsDone"};
    return names;
}

// The name of an ordinal, or its number when it lies outside the table.
inline std::string EnumName(const std::vector<std::string> &Names, unsigned Ordinal)
{
    return Ordinal < Names.size() ? Names[Ordinal] : std::to_string(Ordinal);
}

// The 8-byte page a channel builds for sending.
using TChannelSendPacket = std::array<uint8_t, 8>;
// An 8-byte ANT network key.
using TAntNetworkKey = std::array<uint8_t, 8>;
// One row of the receive buffer: byte 0 the channel number, bytes 1 to 8 the payload.
using TAntRxRow = std::array<uint8_t, 16>;
// One row of the response buffer: byte 0 the channel, then the answered message id and the
// response code, or the data of the message that was asked for.
using TAntResponseRow = std::array<uint8_t, 10>;
