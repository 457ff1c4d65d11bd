// The trainer's resistance map by burst: the table filling on its own, then through the
// channel's event callback up to the map it hands out.
#include "ChannelEventsFixture.h"

#include "ant/channels/ResistanceMapBurst.h"
#include "maps/ResistanceMap.h"

using namespace events;

namespace {

using TPayload = std::array<uint8_t, 8>;

TPayload Header(uint16_t Bytes) { return {MapBurstHeaderId, 0xFF, 0xFF, uint8_t(Bytes & 0xFF), uint8_t(Bytes >> 8), 0xFF, 0xFF, 0xFF}; }

// Data packet n carries values 4n ... 4n + 3, each value 1000 + its number.
TPayload Data(int n)
{
    TPayload p{};
    for (int v = 0; v < 4; ++v) {
        const int value = 1000 + 4 * n + v;
        p[2 * v] = uint8_t(value & 0xFF);
        p[2 * v + 1] = uint8_t(value >> 8);
    }
    return p;
}

const std::vector<uint16_t> ResistanceAxis = {0, 15, 31, 46, 62, 77, 92, 108, 123, 138, 154, 169, 185, 200};

struct MapBurst : ChannelEventsFixture {
    int Packet = 0; // sequence bits of the channel byte, as the library passes them on
    void Burst(const TPayload &P)
    {
        const uint8_t channelByte = uint8_t(Number | ((Packet == 0 ? 0 : (Packet - 1) % 3 + 1) << 5));
        ++Packet;
        Event(RxBurstPacket, {P[0], P[1], P[2], P[3], P[4], P[5], P[6], P[7]}, channelByte);
    }
    void SetUp() override { Use(acpAntFE); }
};

} // namespace

TEST(MapBurstTable, ValuesFillColumnByColumnUnderBothAxes)
{
    TMapBurstTable table{};
    TMapBurstProgress progress;
    const TPayload header = Header(504);
    ASSERT_EQ(ReceiveMapBurstPacket(progress, table, header.data()), TMapBurstPacket::Header);
    EXPECT_EQ(progress.BytesRemaining, 504);
    for (int i = 0; i < MapBurstRows; ++i)
        EXPECT_EQ(table[i][0], 5 * i);
    for (size_t j = 0; j < ResistanceAxis.size(); ++j)
        EXPECT_EQ(table[0][1 + j], ResistanceAxis[j]);

    for (int n = 0; n < 63; ++n) {
        const TPayload p = Data(n);
        EXPECT_EQ(ReceiveMapBurstPacket(progress, table, p.data()),
                  n == 62 ? TMapBurstPacket::Completed : TMapBurstPacket::Data);
    }
    // Value k: row 1 + k mod 18, column 1 + k div 18.
    EXPECT_EQ(table[1][1], 1000);
    EXPECT_EQ(table[18][1], 1017);
    EXPECT_EQ(table[1][2], 1018);
    EXPECT_EQ(table[18][14], 1251);
    EXPECT_EQ(table[0][14], 200) << "data never lands on an axis";

    // Ended: the next data packet belongs to no burst.
    const TPayload stray = Data(0);
    EXPECT_EQ(ReceiveMapBurstPacket(progress, table, stray.data()), TMapBurstPacket::Ignored);
}

TEST(MapBurstTable, ValuesPastTheTableAreNotStored)
{
    TMapBurstTable table{};
    const TPayload p = Data(0);
    EXPECT_EQ(StoreMapBurstValues(table, 62, p.data()), 4);
    EXPECT_EQ(StoreMapBurstValues(table, 63, p.data()), 0);
    EXPECT_EQ(StoreMapBurstValues(table, 0x7FFFFFFF, p.data()), 0);
    EXPECT_EQ(StoreMapBurstValues(table, -1, p.data()), 0);
}

TEST(MapBurstTable, HeaderInsideABurstIsData)
{
    TMapBurstTable table{};
    TMapBurstProgress progress;
    const TPayload header = Header(16);
    ReceiveMapBurstPacket(progress, table, header.data());
    EXPECT_EQ(ReceiveMapBurstPacket(progress, table, header.data()), TMapBurstPacket::Data);
    EXPECT_EQ(table[1][1], 0xFF21);
    EXPECT_EQ(progress.BytesRemaining, 8);
}

TEST_F(MapBurst, FullBurstHandsOutOneMapWithItsFifteenLines)
{
    Burst(Header(504));
    for (int n = 0; n < 63; ++n) {
        Burst(Data(n));
        if (n < 62) {
            EXPECT_TRUE(Maps.empty()) << "packet " << n;
        }
    }
    ASSERT_EQ(Maps.size(), 1u);
    TResistanceMap *map = Maps[0];
    EXPECT_EQ(map, Ch->ReceivedMap());
    EXPECT_EQ(Ch->BurstBytesRemaining(), 0);
    EXPECT_EQ(Ch->BurstPacketIndex(), 63);

    TStringList *text = map->Strings();
    ASSERT_EQ(text->Count(), 16);
    EXPECT_EQ(text->Get(0), "0\t5\t10\t15\t20\t25\t30\t35\t40\t45\t50\t55\t60\t65\t70\t75\t80\t85\t90");
    std::string level1 = "0";
    for (int k = 0; k < 18; ++k)
        level1 += "\t" + std::to_string(1000 + k);
    EXPECT_EQ(text->Get(1), level1);
    EXPECT_EQ(text->Get(14).substr(0, 9), "200\t1234\t");
    EXPECT_EQ(text->Get(15), "");
    for (int i = 0; i < 15; ++i)
        EXPECT_TRUE(Logged(text->Get(i))) << i;
    EXPECT_TRUE(Logged("Call -> TriggerResistanceMapReceived"));
    EXPECT_EQ(LogLinesEndingWith(Log, " TriggerResistanceMapReceived"), 2);
    EXPECT_EQ(LogLinesEndingWith(Log, "EVENT_RX_BURST_PACKET (TAntChannel.ChannelEventFunc)"), 64);

    // Parsed: 15 rows (the column lines) of 19 cells.
    ASSERT_EQ(map->Table().size(), 15u);
    EXPECT_EQ(map->Table()[1][1], 1000.0);
    EXPECT_EQ(map->Table()[14][0], 200.0);
    EXPECT_EQ(map->ColumnCount(), 19);
}

TEST_F(MapBurst, ShortBurstCarriesTheAxesAndItsFourValuesOnly)
{
    // A full map first: the short one must not inherit its values.
    Burst(Header(504));
    for (int n = 0; n < 63; ++n)
        Burst(Data(n));
    Packet = 0;
    Burst(Header(8));
    Burst(Data(100));
    ASSERT_EQ(Maps.size(), 2u);
    TStringList *text = Maps[1]->Strings();
    EXPECT_EQ(text->Get(1), "0\t1400\t1401\t1402\t1403\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0");
    EXPECT_EQ(text->Get(2), "15\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0");
    EXPECT_EQ(Ch->ReceivedMap(), Maps[1]);
}

TEST_F(MapBurst, OversizeBurstCompletesOnceWithoutWritingPastTheTable)
{
    // 1000 bytes: 125 packets, of which the first 63 fill the table.
    Burst(Header(1000));
    EXPECT_TRUE(Logged("Resistance map burst announces 1000 bytes, the table holds 504: the values past it are dropped"));
    for (int n = 0; n < 125; ++n)
        Burst(Data(n));
    ASSERT_EQ(Maps.size(), 1u);
    EXPECT_EQ(Ch->MapTable()[18][14], 1251);
    EXPECT_EQ(Ch->MapTable()[0][14], 200);
    EXPECT_EQ(Maps[0]->Strings()->Count(), 16);

    // The largest count a header can announce still ends, and nothing leaks into the axes.
    Packet = 0;
    Burst(Header(0xFFFF));
    for (int n = 0; n < 8192; ++n)
        Burst(Data(n));
    EXPECT_EQ(Maps.size(), 2u);
    EXPECT_EQ(Ch->MapTable()[5][0], 25);
}

TEST_F(MapBurst, StrayAndInterruptedBurstsRaiseNothing)
{
    Burst(Data(0));
    EXPECT_TRUE(Logged("Burst packet outside a resistance map burst ignored"));
    EXPECT_EQ(Ch->BurstBytesRemaining(), 0);

    // A transfer that fails half way: the next map starts afresh instead of being its tail.
    TResistanceMap *before = Ch->ReceivedMap();
    Burst(Header(504));
    for (int n = 0; n < 10; ++n)
        Burst(Data(n));
    Event(TransferRxFailed);
    EXPECT_TRUE(Logged("EVENT_TRANSFER_RX_FAILED: resistance map burst abandoned after 10 data packets"));
    EXPECT_EQ(Ch->ReceivedMap(), before);
    Packet = 0;
    Burst(Header(8));
    Burst(Data(7));
    ASSERT_EQ(Maps.size(), 1u);
    EXPECT_EQ(Maps[0]->Strings()->Get(1).substr(0, 7), "0\t1028\t");
}
