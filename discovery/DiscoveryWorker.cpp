// The search's worker: acts on what the library's thread handed over. A search that paired
// is closed, told to pass over that device from now on and opened again; the device gets a
// channel of its own so that the list can say how often and how lately it is heard.
#include "ant/binding/AntLib.h"
#include "ant/channels/AntChannelProfiles.h"
#include "discovery/DiscoveryEngine.h"

namespace {

constexpr uint8_t kNoHighPrioritySearch = 0;
constexpr uint8_t kEndlessSearch = 255;
constexpr auto kIdle = std::chrono::milliseconds(500);
constexpr auto kSearchCloseWait = std::chrono::milliseconds(1000);
// Pages 80/81 come only every quarter of a minute or so: a follow channel asks for them.
constexpr auto kRequestSpacing = std::chrono::seconds(1);
constexpr auto kRecentlyHeard = std::chrono::seconds(2);
constexpr int kMaxRequests = 10;
constexpr uint8_t kRequestPage = 70;
constexpr uint8_t kBroadcastTwice = 0x02;
constexpr uint8_t kRequestDataPage = 0x01;

} // namespace

void TDeviceDiscovery::TImpl::Work()
{
    std::unique_lock lock(FMutex);
    while (!FStopping) {
        FChanged.wait_for(lock, kIdle, [this] { return FStopping || !FPairings.empty() || !FIdWanted.empty(); });
        if (FStopping)
            break;
        if (!FIdWanted.empty()) {
            const int ch = FIdWanted.front();
            FIdWanted.pop_front();
            lock.unlock();
            TAntLib::ANT_RequestMessage(uint8_t(ch), kChannelIdMessage);
        } else if (!FPairings.empty()) {
            const TPairing pairing = FPairings.front();
            FPairings.pop_front();
            lock.unlock();
            HandlePairing(pairing);
        } else {
            lock.unlock();
            AskForIdentities();
        }
        lock.lock();
    }
}

void TDeviceDiscovery::TImpl::HandlePairing(const TPairing &Pairing)
{
    int device;
    bool fresh;
    TDiscoveredKind kind;
    {
        std::lock_guard lock(FMutex);
        kind = FSlots[size_t(Pairing.Channel)].Kind;
        device = FindDevice(kind, Pairing.Number);
        fresh = device >= 0 && !FDevices[size_t(device)].Handled;
        if (fresh)
            FDevices[size_t(device)].Handled = true;
    }
    if (device < 0)
        return;
    if (fresh) {
        Log(std::string("found ") + DiscoveryKindName(kind) + " " + std::to_string(Pairing.Number) +
            " transmission " + std::to_string(Pairing.Transmission));
        Follow(device);
    }
    Reopen(Pairing.Channel, fresh ? &Pairing : nullptr);
}

void TDeviceDiscovery::TImpl::OpenSearch(int Channel, TDiscoveredKind Kind)
{
    const TAntChannelProfileSettings &s = DiscoverySettings(Kind);
    const uint8_t ch = uint8_t(Channel);
    {
        std::lock_guard lock(FMutex);
        TDiscoverySlot &slot = FSlots[size_t(Channel)];
        slot = TDiscoverySlot{};
        slot.Role = TSlotRole::Search;
        slot.Kind = Kind;
        slot.Assigned = slot.Open = true;
    }
    TAntLib::ANT_AssignChannel(ch, s.ChannelType, s.NetNumber);
    TAntLib::ANT_SetChannelId(ch, 0, s.DeviceType, 0);
    TAntLib::ANT_SetChannelPeriod(ch, s.MessagePeriod);
    TAntLib::ANT_SetChannelRFFreq(ch, s.ChannelFrequency);
    // Low priority only: a high-priority search would cost the followed devices messages.
    TAntLib::ANT_SetChannelSearchTimeout(ch, kNoHighPrioritySearch);
    TAntLib::ANT_SetLowPriorityChannelSearchTimeout(ch, kEndlessSearch);
    TAntLib::ANT_OpenChannel(ch);
}

// Starts the search on `Channel` again, passing over `Exclude` from now on when its list has
// room. Without a list (or once it is full) a search that meets a known device just starts
// again, and with luck hears another one first.
void TDeviceDiscovery::TImpl::Reopen(int Channel, const TPairing *Exclude)
{
    CloseAndWait(Channel);
    uint8_t listed;
    TDiscoveredKind kind;
    {
        std::lock_guard lock(FMutex);
        if (FStopping)
            return;
        listed = FSlots[size_t(Channel)].Listed;
        kind = FSlots[size_t(Channel)].Kind;
    }
    const uint8_t ch = uint8_t(Channel);
    if (Exclude && FListsUsable && listed < kListSize) {
        TAntLib::ANT_AddChannelID(ch, Exclude->Number, Exclude->DeviceType, Exclude->Transmission, listed);
        TAntLib::ANT_ConfigList(ch, uint8_t(listed + 1), 1);
        ++listed;
    } else if (Exclude && FListsUsable && !FFullLogged[int(kind)]) {
        FFullLogged[int(kind)] = true;
        Log(std::string("the ") + DiscoveryKindName(kind) + " search's list is full (" +
            std::to_string(kListSize) + "); more are found only by searching again");
    }
    {
        std::lock_guard lock(FMutex);
        TDiscoverySlot &slot = FSlots[size_t(Channel)];
        slot.Listed = listed;
        slot.Reported = false;
        slot.Open = true;
    }
    TAntLib::ANT_OpenChannel(ch);
}

void TDeviceDiscovery::TImpl::CloseAndWait(int Channel)
{
    {
        std::lock_guard lock(FMutex);
        if (!FSlots[size_t(Channel)].Open)
            return;
    }
    TAntLib::ANT_CloseChannel(uint8_t(Channel));
    if (!WaitFor([&] { return FStopping || !FSlots[size_t(Channel)].Open; }, kSearchCloseWait))
        Log("channel " + std::to_string(Channel) + " did not report closed");
}

void TDeviceDiscovery::TImpl::Follow(int Device)
{
    int channel = -1;
    TDiscoveredDevice info;
    {
        std::lock_guard lock(FMutex);
        info = FDevices[size_t(Device)].Info;
        for (int ch = 0; ch < FChannels && channel < 0; ++ch)
            if (FSlots[size_t(ch)].Role == TSlotRole::Free)
                channel = ch;
        if (channel >= 0) {
            TDiscoverySlot &slot = FSlots[size_t(channel)];
            slot = TDiscoverySlot{};
            slot.Role = TSlotRole::Follow;
            slot.Kind = info.Kind;
            slot.Device = Device;
            slot.Assigned = slot.Open = true;
            FDevices[size_t(Device)].Info.Followed = true;
        }
    }
    if (channel < 0) {
        Log(std::string("every channel is in use: ") + DiscoveryKindName(info.Kind) + " " +
            std::to_string(info.DeviceNumber) + " is listed but not followed");
        return;
    }
    const TAntChannelProfileSettings &s = DiscoverySettings(info.Kind);
    const uint8_t ch = uint8_t(channel);
    TAntLib::ANT_AssignChannel(ch, s.ChannelType, s.NetNumber);
    TAntLib::ANT_SetChannelId(ch, info.DeviceNumber, s.DeviceType, info.TransmissionType);
    TAntLib::ANT_SetChannelPeriod(ch, s.MessagePeriod);
    TAntLib::ANT_SetChannelRFFreq(ch, s.ChannelFrequency);
    TAntLib::ANT_SetChannelSearchTimeout(ch, kNoHighPrioritySearch);
    TAntLib::ANT_SetLowPriorityChannelSearchTimeout(ch, kEndlessSearch);
    TAntLib::ANT_OpenChannel(ch);
}

// Asks each followed trainer, now and then, for the page of its identity that is missing.
void TDeviceDiscovery::TImpl::AskForIdentities()
{
    std::vector<std::pair<uint8_t, uint8_t>> requests; // channel, page
    const auto now = TDiscoveryClock::now();
    {
        std::lock_guard lock(FMutex);
        for (int ch = 0; ch < kMaxChannels; ++ch) {
            TDiscoverySlot &slot = FSlots[size_t(ch)];
            if (slot.Role != TSlotRole::Follow || slot.Kind != TDiscoveredKind::Trainer || !slot.Open)
                continue;
            const TTrackedDevice &d = FDevices[size_t(slot.Device)];
            const bool missing = !d.Info.ManufacturerId || !d.Info.SoftwareVersion;
            if (!missing || slot.Requests >= kMaxRequests || now - d.LastHeard > kRecentlyHeard ||
                now - slot.LastRequest < kRequestSpacing)
                continue;
            slot.LastRequest = now;
            ++slot.Requests;
            requests.emplace_back(uint8_t(ch), d.Info.ManufacturerId ? 81 : 80);
        }
    }
    for (const auto &[ch, page] : requests) {
        const uint8_t data[8] = {kRequestPage, 0xFF, 0xFF, 0xFF, 0xFF, kBroadcastTwice, page, kRequestDataPage};
        TAntLib::ANT_SendAcknowledgedData(ch, data);
    }
}
