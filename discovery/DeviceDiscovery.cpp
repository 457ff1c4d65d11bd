// Start and stop of the device search: the stick is taken, reset and given its searches,
// and on the way out every channel is closed and unassigned before the stick is let go.
#include "discovery/DeviceDiscovery.h"

#include "ant/binding/AntLib.h"
#include "ant/channels/AntChannelProfiles.h"
#include "ant/channels/NetworkKeys.h"
#include "discovery/DiscoveryEngine.h"
#include "platform/DebugOutput.h"

#include <algorithm>

namespace {

constexpr uint16_t kBaudRate = 57600;
constexpr uint8_t kSearchListOption = 0x80; // advanced options byte
constexpr auto kCapabilitiesWait = std::chrono::milliseconds(1000);
constexpr auto kStopWait = std::chrono::milliseconds(2000);
const char *const kDiscoveryStickHolder = "search for devices";

} // namespace

std::atomic<TDeviceDiscovery::TImpl *> TDeviceDiscovery::TImpl::Active{nullptr};

const TAntChannelProfileSettings &DiscoverySettings(TDiscoveredKind Kind)
{
    return *AntChannelProfileSettings(Kind == TDiscoveredKind::Trainer ? acpAntFE : acpAntHR);
}

const char *DiscoveryKindName(TDiscoveredKind Kind)
{
    return Kind == TDiscoveredKind::Trainer ? "trainer" : "hr";
}

TDeviceDiscovery::TDeviceDiscovery() : FImpl(std::make_unique<TImpl>()) {}

TDeviceDiscovery::~TDeviceDiscovery()
{
    Stop();
}

bool TDeviceDiscovery::Start(std::string &Why)
{
    FImpl->FLog = OnLog;
    return FImpl->Start(Why);
}

void TDeviceDiscovery::Stop()
{
    FImpl->Stop();
}

bool TDeviceDiscovery::Running() const
{
    return FImpl->FRunning.load();
}

std::vector<TDiscoveredDevice> TDeviceDiscovery::Devices() const
{
    return FImpl->Snapshot();
}

void TDeviceDiscovery::TImpl::Log(const std::string &Line) const
{
    if (FLog)
        FLog("discovery: " + Line);
    else
        OutputDebugString("discovery: " + Line);
}

bool TDeviceDiscovery::TImpl::WaitFor(const std::function<bool()> &Done, std::chrono::milliseconds Limit)
{
    std::unique_lock lock(FMutex);
    return FChanged.wait_for(lock, Limit, Done);
}

bool TDeviceDiscovery::TImpl::Start(std::string &Why)
{
    if (FRunning) {
        Why = "The search for devices is already running.";
        return false;
    }
    if (Active.load() != nullptr) {
        Why = "Another search for devices holds the ANT stick.";
        return false;
    }
    // Opening the stick again would close the trainer connection's session under it.
    if (const std::string holder = AntStickHolder(); !holder.empty()) {
        Why = "The ANT stick is in use by the " + holder + "; disconnect it first.";
        return false;
    }
    // A library the trainer connection loaded (and has closed its stick in) is used as it is
    // and left loaded for it.
    if (!AntLibHandleHeld()) {
        if (!LoadAntLib()) {
            Why = "The ANT library (" + AntLibraryName() + ") could not be loaded.";
            return false;
        }
        FLoadedLibrary = true;
    }
    {
        std::lock_guard lock(FMutex);
        FSlots = {};
        FDevices.clear();
        FPairings.clear();
        FIdWanted.clear();
        FCapabilitiesHeard = false;
        FStopping = false;
    }
    FFullLogged[0] = FFullLogged[1] = false;
    Active = this;
    if (!OpenStick(Why)) {
        Release();
        return false;
    }
    ReadCapabilities();
    const TAntNetworkKey key = AntPlusNetworkKey();
    TAntLib::ANT_SetNetworkKey(0, key.data());
    // Extended data names the sender of every message, so a search's pairing needs no request.
    TAntLib::ANT_RxExtMesgsEnable(1);
    OpenSearch(0, TDiscoveredKind::Trainer);
    OpenSearch(1, TDiscoveredKind::HeartRate);
    FRunning = true;
    FWorker = std::thread([this] { Work(); });
    return true;
}

bool TDeviceDiscovery::TImpl::OpenStick(std::string &Why)
{
    TAntLib::ANT_AssignResponseFunction(&ResponseFunc, FResponseBuffer.data());
    for (int ch = 0; ch < kMaxChannels; ++ch)
        TAntLib::ANT_AssignChannelEventFunction(uint8_t(ch), &ChannelEventFunc, FEventBuffers[size_t(ch)].data());
    if (!TAntLib::ANT_Init(0, kBaudRate)) {
        Why = "No ANT stick was found.";
        const std::string detail = AntLastErrorText();
        if (!detail.empty())
            Why += "\n" + detail;
        return false;
    }
    if (!TAntLib::ANT_ResetSystem()) {
        Why = "The ANT stick did not answer its reset.";
        return false;
    }
    SetAntStickHolder(kDiscoveryStickHolder);
    return true;
}

void TDeviceDiscovery::TImpl::ReadCapabilities()
{
    TAntLib::ANT_RequestMessage(0, kCapabilitiesMessage);
    const bool heard = WaitFor([this] { return FCapabilitiesHeard; }, kCapabilitiesWait);
    std::array<uint8_t, 8> caps;
    {
        std::lock_guard lock(FMutex);
        caps = FCapabilities;
    }
    const bool functions = AntFunctions().ANT_AddChannelID && AntFunctions().ANT_ConfigList;
    FListsUsable = heard && functions && (caps[3] & kSearchListOption) != 0;
    FChannels = heard && caps[0] > 0 ? std::min<int>(caps[0], kMaxChannels) : kMaxChannels;
    if (!heard)
        Log("the stick did not tell its capabilities; searching without search lists");
    else if (!functions)
        Log("the ANT library has no search lists; a search that finds a known device starts again");
    else if (!FListsUsable)
        Log("the stick has no search lists; a search that finds a known device starts again");
    Log(std::to_string(FChannels) + " channels: 2 searches, " + std::to_string(FChannels - 2) +
        " to follow devices");
}

void TDeviceDiscovery::TImpl::Stop()
{
    if (!FRunning)
        return;
    {
        std::lock_guard lock(FMutex);
        FStopping = true;
    }
    FChanged.notify_all();
    if (FWorker.joinable())
        FWorker.join();
    CloseEverything();
    Release();
    FRunning = false;
}

void TDeviceDiscovery::TImpl::CloseEverything()
{
    for (int ch = 0; ch < kMaxChannels; ++ch)
        if (std::lock_guard lock(FMutex); FSlots[size_t(ch)].Open)
            TAntLib::ANT_CloseChannel(uint8_t(ch));
    const auto allClosed = [this] {
        return std::none_of(FSlots.begin(), FSlots.end(), [](const TDiscoverySlot &s) { return s.Open; });
    };
    if (!WaitFor(allClosed, kStopWait))
        Log("a channel did not report closed in time; the stick is released anyway");
    for (int ch = 0; ch < kMaxChannels; ++ch)
        if (std::lock_guard lock(FMutex); FSlots[size_t(ch)].Assigned)
            TAntLib::ANT_UnAssignChannel(uint8_t(ch));
    const auto noneAssigned = [this] {
        return std::none_of(FSlots.begin(), FSlots.end(), [](const TDiscoverySlot &s) { return s.Assigned; });
    };
    if (!WaitFor(noneAssigned, kStopWait))
        Log("a channel did not confirm its unassignment in time");
}

// Undoes Start: no callback runs once the stick is closed, so the callbacks can be let go.
void TDeviceDiscovery::TImpl::Release()
{
    TAntLib::ANT_UnassignAllResponseFunctions();
    TAntLib::ANT_Close();
    if (AntStickHolder() == kDiscoveryStickHolder)
        SetAntStickHolder("");
    Active = nullptr;
    if (FLoadedLibrary)
        UnloadAntLib();
    FLoadedLibrary = false;
}

std::vector<TDiscoveredDevice> TDeviceDiscovery::TImpl::Snapshot() const
{
    using Seconds = std::chrono::duration<double>;
    const auto now = TDiscoveryClock::now();
    std::vector<TDiscoveredDevice> out;
    std::lock_guard lock(FMutex);
    for (const TTrackedDevice &d : FDevices) {
        TDiscoveredDevice info = d.Info;
        info.SecondsSinceHeard = Seconds(now - d.LastHeard).count();
        info.MessagesPerSecond = d.Rate.PerSecond(now, d.FoundAt);
        out.push_back(std::move(info));
    }
    std::stable_partition(out.begin(), out.end(),
                          [](const TDiscoveredDevice &d) { return d.Kind == TDiscoveredKind::Trainer; });
    return out;
}

bool TDeviceDiscovery::TImpl::ResponseFunc(uint8_t Channel, uint8_t MessageId)
{
    if (TImpl *self = Active.load())
        self->OnResponse(Channel, MessageId);
    return true;
}

bool TDeviceDiscovery::TImpl::ChannelEventFunc(uint8_t Channel, uint8_t Event)
{
    TImpl *self = Active.load();
    if (self && Channel < kMaxChannels)
        self->OnData(Channel, Event);
    return true;
}
