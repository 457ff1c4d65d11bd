// Channels connected through the real libANT_DLL.so and its in-process virtual stick: the
// sequence against the library's real acknowledgements, the pages the stick transmits decoded
// on this (the user-interface) thread, and the link events of dropouts, failures and unplug.
#include "ConnectionFixture.h"

#include "ant/profiles/ANTPlusProfileData.h"
#include "antsim/Scenario.h"
#include "antsim/SimDevice.h"
#include "framework/SysUtils.h"
#include "maps/ResistanceMap.h"

#include <cmath>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <mutex>
#include <vector>

extern char **environ;

namespace {

// The calls each sequence makes and the acknowledgements that move it on, each in this order.
// The two interleave, but an in-process stick may answer before the call's own line is written.
const std::vector<std::string> StepCalls = {
    "ANT_AssignChannel",       "ANT_SetChannelId",
    "ANT_SetChannelPeriod",    "ANT_SetTransmitPower",
    "ANT_SetChannelSearchTimeout", "ANT_SetLowPriorityChannelSearchTimeout",
    "ANT_SetChannelRFFreq",    "ANT_OpenChannel",
};
const std::vector<std::string> StepAnswers = {
    "MESG_NETWORK_KEY_ID",           "MESG_ASSIGN_CHANNEL_ID",        "MESG_CHANNEL_ID_ID",
    "MESG_CHANNEL_MESG_PERIOD_ID",   "MESG_RADIO_TX_POWER_ID",        "MESG_CHANNEL_SEARCH_TIMEOUT_ID",
    "MESG_SET_LP_SEARCH_TIMEOUT_ID", "MESG_CHANNEL_RADIO_FREQ_ID",    "MESG_OPEN_CHANNEL_ID",
};

bool EndsWith(const std::string &Line, const std::string &Tail)
{
    return Line.size() >= Tail.size() && Line.compare(Line.size() - Tail.size(), Tail.size(), Tail) == 0;
}

// The index in Lines of the first of Tails that does not follow the previous one, or -1.
int FirstOutOfOrder(const std::vector<std::string> &Lines, const std::string &Start, const std::vector<std::string> &Tails)
{
    size_t at = 0;
    while (at < Lines.size() && !EndsWith(Lines[at], Start))
        ++at;
    for (size_t t = 0; t < Tails.size(); ++t) {
        while (at < Lines.size() && !EndsWith(Lines[at], Tails[t]))
            ++at;
        if (at == Lines.size())
            return int(t);
        ++at;
    }
    return -1;
}

TAntProfileFE &Fe(TAntChannel *Ch) { return *static_cast<TAntProfileFE *>(Ch->ProfileData()); }

const char *const ThreeDevices = "seed 3\n"
                                 "trainer 4242 max_resistance=777\n"
                                 "hr 77 bpm=133\n"
                                 "console 900\n"
                                 "rider 0 200 85\n";

} // namespace

TEST_F(ConnectionFixture, StrapTrainerAndConsoleAreWalkedFromNetworkKeyToOpenOneAfterTheOther)
{
    OpenVirtualStick(ThreeDevices);
    TAntChannel *hr = AddChannel(acpAntHR, 0, 77);
    TAntChannel *fe = AddChannel(acpAntFE, 1, 0);
    TAntChannel *console = AddChannel(acpAntConsole, 2, 900);
    int handled = 0;
    Ctl->OnConnectChannelHandled = [&](TObject *, TConnectChannelThread *) { ++handled; };
    int timeOuts = 0;
    Ctl->OnConnectChannelTimeOut = [&](TObject *, TConnectChannelThread *) { ++timeOuts; };
    std::vector<TAntChannelState> connectedStates;
    for (TAntChannel *ch : {hr, fe, console})
        ch->OnConnected = [&connectedStates, ch](TObject *) { connectedStates.push_back(ch->ChannelState()); };

    int sequencesEnded = 0;
    for (TAntChannel *ch : {hr, fe, console}) {
        ASSERT_TRUE(ConnectAndWait(ch)) << "channel " << int(ch->ChannelNumber());
        // The channel is connected a step before its sequence ends and logs the result.
        ++sequencesEnded;
        ASSERT_TRUE(PumpUntil([&] { return handled == sequencesEnded; })) << "channel " << int(ch->ChannelNumber());
        const auto lines = Log.ToVector();
        const std::string start = "---- Connecting to aAntChannel " + std::to_string(ch->ChannelNumber());
        EXPECT_EQ(FirstOutOfOrder(lines, start, StepCalls), -1) << "channel " << int(ch->ChannelNumber());
        EXPECT_EQ(FirstOutOfOrder(lines, start, StepAnswers), -1) << "channel " << int(ch->ChannelNumber());
        EXPECT_TRUE(LogHas(Format("ANT_SetNetworkKey Ch %d,", {ch->ChannelNumber()}) +
                           "  0  0  0  0  0  0  0  0") || ch->AntChannelProfile() != acpAntHR);
        EXPECT_EQ(Count("Channel: " + std::to_string(ch->ChannelNumber()) + " Connected True"), 1);
        EXPECT_EQ(Count("Channel " + std::to_string(ch->ChannelNumber()) + " connected"), 1);
    }
    EXPECT_EQ(handled, 3);
    EXPECT_EQ(timeOuts, 0);
    ASSERT_EQ(connectedStates.size(), 3u);
    for (TAntChannelState s : connectedStates)
        EXPECT_EQ(s, chsConnected) << "the sequence marks the channel connected before anything is heard";
    EXPECT_FALSE(LogHas("Error with ANT_SetNetworkKey Ch 0"));
    EXPECT_EQ(Count("Error with ANT_OpenChannel"), 0);

    // Every channel hears its device, and each page is decoded on this thread.
    EXPECT_TRUE(PumpUntil([&] {
        auto *rate = static_cast<TANTProfileDataHR *>(hr->ProfileData());
        return rate->ComputedHeartRate() == 133 && Fe(fe).InstantaneousCadence() == 85 && console->EventCount() > 2;
    }));
    EXPECT_GT(Messages.load(), 0);
    EXPECT_EQ(MessagesOffUiThread.load(), 0);
    EXPECT_EQ(fe->DeviceNumber(), 4242) << "the wildcard trainer channel learnt the number";
    EXPECT_TRUE(fe->ChannelDeviceNumberReceived());
    EXPECT_EQ(hr->DeviceNumber(), 77);
}

TEST_F(ConnectionFixture, TheWildcardTrainerLearnsItsNumberAndAnswersTheCapabilitiesRequest)
{
    OpenVirtualStick(ThreeDevices);
    TAntChannel *fe = AddChannel(acpAntFE, 0, 0);
    std::atomic<int> numberEvents{0};
    fe->OnChannelDeviceNumber = [&](TObject *) { ++numberEvents; };
    ASSERT_TRUE(ConnectAndWait(fe));
    EXPECT_EQ(fe->DeviceNumber(), 4242);
    // The library's thread sets the number first and raises the event after it.
    EXPECT_TRUE(PumpUntil([&] { return numberEvents.load() > 0; }));
    EXPECT_EQ(numberEvents.load(), 1);
    EXPECT_EQ(Count("Paring ANT_RequestMessage (MESG_CHANNEL_ID_ID) "), 1) << "asked once";
    EXPECT_EQ(Count("Request FE capabilities (DP 54)"), 1);

    ASSERT_TRUE(PumpUntil([&] { return Fe(fe).MaximumResistance() == 777; }));
    EXPECT_TRUE(Fe(fe).BasicResistanceSupported());
    EXPECT_TRUE(Fe(fe).TargetPowerSupported());
    EXPECT_TRUE(Fe(fe).SimulationSupported());
    EXPECT_TRUE(LogHas("EVENT_TRANSFER_TX_COMPLETED"));
    EXPECT_EQ(MessagesOffUiThread.load(), 0);
}

TEST_F(ConnectionFixture, PagesSixteenAndTwentyFiveAreDecodedOnTheUiThreadWhileTheStickTransmits)
{
    OpenVirtualStick(ThreeDevices);
    TAntChannel *fe = AddChannel(acpAntFE, 0, 4242);
    ASSERT_TRUE(ConnectAndWait(fe));
    // The rider speeds the flywheel up: each new page 16 changes the decoded speed.
    ASSERT_TRUE(PumpUntil([&] { return Fe(fe).Speed() > 0; }));
    const long double first = Fe(fe).Speed();
    ASSERT_TRUE(PumpUntil([&] { return Fe(fe).Speed() > first; }));
    ASSERT_TRUE(PumpUntil([&] { return Fe(fe).InstantaneousCadence() == 85; }));
    EXPECT_GT(Fe(fe).InstantaneousPower(), 0);
    EXPECT_GT(Messages.load(), 2);
    EXPECT_EQ(MessagesOffUiThread.load(), 0);
}

TEST_F(ConnectionFixture, AFailedAcknowledgedPageIsSentAgainUntilTheTrainerHasIt)
{
    OpenVirtualStick("seed 5\ntrainer 4242\nack_failure 0.5\n");
    TAntChannel *fe = AddChannel(acpAntFE, 0, 4242);
    ASSERT_TRUE(ConnectAndWait(fe));
    // Completed means the trainer received the copy.
    ASSERT_TRUE(PumpUntil([&] {
        return LogHasAfter("ANT_SendAcknowledgedData - Repeated for fail -", "EVENT_TRANSFER_TX_COMPLETED");
    }, 15000));
    EXPECT_EQ(Count("EVENT_TRANSFER_TX_FAILED ch(0)"), Count("ANT_SendAcknowledgedData - Repeated for fail -"));
}

TEST_F(ConnectionFixture, ATrainerDropoutKeepsItConnectedAndTheNextBroadcastIsReported)
{
    OpenVirtualStick("trainer 4242\ndropout 1 3.5 trainer\n");
    TAntChannel *fe = AddChannel(acpAntFE, 0, 4242);
    std::atomic<int> broadcasts{0};
    fe->OnEventRxBroadCastReceived = [&](TObject *) { ++broadcasts; };
    std::atomic<int> goToSearch{0};
    fe->OnRxFailGoToSearch = [&](TObject *) { ++goToSearch; };
    ASSERT_TRUE(ConnectAndWait(fe));
    ASSERT_TRUE(PumpUntil([&] { return broadcasts.load() == 1; }, 3000)) << "the first broadcast";

    ASSERT_TRUE(PumpUntil([&] { return fe->ChannelState() == chsConnectionLost; }, 6000));
    EXPECT_TRUE(fe->Connected());
    EXPECT_EQ(goToSearch.load(), 1);
    EXPECT_FALSE(fe->BroadcastReceived());
    EXPECT_GE(fe->RxFailCount(), 8);
    EXPECT_EQ(broadcasts.load(), 1);

    ASSERT_TRUE(PumpUntil([&] { return broadcasts.load() == 2; }, 6000)) << "the trainer heard again";
    EXPECT_TRUE(fe->Connected());
    EXPECT_EQ(fe->ChannelState(), chsActive);
    EXPECT_EQ(Count("EVENT_CHANNEL_CLOSED ch(0)"), 0);
}

TEST_F(ConnectionFixture, AStrapDropoutDisconnectsItAndItIsReopenedAfterItsSearchTimeOut)
{
    OpenVirtualStick("hr 77\ndropout 1 5 hr\n");
    TAntChannel *hr = AddChannel(acpAntHR, 0, 77);
    // One high-priority period of 2.5 s and no low-priority search, so the search times out.
    hr->SetSearchTimeout(1);
    hr->SetLowPrioritySearchTimeout(0);
    std::atomic<int> lost{0};
    hr->OnHeartConnectionLost = [&](TObject *) { ++lost; };
    ASSERT_TRUE(ConnectAndWait(hr));
    ASSERT_TRUE(PumpUntil([&] { return hr->BroadcastReceived(); }, 3000));

    ASSERT_TRUE(PumpUntil([&] { return lost.load() == 1; }, 6000));
    EXPECT_FALSE(hr->Connected());
    ASSERT_TRUE(PumpUntil([&] { return LogHas("ANT_OpenChannel HR <try again> "); }, 6000));
    EXPECT_TRUE(LogHasAfter("EVENT_RX_FAIL_GO_TO_SEARCH ch(0)", "EVENT_RX_SEARCH_TIMEOUT ch(0)"));
    EXPECT_FALSE(hr->Connected());

    ASSERT_TRUE(PumpUntil([&] { return hr->Connected(); }, 6000)) << "the reopened channel found the strap";
    EXPECT_EQ(lost.load(), 1);
}

TEST_F(ConnectionFixture, TheMapBurstRaisesOnResistanceMapReceivedOnceWithTheScenariosTable)
{
    const char *scenarioText = "trainer 4242 map=1.5\n";
    OpenVirtualStick(scenarioText);
    TAntChannel *fe = AddChannel(acpAntFE, 0, 4242);
    std::atomic<int> maps{0};
    fe->OnResistanceMapReceived = [&](TObject *, TResistanceMap *) { ++maps; };
    ASSERT_TRUE(ConnectAndWait(fe));
    ASSERT_TRUE(PumpUntil([&] { return maps.load() == 1; }, 8000));
    PumpFor(1000);
    EXPECT_EQ(maps.load(), 1);
    ASSERT_NE(fe->ReceivedMap(), nullptr);

    // The virtual trainer's brake at each of the burst's speeds and levels.
    const antsim::Scenario scenario = antsim::parseScenario(scenarioText);
    const antsim::SimTrainer trainer(scenario.devices.at(0), scenario);
    const auto &table = fe->MapTable();
    for (int column = 1; column < TAntChannel::MapColumns; ++column)
        for (int row = 1; row < TAntChannel::MapRows; ++row) {
            const double watts = trainer.brakePower(5.0 * row / 3.6, std::nearbyint((column - 1) * 15.384));
            EXPECT_EQ(table[row][column], uint16_t(std::lround(watts))) << row << "," << column;
        }
    EXPECT_EQ(Count("Call -> TriggerResistanceMapReceived"), 1);
}

TEST_F(ConnectionFixture, UnplugClosesTheChannelAndReleasingDoesNotHang)
{
    OpenVirtualStick("trainer 4242\nunplug 1.5\n");
    TAntChannel *fe = AddChannel(acpAntFE, 0, 4242);
    std::atomic<int> closed{0};
    fe->OnChannelEvent = [&](TObject *, uint8_t, uint8_t ucEvent) {
        if (ucEvent == 0x07)
            ++closed;
    };
    ASSERT_TRUE(ConnectAndWait(fe));
    ASSERT_TRUE(PumpUntil([&] { return closed.load() == 1; }, 5000));
    EXPECT_TRUE(PumpUntil([&] { return LogHas("EVENT_CHANNEL_CLOSED ch(0)"); }));
    EXPECT_FALSE(fe->Connected());
    const auto start = TestClock::now();
    Stop();
    EXPECT_LT(MsSince(start), 5000) << "releasing an unplugged stick came back";
}

// Connected together: the channel bound last takes every answer and hands each to its channel.
TEST_F(ConnectionFixture, AllThreeChannelsConnectedAtOnce)
{
    OpenVirtualStick(ThreeDevices);
    TAntChannel *hr = AddChannel(acpAntHR, 0, 77);
    TAntChannel *fe = AddChannel(acpAntFE, 1, 0);
    TAntChannel *console = AddChannel(acpAntConsole, 2, 900);
    for (TAntChannel *ch : {hr, fe, console})
        Ctl->ConnectChannel(Device, ch);
    const bool all = PumpUntil([&] { return hr->Connected() && fe->Connected() && console->Connected(); }, 5000);
    ASSERT_TRUE(all) << hr->Connected() << hr->RequestPending() << fe->Connected() << console->Connected()
                     << console->RequestPending();
    EXPECT_TRUE(PumpUntil([&] { return fe->DeviceNumber() == 4242; }));
    for (TAntChannel *ch : {hr, fe, console}) {
        const std::string start = "---- Connecting to aAntChannel " + std::to_string(ch->ChannelNumber());
        EXPECT_TRUE(LogHas(start));
    }
}

// One response callback for every channel: the controller copies each answer into the
// channel's own copy, and only the first channel has a response row.
TEST_F(ConnectionFixture, InGlobalResponseModeStrapTrainerAndConsoleAllConnect)
{
    OpenVirtualStick(ThreeDevices);
    Ctl->SetUseGlobalResponseFunction(true);
    TAntChannel *hr = AddChannel(acpAntHR, 0, 77);
    TAntChannel *fe = AddChannel(acpAntFE, 1, 0);
    TAntChannel *console = AddChannel(acpAntConsole, 2, 900);
    int timeOuts = 0;
    Ctl->OnConnectChannelTimeOut = [&](TObject *, TConnectChannelThread *) { ++timeOuts; };
    for (TAntChannel *ch : {hr, fe, console})
        ASSERT_TRUE(ConnectAndWait(ch)) << "channel " << int(ch->ChannelNumber());
    for (TAntChannel *ch : {hr, fe, console}) {
        EXPECT_TRUE(ch->Connected()) << "channel " << int(ch->ChannelNumber());
        EXPECT_EQ(Count("Channel: " + std::to_string(ch->ChannelNumber()) + " Connected True"), 1);
    }
    EXPECT_EQ(fe->ResponseBufferIndex(), -1);
    EXPECT_EQ(console->ResponseBufferIndex(), -1);
    EXPECT_EQ(fe->DeviceNumber(), 4242) << "the wildcard trainer learnt its number from its copy";
    EXPECT_EQ(timeOuts, 0);
    EXPECT_EQ(Count("Set CallBackResponseFunc (FUseGlobalResponseFunction)"), 1);
    EXPECT_EQ(Count("Error: ChannelBufferAddress undefined (TAntChannel.ResponseFunc): call dropped"), 0);
}

// The same connection with the stick behind a pseudo-terminal, through the serial transport.
TEST_F(ConnectionFixture, TheTrainerConnectsOverThePtyStick)
{
    UseScenario("trainer 4242 max_resistance=777\nrider 0 200 85\n");
    const std::string scenarioFile = (ScenarioDir / "scenario.txt").string();
    ::unsetenv("FENNICK_VIRTUAL_TRAINER");
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const char *argv[] = {VIRTUAL_STICK_TOOL, "--scenario", scenarioFile.c_str(), "--quit-after", "60", nullptr};
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, VIRTUAL_STICK_TOOL, &actions, nullptr, const_cast<char **>(argv), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    std::string pty;
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n')
        pty += c;
    ::close(out[0]);
    ASSERT_EQ(pty.rfind("/dev/", 0), 0u) << pty;
    ::setenv("FENNICK_ANT_SERIAL", pty.c_str(), 1);

    Open("ANT serial device");
    TAntChannel *fe = AddChannel(acpAntFE, 1, 0);
    const bool connected = ConnectAndWait(fe);
    const bool capabilities = connected && PumpUntil([&] { return Fe(fe).MaximumResistance() == 777; });
    const bool pages = connected && PumpUntil([&] { return Fe(fe).InstantaneousCadence() == 85; });
    const uint16_t learnt = fe->DeviceNumber();
    Stop(); // frees the channel
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(connected);
    EXPECT_TRUE(capabilities);
    EXPECT_TRUE(pages);
    EXPECT_EQ(learnt, 4242);
    EXPECT_EQ(MessagesOffUiThread.load(), 0);
    EXPECT_TRUE(WIFEXITED(status));
}
