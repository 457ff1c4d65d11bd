#include "TarvoStatsFixture.h"

#include <thread>

// The trainer channel's disconnection reaches the device on the library's thread and offers a
// target power of 0 there, while the user-interface thread's ticks recompute the reduction.
TEST_F(TarvoStatsFixture, TrainerDisconnectionOnTheLibraryThreadDuringTicks)
{
    constexpr int Rounds = 400;
    Device.SetHighPowerReduceEnable(true);
    Device.SetHighPowerReduceStartSpeed(40);
    Device.SetHighPowerReduceCoefficientMinimum(0.25);
    StartRiding(20);
    Device.SetPower(150);
    Lib.Clear();

    std::thread library([this] {
        for (int i = 0; i < Rounds; ++i)
            Device.HandleChannelDisconnected(Trainer);
    });
    for (int i = 0; i < Rounds; ++i) {
        Fe().SetSpeed(i % 50);
        Tick();
    }
    library.join();

    EXPECT_EQ(Device.Power(), 0);
    const std::vector<int> powers = PowersSent();
    EXPECT_EQ(powers.size(), static_cast<size_t>(Rounds));
    for (int watts : powers)
        ASSERT_EQ(watts, 0);
    EXPECT_TRUE(Device.Connected()) << "the device stays connected";
    const double c = Device.HighPowerReduceCoefficient();
    EXPECT_TRUE(c >= 0.25 && c <= 1.0) << c;
}
