#pragma once
// The trainer's resistance-map burst: a header packet announcing how many data bytes follow,
// then data packets of four little-endian 16-bit values that fill a 19 x 15 table column by
// column, under a speed axis (column 0) and a resistance axis (row 0) that the header lays
// down.
//
// The table holds 252 values (504 bytes). A burst that announces more still completes when
// its byte count is used up, but the values past the table are dropped: the first 14
// resistance levels arrive intact and nothing is written outside the table.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

constexpr int MapBurstRows = 19;
constexpr int MapBurstColumns = 15;
constexpr uint8_t MapBurstHeaderId = 0x21;
constexpr int32_t MapBurstCapacityBytes = (MapBurstRows - 1) * (MapBurstColumns - 1) * 2;

using TMapBurstTable = std::array<std::array<uint16_t, MapBurstColumns>, MapBurstRows>;

// A burst is in progress while BytesRemaining is greater than 0.
struct TMapBurstProgress {
    int32_t BytesRemaining = 0;
    int32_t PacketIndex = 0;
};

enum class TMapBurstPacket {
    Ignored,   // neither a header nor part of a burst in progress
    Header,    // a burst began (it may announce 0 bytes and so never be in progress)
    Data,      // values stored, more to come
    Completed, // the last data packet: the table is ready
};

// Takes one packet (its 8 payload bytes). A header clears the table and lays down the axes; a
// header that arrives while a burst is in progress is data of that burst.
TMapBurstPacket ReceiveMapBurstPacket(TMapBurstProgress &Progress, TMapBurstTable &Table, const uint8_t *Payload);

// Speed axis 0, 5, ... 90 down column 0; resistance axis j x 15.384 rounded along row 0.
void InitialiseMapAxes(TMapBurstTable &Table);

// Stores the packet's four values as values 4 x PacketIndex ... + 3 of the burst; returns how
// many fitted into the table.
int StoreMapBurstValues(TMapBurstTable &Table, int32_t PacketIndex, const uint8_t *Payload);

// One line per column (15), its 19 values in decimal separated by tabs: the map's text form.
std::vector<std::string> MapBurstLines(const TMapBurstTable &Table);
