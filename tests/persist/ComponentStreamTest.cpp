#include "persist/ComponentStream.h"
#include "persist/PersistentStreamer.h"
#include "SampleObjects.h"

#include "framework/Exception.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <cstring>
#include <limits>
#include <string>

namespace {

std::string Save(TPersistent &Obj, int Format)
{
    TMemoryStream ms;
    TPersistentWriter writer(ms, Format);
    writer.WriteObject(&Obj);
    return ms.DataString();
}

TMemoryStream StreamOf(const std::string &Data)
{
    TMemoryStream ms;
    ms.WriteBuffer(Data.data(), static_cast<int64_t>(Data.size()));
    ms.SetPosition(0);
    return ms;
}

void Load(TPersistent &Obj, const std::string &Data, int Format)
{
    TMemoryStream ms = StreamOf(Data);
    TPersistentReader reader(ms, Format);
    reader.ReadObject(&Obj);
}

std::string ToText(const std::string &Binary)
{
    TMemoryStream in = StreamOf(Binary), out;
    ObjectBinaryToText(in, out);
    return out.DataString();
}

std::string ToBinary(const std::string &Text)
{
    TMemoryStream in = StreamOf(Text), out;
    ObjectTextToBinary(in, out);
    return out.DataString();
}

// A binary holder stream with the given bytes as its property list.
std::string HolderStream(const std::string &Properties)
{
    std::string s = "TPF0";
    s += char(17);
    s += "TPersistentHolder";
    s += char(0);
    s += Properties;
    s += std::string(2, '\0');
    return s;
}

std::string ShortStr(const std::string &S) { return std::string(1, char(S.size())) + S; }

void FillSample(TSample &S)
{
    S.SetCount(4000000000u);
    S.SetLevel(255);
    S.SetBig(-(int64_t(1) << 40));
    S.SetEnabled(true);
    S.SetColour(scBlue);
    S.SetRatio(0.1L);
    S.SetTitle(std::string("quote ' tab\t caf\xC3\xA9 ") + std::string(300, 'x'));
    S.SetHidden(99);
    S.Inner()->SetDepth(-5);
    S.Inner()->SetFilename("/tmp/inner.txt");
    S.Lines()->Add("first");
    S.Lines()->Add("");
    TSampleItem *a = static_cast<TSampleItem *>(S.Items()->Add());
    a->SetValue(65535);
    a->SetCaption("alpha");
    static_cast<TSampleItem *>(S.Items()->Add())->SetValue(0);
    S.Notes().Add("note one");
    S.Notes().Add("it's #2");
}

void ExpectSameSample(TSample &Got, TSample &Want)
{
    EXPECT_EQ(Got.Count(), Want.Count());
    EXPECT_EQ(Got.Level(), Want.Level());
    EXPECT_EQ(Got.Big(), Want.Big());
    EXPECT_EQ(Got.Enabled(), Want.Enabled());
    EXPECT_EQ(Got.Colour(), Want.Colour());
    EXPECT_EQ(Got.Ratio(), Want.Ratio());
    EXPECT_EQ(Got.Title(), Want.Title());
    EXPECT_EQ(Got.Inner()->Depth(), Want.Inner()->Depth());
    EXPECT_EQ(Got.Inner()->Filename(), Want.Inner()->Filename());
    EXPECT_EQ(Got.Lines()->ToVector(), Want.Lines()->ToVector());
    ASSERT_EQ(Got.Items()->Count(), Want.Items()->Count());
    for (int i = 0; i < Want.Items()->Count(); ++i) {
        EXPECT_EQ(Got.Items()->Item(i)->Value(), Want.Items()->Item(i)->Value());
        EXPECT_EQ(Got.Items()->Item(i)->Caption(), Want.Items()->Item(i)->Caption());
    }
    EXPECT_EQ(Got.Notes().ToVector(), Want.Notes().ToVector());
}

class BothForms : public ::testing::TestWithParam<int> {};

TEST_P(BothForms, EveryKindOfPropertyRoundTrips)
{
    TSample saved;
    FillSample(saved);
    std::string data = Save(saved, GetParam());
    TSample loaded;
    Load(loaded, data, GetParam());
    ExpectSameSample(loaded, saved);
    EXPECT_EQ(loaded.Hidden(), 0) << "a property marked not stored is never written";
}

TEST_P(BothForms, DeclaredDefaultIsNotWrittenAndLoadsAsConstructedValue)
{
    TSample saved;
    saved.SetCount(50); // the declared default, unlike the constructed 100
    saved.SetEnabled(false);
    TSample loaded;
    loaded.SetCount(7);
    Load(loaded, Save(saved, GetParam()), GetParam());
    EXPECT_EQ(loaded.Count(), 7u) << "nothing stored, so the target keeps its value";
    TSample fresh;
    Load(fresh, Save(saved, GetParam()), GetParam());
    EXPECT_EQ(fresh.Count(), 100u);

    saved.SetCount(100);
    TSample other;
    other.SetCount(3);
    Load(other, Save(saved, GetParam()), GetParam());
    EXPECT_EQ(other.Count(), 100u);

    std::string text = Save(saved, psfText);
    EXPECT_EQ(text.find("Enabled"), std::string::npos);
    EXPECT_EQ(text.find("Title"), std::string::npos) << "empty text is not stored";
    EXPECT_NE(text.find("Instance.Level = 0"), std::string::npos) << "no declared default: always stored";
}

TEST_P(BothForms, CustomStreamDataRoundTripsAndIsLeftOutWhenEmpty)
{
    TSample saved;
    saved.Notes().Add("a");
    saved.Notes().Add("b c");
    TSample loaded;
    loaded.Notes().Add("old");
    Load(loaded, Save(saved, GetParam()), GetParam());
    EXPECT_EQ(loaded.Notes().ToVector(), (std::vector<std::string>{"a", "b c"}));

    TSample empty;
    EXPECT_EQ(Save(empty, psfText).find("Notes"), std::string::npos);
    TSample keeps;
    keeps.Notes().Add("kept");
    Load(keeps, Save(empty, GetParam()), GetParam());
    EXPECT_EQ(keeps.Notes().ToVector(), std::vector<std::string>{"kept"});
}

TEST_P(BothForms, StoredItemsReplaceTheCollectionButNoItemsLeaveIt)
{
    TSample saved;
    static_cast<TSampleItem *>(saved.Items()->Add())->SetValue(9);
    TSample loaded;
    for (int i = 0; i < 3; ++i)
        loaded.Items()->Add();
    Load(loaded, Save(saved, GetParam()), GetParam());
    ASSERT_EQ(loaded.Items()->Count(), 1);
    EXPECT_EQ(loaded.Items()->Item(0)->Value(), 9);

    TSample none;
    Load(loaded, Save(none, GetParam()), GetParam());
    ASSERT_EQ(loaded.Items()->Count(), 1);
    EXPECT_EQ(loaded.Items()->Item(0)->Value(), 9);
}

INSTANTIATE_TEST_SUITE_P(Formats, BothForms, ::testing::Values(psfBinary, psfText));

TEST(ComponentStream, TextFormLayout)
{
    TSample s;
    s.SetCount(7);
    s.SetTitle("it's\r\nok");
    TSampleItem *a = static_cast<TSampleItem *>(s.Items()->Add());
    a->SetCaption("a");
    static_cast<TSampleItem *>(s.Items()->Add())->SetValue(2);
    s.Lines()->Add("x");
    s.Notes().Add("n1");
    s.Notes().Add("n2");
    const std::string expected = "object TPersistentHolder\r\n"
                                 "  Instance.Count = 7\r\n"
                                 "  Instance.Level = 0\r\n"
                                 "  Instance.Ratio = 1.0\r\n"
                                 "  Instance.Title = 'it''s'#13#10'ok'\r\n"
                                 "  Instance.Lines.Strings = (\r\n"
                                 "    'x')\r\n"
                                 "  Instance.Items = <\r\n"
                                 "    item\r\n"
                                 "      Value = 1\r\n"
                                 "      Caption = 'a'\r\n"
                                 "    end\r\n"
                                 "    item\r\n"
                                 "      Value = 2\r\n"
                                 "    end>\r\n"
                                 "  Instance.Notes = (\r\n"
                                 "    'n1'\r\n"
                                 "    'n2')\r\n"
                                 "end\r\n";
    EXPECT_EQ(Save(s, psfText), expected);

    std::string binary = Save(s, psfBinary);
    ASSERT_GE(binary.size(), 4u);
    EXPECT_EQ(binary.substr(0, 4), "TPF0");
    EXPECT_EQ(ToText(binary), expected);
    EXPECT_EQ(ToBinary(expected), binary);

    TSample empty;
    empty.SetLevel(1);
    EXPECT_EQ(Save(empty, psfText), "object TPersistentHolder\r\n"
                                    "  Instance.Count = 100\r\n"
                                    "  Instance.Level = 1\r\n"
                                    "  Instance.Ratio = 1.0\r\n"
                                    "  Instance.Items = <>\r\n"
                                    "end\r\n");
}

TEST(ComponentStream, TextReaderAcceptsTheOtherWaysOfWritingValues)
{
    const std::string text = "object Holder1: TPersistentHolder\n"
                             "  Instance.Count = $10\n"
                             "  Instance.Colour = scGreen\n"
                             "  Instance.Enabled = true\n"
                             "  Instance.Ratio = -2.5e3\n"
                             "  Instance.Title = 'ab' +\n"
                             "    'cd'#$E9#9'z'\n"
                             "  Instance.Items = <\n"
                             "    item [0]\n"
                             "      Value = 3\n"
                             "    end\n"
                             "  >\n"
                             "  Instance.Lines.Strings = ()\n"
                             "end";
    TSample s;
    s.Lines()->Add("keep?");
    Load(s, text, psfText);
    EXPECT_EQ(s.Count(), 16u);
    EXPECT_EQ(s.Colour(), scGreen);
    EXPECT_TRUE(s.Enabled());
    EXPECT_EQ(s.Ratio(), -2500.0L);
    EXPECT_EQ(s.Title(), "abcd\xC3\xA9\tz");
    ASSERT_EQ(s.Items()->Count(), 1);
    EXPECT_EQ(s.Items()->Item(0)->Value(), 3);
    EXPECT_EQ(s.Lines()->Count(), 0) << "an explicitly stored empty list clears";
}

TEST(ComponentStream, ConversionLeavesInputAfterTheObject)
{
    TSample s;
    std::string text = Save(s, psfText);
    TMemoryStream in = StreamOf(text + "trailing"), out;
    ObjectTextToBinary(in, out);
    EXPECT_EQ(in.Position(), static_cast<int64_t>(text.size() - 2)) << "stops after the final end";

    std::string binary = Save(s, psfBinary);
    TMemoryStream bin = StreamOf(binary + "xyz"), txt;
    ObjectBinaryToText(bin, txt);
    EXPECT_EQ(bin.Position(), static_cast<int64_t>(binary.size()));
}

TEST(ComponentStream, FloatsKeepTheirExactValueInBothForms)
{
    const long double values[] = {0.1L,
                                  -0.0L,
                                  1e-4940L,
                                  std::numeric_limits<long double>::max(),
                                  std::numeric_limits<long double>::lowest(),
                                  std::numeric_limits<long double>::infinity(),
                                  -std::numeric_limits<long double>::infinity(),
                                  static_cast<long double>(0.1),
                                  3.0L};
    for (long double v : values) {
        for (int format : {psfBinary, psfText}) {
            TSample saved, loaded;
            saved.SetRatio(v);
            Load(loaded, Save(saved, format), format);
            EXPECT_EQ(loaded.Ratio(), v) << "format " << format;
            EXPECT_EQ(std::signbit(loaded.Ratio()), std::signbit(v));
        }
    }
    TSample saved, loaded;
    saved.SetRatio(std::numeric_limits<long double>::quiet_NaN());
    Load(loaded, Save(saved, psfText), psfText);
    EXPECT_TRUE(std::isnan(loaded.Ratio()));
}

TEST(PersistentStreamer, FormatsAndWhereTheReaderStarts)
{
    TMemoryStream ms;
    EXPECT_THROW((TPersistentWriter{ms, 3}), EFilerError);
    EXPECT_THROW((TPersistentReader{ms, 0}), EFilerError);

    TSample s;
    s.SetLevel(42);
    // The binary reader takes the whole stream from its beginning.
    TMemoryStream bin = StreamOf(Save(s, psfBinary));
    bin.SetPosition(bin.Size());
    TSample a;
    TPersistentReader(bin, psfBinary).ReadObject(&a);
    EXPECT_EQ(a.Level(), 42);
    // The text reader starts where the stream stands.
    TMemoryStream txt = StreamOf("junk" + Save(s, psfText));
    txt.SetPosition(4);
    TSample b;
    TPersistentReader reader(txt, psfText);
    reader.ReadObject(&b);
    EXPECT_EQ(b.Level(), 42);
    TSample c;
    reader.ReadObject(&c);
    EXPECT_EQ(c.Level(), 42) << "a reader can apply its input more than once";
}

// ---- bad input ---------------------------------------------------------------------------------

template <class E>
std::string MessageOf(const std::function<void()> &F)
{
    try {
        F();
    } catch (const E &e) {
        return e.Message();
    }
    return "<no error>";
}

TEST(PersistentStreamer, FailedSaveLeavesTheFileAsItWas)
{
    const std::string path = ::testing::TempDir() + "fennick_intact_save.txt";
    std::ofstream(path, std::ios::binary) << "old contents";
    EXPECT_THROW(SaveToFileIntact(path, [](TStream &Stream) {
                     Stream.WriteBuffer("partial", 7);
                     throw EWriteError("Stream write error");
                 }),
                 EWriteError);
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "old contents");

    SaveToFileIntact(path, [](TStream &Stream) { Stream.WriteBuffer("new", 3); });
    std::ifstream again(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(again), {}), "new");
    std::remove(path.c_str());
}

TEST(ComponentStreamErrors, BrokenBinaryInput)
{
    TSample s;
    FillSample(s);
    const std::string good = Save(s, psfBinary);

    EXPECT_EQ(MessageOf<EReadError>([&] { Load(s, "", psfBinary); }), "Invalid stream format");
    EXPECT_EQ(MessageOf<EReadError>([&] { Load(s, "TPF1" + good.substr(4), psfBinary); }), "Invalid stream format");
    EXPECT_EQ(MessageOf<EReadError>([&] { ToText("XXXX" + good.substr(4)); }), "Invalid stream format");

    // Every cut of a valid stream is an error, never a crash or a silent success.
    for (size_t n = 4; n < good.size(); ++n) {
        TSample t;
        EXPECT_THROW(Load(t, good.substr(0, n), psfBinary), EStreamError) << "cut at " << n;
        EXPECT_THROW(ToText(good.substr(0, n)), EStreamError) << "cut at " << n;
    }

    std::string unknown = "TPF0" + ShortStr("TNoSuchClass") + ShortStr("") + std::string(2, '\0');
    EXPECT_EQ(MessageOf<EClassNotFound>([&] { Load(s, unknown, psfBinary); }), "Class TNoSuchClass not found");

    // A length far beyond the input is refused before anything is allocated.
    std::string huge = HolderStream(ShortStr("Instance.Title") + char(vaLString) + "\xFF\xFF\xFF\x7F" + "abc");
    EXPECT_EQ(MessageOf<EReadError>([&] { Load(s, huge, psfBinary); }), "Stream read error");
    EXPECT_EQ(MessageOf<EReadError>([&] { ToText(huge); }), "Stream read error");

    std::string badTag = HolderStream(ShortStr("Instance.Level") + char(0x42));
    EXPECT_THROW(ToText(badTag), EReadError);
    EXPECT_THROW(Load(s, badTag, psfBinary), EReadError);

    std::string children = "TPF0" + ShortStr("TPersistentHolder") + ShortStr("") + '\0' + ShortStr("TPersistentHolder") +
                           ShortStr("") + std::string(3, '\0');
    EXPECT_EQ(MessageOf<EReadError>([&] { Load(s, children, psfBinary); }), "Invalid stream format");
    EXPECT_NE(ToText(children).find("  object TPersistentHolder\r\n  end\r\n"), std::string::npos);
}

TEST(ComponentStreamErrors, PropertiesThatDoNotFitTheObject)
{
    TSample s;
    std::string unknown = HolderStream(ShortStr("Instance.Level") + char(vaInt8) + char(5) + ShortStr("Instance.Nope") +
                                       char(vaInt8) + char(1));
    EXPECT_EQ(MessageOf<EReadError>([&] { Load(s, unknown, psfBinary); }),
              "Error reading TPersistentHolder.Instance.Nope: Property Nope does not exist");
    EXPECT_EQ(s.Level(), 5) << "properties before the error stay applied";

    EXPECT_EQ(MessageOf<EReadError>([&] { Load(s, HolderStream(ShortStr("Instance.Missing.Depth") + char(vaInt8) + char(1)), psfBinary); }),
              "Error reading TPersistentHolder.Instance.Missing.Depth: Property Missing does not exist");

    auto valueError = [&](const std::string &Props) { return MessageOf<EReadError>([&] { Load(s, HolderStream(Props), psfBinary); }); };
    EXPECT_EQ(valueError(ShortStr("Instance.Level") + char(vaString) + ShortStr("x")),
              "Error reading TPersistentHolder.Instance.Level: Invalid property value");
    // 256 does not fit a Byte: refused instead of cut to 0.
    EXPECT_EQ(valueError(ShortStr("Instance.Level") + char(vaInt16) + std::string("\x00\x01", 2)),
              "Error reading TPersistentHolder.Instance.Level: Invalid property value");
    EXPECT_EQ(valueError(ShortStr("Instance.Colour") + char(vaIdent) + ShortStr("scPurple")),
              "Error reading TPersistentHolder.Instance.Colour: Invalid property value");
    EXPECT_EQ(valueError(ShortStr("Instance.Enabled") + char(vaInt8) + char(1)),
              "Error reading TPersistentHolder.Instance.Enabled: Invalid property value");
    EXPECT_EQ(valueError(ShortStr("Instance.Items") + char(vaCollection) + char(vaList) + ShortStr("Bad") + char(vaNil) +
                         std::string(2, '\0')),
              "Error reading TPersistentHolder.Instance.Items[0].Bad: Property Bad does not exist");
    EXPECT_EQ(valueError(ShortStr("Instance.Notes") + char(vaInt8) + char(1)),
              "Error reading TPersistentHolder.Instance.Notes: Invalid property value");
    EXPECT_EQ(MessageOf<EReadError>([&] { Load(s, "object TPersistentHolder\r\n  Instance.Count = -1\r\nend\r\n", psfText); }),
              "Error reading TPersistentHolder.Instance.Count: Invalid property value");
}

TEST(ComponentStreamErrors, BrokenTextInput)
{
    TSample s;
    auto error = [&](const std::string &Text) { return MessageOf<EStreamError>([&] { Load(s, Text, psfText); }); };
    EXPECT_EQ(error(""), "Invalid stream format");
    EXPECT_EQ(error("TPF0"), "Invalid stream format");
    EXPECT_EQ(error("object TPersistentHolder\r\n  Instance.Title = 'abc\r\nend\r\n"), "Unterminated string on line 2");
    EXPECT_EQ(error("object TPersistentHolder\r\n  Instance.Level 5\r\nend\r\n"), "'=' expected on line 2");
    EXPECT_EQ(error("object TPersistentHolder\r\n  Instance.Level = 5\r\n"), "'end' expected on line 3");
    EXPECT_EQ(error("object TPersistentHolder\n Instance.Big = 99999999999999999999\nend"), "Invalid integer on line 2");
    EXPECT_EQ(error("object TPersistentHolder\n Instance.Title = #1114112\nend"), "Invalid character code on line 2");
    EXPECT_EQ(error("object TPersistentHolder\n Instance.Items = <\n item\n Value = 1\n>\nend"), "'end' expected on line 5");
    EXPECT_EQ(error("object TNoSuchClass\nend"), "Class TNoSuchClass not found");
    EXPECT_EQ(error("object TPersistentHolder\n  item = 1\nend"), "Property name expected on line 2");

    const std::string good = Save(s, psfText);
    for (size_t n = 0; n + 2 < good.size(); ++n)
        EXPECT_THROW(Load(s, good.substr(0, n), psfText), EStreamError) << "cut at " << n;
}

TEST(ComponentStreamErrors, DeepNestingIsRefusedNotRecursedInto)
{
    TSample s;
    const int deep = 100000;
    std::string lists = HolderStream(ShortStr("Instance.Notes") + std::string(deep, char(vaList)));
    EXPECT_THROW(Load(s, lists, psfBinary), EReadError);
    EXPECT_THROW(ToText(lists), EReadError);
    std::string text = "object TPersistentHolder\n Instance.Notes = " + std::string(deep, '(') + "\nend";
    EXPECT_THROW(Load(s, text, psfText), EReadError);

    // Collections inside collection items, each a level deeper.
    std::string nested = ShortStr("Instance.Items") + char(vaCollection) + char(vaList);
    for (int i = 0; i < 200; ++i)
        nested += ShortStr("Items") + char(vaCollection) + char(vaList);
    EXPECT_THROW(ToText(HolderStream(nested)), EReadError);
    EXPECT_THROW(Load(s, HolderStream(nested), psfBinary), EReadError);

    // Nesting within the limit converts.
    std::string ok = HolderStream(ShortStr("Instance.Notes") + std::string(10, char(vaList)) + std::string(10, '\0'));
    EXPECT_NO_THROW(ToText(ok));
}

// Mutated valid streams: any outcome is fine except a crash or an exception outside the
// stream error family.
TEST(ComponentStreamErrors, MutatedStreamsFailCleanly)
{
    TSample s;
    FillSample(s);
    const std::string forms[] = {Save(s, psfBinary), Save(s, psfText)};
    uint32_t seed = 12345;
    auto rnd = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    for (int round = 0; round < 3000; ++round) {
        int format = round % 2 == 0 ? psfBinary : psfText;
        std::string data = forms[round % 2];
        int edits = 1 + static_cast<int>(rnd() % 4);
        for (int e = 0; e < edits; ++e) {
            size_t at = rnd() % data.size();
            switch (rnd() % 3) {
            case 0: data[at] = static_cast<char>(rnd()); break;
            case 1: data.erase(at, 1 + rnd() % 8); break;
            default: data.insert(at, 1, static_cast<char>(rnd())); break;
            }
            if (data.empty())
                data = "x";
        }
        TSample target;
        try {
            Load(target, data, format);
        } catch (const EStreamError &) {
        } catch (const std::exception &e) {
            ADD_FAILURE() << "round " << round << ": " << e.what();
        }
    }
}

class TBadCustomData : public TPersistent {
public:
    std::string ClassName() const override { return "TBadCustomData"; }
    void DefineProperties(TFiler &Filer) override
    {
        Filer.DefineProperty("Empty", nullptr, [](TWriter &) {}, true);
    }
};

TEST(ComponentStreamErrors, CustomDataThatWritesNoValueIsRefused)
{
    TBadCustomData bad;
    TMemoryStream ms;
    EXPECT_THROW(TPersistentWriter(ms, psfBinary).WriteObject(&bad), EWriteError);
}

} // namespace
