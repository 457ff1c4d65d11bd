// Decoder throughput: pages per second through the page decoders, per profile.
#include "ant/profiles/PageDecoders.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

std::vector<TAntRxRow> Pages(TAntChannelProfile Profile)
{
    std::vector<TAntRxRow> rows;
    for (int i = 0; i < 64; ++i) {
        TAntRxRow r{};
        switch (Profile) {
        case acpAntFE: {
            static const uint8_t pages[] = {FePageGeneral,     FePageGeneralSettings, FePageTrainerData,
                                            FePageGeneral,     FePageTrainerData,     FePageCapabilities,
                                            CommonPageManufacturerInfo, CommonPageProductInfo};
            r[1] = pages[i % 8];
            r[2] = 25;
            r[3] = static_cast<uint8_t>(i * 4);
            r[4] = static_cast<uint8_t>(i * 3);
            r[5] = 0x10;
            r[6] = 0x27;
            r[8] = 0x34;
            break;
        }
        case acpAntSC:
            r[2] = static_cast<uint8_t>(i * 2);
            r[3] = static_cast<uint8_t>(i);
            r[6] = static_cast<uint8_t>(i * 4);
            r[7] = static_cast<uint8_t>(i);
            break;
        case acpAntUlmoraPA:
            r[1] = static_cast<uint8_t>(i % 8 + 1);
            r[3] = 0x23;
            break;
        default:
            r[1] = static_cast<uint8_t>(i % 4 + 1);
            r[5] = static_cast<uint8_t>(i * 8);
            r[8] = 70;
            break;
        }
        rows.push_back(r);
    }
    return rows;
}

// With logging off the controller composes no line, so only the actions are kept.
void Consume(const TPageOutcome &Outcome) { benchmark::DoNotOptimize(Outcome.Count); }

void BM_Decode(benchmark::State &state)
{
    const auto profile = static_cast<TAntChannelProfile>(state.range(0));
    TPageDecoderState decoderState;
    TANTProfileDataHR hr;
    TANTProfileDataSC sc;
    TAntProfileDataCadence cad;
    TAntProfileFE fe;
    TANTUlmoraPAData pedal;
    sc.SetWheelCircumference(2096.0L);
    const std::vector<TAntRxRow> rows = Pages(profile);
    size_t i = 0;
    for (auto _ : state) {
        const TAntRxRow &row = rows[i];
        switch (profile) {
        case acpAntHR: PageDecoders::DecodeHeartRatePage(hr, row); break;
        case acpAntSC: PageDecoders::DecodeSpeedCadencePage(sc, row, decoderState); break;
        case acpAntCad: PageDecoders::DecodeCadencePage(cad, row, decoderState); break;
        case acpAntFE: Consume(PageDecoders::DecodeFitnessEquipmentPage(fe, row, dsRunning)); break;
        case acpAntUlmoraPA: Consume(PageDecoders::DecodePedalPage(pedal, row)); break;
        default: break;
        }
        i = (i + 1) % rows.size();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(AntChannelProfileNames()[profile]);
}

} // namespace

BENCHMARK(BM_Decode)->Arg(acpAntHR)->Arg(acpAntSC)->Arg(acpAntCad)->Arg(acpAntFE)->Arg(acpAntUlmoraPA);
BENCHMARK_MAIN();
