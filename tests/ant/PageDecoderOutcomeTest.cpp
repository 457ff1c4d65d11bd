// The decoders' outcomes on their own: what the controller is told to do, in which order.
#include "ant/profiles/PageDecoders.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

TAntRxRow Row(std::initializer_list<int> payload)
{
    TAntRxRow row{};
    size_t i = 1;
    for (int b : payload)
        row[i++] = static_cast<uint8_t>(b);
    return row;
}

// Kind and log line (or value) of every action, for comparing whole outcomes.
std::vector<std::pair<TPageActionKind, std::string>> Describe(const TPageOutcome &Outcome)
{
    std::vector<std::pair<TPageActionKind, std::string>> out;
    for (const TPageAction &a : Outcome) {
        const bool log = a.Kind == TPageActionKind::Log || a.Kind == TPageActionKind::LogNumber;
        out.emplace_back(a.Kind, log ? a.LogLine() : std::to_string(a.Value));
    }
    return out;
}

using K = TPageActionKind;

} // namespace

TEST(PageDecoderOutcome, ConsolePageWithEveryKeyAndTheKeepAliveFillsTheOutcomeInOrder)
{
    TPageDecoderState state;
    const TPageOutcome out = PageDecoders::DecodeConsolePage(Row({ConsolePageKeys, 1, 1, 1, 1}), 50, state);
    const std::vector<std::pair<K, std::string>> expected = {
        {K::ConsoleKeyDown, std::to_string(ckPlus)},  {K::Log, "Console Plus (low level)"},
        {K::ConsoleKeyDown, std::to_string(ckMinus)}, {K::Log, "Console Minus (low level)"},
        {K::ConsoleKeyDown, std::to_string(ckEnter)}, {K::Log, "Console Enter (low level)"},
        {K::ConsoleKeyDown, std::to_string(ckTab)},   {K::Log, "Console Tab (low level)"},
        {K::SendConsoleKeepAlive, "0"},               {K::Log, "Sent KAL to console"}};
    EXPECT_EQ(Describe(out), expected);
    EXPECT_EQ(out.Count, TPageOutcome::Capacity);
    EXPECT_EQ(state.KeyLatch, (std::array<bool, 4>{true, true, true, true}));

    // Still held: nothing to raise, and the latches stay.
    EXPECT_TRUE(PageDecoders::DecodeConsolePage(Row({ConsolePageKeys, 1, 1, 1, 1}), 51, state).Empty());
    EXPECT_EQ(state.KeyLatch, (std::array<bool, 4>{true, true, true, true}));
}

TEST(PageDecoderOutcome, TrainerPageAsksForTheUserConfigurationAfterItsValues)
{
    TAntProfileFE fe;
    const TPageOutcome out =
        PageDecoders::DecodeFitnessEquipmentPage(fe, Row({FePageTrainerData, 3, 80, 0, 0, 0x2C, 0x41, 0x30}), dsStop);
    EXPECT_EQ(Describe(out), (std::vector<std::pair<K, std::string>>{
                                 {K::Log, "DP25 User Configuration Requested"}, {K::SendUserConfiguration, "0"}}));
    // Already in the record when the controller sends (and perhaps raises).
    EXPECT_EQ(fe.InstantaneousPower(), 0x12C);
    EXPECT_EQ(fe.FeState(), 3);

    const TAntRxRow noRequest = Row({FePageTrainerData, 4, 80, 0, 0, 0, 0x01, 0x30});
    EXPECT_TRUE(PageDecoders::DecodeFitnessEquipmentPage(fe, noRequest, dsStop).Empty());
}

TEST(PageDecoderOutcome, PedalSeriesEndsWithItsIndexInTheLogAndTheEvent)
{
    TANTUlmoraPAData pa;
    EXPECT_TRUE(PageDecoders::DecodePedalPage(pa, Row({PedalPacketLast})).Empty()) << "no series yet";
    EXPECT_EQ(Describe(PageDecoders::DecodePedalPage(pa, Row({PedalPacketFirst}))),
              (std::vector<std::pair<K, std::string>>{{K::Log, "- First PA packet -"},
                                                      {K::LogNumber, "- Debug PA packet n\u00B01"}}));
    const std::vector<std::pair<K, std::string>> last = {
        {K::LogNumber, "- Debug PA packet n\u00B08"},
        {K::LogNumber, "- Latest PA packet (close) - Latest packet index = 0"},
        {K::PADataReceived, "0"}};
    EXPECT_EQ(Describe(PageDecoders::DecodePedalPage(pa, Row({PedalPacketLast}))), last);
}
