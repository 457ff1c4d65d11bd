// The controller's binding of the library's callbacks to channels and the per-channel
// configuration calls of the connection sequence.
//
// The library's callbacks carry no user data: each channel gets entry points of its own
// (libffi closures, see CallbackAdaptor.h) and rows in the process-wide buffer tables, which
// never move once handed out. A closure keeps no per-call state, so the return-address
// bookkeeping that hand-patched adaptors need does not exist here.
#include "ant/AntComControl.h"

#include "ant/CallbackBuffers.h"
#include "ant/binding/AntLib.h"
#include "ant/channels/TrainerCommands.h"
#include "framework/SysUtils.h"

#include <cstring>

void TAntComControl::AssignResponseCallback(TAntChannel *aAntChannel)
{
    if (aAntChannel == nullptr)
        return;
    // Only the first channel gets a row in global mode; GlobalRespFunc fills every channel's
    // own copy, so that is where each channel reads its answers.
    const bool global = UseGlobalResponseFunction();
    aAntChannel->SetReadsLastResponse(global);
    if (global) {
        if (FCallBackResponseFunc)
            return;
        Log("Set CallBackResponseFunc (FUseGlobalResponseFunction)");
        FCallBackResponseFunc = MakeCallbackAdaptor(this, &TAntComControl::GlobalRespFunc);
        aAntChannel->SetResponseBufferIndex(ResponseBuffers().AddRow());
        return;
    }
    if (aAntChannel->CallBackResponseFunc())
        return;
    Log("Set aAntChannel.CallBackResponseFunc");
    aAntChannel->SetCallBackResponseFunc(MakeCallbackAdaptor(aAntChannel, &TAntChannel::ResponseFunc));
    aAntChannel->SetResponseBufferIndex(ResponseBuffers().AddRow());
}

void TAntComControl::AssignChannelEventCallback(TAntChannel *aAntChannel)
{
    if (aAntChannel == nullptr || aAntChannel->CallBackChannelEventFunc())
        return;
    Log("Set ANT_AssignChannelEventFunction");
    aAntChannel->SetCallBackChannelEventFunc(MakeCallbackAdaptor(aAntChannel, &TAntChannel::ChannelEventFunc));
    // A new row restarts the channel's event counter.
    aAntChannel->SetRxBufferIndex(RxBuffers().AddRow());
}

bool TAntComControl::RegisterResponseFunction(TAntChannel *aAntChannel)
{
    if (UseGlobalResponseFunction())
        TAntLib::ANT_AssignResponseFunction(EntryPointOf(FCallBackResponseFunc.get()), GlobalResponseBuffer());
    else if (aAntChannel != nullptr)
        TAntLib::ANT_AssignResponseFunction(EntryPointOf(aAntChannel->CallBackResponseFunc()),
                                            ResponseBuffers().Row(aAntChannel->ResponseBufferIndex()));
    return true;
}

bool TAntComControl::RegisterChannelEventFunction(TAntChannel *aAntChannel)
{
    if (aAntChannel != nullptr)
        TAntLib::ANT_AssignChannelEventFunction(aAntChannel->ChannelNumber(),
                                                EntryPointOf(aAntChannel->CallBackChannelEventFunc()),
                                                RxBuffers().Row(aAntChannel->RxBufferIndex()));
    return true;
}

void TAntComControl::RegisterAllChannelEventFunctions()
{
    for (int i = 0; i < FAntChannelList->Count(); ++i) {
        TAntChannel *channel = FAntChannelList->Items(i);
        if (channel->CallBackChannelEventFunc() && RxBuffers().Row(channel->RxBufferIndex()))
            RegisterChannelEventFunction(channel);
        channel->SetDoChannelEventFunction(true);
    }
}

bool TAntComControl::GlobalRespFunc(uint8_t ucANTChannel, uint8_t ucResponseMsgID)
{
    // The ANT channel number is taken as the position in the list.
    if (ucANTChannel >= FAntChannelList->Count())
        return true;
    TAntChannel *channel = FAntChannelList->Items(ucANTChannel);
    const uint8_t *global = GlobalResponseBuffer();
    Log(Format("GlobalRespFunc ucANTChannel: %d ucResponseMsgID: %d Buffer: %s",
               {static_cast<int>(ucANTChannel), static_cast<int>(ucResponseMsgID),
                PacketToHex(global, ResponseRowSize)}));
    if (uint8_t *row = ResponseBuffers().Row(channel->ResponseBufferIndex()))
        std::memcpy(row, global, ResponseRowSize);
    std::memcpy(channel->LastResponse(), global, ResponseRowSize);
    channel->ResponseFunc(ucANTChannel, ucResponseMsgID);
    return true;
}

// ---- channel configuration ----

bool TAntComControl::SetNetworkKey(TAntChannel *aAntChannel)
{
    if (aAntChannel == nullptr)
        return false;
    const TAntNetworkKey key = aAntChannel->NetworkKey();
    return TAntLib::ANT_SetNetworkKey(aAntChannel->NetNumber(), key.data());
}

bool TAntComControl::AssignChannel(TAntChannel *aAntChannel)
{
    return aAntChannel != nullptr &&
           TAntLib::ANT_AssignChannel(aAntChannel->ChannelNumber(), aAntChannel->ChannelType(),
                                      aAntChannel->NetNumber());
}

bool TAntComControl::SetChannelId(TAntChannel *aAntChannel)
{
    return aAntChannel != nullptr &&
           TAntLib::ANT_SetChannelId(aAntChannel->ChannelNumber(), aAntChannel->DeviceNumber(),
                                     aAntChannel->DeviceType(), aAntChannel->TransmissionType());
}

bool TAntComControl::SetChannelPeriod(TAntChannel *aAntChannel)
{
    return aAntChannel != nullptr &&
           TAntLib::ANT_SetChannelPeriod(aAntChannel->ChannelNumber(), aAntChannel->MessagePeriod());
}

bool TAntComControl::SetChannelRFFreq(TAntChannel *aAntChannel)
{
    return aAntChannel != nullptr &&
           TAntLib::ANT_SetChannelRFFreq(aAntChannel->ChannelNumber(), aAntChannel->ChannelFrequency());
}

bool TAntComControl::SetTransmitPower(TAntChannel *aAntChannel)
{
    return aAntChannel != nullptr && TAntLib::ANT_SetTransmitPower(aAntChannel->TransmissionPower());
}

bool TAntComControl::SetChannelSearchTimeout(TAntChannel *aAntChannel)
{
    return aAntChannel != nullptr &&
           TAntLib::ANT_SetChannelSearchTimeout(aAntChannel->ChannelNumber(), aAntChannel->SearchTimeout());
}

bool TAntComControl::SetLowPriorityChannelSearchTimeout(TAntChannel *aAntChannel)
{
    return aAntChannel != nullptr &&
           TAntLib::ANT_SetLowPriorityChannelSearchTimeout(aAntChannel->ChannelNumber(),
                                                           aAntChannel->LowPrioritySearchTimeout());
}

bool TAntComControl::OpenChannel(TAntChannel *aAntChannel)
{
    return aAntChannel != nullptr && TAntLib::ANT_OpenChannel(aAntChannel->ChannelNumber());
}
