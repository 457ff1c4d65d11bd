// The channel's library callbacks played from the test as the library would call them.
#include "ChannelEventsFixture.h"

#include "ant/AntDevices.h"
#include "ant/ThreadChannelMsg.h"
#include "platform/ThreadMessages.h"

using namespace events;

namespace {

struct ChannelEvents : ChannelEventsFixture {};

std::vector<TFakeAntCall> Requests(const TFakeAntLib &Lib) { return Lib.Calls("ANT_RequestMessage"); }

} // namespace

TEST_F(ChannelEvents, InertUntilTheSequencerSwitchesThemOn)
{
    Use(acpAntHR);
    Ch->SetDoChannelEventFunction(false);
    Ch->SetDoResponseFunction(false);
    Event(RxBroadcast);
    Acknowledge(0x46);
    EXPECT_EQ(Ch->EventCount(), 0);
    EXPECT_EQ(Ch->ResponseCount(), 0);
    EXPECT_FALSE(Ch->Connected());
    EXPECT_EQ(Ch->ChannelConnectionStep(), ccsAssignChannel);
    EXPECT_TRUE(Raised.empty());
    EXPECT_EQ(Log.Count(), 0);
}

TEST_F(ChannelEvents, WildcardChannelAsksForItsIdOnceAndLearnsTheNumber)
{
    Use(acpAntFE);
    Event(RxBroadcast, {0x10});
    Event(RxAcknowledged, {0x10});
    ASSERT_EQ(Requests(Lib).size(), 1u);
    EXPECT_EQ(Requests(Lib)[0].Args, (std::vector<int>{Number, ChannelIdMessage}));
    EXPECT_TRUE(Logged("ucANTChannel: 2, Ch: 2, FDeviceNumber: 0 Paring ANT_RequestMessage (MESG_CHANNEL_ID_ID) "));
    EXPECT_TRUE(Ch->RequestPending());
    EXPECT_EQ(Count("BroadCastReceived"), 1);

    Response(ChannelIdMessage, {Number, 0x39, 0x30, 17, 5});
    EXPECT_EQ(Ch->DeviceNumber(), 0x3039);
    EXPECT_TRUE(Ch->ChannelDeviceNumberReceived());
    EXPECT_FALSE(Ch->RequestPending());
    EXPECT_EQ(Count("ChannelDeviceNumber"), 1);

    Event(RxBroadcast, {0x10});
    EXPECT_EQ(Requests(Lib).size(), 1u) << "a known device number asks for nothing";

    // A second answer nobody asked for leaves the learnt number alone.
    Response(ChannelIdMessage, {Number, 0x01, 0x00, 17, 5});
    EXPECT_EQ(Ch->DeviceNumber(), 0x3039);
    EXPECT_EQ(Count("ChannelDeviceNumber"), 1);
}

TEST_F(ChannelEvents, ChannelIdAnswerWithoutRequestIsNotApplied)
{
    Use(acpAntHR);
    Ch->SetRequestPending(true); // a configuration step awaits its acknowledgement
    Response(ChannelIdMessage, {Number, 0x34, 0x12, 120, 1});
    EXPECT_EQ(Ch->DeviceNumber(), 0);
    EXPECT_FALSE(Ch->ChannelDeviceNumberReceived());
    EXPECT_TRUE(Ch->RequestPending()) << "the sequence still waits for its own answer";
    EXPECT_EQ(Count("ChannelDeviceNumber"), 0);
}

TEST_F(ChannelEvents, EveryEventCountsLogsItsRowAndIsPassedOn)
{
    Use(acpAntHR);
    Ch->SetDeviceNumber(77);
    Event(RxBroadcast, {0x84, 0x01, 0xAB});
    EXPECT_EQ(Ch->EventCount(), 1);
    EXPECT_EQ(Ch->ChannelState(), chsConnected) << "active, then connected by the broadcast";
    EXPECT_TRUE(Logged("      1      0 ch2  02 84 01 AB 00 00 00 00 00 00 00 00 00 00 00 00"));
    EXPECT_EQ(Count("ChannelEvent"), 1);

    Event(0x03); // EVENT_TX
    EXPECT_EQ(Ch->EventCount(), 2);
    EXPECT_EQ(Ch->ChannelState(), chsActive);
    EXPECT_TRUE(Logged("EVENT_TX"));
    Event(0x05);
    EXPECT_TRUE(Logged("EVENT_TRANSFER_TX_COMPLETED"));
    Event(RxFail);
    Event(RxFail);
    EXPECT_EQ(Ch->RxFailCount(), 2);
    EXPECT_TRUE(Logged("EVENT_RX_FAIL ch(2)"));
    Event(0x77); // unknown: counted and passed on, nothing else
    EXPECT_EQ(Count("ChannelEvent"), 6);
}

TEST_F(ChannelEvents, RowOutsideTheTableDropsTheEvent)
{
    Use(acpAntHR);
    Ch->SetRxBufferIndex(static_cast<int32_t>(RxBuffers().Count()) + 5);
    try {
        (void)Ch->ReceiveRow();
        ADD_FAILURE() << "no row there";
    } catch (const EAntError &e) {
        EXPECT_EQ(e.Message(), "Error: ChannelBufferAddress undefined");
    }
    EXPECT_TRUE(Ch->ChannelEventFunc(Number, RxBroadcast));
    EXPECT_EQ(Ch->EventCount(), 1);
    EXPECT_FALSE(Ch->Connected());
    EXPECT_TRUE(Raised.empty());
    EXPECT_TRUE(Requests(Lib).empty());
    EXPECT_EQ(LogLinesEndingWith(Log, "Error: ChannelBufferAddress undefined (TAntChannel.ChannelEventFunc): call dropped"),
              1);

    Ch->SetResponseBufferIndex(-1);
    EXPECT_TRUE(Ch->ResponseFunc(Number, ResponseEvent));
    EXPECT_EQ(Ch->ResponseCount(), 0);
    EXPECT_TRUE(Raised.empty());
}

TEST_F(ChannelEvents, HeartRateStrapBackToSearchDisconnectsInOrder)
{
    Use(acpAntHR);
    Ch->SetConnected(true);
    static_cast<TANTProfileDataHR *>(Ch->ProfileData())->SetComputedHeartRate(142);
    Raised.clear();
    Event(RxFailGoToSearch);
    EXPECT_EQ(Raised, (std::vector<std::string>{"RxFailGoToSearch", "Disconnected", "HeartConnectionLost", "ChannelEvent"}));
    EXPECT_EQ(static_cast<TANTProfileDataHR *>(Ch->ProfileData())->ComputedHeartRate(), 0);
    EXPECT_FALSE(Ch->Connected());
    EXPECT_EQ(Ch->ChannelState(), chsIdle);

    // Regained: broadcast seen again, then connected again.
    Raised.clear();
    Ch->SetDeviceNumber(5);
    Ch->SetConnectedOnEventRx(true);
    Event(RxBroadcast);
    EXPECT_EQ(Raised, (std::vector<std::string>{"BroadCastReceived", "Connected", "ChannelEvent"}));
    EXPECT_TRUE(Logged("TriggerEventRxBroadCastReceivedEvent <HR>"));
}

TEST_F(ChannelEvents, ConsoleBackToSearchDisconnects)
{
    Use(acpAntConsole);
    Ch->SetConnected(true);
    Raised.clear();
    Event(RxFailGoToSearch);
    EXPECT_EQ(Raised, (std::vector<std::string>{"RxFailGoToSearch", "Disconnected", "ConsoleConnectionLost", "ChannelEvent"}));
}

TEST_F(ChannelEvents, TrainerBackToSearchStaysConnectedAndIsRegainedWithoutReconnecting)
{
    Use(acpAntFE);
    Ch->SetDeviceNumber(4000);
    Ch->SetConnected(true);
    Event(RxBroadcast);
    Raised.clear();
    Event(RxFailGoToSearch);
    EXPECT_TRUE(Ch->Connected());
    EXPECT_EQ(Ch->ChannelState(), chsConnectionLost);
    EXPECT_FALSE(Ch->BroadcastReceived());
    EXPECT_TRUE(Logged("Creare TriggerTrainerLostConnectionEvent !!!!!    "));
    EXPECT_EQ(Raised, (std::vector<std::string>{"RxFailGoToSearch", "ChannelEvent"}));

    Raised.clear();
    Ch->SetConnectedOnEventRx(true);
    Event(RxBroadcast);
    EXPECT_EQ(Raised, (std::vector<std::string>{"BroadCastReceived", "ChannelEvent"}));
    EXPECT_EQ(Ch->ChannelState(), chsActive);
    EXPECT_FALSE(Logged("TriggerEventRxBroadCastReceivedEvent <HR>"));
}

TEST_F(ChannelEvents, BroadcastConnectsOnlyTheLinkedProfiles)
{
    for (TAntChannelProfile p : {acpAntUlmoraPAHS, acpAntSC, acpAntUlmora}) {
        TAntChannel *other = List.Add();
        Ch = other;
        Raised.clear();
        Use(p);
        Ch->SetDeviceNumber(9);
        Ch->SetConnectedOnEventRx(true);
        Event(RxBroadcast);
        const bool linked = p == acpAntUlmoraPAHS;
        EXPECT_EQ(Ch->Connected(), linked) << p;
        EXPECT_EQ(Count("Connected"), linked ? 1 : 0) << p;
    }
    EXPECT_EQ(LogLinesEndingWith(Log, "TriggerEventRxBroadCastReceivedEvent <PA mode>"), 1);
}

TEST_F(ChannelEvents, SearchTimeOutReopensStrapAndConsoleButNotTheTrainer)
{
    Use(acpAntHR);
    Event(RxSearchTimeout);
    EXPECT_TRUE(Logged("EVENT_RX_SEARCH_TIMEOUT ch(2)"));
    EXPECT_TRUE(Logged("ANT_OpenChannel HR <try again> "));
    Ch->SetAntChannelProfile(acpAntConsole);
    Event(RxSearchTimeout);
    EXPECT_TRUE(Logged("ANT_OpenChannel Console <try again> "));
    ASSERT_EQ(Lib.Calls("ANT_OpenChannel").size(), 2u);
    EXPECT_EQ(Lib.Calls("ANT_OpenChannel")[1].Args, std::vector<int>{Number});

    Ch->SetAntChannelProfile(acpAntFE);
    Event(RxSearchTimeout);
    Ch->SetAntChannelProfile(acpAntSC);
    Event(RxSearchTimeout);
    EXPECT_EQ(Lib.Calls("ANT_OpenChannel").size(), 2u);
    EXPECT_TRUE(Logged("chiamare trigger trainer disconnection and ask to the cusomer to do a  are-connection"));
}

TEST_F(ChannelEvents, FailedTransferResendsThePageThatFailed)
{
    Use(acpAntFE);
    Ch->SetConnected(true);
    const TChannelSendPacket level40 = BuildBasicResistancePage(40);
    const TChannelSendPacket request = BuildRequestCapabilitiesPage();
    Ch->QueueAcknowledged(level40);
    // A page built later does not take the failed one's place: it waits in the hold.
    Ch->SetSendPacket(request);
    Ch->QueueAcknowledged(request);
    Event(TransferTxFailed);
    Event(TransferTxFailed);
    auto sent = Lib.Calls("ANT_SendAcknowledgedData");
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].Args[0], Number);
    EXPECT_EQ(sent[1].Args[0], Number);
    EXPECT_EQ(sent[1].Data, level40);
    EXPECT_EQ(sent[2].Data, level40);
    EXPECT_EQ(LogLinesEndingWith(Log, "EVENT_TRANSFER_TX_FAILED ch(2)"), 2);
    EXPECT_EQ(LogLinesEndingWith(Log, "ANT_SendAcknowledgedData - Repeated for fail -"), 2);

    // A newer page of the failed one's number goes instead, and keeps its place before the
    // request that was asked for earlier.
    const TChannelSendPacket level90 = BuildBasicResistancePage(90);
    Ch->QueueAcknowledged(level90);
    Event(TransferTxFailed);
    Event(TransferTxCompleted);
    sent = Lib.Calls("ANT_SendAcknowledgedData");
    ASSERT_EQ(sent.size(), 5u);
    EXPECT_EQ(sent[3].Data, level90);
    EXPECT_EQ(sent[4].Data, request);

    // No page of ours in flight: a failure has nothing to send again.
    Event(TransferTxCompleted);
    Event(TransferTxFailed);
    EXPECT_EQ(Lib.Calls("ANT_SendAcknowledgedData").size(), 5u);
    EXPECT_EQ(LogLinesEndingWith(Log, "ANT_SendAcknowledgedData - Repeated for fail -"), 3);
}

TEST_F(ChannelEvents, ClosedByTheLibraryDisconnectsEveryProfile)
{
    Use(acpAntFE);
    Ch->SetConnected(true);
    Raised.clear();
    Event(ChannelClosed);
    EXPECT_FALSE(Ch->Connected());
    EXPECT_EQ(Ch->ChannelState(), chsIdle);
    EXPECT_TRUE(Logged("EVENT_CHANNEL_CLOSED ch(2)"));
    EXPECT_EQ(Raised, (std::vector<std::string>{"Disconnected", "ChannelEvent"}));
}

// ---- responses -------------------------------------------------------------------------------

TEST_F(ChannelEvents, AcknowledgementsWalkTheWholeStepTable)
{
    Use(acpAntFE);
    struct Row {
        uint8_t Id;
        const char *Name;
        TChannelConnectionStep Next;
    };
    const Row table[] = {
        {0x46, "MESG_NETWORK_KEY_ID", ccsAssignChannel},
        {0x42, "MESG_ASSIGN_CHANNEL_ID", ccsSetChannelID},
        {0x51, "MESG_CHANNEL_ID_ID", ccsChannelPeriod},
        {0x43, "MESG_CHANNEL_MESG_PERIOD_ID", ccsSetChannelPower},
        {0x47, "MESG_RADIO_TX_POWER_ID", ccsSetChannelSearchTimeout},
        {0x44, "MESG_CHANNEL_SEARCH_TIMEOUT_ID", ccsSetChannelLPSearchTimeout},
        {0x63, "MESG_SET_LP_SEARCH_TIMEOUT_ID", ccsSetChannelFreq},
        {0x45, "MESG_CHANNEL_RADIO_FREQ_ID", ccsOpen},
        {0x4B, "MESG_OPEN_CHANNEL_ID", ccsSetChan},
    };
    Ch->SetChannelConnectionStep(ccsSetNetworkKey);
    for (const Row &r : table) {
        Ch->SetRequestPending(true);
        Acknowledge(r.Id, 0x15); // channel in wrong state: the sequence keeps waiting
        EXPECT_TRUE(Ch->RequestPending()) << r.Name;
        const TChannelConnectionStep before = Ch->ChannelConnectionStep();
        EXPECT_NE(before, r.Next) << r.Name;
        Acknowledge(r.Id);
        EXPECT_EQ(Ch->ChannelConnectionStep(), r.Next) << r.Name;
        EXPECT_FALSE(Ch->RequestPending()) << r.Name;
        EXPECT_TRUE(Logged(r.Name));
    }
    EXPECT_EQ(Ch->ResponseCount(), 18);
    EXPECT_EQ(Ch->ChannelState(), chsActive);
    EXPECT_EQ(Count("ChannelResponse"), 18);
}

TEST_F(ChannelEvents, AcknowledgementOutsideTheTableOnlyLogsItsRow)
{
    Use(acpAntHR);
    Ch->SetChannelConnectionStep(ccsOpen);
    Ch->SetRequestPending(true);
    const int before = Log.Count();
    Acknowledge(0x4C);
    EXPECT_EQ(Log.Count(), before + 1);
    EXPECT_TRUE(Logged("ResponseFunc 02 40 : 02 4C 00 00 00 00 00 00 00 00"));
    EXPECT_EQ(Ch->ChannelConnectionStep(), ccsOpen);
    EXPECT_TRUE(Ch->RequestPending());
}

TEST_F(ChannelEvents, ResponseForAnotherChannelIsNotApplied)
{
    Use(acpAntFE);
    Ch->SetChannelConnectionStep(ccsSetChannelID);
    Ch->SetRequestPending(true);
    Response(ResponseEvent, {5, 0x51, 0}, 5);
    Response(ChannelIdMessage, {5, 0x10, 0x27, 17, 5}, 5);
    EXPECT_EQ(Ch->ChannelConnectionStep(), ccsSetChannelID);
    EXPECT_TRUE(Ch->RequestPending());
    EXPECT_EQ(Ch->DeviceNumber(), 0);
    EXPECT_EQ(Ch->ResponseCount(), 0);
    EXPECT_TRUE(Raised.empty());
    EXPECT_EQ(LogLinesEndingWith(Log, "******************* ucANTChannel <> FChannelNumber ChannelRespFunc ************"), 2);
}

// The network key and the transmit power are no channel settings: their answers carry the
// network number (or 0) in the channel's place and belong to the channel waiting for them.
TEST_F(ChannelEvents, NetworkKeyAndPowerAnswersReachTheChannelWaitingForThem)
{
    Use(acpAntFE);
    Ch->SetChannelConnectionStep(ccsSetNetworkKey);
    Ch->SetRequestPending(true);
    Response(ResponseEvent, {0, 0x46, 0}, 0); // network 0
    EXPECT_EQ(Ch->ChannelConnectionStep(), ccsAssignChannel);
    EXPECT_FALSE(Ch->RequestPending());

    TAntChannel *hr = List.Add();
    hr->SetChannelNumber(0);
    hr->SetAntChannelProfile(acpAntHR);
    hr->SetResponseBufferIndex(ResponseBuffers().AddRow());
    hr->SetDoResponseFunction(true);
    hr->SetChannelConnectionStep(ccsSetChannelPower);
    hr->SetRequestPending(true);
    Response(ResponseEvent, {0, 0x47, 0}, 0);
    EXPECT_EQ(hr->ChannelConnectionStep(), ccsSetChannelSearchTimeout) << "channel 0 waited for its power";
    EXPECT_FALSE(hr->RequestPending());
    EXPECT_EQ(Ch->ChannelConnectionStep(), ccsAssignChannel);
}

// The channel registered last gets every channel's answers: each goes to the channel it is for.
TEST_F(ChannelEvents, ResponseForAnotherChannelReachesTheChannelOfThatNumber)
{
    Use(acpAntHR);
    TAntChannel *fe = List.Add();
    fe->SetChannelNumber(5);
    fe->SetAntChannelProfile(acpAntFE);
    fe->SetResponseBufferIndex(ResponseBuffers().AddRow());
    fe->SetDoResponseFunction(true);
    fe->SetChannelConnectionStep(ccsSetNetworkKey);
    fe->SetRequestPending(true);
    Ch->SetChannelConnectionStep(ccsSetChannelID);
    Ch->SetRequestPending(true);
    int feNumbers = 0;
    fe->OnChannelDeviceNumber = [&](TObject *) { ++feNumbers; };

    Response(ResponseEvent, {5, 0x46, 0}, 5);
    EXPECT_EQ(fe->ChannelConnectionStep(), ccsAssignChannel);
    EXPECT_FALSE(fe->RequestPending());
    EXPECT_EQ(fe->LastResponse()[1], 0x46);
    EXPECT_EQ(ResponseBuffers().Row(fe->ResponseBufferIndex())[1], 0x46);
    EXPECT_EQ(Ch->ChannelConnectionStep(), ccsSetChannelID) << "not this channel's answer";
    EXPECT_TRUE(Ch->RequestPending());
    EXPECT_EQ(Ch->ResponseCount(), 0);

    // The wildcard FE-C channel asked for its id at its first broadcast; the answer arrives here.
    fe->SetRxBufferIndex(RxBuffers().AddRow());
    fe->SetDoChannelEventFunction(true);
    fe->ChannelEventFunc(5, RxBroadcast);
    Response(ChannelIdMessage, {5, 0x10, 0x27, 17, 5}, 5);
    EXPECT_EQ(fe->DeviceNumber(), 0x2710);
    EXPECT_EQ(feNumbers, 1);
    EXPECT_EQ(Ch->DeviceNumber(), 0);

    // No channel of that number: logged and dropped.
    Response(ResponseEvent, {9, 0x46, 0}, 9);
    EXPECT_TRUE(Logged("Response for channel 9 (TAntChannel.ResponseFunc): call dropped"));
    EXPECT_EQ(Ch->ResponseCount(), 0);
}

// The network key's answer carries the network number and the radio power's a zero: neither
// names the channel, which takes them only while its sequence waits for that step.
TEST_F(ChannelEvents, SystemAnswersReachTheChannelAtThatStep)
{
    Use(acpAntConsole);
    ASSERT_NE(Ch->NetNumber(), Number);
    Ch->SetChannelConnectionStep(ccsSetNetworkKey);
    Ch->SetRequestPending(true);
    Response(ResponseEvent, {Ch->NetNumber(), 0x46, 0}, Ch->NetNumber());
    EXPECT_EQ(Ch->ChannelConnectionStep(), ccsAssignChannel);
    EXPECT_FALSE(Ch->RequestPending());

    Ch->SetChannelConnectionStep(ccsSetChannelPower);
    Ch->SetRequestPending(true);
    Response(ResponseEvent, {0, 0x47, 0}, 0);
    EXPECT_EQ(Ch->ChannelConnectionStep(), ccsSetChannelSearchTimeout);
    EXPECT_FALSE(Ch->RequestPending());

    // At another step, or for another network, they are some other channel's.
    Ch->SetRequestPending(true);
    Response(ResponseEvent, {0, 0x47, 0}, 0);
    Ch->SetChannelConnectionStep(ccsSetNetworkKey);
    Response(ResponseEvent, {uint8_t(Number + 1), 0x46, 0}, uint8_t(Number + 1));
    EXPECT_EQ(Ch->ChannelConnectionStep(), ccsSetNetworkKey);
    EXPECT_TRUE(Ch->RequestPending());
    EXPECT_EQ(Ch->ResponseCount(), 2);
}

TEST_F(ChannelEvents, EventForAnotherChannelNumberIsLoggedAndHandled)
{
    Use(acpAntHR);
    Ch->SetDeviceNumber(3);
    std::memset(Rx, 0, RxRowSize);
    EXPECT_TRUE(Ch->ChannelEventFunc(7, RxBroadcast));
    EXPECT_TRUE(Logged("******************* ucANTChannel <> FChannelNumber ChannelEventFunc ************"));
    EXPECT_TRUE(Ch->Connected()) << "the row is this channel's own";
}

// ---- hand-over to the message thread ------------------------------------------------------------

TEST_F(ChannelEvents, PostsCarryTheChannelTheCodeAndTheRowHeard)
{
    Use(acpAntHR);
    Ch->SetDeviceNumber(3);
    TPostedQueue<TChannelMessage> queue;
    ASSERT_TRUE(queue.Register(0x7E5701));
    Event(RxBroadcast, {0x01});
    Acknowledge(0x46);
    EXPECT_EQ(queue.Count(), 0u) << "no thread id: nothing posted";
    EXPECT_EQ(Count("ChannelEvent"), 1);
    EXPECT_EQ(Count("ChannelResponse"), 1);

    Ch->SetEventThreadId(0x7E5701);
    Ch->SetResponseThreadId(0x7E5701);
    Event(RxBroadcast, {0x11});
    Event(RxAcknowledged, {0x22});
    Acknowledge(0x42);

    const struct {
        TChannelMessageKind Kind;
        uint8_t Code;
        uint8_t Payload0;
    } expected[] = {{MsgChannelEvent, RxBroadcast, 0x11},
                    {MsgChannelEvent, RxAcknowledged, 0x22},
                    {MsgChannelResponse, ResponseEvent, 0}};
    for (const auto &e : expected) {
        TChannelMessage m{};
        ASSERT_TRUE(queue.PeekMessage(m));
        EXPECT_EQ(m.Kind, e.Kind);
        EXPECT_EQ(m.Channel, Ch);
        EXPECT_EQ(m.Code, e.Code);
        if (e.Kind == MsgChannelEvent) {
            EXPECT_EQ(m.Row[1], e.Payload0) << "each post keeps the row it was heard with";
        }
    }
    TChannelMessage none{};
    EXPECT_FALSE(queue.PeekMessage(none));
}

TEST_F(ChannelEvents, ThrowingHandlerDoesNotReachTheLibrary)
{
    Use(acpAntHR);
    Ch->SetDeviceNumber(3);
    Ch->OnConnected = [](TObject *) { throw EAntError("handler failed"); };
    Event(RxBroadcast);
    EXPECT_TRUE(Logged("handler failed (TAntChannel.ChannelEventFunc): call dropped"));
    Ch->OnChannelDeviceNumber = nullptr;
    Ch->OnChannelResponse = [](TObject *, uint8_t, uint8_t) { throw std::runtime_error("response handler"); };
    Acknowledge(0x46);
    EXPECT_TRUE(Logged("response handler (TAntChannel.ResponseFunc): call dropped"));
}
