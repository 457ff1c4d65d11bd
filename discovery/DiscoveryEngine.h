#pragma once
// Inside the device search: the stick's channels, the devices found, and what the library's
// thread hands over to the search's worker. Everything shared is under one mutex; the
// library's thread only takes it for a moment and never waits on anything else.
#include "discovery/DeviceDiscovery.h"
#include "discovery/MessageRate.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

using TDiscoveryClock = std::chrono::steady_clock;

// Messages the search requests from the stick.
constexpr uint8_t kChannelIdMessage = 0x51;
constexpr uint8_t kCapabilitiesMessage = 0x54;

enum class TSlotRole : uint8_t { Free, Search, Follow };

// One channel of the stick as the search uses it.
struct TDiscoverySlot {
    TSlotRole Role = TSlotRole::Free;
    TDiscoveredKind Kind = TDiscoveredKind::Trainer;
    int Device = -1;          // Follow: index into the devices
    bool Assigned = false;
    bool Open = false;
    uint8_t Listed = 0;       // Search: ids in its exclusion list
    bool Reported = false;    // Search: its pairing was handed to the worker
    TDiscoveryClock::time_point LastRequest{}; // Follow: last page request to the device
    int Requests = 0;
};

struct TTrackedDevice {
    TDiscoveredDevice Info;
    TDiscoveryClock::time_point FoundAt, LastHeard;
    TMessageRate Rate;
    bool Handled = false;     // the worker decided how to follow it
};

// A search channel paired with this id.
struct TPairing {
    int Channel = 0;
    uint16_t Number = 0;
    uint8_t DeviceType = 0;
    uint8_t Transmission = 0;
};

struct TDeviceDiscovery::TImpl {
    static constexpr int kMaxChannels = 8;
    static constexpr uint8_t kListSize = 4;
    // The one search that owns the library's callbacks (they carry no context of their own).
    static std::atomic<TImpl *> Active;

    // Shared with the library's thread.
    mutable std::mutex FMutex;
    std::condition_variable FChanged; // a pairing, an id to ask for, a channel closed, stop
    std::array<TDiscoverySlot, kMaxChannels> FSlots;
    std::vector<TTrackedDevice> FDevices;
    std::deque<TPairing> FPairings;
    std::deque<int> FIdWanted;
    std::array<uint8_t, 8> FCapabilities{};
    bool FCapabilitiesHeard = false;
    bool FStopping = false;

    // The library's thread only: the buffers it writes before each callback.
    std::array<std::array<uint8_t, 16>, kMaxChannels> FEventBuffers{};
    std::array<uint8_t, 16> FResponseBuffer{};

    // The caller's thread (and the worker between Start and Stop).
    std::atomic<bool> FRunning{false};
    std::thread FWorker;
    bool FLoadedLibrary = false;
    bool FListsUsable = false;
    int FChannels = kMaxChannels;
    bool FFullLogged[2] = {false, false};
    std::function<void(const std::string &)> FLog;

    bool Start(std::string &Why);
    void Stop();
    std::vector<TDiscoveredDevice> Snapshot() const;
    void Log(const std::string &Line) const;

    // Start and Stop (DiscoveryEngine.cpp).
    bool OpenStick(std::string &Why);
    void ReadCapabilities();
    void Release();
    void CloseEverything();
    bool WaitFor(const std::function<bool()> &Done, std::chrono::milliseconds Limit);

    // On the library's thread (DiscoveryCallbacks.cpp).
    static bool ResponseFunc(uint8_t Channel, uint8_t MessageId);
    static bool ChannelEventFunc(uint8_t Channel, uint8_t Event);
    void OnResponse(uint8_t Channel, uint8_t MessageId);
    void OnData(uint8_t Channel, uint8_t Event);
    void OnPairing(const TPairing &Pairing, const uint8_t *Page8);
    int FindDevice(TDiscoveredKind Kind, uint16_t Number) const;
    void Heard(TTrackedDevice &Device, const uint8_t *Page8);

    // The worker (DiscoveryWorker.cpp).
    void Work();
    void HandlePairing(const TPairing &Pairing);
    void OpenSearch(int Channel, TDiscoveredKind Kind);
    void Reopen(int Channel, const TPairing *Exclude);
    void Follow(int Device);
    void CloseAndWait(int Channel);
    void AskForIdentities();
};

// The stick's radio settings for a kind: the channel profile's.
struct TAntChannelProfileSettings;
const TAntChannelProfileSettings &DiscoverySettings(TDiscoveredKind Kind);
const char *DiscoveryKindName(TDiscoveredKind Kind);
