// CPU time of one statistics tick of the trainer device, with the channels made connected
// directly: nothing goes to the ANT library during a tick, so none is loaded.
#include "device/TarvoDeviceAntP.h"

#include <benchmark/benchmark.h>

namespace {

struct TRidingDevice {
    TTarvoDeviceAntP Device{nullptr};
    TAntChannel *HR = Device.AddChannel(acpAntHR);
    TAntChannel *Trainer = Device.AddChannel(acpAntFE);

    explicit TRidingDevice(bool HeartHeard)
    {
        Trainer->SetConnected(true);
        Trainer->SetChannelState(chsActive);
        Device.HandleChannelConnected(Trainer);
        auto *fe = static_cast<TAntProfileFE *>(Trainer->ProfileData());
        fe->SetSpeed(30.0L);
        fe->SetInstantaneousCadence(90);
        if (HeartHeard) {
            HR->SetChannelState(chsActive);
            static_cast<TANTProfileDataHR *>(HR->ProfileData())->SetComputedHeartRate(130);
            Device.SetHeartEnabled(true);
        }
        Device.SetHighPowerReduceEnable(true);
        Device.SetHighPowerReduceStartSpeed(40);
        Device.SetHighPowerReduceCoefficientMinimum(0.25);
        Device.SetCompetitorState(4);
        Device.OnStats = [](TObject *Sender) { benchmark::DoNotOptimize(Sender); };
    }
};

// The calibration screen's ride: no heart-rate strap, so every tick also reports it lost.
void BM_DoStatsTickWithoutStrap(benchmark::State &State)
{
    TRidingDevice riding(false);
    for (auto _ : State)
        riding.Device.DoStats();
    benchmark::DoNotOptimize(riding.Device.Speed());
}
BENCHMARK(BM_DoStatsTickWithoutStrap);

// Heart rate heard and averaged, alarm limits checked.
void BM_DoStatsTickWithStrap(benchmark::State &State)
{
    TRidingDevice riding(true);
    for (auto _ : State)
        riding.Device.DoStats();
    benchmark::DoNotOptimize(riding.Device.HeartRate());
}
BENCHMARK(BM_DoStatsTickWithStrap);

} // namespace
