// The library's thread: counts and decodes what each channel hears and hands pairings of
// the searches to the worker. Nothing here waits for anything but the search's own mutex.
#include "discovery/DiscoveryEngine.h"
#include "discovery/DiscoveryPages.h"

namespace {

constexpr uint8_t kChannelClosed = 0x07;
constexpr uint8_t kRxBroadcast = 0x9A;
constexpr uint8_t kRxAcknowledged = 0x9B;
constexpr uint8_t kRxExtBroadcast = 0x9D;
constexpr uint8_t kRxExtAcknowledged = 0x9E;
constexpr uint8_t kResponse = 0x40;
constexpr uint8_t kOpenChannel = 0x4B;
constexpr uint8_t kCloseChannel = 0x4C;
constexpr uint8_t kUnassignChannel = 0x41;
constexpr uint8_t kAssignChannel = 0x42;
constexpr uint8_t kExtendedIdFlag = 0x80;
constexpr uint8_t kPairingBit = 0x80;

bool IsData(uint8_t Event)
{
    return Event == kRxBroadcast || Event == kRxAcknowledged || Event == kRxExtBroadcast ||
           Event == kRxExtAcknowledged;
}

} // namespace

void TDeviceDiscovery::TImpl::OnData(uint8_t Channel, uint8_t Event)
{
    const uint8_t *b = FEventBuffers[Channel].data();
    if (Event == kChannelClosed) {
        {
            std::lock_guard lock(FMutex);
            FSlots[Channel].Open = false;
        }
        FChanged.notify_all();
        return;
    }
    if (!IsData(Event))
        return;
    const bool extended = Event >= kRxExtBroadcast && (b[9] & kExtendedIdFlag) != 0;
    bool wake = false;
    {
        std::lock_guard lock(FMutex);
        TDiscoverySlot &slot = FSlots[Channel];
        if (slot.Role == TSlotRole::Follow && slot.Device >= 0) {
            Heard(FDevices[size_t(slot.Device)], b + 1);
        } else if (slot.Role == TSlotRole::Search && !slot.Reported) {
            slot.Reported = true;
            if (extended) {
                OnPairing({Channel, uint16_t(b[10] | (b[11] << 8)), uint8_t(b[12] & ~kPairingBit), b[13]}, b + 1);
            } else {
                FIdWanted.push_back(Channel);
            }
            wake = true;
        }
    }
    if (wake)
        FChanged.notify_all();
}

// Under the mutex. A device not known yet enters the list with the message it was found by.
void TDeviceDiscovery::TImpl::OnPairing(const TPairing &Pairing, const uint8_t *Page8)
{
    const TDiscoveredKind kind = FSlots[size_t(Pairing.Channel)].Kind;
    if (FindDevice(kind, Pairing.Number) < 0) {
        TTrackedDevice d;
        d.Info.Kind = kind;
        d.Info.DeviceNumber = Pairing.Number;
        d.Info.TransmissionType = Pairing.Transmission;
        d.Info.Followed = false;
        d.FoundAt = TDiscoveryClock::now();
        FDevices.push_back(std::move(d));
        if (Page8) {
            Heard(FDevices.back(), Page8);
            FDevices.back().FoundAt = FDevices.back().LastHeard;
        }
    }
    FPairings.push_back(Pairing);
}

int TDeviceDiscovery::TImpl::FindDevice(TDiscoveredKind Kind, uint16_t Number) const
{
    for (size_t i = 0; i < FDevices.size(); ++i)
        if (FDevices[i].Info.Kind == Kind && FDevices[i].Info.DeviceNumber == Number)
            return int(i);
    return -1;
}

void TDeviceDiscovery::TImpl::Heard(TTrackedDevice &Device, const uint8_t *Page8)
{
    Device.LastHeard = TDiscoveryClock::now();
    Device.Rate.Heard(Device.LastHeard);
    ++Device.Info.Messages;
    DecodeDiscoveryPage(Page8, Device.Info);
}

void TDeviceDiscovery::TImpl::OnResponse(uint8_t Channel, uint8_t MessageId)
{
    const uint8_t *b = FResponseBuffer.data();
    {
        std::lock_guard lock(FMutex);
        if (MessageId == kCapabilitiesMessage) {
            std::copy(b, b + FCapabilities.size(), FCapabilities.begin());
            FCapabilitiesHeard = true;
        } else if (MessageId == kChannelIdMessage && b[0] < kMaxChannels) {
            const uint16_t number = uint16_t(b[1] | (b[2] << 8));
            if (FSlots[b[0]].Role == TSlotRole::Search && number != 0)
                OnPairing({b[0], number, uint8_t(b[3] & ~kPairingBit), b[4]}, nullptr);
        } else if (MessageId == kResponse && Channel < kMaxChannels) {
            TDiscoverySlot &slot = FSlots[Channel];
            const bool ok = b[2] == 0;
            // A refused close means the channel was not open (it timed out meanwhile).
            if ((b[1] == kCloseChannel && !ok) || (b[1] == kOpenChannel && !ok))
                slot.Open = false;
            else if (b[1] == kUnassignChannel && ok)
                slot.Assigned = false;
            else if (b[1] == kAssignChannel && !ok)
                slot.Assigned = false;
        } else {
            return;
        }
    }
    FChanged.notify_all();
}
