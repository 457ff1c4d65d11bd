#include "ant/channels/ResistanceMapBurst.h"

#include <cmath>

namespace {

constexpr int ValuesPerPacket = 4;
constexpr int32_t BytesPerPacket = 8;
constexpr int DataRows = MapBurstRows - 1;
constexpr int DataColumns = MapBurstColumns - 1;
constexpr double SpeedStep = 5.0;
constexpr double ResistanceStep = 15.384;

uint16_t Value16(const uint8_t *Bytes) { return static_cast<uint16_t>(Bytes[0] | (Bytes[1] << 8)); }

} // namespace

void InitialiseMapAxes(TMapBurstTable &Table)
{
    for (int i = 0; i < MapBurstRows; ++i)
        Table[i][0] = static_cast<uint16_t>(SpeedStep * i);
    for (int j = 0; j < DataColumns; ++j)
        Table[0][1 + j] = static_cast<uint16_t>(std::nearbyint(j * ResistanceStep));
}

int StoreMapBurstValues(TMapBurstTable &Table, int32_t PacketIndex, const uint8_t *Payload)
{
    if (PacketIndex < 0)
        return 0;
    int stored = 0;
    for (int v = 0; v < ValuesPerPacket; ++v) {
        const int64_t k = static_cast<int64_t>(PacketIndex) * ValuesPerPacket + v;
        const int64_t column = 1 + k / DataRows;
        if (column >= MapBurstColumns)
            break;
        Table[1 + k % DataRows][column] = Value16(Payload + 2 * v);
        ++stored;
    }
    return stored;
}

TMapBurstPacket ReceiveMapBurstPacket(TMapBurstProgress &Progress, TMapBurstTable &Table, const uint8_t *Payload)
{
    if (Payload[0] == MapBurstHeaderId && Progress.BytesRemaining <= 0) {
        Progress.BytesRemaining = Payload[3] | (Payload[4] << 8);
        Progress.PacketIndex = 0;
        // A shorter burst must not inherit the values of the previous one.
        Table = TMapBurstTable{};
        InitialiseMapAxes(Table);
        return TMapBurstPacket::Header;
    }
    if (Progress.BytesRemaining <= 0)
        return TMapBurstPacket::Ignored;
    StoreMapBurstValues(Table, Progress.PacketIndex, Payload);
    Progress.PacketIndex += 1;
    Progress.BytesRemaining -= BytesPerPacket;
    return Progress.BytesRemaining <= 0 ? TMapBurstPacket::Completed : TMapBurstPacket::Data;
}

std::vector<std::string> MapBurstLines(const TMapBurstTable &Table)
{
    std::vector<std::string> lines;
    lines.reserve(MapBurstColumns);
    for (int c = 0; c < MapBurstColumns; ++c) {
        std::string line;
        for (int r = 0; r < MapBurstRows; ++r) {
            if (r > 0)
                line.push_back('\t');
            line += std::to_string(Table[r][c]);
        }
        lines.push_back(std::move(line));
    }
    return lines;
}
