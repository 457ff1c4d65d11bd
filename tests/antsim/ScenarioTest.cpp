// Scenario text: what a valid file gives and how bad lines are reported.
#include "antsim/Scenario.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

using namespace antsim;

namespace {

std::string errorOf(const std::string &text)
{
    try {
        parseScenario(text);
    } catch (const ScenarioError &e) {
        return e.what();
    }
    return "no error";
}

} // namespace

TEST(ScenarioParser, ReadsEveryDirective)
{
    const Scenario s = parseScenario(
        "# a full scenario\r\n"
        "seed 99\r\n"
        "trainer 4242 transmission=21 map=12.5 map_every=300 calibration=fail max_resistance=800  # brake\n"
        "hr 77 bpm=140 period=16140\n"
        "console 12\n"
        "\n"
        "rider 0 150 85\n"
        "rider 60.5 250 95\n"
        "dropout 30 5\n"
        "dropout 40 2 hr\n"
        "ack_failure 0.25\n"
        "unplug 120\n"
        "key 10 enter 0.75\n"
        "key 12 minus\n");
    EXPECT_EQ(s.seed, 99u);
    ASSERT_EQ(s.devices.size(), 3u);
    EXPECT_EQ(s.devices[0].kind, DeviceKind::Trainer);
    EXPECT_EQ(s.devices[0].deviceNumber, 4242);
    EXPECT_EQ(s.devices[0].transmissionType, 21);
    EXPECT_DOUBLE_EQ(s.devices[0].mapBurstAt, 12.5);
    EXPECT_DOUBLE_EQ(s.devices[0].mapBurstEvery, 300);
    EXPECT_TRUE(s.devices[0].calibrationFails);
    EXPECT_EQ(s.devices[0].maxResistance, 800);
    EXPECT_EQ(s.devices[1].kind, DeviceKind::HeartRate);
    EXPECT_EQ(s.devices[1].heartRate, 140);
    EXPECT_EQ(s.devices[1].period, 16140);
    EXPECT_EQ(s.devices[0].period, 0); // the kind's own
    EXPECT_EQ(s.devices[2].kind, DeviceKind::Console);
    ASSERT_EQ(s.rider.size(), 2u);
    ASSERT_EQ(s.dropouts.size(), 2u);
    EXPECT_TRUE(s.dropouts[0].allDevices);
    EXPECT_FALSE(s.dropouts[1].allDevices);
    EXPECT_EQ(s.dropouts[1].kind, DeviceKind::HeartRate);
    EXPECT_DOUBLE_EQ(s.ackFailure, 0.25);
    EXPECT_DOUBLE_EQ(s.unplugAt, 120);
    ASSERT_EQ(s.keys.size(), 2u);
    EXPECT_EQ(s.keys[0].key, ConsoleKey::Enter);
    EXPECT_DOUBLE_EQ(s.keys[0].hold, 0.75);
    EXPECT_DOUBLE_EQ(s.keys[1].hold, 0.5);

    // The rider's effort is a step function; nothing before the first step.
    EXPECT_DOUBLE_EQ(s.riderAt(0).power, 150);
    EXPECT_DOUBLE_EQ(s.riderAt(60.4).power, 150);
    EXPECT_DOUBLE_EQ(s.riderAt(60.5).cadence, 95);
    const Scenario late = parseScenario("rider 10 100 80\n");
    EXPECT_DOUBLE_EQ(late.riderAt(5).power, 0);
}

TEST(ScenarioParser, DefaultsAndBuiltInScenario)
{
    const Scenario empty = parseScenario("");
    EXPECT_TRUE(empty.devices.empty());
    EXPECT_EQ(empty.unplugAt, -1);
    EXPECT_EQ(empty.ackFailure, 0);
    EXPECT_TRUE(empty.hostLog.empty());
    EXPECT_EQ(parseScenario("host_log /tmp/pages.log # what the devices get\n").hostLog, "/tmp/pages.log");

    for (const char *name : {"default", ""}) {
        const Scenario d = loadScenario(name);
        ASSERT_EQ(d.devices.size(), 1u);
        EXPECT_EQ(d.devices[0].kind, DeviceKind::Trainer);
        EXPECT_EQ(d.devices[0].deviceNumber, 4242);
        EXPECT_DOUBLE_EQ(d.riderAt(100).power, 150);
        EXPECT_DOUBLE_EQ(d.riderAt(100).cadence, 85);
    }
}

TEST(ScenarioParser, TrainerCalibrationOptionsAndFollowingRider)
{
    const Scenario s = parseScenario(
        "trainer 1 calibration=spindown temperature=-5.5 calibration_speed=40 zero_offset=900 "
        "calibration_required=both flywheel=25 rolling_resistance=0.006\n"
        "trainer 2 calibration=zero calibration_required=zero\n"
        "trainer 3 calibration=none\n"
        "trainer 4 calibration=ok\n"
        "trainer 5\n"
        "rider 0 300 90 follows\n"
        "rider 60 150 80\n");
    const DeviceConfig &t1 = s.devices[0];
    EXPECT_EQ(t1.calibrationKinds, 0x80);
    EXPECT_FALSE(t1.calibrationFails);
    EXPECT_DOUBLE_EQ(t1.temperature, -5.5);
    EXPECT_DOUBLE_EQ(t1.calibrationSpeedKmh, 40);
    EXPECT_EQ(t1.zeroOffset, 900);
    EXPECT_EQ(t1.calibrationRequired, 0xC0);
    EXPECT_DOUBLE_EQ(t1.flywheelKg, 25);
    EXPECT_DOUBLE_EQ(t1.rollingResistance, 0.006);
    EXPECT_EQ(s.devices[1].calibrationKinds, 0x40);
    EXPECT_EQ(s.devices[1].calibrationRequired, 0x40);
    EXPECT_EQ(s.devices[2].calibrationKinds, 0);
    // "ok" is the old word for both; both is also what a trainer does unless told otherwise
    for (const DeviceConfig *d : {&s.devices[3], &s.devices[4]}) {
        EXPECT_EQ(d->calibrationKinds, 0xC0);
        EXPECT_FALSE(d->calibrationFails);
        EXPECT_EQ(d->calibrationRequired, 0);
        EXPECT_DOUBLE_EQ(d->temperature, 20);
        EXPECT_DOUBLE_EQ(d->calibrationSpeedKmh, 32);
    }
    EXPECT_TRUE(s.riderAt(10).follows);
    EXPECT_DOUBLE_EQ(s.riderAt(10).power, 300);
    EXPECT_FALSE(s.riderAt(61).follows);

    EXPECT_EQ(errorOf("trainer 5 calibration=yes\n"),
              "line 1: calibration must be both, spindown, zero, none or fail, got 'yes'");
    EXPECT_EQ(errorOf("trainer 5 calibration_required=fail\n"),
              "line 1: calibration_required must be zero, spindown, both or none, got 'fail'");
    EXPECT_EQ(errorOf("trainer 5 temperature=hot\n"), "line 1: temperature is not a number: 'hot'");
    EXPECT_EQ(errorOf("trainer 5 temperature=101\n"), "line 1: temperature 101 is out of range (-25 to 100)");
    EXPECT_EQ(errorOf("trainer 5 calibration_speed=10\n"),
              "line 1: calibration_speed 10 is out of range (15 to 80)");
    EXPECT_EQ(errorOf("trainer 5 zero_offset=65535\n"), "line 1: zero_offset 65535 is out of range (0 to 65534)");
    EXPECT_EQ(errorOf("trainer 5 zero_offset=-1\n"), "line 1: zero_offset is not a whole number: '-1'");
    EXPECT_EQ(errorOf("trainer 5 flywheel=0\n"), "line 1: flywheel 0 is out of range (1 to 500)");
    EXPECT_EQ(errorOf("trainer 5 rolling_resistance=0.5\n"),
              "line 1: rolling_resistance 0.5 is out of range (0 to 0.1)");
    EXPECT_EQ(errorOf("hr 5 temperature=20\n"), "line 1: unknown option 'temperature' for hr");
    EXPECT_EQ(errorOf("rider 0 300 90 leads\n"), "line 1: expected 'follows' after the cadence, got 'leads'");
    EXPECT_EQ(errorOf("rider 0 300 90 follows now\n"), "line 1: expected: rider TIME POWER CADENCE");
}

TEST(ScenarioParser, BadLinesNameTheLineAndTheReason)
{
    EXPECT_EQ(errorOf("seed 1\nbogus 3\n"), "line 2: unknown directive 'bogus'");
    EXPECT_EQ(errorOf("trainer 0\n"), "line 1: device number 0 is out of range (1 to 65535)");
    EXPECT_EQ(errorOf("trainer 70000\n"), "line 1: device number 70000 is out of range (1 to 65535)");
    EXPECT_EQ(errorOf("trainer abc\n"), "line 1: device number is not a whole number: 'abc'");
    EXPECT_EQ(errorOf("trainer 5\n\ntrainer 5\n"), "line 3: duplicate trainer 5");
    EXPECT_EQ(errorOf("trainer 5 colour=red\n"), "line 1: unknown option 'colour' for trainer");
    EXPECT_EQ(errorOf("hr 5 map=3\n"), "line 1: unknown option 'map' for hr");
    EXPECT_EQ(errorOf("trainer 5 map\n"), "line 1: expected option=value, got 'map'");
    EXPECT_EQ(errorOf("trainer 5 map_every=0.5\n"), "line 1: map_every 0.5 is out of range (1 to 1e+07)");
    EXPECT_EQ(errorOf("hr 5 map_every=60\n"), "line 1: unknown option 'map_every' for hr");
    EXPECT_EQ(errorOf("console 5 period=163\n"), "line 1: period 163 is out of range (164 to 65535)");
    EXPECT_EQ(errorOf("trainer 5 calibration=maybe\n"),
              "line 1: calibration must be both, spindown, zero, none or fail, got 'maybe'");
    EXPECT_EQ(errorOf("rider 0 150\n"), "line 1: expected: rider TIME POWER CADENCE");
    EXPECT_EQ(errorOf("rider 10 150 80\nrider 10 200 80\n"), "line 2: rider times must increase");
    EXPECT_EQ(errorOf("rider 0 -5 80\n"), "line 1: power -5 is out of range (0 to 3000)");
    EXPECT_EQ(errorOf("rider 0 nan 80\n"), "line 1: power is not a number: 'nan'");
    EXPECT_EQ(errorOf("rider inf 100 80\n"), "line 1: time is not a number: 'inf'");
    EXPECT_EQ(errorOf("rider 0 100 80x\n"), "line 1: cadence is not a number: '80x'");
    EXPECT_EQ(errorOf("dropout 5 0\n"), "line 1: dropout length must be greater than 0");
    EXPECT_EQ(errorOf("dropout 5 1 pedals\n"), "line 1: unknown device kind 'pedals'");
    EXPECT_EQ(errorOf("ack_failure 1.5\n"), "line 1: probability 1.5 is out of range (0 to 1)");
    EXPECT_EQ(errorOf("ack_failure 0.1\nack_failure 0.2\n"), "line 2: ack_failure given twice");
    EXPECT_EQ(errorOf("unplug\n"), "line 1: expected: unplug TIME");
    EXPECT_EQ(errorOf("host_log\n"), "line 1: expected: host_log FILE");
    EXPECT_EQ(errorOf("host_log a\nhost_log b\n"), "line 2: host_log given twice");
    EXPECT_EQ(errorOf("seed 1 2\n"), "line 1: expected: seed NUMBER");
    EXPECT_EQ(errorOf("seed 99999999999999999999999\n"),
              "line 1: seed 99999999999999999999999 is too large");
    EXPECT_EQ(errorOf("key 3 shift\n"), "line 1: unknown key 'shift'");
    EXPECT_EQ(errorOf(std::string("seed 1\nseed\0 2\n", 14)), "line 2: unexpected NUL character");
    EXPECT_EQ(errorOf("unplug 1e300\n"), "line 1: time 1e300 is out of range (0 to 1e+07)");
    std::string many;
    for (int i = 1; i <= 17; ++i)
        many += "hr " + std::to_string(i) + "\n";
    EXPECT_EQ(errorOf(many), "line 17: too many devices (at most 16)");
}

TEST(ScenarioParser, FilesAreReadAndTheirErrorsNameTheFile)
{
    const std::string path = ::testing::TempDir() + "antsim_scenario_test.txt";
    {
        std::ofstream out(path);
        out << "trainer 11\nrider 0 100 70\n";
    }
    EXPECT_EQ(loadScenario(path).devices.at(0).deviceNumber, 11);
    {
        std::ofstream out(path);
        out << "trainer 11\nrider zero 100 70\n";
    }
    try {
        loadScenario(path);
        FAIL() << "no error";
    } catch (const ScenarioError &e) {
        EXPECT_EQ(std::string(e.what()), path + ": line 2: time is not a number: 'zero'");
    }
    std::remove(path.c_str());
    try {
        loadScenario(path);
        FAIL() << "no error";
    } catch (const ScenarioError &e) {
        EXPECT_EQ(std::string(e.what()), "cannot read scenario file " + path);
    }
}
