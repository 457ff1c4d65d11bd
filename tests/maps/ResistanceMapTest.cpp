#include "maps/ResistanceMap.h"

#include "framework/Exception.h"
#include "framework/Filer.h"
#include "framework/SysUtils.h"
#include "maps/EMZel.h"
#include "maps/MapCalibration.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// The example map: speeds 5, 10, 15 km/h; level 0 gives 20/45/70 W, level 15 gives 25/60/95 W.
void SetExampleMap(TResistanceMap &map)
{
    map.Strings()->Clear();
    map.Strings()->Add("0\t5\t10\t15");
    map.Strings()->Add("0\t20\t45\t70");
    map.Strings()->Add("15\t25\t60\t95");
    map.Strings()->Add("");
}

void SetLines(TResistanceMap &map, const std::vector<std::string> &lines)
{
    map.Strings()->Clear();
    for (const auto &l : lines)
        map.Strings()->Add(l);
}

class PointLocale : public ::testing::Test {
protected:
    void SetUp() override { SetFormatSettingsOverride(TFormatSettings{'.', "hh:nn:ss"}); }
    void TearDown() override { SetFormatSettingsOverride(std::nullopt); }
};

using ResistanceMapLoad = PointLocale;
using ResistanceMapLimits = PointLocale;
using ResistanceMapLimitPower = PointLocale;

} // namespace

TEST_F(ResistanceMapLoad, ExampleMapGivesTwoPowerRows)
{
    TResistanceMap map(nullptr);
    SetExampleMap(map);
    int loaded = 0;
    map.OnResistanceMapLoaded = [&](TObject *sender) {
        EXPECT_EQ(sender, &map);
        ++loaded;
    };
    map.LoadMap();
    EXPECT_EQ(loaded, 1);
    EXPECT_EQ(map.ColumnCount(), 4);
    const TResistanceArray expected = {{0, 5, 10, 15}, {0, 20, 45, 70}, {15, 25, 60, 95}};
    EXPECT_EQ(map.Table(), expected);

    // Parsing again replaces the table rather than adding to it.
    SetLines(map, {"0\t5", "3\t9", ""});
    map.LoadMap();
    EXPECT_EQ(map.Table(), (TResistanceArray{{0, 5}, {3, 9}}));
    EXPECT_EQ(loaded, 2);
}

TEST_F(ResistanceMapLoad, CellLayoutRules)
{
    TResistanceMap map(nullptr);
    // Trailing tab on the first line opens no cell; later lines: empty cells, a single space,
    // missing cells and cells beyond the column count.
    SetLines(map, {"0\t5\t10\t", "1\t\t7\t99\t100", "2\t \t", "3", ""});
    map.LoadMap();
    EXPECT_EQ(map.ColumnCount(), 3);
    const TResistanceArray expected = {{0, 5, 10}, {1, 0, 7}, {2, 0, 0}, {3, 0, 0}};
    EXPECT_EQ(map.Table(), expected);

    // A last line with text keeps its row instead of being lost.
    SetLines(map, {"0\t5", "1\t8"});
    map.LoadMap();
    EXPECT_EQ(map.Table(), (TResistanceArray{{0, 5}, {1, 8}}));

    // A single empty line: no columns and no rows.
    SetLines(map, {""});
    map.LoadMap();
    EXPECT_EQ(map.ColumnCount(), 0);
    EXPECT_TRUE(map.Table().empty());
}

TEST_F(ResistanceMapLoad, DecimalSeparatorFollowsTheSystem)
{
    TResistanceMap map(nullptr);
    SetLines(map, {"0\t12,5\t12.5\t 7,25 ", ""});
    map.LoadMap();
    ASSERT_EQ(map.Table().size(), 1u);
    EXPECT_DOUBLE_EQ(map.Table()[0][1], 12.5);
    EXPECT_DOUBLE_EQ(map.Table()[0][2], 12.5);
    EXPECT_DOUBLE_EQ(map.Table()[0][3], 7.25);

    SetFormatSettingsOverride(TFormatSettings{',', "hh:nn:ss"});
    SetLines(map, {"0\t12,5\t3", ""});
    map.LoadMap();
    EXPECT_DOUBLE_EQ(map.Table()[0][1], 12.5);

    // With the comma system a point is not a decimal separator.
    SetLines(map, {"0\t12.5", ""});
    EXPECT_THROW(map.LoadMap(), EMZel);
}

TEST_F(ResistanceMapLoad, BadCellRaisesCode4AndKeepsCellsReadSoFar)
{
    TResistanceMap map(nullptr);
    SetLines(map, {"0\t5\t10", "1\t20\tabc", "2\t30\t40", ""});
    bool loaded = false;
    map.OnResistanceMapLoaded = [&](TObject *) { loaded = true; };
    try {
        map.LoadMap();
        FAIL() << "no error";
    } catch (const EMZel &e) {
        EXPECT_EQ(e.ErrorCode(), 4);
        const std::string head = "Error while reading the resistance map (Error code: 4)\r\n"
                                 "Please, contact the Ulmora support\r\n\r\n";
        ASSERT_EQ(e.Message().substr(0, head.size()), head);
        EXPECT_NE(e.Message().find("abc"), std::string::npos);
    }
    EXPECT_FALSE(loaded);
    ASSERT_EQ(map.Table().size(), 3u);
    EXPECT_EQ(map.Table()[1][1], 20);
    EXPECT_EQ(map.Table()[2][1], 0); // never reached

    // Numbers a double cannot hold are refused rather than turned into infinity.
    SetLines(map, {"0\t5", "1\t1E999", ""});
    EXPECT_THROW(map.LoadMap(), EMZel);
}

TEST_F(ResistanceMapLoad, FailingHandlerAndEmptyText)
{
    TResistanceMap map(nullptr);
    SetExampleMap(map);
    map.OnResistanceMapLoaded = [](TObject *) { throw Exception("handler broke"); };
    try {
        map.LoadMap();
        FAIL() << "no error";
    } catch (const EMZel &e) {
        EXPECT_EQ(e.Message(), "Error while reading the resistance map (Error code: 4)\r\n"
                               "Please, contact the Ulmora support\r\n\r\nhandler broke");
    }

    // Empty text: the list's own index error, not a map error.
    map.Strings()->Clear();
    try {
        map.LoadMap();
        FAIL() << "no error";
    } catch (const EMZel &) {
        FAIL() << "wrapped in EMZel";
    } catch (const EStringListError &) {
    }
    EXPECT_TRUE(map.Table().empty());
    EXPECT_EQ(map.ColumnCount(), 0);
    int32_t out = -7;
    EXPECT_EQ(map.LimitPower(out, 50, 7.5, umKm), 0);
}

TEST_F(ResistanceMapLimits, AdapterScalesAndRounds)
{
    TResistanceMap map(nullptr);
    map.SetResistanceMapAdapter(0);
    EXPECT_EQ(map.ResistanceMapAdapter(), 1.0);
    map.SetResistanceMapAdapter(2.5);
    map.SetResistanceMapAdapter(0);
    EXPECT_EQ(map.ResistanceMapAdapter(), 1.0);

    SetExampleMap(map);
    map.LoadMap();
    map.SetResistanceMapAdapter(0.5);
    map.ApplyAdapter();
    // Halves that fall on .5 round to the even neighbour: 22.5 -> 22, 12.5 -> 12, 47.5 -> 48.
    EXPECT_EQ(map.Table()[1], (std::vector<double>{0, 10, 22, 35}));
    EXPECT_EQ(map.Table()[2], (std::vector<double>{15, 12, 30, 48}));
    EXPECT_EQ(map.Table()[0], (std::vector<double>{0, 5, 10, 15})); // speeds untouched

    map.LoadMap();
    map.SetResistanceMapAdapter(2);
    map.ApplyAdapter();
    map.ApplyAdapter();
    EXPECT_EQ(map.Table()[1], (std::vector<double>{0, 80, 180, 280}));
    EXPECT_EQ(map.Table()[2][0], 15); // levels untouched

    map.LoadMap();
    map.SetTarvoVersion(3.5);
    map.ApplyAdapter();
    EXPECT_EQ(map.Table()[1], (std::vector<double>{0, 20, 45, 70}));
}

TEST_F(ResistanceMapLimits, ComputePowerLimits)
{
    TResistanceMap map(nullptr);
    SetExampleMap(map);
    map.LoadMap();
    map.ComputePowerLimits();
    EXPECT_EQ(map.MinPower(), 20);
    EXPECT_EQ(map.MaxPower(), 95);

    map.SetTarvoVersion(3.5);
    map.ComputePowerLimits();
    EXPECT_EQ(map.MinPower(), 1000000);
    EXPECT_EQ(map.MaxPower(), 0);

    // Zero cells are no values; levels and speeds are not powers.
    map.SetTarvoVersion(4.0);
    SetLines(map, {"0\t500\t600", "900\t0\t0", ""});
    map.LoadMap();
    map.ComputePowerLimits();
    EXPECT_EQ(map.MinPower(), 1000000);
    EXPECT_EQ(map.MaxPower(), 0);

    // Cells far outside the 32-bit range saturate instead of overflowing.
    SetLines(map, {"0\t5\t10", "1\t1E300\t-1E300", ""});
    map.LoadMap();
    map.ComputePowerLimits();
    EXPECT_EQ(map.MaxPower(), 2147483647);
    EXPECT_EQ(map.MinPower(), 1000000);
}

TEST_F(ResistanceMapLimitPower, ExampleMapBetweenColumns)
{
    TResistanceMap map(nullptr);
    SetExampleMap(map);
    map.LoadMap();
    int32_t out = -7;
    EXPECT_EQ(map.LimitPower(out, 50, 7.5, umKm), 1);
    EXPECT_EQ(out, 42); // 42.5 rounds to even
    EXPECT_EQ(map.LimitPower(out, 30, 7.5, umKm), 2);
    EXPECT_EQ(out, 32); // level 0 gives 32.5
    EXPECT_EQ(map.LimitPower(out, 40, 7.5, umKm), 3);
    EXPECT_EQ(out, 40);
    EXPECT_EQ(map.LimitPower(out, 43, 7.5, umKm), 1);
    EXPECT_EQ(out, 42);
    // Exactly on a column and below the first column.
    EXPECT_EQ(map.LimitPower(out, 100, 10, umKm), 1);
    EXPECT_EQ(out, 60);
    EXPECT_EQ(map.LimitPower(out, 100, 2, umKm), 1);
    EXPECT_EQ(out, 25);
}

TEST_F(ResistanceMapLimitPower, HighSpeedZeroSpeedAndMiles)
{
    TResistanceMap map(nullptr);
    SetExampleMap(map);
    map.LoadMap();
    int32_t out = -7;
    // Above the last column it is used alone.
    EXPECT_EQ(map.LimitPower(out, 100, 20, umKm), 1);
    EXPECT_EQ(out, 95);
    EXPECT_EQ(map.LimitPower(out, 60, 20, umKm), 2);
    EXPECT_EQ(out, 70);

    out = -7;
    EXPECT_EQ(map.LimitPower(out, 100, 0, umKm), 0);
    EXPECT_EQ(map.LimitPower(out, 100, 0, umMiles), 0);
    EXPECT_EQ(out, -7);

    // 10 mph is 16.09 km/h: the last column; 9 mph is 14.481 km/h, between 10 and 15.
    EXPECT_EQ(map.LimitPower(out, 200, 10, umMiles), 1);
    EXPECT_EQ(out, 95);
    EXPECT_EQ(map.LimitPower(out, 200, 9, umMiles), 1);
    EXPECT_EQ(out, 91); // 60 + 4.481 / 5 * 35 = 91.367
}

TEST_F(ResistanceMapLimitPower, StartRowSkipsLevelsWithoutValue)
{
    TResistanceMap map(nullptr);
    // Level 30 has no value at 10 km/h, so it is not the start row at 7.5 km/h.
    SetLines(map, {"0\t5\t10", "0\t20\t45", "15\t25\t60", "30\t40\t0", ""});
    map.LoadMap();
    int32_t out = 0;
    EXPECT_EQ(map.LimitPower(out, 50, 7.5, umKm), 1);
    EXPECT_EQ(out, 42);
    // At 5 km/h the same level has a value and is used.
    EXPECT_EQ(map.LimitPower(out, 50, 5, umKm), 1);
    EXPECT_EQ(out, 40);
    EXPECT_EQ(map.LimitPower(out, 30, 5, umKm), 3);
    EXPECT_EQ(out, 30);
}

TEST_F(ResistanceMapLimitPower, TablesWithoutUsableValuesGiveNoResult)
{
    TResistanceMap map(nullptr);
    int32_t out = -7;
    EXPECT_EQ(map.LimitPower(out, 50, 7.5, umKm), 0); // never parsed

    SetLines(map, {"0\t5\t10", ""}); // speed row only
    map.LoadMap();
    EXPECT_EQ(map.LimitPower(out, 50, 7.5, umKm), 0);

    SetLines(map, {"0", "1", "2", ""}); // no speed column
    map.LoadMap();
    EXPECT_EQ(map.LimitPower(out, 50, 7.5, umKm), 0);

    SetLines(map, {"0\t5\t10", "0\t20\t0", "15\t25\t0", ""}); // no value at the upper column
    map.LoadMap();
    EXPECT_EQ(map.LimitPower(out, 50, 7.5, umKm), 0);
    EXPECT_EQ(out, -7);

    // The lower speed column alone still gives a result below the first column.
    EXPECT_EQ(map.LimitPower(out, 50, 1, umKm), 1);
    EXPECT_EQ(out, 25);
}

TEST_F(ResistanceMapLimitPower, InterpolationErrors)
{
    EXPECT_DOUBLE_EQ(Interpolate(7.5, 5, 10, 20, 45), 32.5);
    EXPECT_DOUBLE_EQ(Interpolate(99, 5, 5, 20, 45), 20);
    EXPECT_DOUBLE_EQ(Interpolate(15, 5, 10, 20, 45), 70); // not clamped
    EXPECT_DOUBLE_EQ(Interpolate(0, 5, 10, 20, 45), -5);
    try {
        Interpolate(1, 10, 5, 20, 45);
        FAIL() << "no error";
    } catch (const Exception &e) {
        EXPECT_EQ(e.Message(), "x1>x2 or y1>y2");
    }
    EXPECT_THROW(Interpolate(1, 5, 10, 45, 20), Exception);

    TResistanceMap map(nullptr);
    int32_t out = -7;
    SetLines(map, {"0\t5\t10", "0\t45\t20", ""}); // power falling with speed
    map.LoadMap();
    EXPECT_THROW(map.LimitPower(out, 50, 7, umKm), Exception);
    EXPECT_EQ(out, -7);
}

namespace {

class FakeReader : public TReader {
public:
    explicit FakeReader(std::vector<std::string> items) : FItems(std::move(items)) {}
    void ReadListBegin() override { FBegun = true; }
    bool EndOfList() override { return FPos >= FItems.size(); }
    void ReadListEnd() override { FEnded = true; }
    std::string ReadString() override { return FItems.at(FPos++); }
    bool FBegun = false, FEnded = false;

private:
    std::vector<std::string> FItems;
    size_t FPos = 0;
};

class FakeWriter : public TWriter {
public:
    void WriteListBegin() override { Log.push_back("<"); }
    void WriteListEnd() override { Log.push_back(">"); }
    void WriteString(const std::string &Value) override { Log.push_back(Value); }
    std::vector<std::string> Log;
};

class FakeFiler : public TFiler {
public:
    explicit FakeFiler(const TPersistent *ancestor = nullptr) : FAncestor(ancestor) {}
    const TPersistent *Ancestor() const override { return FAncestor; }
    void DefineProperty(const std::string &Name, const std::function<void(TReader &)> &ReadData,
                        const std::function<void(TWriter &)> &WriteData, bool HasData) override
    {
        if (Name != "StrData")
            return;
        Seen = true;
        Read = ReadData;
        Write = WriteData;
        Has = HasData;
    }
    bool Seen = false, Has = false;
    std::function<void(TReader &)> Read;
    std::function<void(TWriter &)> Write;

private:
    const TPersistent *FAncestor;
};

bool StrDataWritten(TResistanceMap &map, const TPersistent *ancestor)
{
    FakeFiler filer(ancestor);
    map.DefineProperties(filer);
    EXPECT_TRUE(filer.Seen);
    return filer.Has;
}

} // namespace

TEST(ResistanceMapStream, StrDataWrittenOnlyWhenItDiffers)
{
    TResistanceMap map(nullptr);
    TResistanceMap ancestor(nullptr);
    EXPECT_FALSE(StrDataWritten(map, nullptr)); // empty text

    SetExampleMap(map);
    EXPECT_TRUE(StrDataWritten(map, nullptr));
    EXPECT_TRUE(StrDataWritten(map, &ancestor)); // ancestor has another line count

    SetLines(ancestor, {"0\t5\t10\t15", "0\t20\t45\t70", "15\t25\t60\t95", ""});
    EXPECT_FALSE(StrDataWritten(map, &ancestor));
    map.Strings()->Put(0, "0\t5\t10\t16");
    EXPECT_TRUE(StrDataWritten(map, &ancestor));
    // Letter case alone is no difference.
    SetLines(map, {"A\tb"});
    SetLines(ancestor, {"a\tB"});
    EXPECT_FALSE(StrDataWritten(map, &ancestor));

    FakeFiler filer;
    map.DefineProperties(filer);
    FakeWriter writer;
    filer.Write(writer);
    EXPECT_EQ(writer.Log, (std::vector<std::string>{"<", "A\tb", ">"}));
}

TEST(ResistanceMapStream, StrDataReadReplacesText)
{
    TResistanceMap map(nullptr);
    SetExampleMap(map);
    FakeFiler filer;
    map.DefineProperties(filer);
    FakeReader reader({"0\t5", "1\t2", ""});
    filer.Read(reader);
    EXPECT_TRUE(reader.FBegun);
    EXPECT_TRUE(reader.FEnded);
    EXPECT_EQ(map.Strings()->ToVector(), (std::vector<std::string>{"0\t5", "1\t2", ""}));
}

TEST(ResistanceMapComponent, ChangeEventsFollowStringsExceptWhileLoading)
{
    std::vector<std::string> events;
    {
        TResistanceMap map(nullptr);
        map.OnChanging = [&](TObject *s) {
            EXPECT_EQ(s, &map);
            events.push_back("changing");
        };
        map.OnChange = [&](TObject *s) {
            EXPECT_EQ(s, &map);
            events.push_back("change");
        };
        map.Strings()->Add("0\t5");
        EXPECT_EQ(events, (std::vector<std::string>{"changing", "change"}));

        events.clear();
        map.SetLoading(true);
        map.Strings()->Add("1\t5");
        map.SetLoading(false);
        EXPECT_TRUE(events.empty());
        // LoadMap does not count as a change of the text.
        map.LoadMap();
        EXPECT_TRUE(events.empty());
    }
    EXPECT_TRUE(events.empty()); // freeing the list raises nothing
}

TEST(ResistanceMapComponent, AssignCopiesTextAndSettingsNotTable)
{
    SetFormatSettingsOverride(TFormatSettings{'.', "hh:nn:ss"});
    TMapCalibration calibration(nullptr);
    TResistanceMap source(nullptr);
    SetExampleMap(source);
    source.LoadMap();
    source.SetTarvoVersion(5.5);
    source.SetResistanceMapAdapter(1.25);
    source.SetResistanceLatency(300);
    source.SetMinPower(11);
    source.SetMaxPower(999);
    source.SetMapCalibration(&calibration);
    source.SetName("Source");

    TResistanceMap dest(nullptr);
    dest.Assign(&source);
    EXPECT_EQ(dest.Strings()->ToVector(), source.Strings()->ToVector());
    EXPECT_EQ(dest.TarvoVersion(), 5.5);
    EXPECT_EQ(dest.ResistanceMapAdapter(), 1.25);
    EXPECT_EQ(dest.ResistanceLatency(), 300);
    EXPECT_EQ(dest.MinPower(), 11);
    EXPECT_EQ(dest.MaxPower(), 999);
    EXPECT_EQ(dest.MapCalibration(), &calibration);
    EXPECT_EQ(dest.Name(), "");
    EXPECT_TRUE(dest.Table().empty());

    // A string list in either direction carries the text.
    TStringList list;
    list.Add("x");
    dest.Assign(&list);
    EXPECT_EQ(dest.Strings()->ToVector(), std::vector<std::string>{"x"});
    EXPECT_EQ(dest.TarvoVersion(), 5.5);
    list.Assign(&source);
    EXPECT_EQ(list.ToVector(), source.Strings()->ToVector());

    TMapCalibration other(nullptr);
    EXPECT_THROW(dest.Assign(&other), EConvertError);
    SetFormatSettingsOverride(std::nullopt);
}

TEST(ResistanceMapComponent, FreedCalibrationIsForgotten)
{
    TResistanceMap map(nullptr);
    auto first = std::make_unique<TMapCalibration>(nullptr);
    auto second = std::make_unique<TMapCalibration>(nullptr);
    map.SetMapCalibration(first.get());
    first.reset();
    EXPECT_EQ(map.MapCalibration(), nullptr);

    map.SetMapCalibration(second.get());
    TResistanceMap copy(nullptr);
    copy.Assign(&map);
    second.reset();
    EXPECT_EQ(map.MapCalibration(), nullptr);
    EXPECT_EQ(copy.MapCalibration(), nullptr);

    // A map freed before its calibration leaves nothing dangling behind.
    TMapCalibration calibration(nullptr);
    {
        TResistanceMap shortLived(nullptr);
        shortLived.SetMapCalibration(&calibration);
    }
    TResistanceMap later(nullptr);
    later.SetMapCalibration(&calibration);
    EXPECT_EQ(later.MapCalibration(), &calibration);
}

TEST(ResistanceMapComponent, PropertyTable)
{
    TResistanceMap map(nullptr);
    EXPECT_EQ(map.TarvoVersion(), 4.0);
    EXPECT_EQ(map.ResistanceMapAdapter(), 1.0);
    const TPropInfo *adapter = FindProperty(map, "ResistanceMapAdapter");
    ASSERT_NE(adapter, nullptr);
    adapter->SetFloat(map, 0.0L);
    EXPECT_EQ(map.ResistanceMapAdapter(), 1.0);
    const TPropInfo *latency = FindProperty(map, "ResistanceLatency");
    ASSERT_NE(latency, nullptr);
    latency->SetOrd(map, 120);
    EXPECT_EQ(map.ResistanceLatency(), 120);
    ASSERT_NE(FindProperty(map, "MinPower"), nullptr);
    ASSERT_NE(FindProperty(map, "MaxPower"), nullptr);
    ASSERT_NE(FindProperty(map, "TarvoVersion"), nullptr);
    ASSERT_NE(FindProperty(map, "Name"), nullptr);
}
