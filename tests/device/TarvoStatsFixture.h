#pragma once
// The trainer device with its three channels on the recording fake library, made connected
// directly (no connection sequence): the trainer channel connected and active, the device
// told so, the heart-rate strap heard. Tests drive the statistics tick by hand and read what
// went out on the FE-C channel.
#include "TarvoDeviceFixture.h"

#include "ant/profiles/PageNumbers.h"

#include <array>
#include <cstdint>
#include <vector>

struct TarvoStatsFixture : TarvoDeviceFixture {
    using Page = std::array<uint8_t, 8>;

    void SetUp() override
    {
        TarvoDeviceFixture::SetUp();
        Trainer->SetConnected(true);
        Trainer->SetChannelState(chsActive);
        HR->SetChannelState(chsActive);
        Device.HandleChannelConnected(Trainer);
        // The trainer takes every acknowledged page at once, so each next page may go out.
        Lib.OnCall = [this](const TFakeAntCall &Call) {
            if (Call.Name == "ANT_SendAcknowledgedData" && Call.Args[0] == Trainer->ChannelNumber())
                Trainer->AcknowledgedCompleted();
        };
        Lib.Clear();
        ClearRaised();
    }
    void TearDown() override
    {
        Lib.OnCall = nullptr;
        TarvoDeviceFixture::TearDown();
    }

    TAntProfileFE &Fe() const { return *static_cast<TAntProfileFE *>(Trainer->ProfileData()); }
    TANTProfileDataHR &Heart() const { return *static_cast<TANTProfileDataHR *>(HR->ProfileData()); }

    // The acknowledged pages sent on the trainer channel, oldest first.
    std::vector<Page> Sent() const
    {
        std::vector<Page> pages;
        for (const TFakeAntCall &c : Lib.Calls("ANT_SendAcknowledgedData"))
            if (c.Args[0] == Trainer->ChannelNumber())
                pages.push_back(c.Data);
        return pages;
    }
    std::vector<Page> SentOf(uint8_t PageNumber) const
    {
        std::vector<Page> pages;
        for (const Page &p : Sent())
            if (p[0] == PageNumber)
                pages.push_back(p);
        return pages;
    }
    // Levels carried by the basic-resistance pages sent.
    std::vector<int> LevelsSent() const
    {
        std::vector<int> levels;
        for (const Page &p : SentOf(FePageBasicResistance))
            levels.push_back(p[7]);
        return levels;
    }
    // Watts carried by the target-power pages sent (the page counts quarter watts).
    std::vector<int> PowersSent() const
    {
        std::vector<int> watts;
        for (const Page &p : SentOf(FePageTargetPower))
            watts.push_back((p[6] | p[7] << 8) / 4);
        return watts;
    }

    // Running, with the trainer reporting Kmh on every tick.
    void StartRiding(long double Kmh)
    {
        Fe().SetSpeed(Kmh);
        Device.Start();
        Device.SetTimerStatsEnabled(false); // ticks come from the test alone
        Lib.Clear();
        ClearRaised();
    }
    void Tick(int Times = 1)
    {
        for (int i = 0; i < Times; ++i)
            Device.DoStats();
    }
};
