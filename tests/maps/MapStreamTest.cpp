#include "maps/MapCalibration.h"
#include "maps/ResistanceMap.h"
#include "persist/ComponentStream.h"

#include "framework/Streams.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Write(const TPersistent &Obj)
{
    TMemoryStream ms;
    WriteComponentStream(ms, Obj);
    return ms.DataString();
}

std::string AsText(const std::string &Binary)
{
    TMemoryStream in;
    in.WriteBuffer(Binary.data(), static_cast<int64_t>(Binary.size()));
    in.SetPosition(0);
    TMemoryStream out;
    ObjectBinaryToText(in, out);
    return out.DataString();
}

void Read(TPersistent &Obj, const std::string &Binary)
{
    TMemoryStream in;
    in.WriteBuffer(Binary.data(), static_cast<int64_t>(Binary.size()));
    in.SetPosition(0);
    ReadComponentStream(in, Obj);
}

} // namespace

TEST(MapStreaming, ResistanceMapTextTravelsAsStrData)
{
    TResistanceMap map(nullptr);
    map.SetName("Map1");
    map.Strings()->Add("0\t5\t10");
    map.Strings()->Add("0\t20\t45");
    map.Strings()->Add("");
    map.SetResistanceMapAdapter(1.25);
    map.SetResistanceLatency(250);
    map.SetMaxPower(45);

    const std::string binary = Write(map);
    const std::string text = AsText(binary);
    EXPECT_NE(text.find("StrData = ("), std::string::npos) << text;
    EXPECT_EQ(text.find("Strings"), std::string::npos) << text; // the list goes only as StrData

    TResistanceMap copy(nullptr);
    copy.Strings()->Add("old line");
    Read(copy, binary);
    EXPECT_EQ(copy.Strings()->ToVector(), map.Strings()->ToVector());
    EXPECT_EQ(copy.ResistanceMapAdapter(), 1.25);
    EXPECT_EQ(copy.ResistanceLatency(), 250);
    EXPECT_EQ(copy.MaxPower(), 45);
    EXPECT_EQ(copy.TarvoVersion(), 4.0);

    // Reading is loading: the replaced text raises no change events, and the map is an
    // ordinary component again afterwards.
    TResistanceMap quiet(nullptr);
    int changes = 0;
    quiet.OnChanging = [&](TObject *) { ++changes; };
    quiet.OnChange = [&](TObject *) { ++changes; };
    Read(quiet, binary);
    EXPECT_EQ(changes, 0);
    EXPECT_FALSE(quiet.IsLoading());
    quiet.Strings()->Add("after load");
    EXPECT_EQ(changes, 2);

    // An empty text writes no StrData.
    TResistanceMap empty(nullptr);
    EXPECT_EQ(AsText(Write(empty)).find("StrData"), std::string::npos);
}

TEST(MapStreaming, CalibrationWritesOnlyValuesOffTheirDefaults)
{
    TMapCalibration c(nullptr);
    c.SetName("Cal");
    c.SetSpeed2(23);
    c.SetTarvoVersion(5.5);
    const std::string binary = Write(c);
    const std::string text = AsText(binary);
    EXPECT_NE(text.find("Speed2 = 23"), std::string::npos) << text;
    EXPECT_EQ(text.find("Speed1"), std::string::npos) << text;         // 0 is its default
    EXPECT_NE(text.find("P1MaxValue = 0"), std::string::npos) << text; // declares no default
    EXPECT_EQ(text.find("UseMapCalibration"), std::string::npos) << text;

    TMapCalibration copy(nullptr);
    Read(copy, binary);
    EXPECT_EQ(copy.Speed2(), 23);
    EXPECT_EQ(copy.TarvoVersion(), 5.5);
}
