#pragma once
// A channel wired to its own rows of the process-wide tables, its callbacks switched on and
// every event it raises recorded by name, so tests can play the library's part.
#include "FakeAntLib.h"
#include "LogLines.h"

#include "ant/CallbackBuffers.h"
#include "ant/ThreadChannelMsg.h"
#include "ant/channels/AntChannelList.h"
#include "ant/channels/TrainerCommands.h"
#include "framework/Strings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace events {

constexpr uint8_t RxSearchTimeout = 0x01;
constexpr uint8_t RxFail = 0x02;
constexpr uint8_t TransferRxFailed = 0x04;
constexpr uint8_t TransferTxCompleted = 0x05;
constexpr uint8_t TransferTxFailed = 0x06;
constexpr uint8_t ChannelClosed = 0x07;
constexpr uint8_t RxFailGoToSearch = 0x08;
constexpr uint8_t RxBroadcast = 0x9A;
constexpr uint8_t RxAcknowledged = 0x9B;
constexpr uint8_t RxBurstPacket = 0x9C;
constexpr uint8_t ResponseEvent = 0x40;
constexpr uint8_t ChannelIdMessage = 0x51;

} // namespace events

struct ChannelEventsFixture : ::testing::Test {
    static constexpr uint8_t Number = 2;
    TFakeAntLib Lib;
    TAntChannelList List{nullptr};
    TAntChannel *Ch = List.Add();
    TStringList Log;
    uint8_t *Rx = nullptr;
    uint8_t *Resp = nullptr;
    std::vector<std::string> Raised;
    std::vector<TResistanceMap *> Maps;

    void Use(TAntChannelProfile Profile)
    {
        Ch->SetChannelNumber(Number);
        Ch->SetAntChannelProfile(Profile);
        Ch->SetName("ch2");
        const int32_t rx = RxBuffers().AddRow();
        const int32_t resp = ResponseBuffers().AddRow();
        Ch->SetRxBufferIndex(rx);
        Ch->SetResponseBufferIndex(resp);
        Rx = RxBuffers().Row(rx);
        Resp = ResponseBuffers().Row(resp);
        Ch->SetLogStrings(&Log);
        Ch->SetDebugMode(true);
        Ch->SetDoChannelEventFunction(true);
        Ch->SetDoResponseFunction(true);
        auto note = [this](const char *name) { return [this, name](TObject *) { Raised.push_back(name); }; };
        Ch->OnConnected = note("Connected");
        Ch->OnDisconnected = note("Disconnected");
        Ch->OnRxFailGoToSearch = note("RxFailGoToSearch");
        Ch->OnHeartConnectionLost = note("HeartConnectionLost");
        Ch->OnConsoleConnectionLost = note("ConsoleConnectionLost");
        Ch->OnEventRxBroadCastReceived = note("BroadCastReceived");
        Ch->OnChannelDeviceNumber = note("ChannelDeviceNumber");
        Ch->OnChannelEvent = [this](TObject *, uint8_t, uint8_t) { Raised.push_back("ChannelEvent"); };
        Ch->OnChannelResponse = [this](TObject *, uint8_t, uint8_t) { Raised.push_back("ChannelResponse"); };
        Ch->OnResistanceMapReceived = [this](TObject *, TResistanceMap *Map) { Maps.push_back(Map); };
    }

    // The library writes the row, then calls.
    void Event(uint8_t ucEvent, std::initializer_list<uint8_t> Payload = {}, uint8_t ChannelByte = Number)
    {
        std::memset(Rx, 0, RxRowSize);
        Rx[0] = ChannelByte;
        std::copy(Payload.begin(), Payload.end(), Rx + 1);
        EXPECT_TRUE(Ch->ChannelEventFunc(Number, ucEvent));
    }

    void Response(uint8_t ucResponseMsgID, std::initializer_list<uint8_t> Row, uint8_t ucANTChannel = Number)
    {
        std::memset(Resp, 0, ResponseRowSize);
        std::copy(Row.begin(), Row.end(), Resp);
        EXPECT_TRUE(Ch->ResponseFunc(ucANTChannel, ucResponseMsgID));
    }

    void Acknowledge(uint8_t MessageId, uint8_t Code = 0) { Response(events::ResponseEvent, {Number, MessageId, Code}); }

    int Count(const std::string &Name) const { return static_cast<int>(std::count(Raised.begin(), Raised.end(), Name)); }
    bool Logged(const std::string &Tail) const { return LogLinesEndingWith(Log, Tail) > 0; }
};
