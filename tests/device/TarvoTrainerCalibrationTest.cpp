// The trainer device's calibration run on the recording fake library: pages reach it through
// the controller's decoding on another thread, and the device's own ends (Disconnect, a lost
// trainer channel) end it honestly.
#include "TarvoDeviceFixture.h"

#include "ant/AntCodes.h"

#include <algorithm>

namespace {

using Bytes = std::array<uint8_t, 8>;

const TTrainerCalibrationKinds SpinDown{false, true};
const Bytes CancelRequest{0x01, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

struct TarvoTrainerCalibrationFixture : TarvoDeviceFixture {
    std::atomic<int> Changes{0};

    void SetUp() override
    {
        TarvoDeviceFixture::SetUp();
        Device.OnTrainerCalibrationChange = [this](TObject *) { ++Changes; };
    }
    void ConnectTrainer()
    {
        ASSERT_TRUE(ConnectLearning(1, 2, 3));
        OnLibraryThread([&] { Trainer->SetConnected(true); });
    }
    // The page as the message thread hands it to the controller's decoders.
    void Hear(const Bytes &Page)
    {
        TAntRxRow row{};
        row[0] = Trainer->ChannelNumber();
        std::copy(Page.begin(), Page.end(), row.begin() + 1);
        OnLibraryThread([&] { Control->DoChannelMessage(Control, Trainer, EVENT_RX_BROADCAST, row); });
    }
    // The position of the first matching call, or -1.
    int CallIndex(const std::function<bool(const TFakeAntCall &)> &Matches) const
    {
        const std::vector<TFakeAntCall> calls = Lib.Calls();
        for (size_t i = 0; i < calls.size(); ++i)
            if (Matches(calls[i]))
                return int(i);
        return -1;
    }
};

TEST_F(TarvoTrainerCalibrationFixture, NoStartWithoutAConnectedTrainer)
{
    EXPECT_FALSE(Device.StartTrainerCalibration(SpinDown));
    EXPECT_EQ(Count("Trainer calibration: not started: no trainer connected"), 1);
    EXPECT_TRUE(Lib.Calls("ANT_SendAcknowledgedData").empty());
    EXPECT_EQ(Device.TrainerCalibration().State, tcsIdle);
}

TEST_F(TarvoTrainerCalibrationFixture, PagesDecodedOnAnotherThreadReachTheRunAndRaiseTheChange)
{
    ConnectTrainer();
    // 10 m/s on page 16 and "spin-down wanted" on page 25 count with no run as well.
    Hear({0x10, 0x19, 0x00, 0x00, 0x10, 0x27, 0xFF, 0x24});
    EXPECT_EQ(Changes.load(), 1);
    ASSERT_TRUE(Device.TrainerCalibration().Progress.CurrentSpeed.has_value());
    EXPECT_NEAR(*Device.TrainerCalibration().Progress.CurrentSpeed, 36.0, 1e-9);
    auto *fe = dynamic_cast<TAntProfileFE *>(Trainer->ProfileData());
    ASSERT_NE(fe, nullptr);
    EXPECT_NEAR(double(fe->Speed()), 36.0, 1e-6) << "the record is decoded as before";
    Hear({0x19, 0x01, 0x5A, 0x00, 0x00, 0x00, 0x20, 0x00});
    EXPECT_EQ(Device.TrainerCalibration().Required, SpinDown);
    EXPECT_EQ(Changes.load(), 2);
    Hear({0x19, 0x02, 0x5A, 0x00, 0x00, 0x00, 0x20, 0x00});
    EXPECT_EQ(Changes.load(), 2) << "nothing the view shows changed";

    ASSERT_TRUE(Device.StartTrainerCalibration(SpinDown));
    EXPECT_TRUE(Device.TrainerCalibrationRunning());
    Hear({0x02, 0x80, 0xA0, 0x5A, 0x10, 0x27, 0xFF, 0xFF});
    EXPECT_EQ(Device.TrainerCalibration().State, tcsInProgress);
    Hear({0x01, 0x80, 0x00, 0x5A, 0xFF, 0xFF, 0xC4, 0x09});
    const TTrainerCalibrationView v = Device.TrainerCalibration();
    EXPECT_EQ(v.State, tcsSucceeded);
    EXPECT_EQ(v.Result.SpinDownTime, std::optional<uint16_t>(2500));
    EXPECT_FALSE(Device.TrainerCalibrationRunning());
    EXPECT_EQ(Changes.load(), 5);
    EXPECT_EQ(Count("Trainer calibration: succeeded: spin-down time 2500 ms, 20.0 °C"), 1);
}

TEST_F(TarvoTrainerCalibrationFixture, DisconnectSendsTheCancelBeforeTheTrainerChannelCloses)
{
    ConnectTrainer();
    ASSERT_TRUE(Device.StartTrainerCalibration(SpinDown));
    Trainer->AcknowledgedCompleted();
    const int changes = Changes.load();
    Device.Disconnect();

    const TTrainerCalibrationView v = Device.TrainerCalibration();
    EXPECT_EQ(v.State, tcsCancelled);
    EXPECT_EQ(v.EndText, TTrainerCalibrationRun::DisconnectedText);
    EXPECT_EQ(Changes.load(), changes + 1);
    const int cancel = CallIndex([](const TFakeAntCall &c) {
        return c.Name == "ANT_SendAcknowledgedData" && c.Args[0] == 1 && c.Data == CancelRequest;
    });
    const int close = CallIndex([](const TFakeAntCall &c) { return c.Name == "ANT_CloseChannel" && c.Args[0] == 1; });
    ASSERT_GE(cancel, 0);
    EXPECT_LT(cancel, close);
    EXPECT_EQ(Count("Trainer calibration: ended: The trainer was disconnected during the calibration. Cancel request "
                    "sent."),
              1);
    EXPECT_FALSE(Device.StartTrainerCalibration(SpinDown)) << "no trainer any more";
}

TEST_F(TarvoTrainerCalibrationFixture, ALostTrainerChannelEndsTheRunAndANewOneStartsOnceItIsBack)
{
    ConnectTrainer();
    ASSERT_TRUE(Device.StartTrainerCalibration(SpinDown));
    Trainer->AcknowledgedCompleted();
    Lib.Clear();
    OnLibraryThread([&] { Trainer->ChannelEventFunc(Trainer->ChannelNumber(), EVENT_CHANNEL_CLOSED); });

    const TTrainerCalibrationView v = Device.TrainerCalibration();
    EXPECT_EQ(v.State, tcsCancelled);
    EXPECT_EQ(v.EndText, TTrainerCalibrationRun::ConnectionLostText);
    EXPECT_TRUE(Lib.Calls("ANT_SendAcknowledgedData").empty()) << "a closed channel sends nothing";
    EXPECT_EQ(Count("Trainer calibration: cancelled; cancel request sent"), 0) << "no claim of a cancel";
    EXPECT_EQ(Count("Trainer calibration: ended: The connection to the trainer was lost during the calibration. No "
                    "cancel sent: the channel can no longer send."),
              1);
    EXPECT_FALSE(Device.StartTrainerCalibration(SpinDown));

    OnLibraryThread([&] { Trainer->SetConnected(true); });
    EXPECT_TRUE(Device.StartTrainerCalibration(SpinDown));
    EXPECT_TRUE(Device.TrainerCalibration().EndText.empty());
}

} // namespace
