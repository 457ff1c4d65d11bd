#include "FakeAntLib.h"

#include "ant/channels/AntChannelList.h"
#include "framework/Exception.h"
#include "framework/Streams.h"
#include "framework/Strings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string SaveText(TAntChannelList &List)
{
    TMemoryStream stream;
    List.SaveToStream(stream);
    return stream.DataString();
}

void FillList(TAntChannelList &List)
{
    List.SetName("Trainer");
    List.SetFilename("channels.txt");
    TAntChannel *fe = List.Add();
    fe->SetName("ch1");
    fe->SetChannelNumber(1);
    fe->SetAntChannelProfile(acpAntFE);
    fe->SetDeviceNumber(54321);
    fe->SetDelay(50);
    fe->SetDoResponseFunction(true);      // equal to its declared default: not stored
    fe->SetDoChannelEventFunction(false); // differs from its default: stored
    fe->SetRepeatCommandInterval(7000);
    fe->SetConnectedOnEventRx(true);
    fe->SetDistanceState(dsPause);
    TAntChannel *hr = List.Add();
    hr->SetChannelNumber(0);
    hr->SetAntChannelProfile(acpAntHR);
}

} // namespace

TEST(ChannelList, TextRoundTripHonoursStreamingDefaults)
{
    TAntChannelList source(nullptr);
    FillList(source);
    std::string text = SaveText(source);
    const std::string firstItem = text.substr(0, text.find("end"));
    EXPECT_EQ(text.rfind("object TPersistentHolder", 0), 0u) << text;
    EXPECT_NE(text.find("Instance.Name = 'Trainer'"), std::string::npos) << text;
    EXPECT_NE(text.find("AntChannelProfile = acpAntFE"), std::string::npos) << text;
    EXPECT_NE(text.find("Delay = 50"), std::string::npos) << text;
    EXPECT_EQ(firstItem.find("DoResponseFunction"), std::string::npos) << text;
    EXPECT_NE(text.find("DoChannelEventFunction = False"), std::string::npos) << text;
    EXPECT_EQ(text.find("Pairing"), std::string::npos) << text;
    EXPECT_NE(text.find("RepeatCommandInterval = 7000"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\n"), std::string::npos);

    TAntChannelList target(nullptr);
    TMemoryStream stream;
    source.SaveToStream(stream);
    stream.Seek(0, soBeginning);
    target.LoadFromStream(stream);
    EXPECT_EQ(target.Name(), "Trainer");
    EXPECT_EQ(target.Filename(), "channels.txt");
    ASSERT_EQ(target.Count(), 2);
    TAntChannel *fe = target.Items(0);
    EXPECT_EQ(fe->Name(), "ch1");
    EXPECT_EQ(fe->ChannelNumber(), 1);
    EXPECT_EQ(fe->AntChannelProfile(), acpAntFE);
    EXPECT_NE(dynamic_cast<TAntProfileFE *>(fe->ProfileData()), nullptr);
    EXPECT_EQ(fe->DeviceNumber(), 54321);
    EXPECT_EQ(fe->DeviceType(), 17);
    EXPECT_EQ(fe->Delay(), 50);
    EXPECT_FALSE(fe->DoResponseFunction()) << "a value equal to the default loads as constructed";
    EXPECT_FALSE(fe->DoChannelEventFunction());
    EXPECT_EQ(fe->RepeatCommandInterval(), 7000);
    EXPECT_TRUE(fe->ConnectedOnEventRx());
    EXPECT_EQ(fe->DistanceState(), dsPause);
    EXPECT_EQ(target.Items(1)->AntChannelProfile(), acpAntHR);
    EXPECT_EQ(target.Items(1)->TransmissionPower(), 1);
    // The default-valued flag came back as constructed (false), which is now stored.
    std::string again = SaveText(target);
    EXPECT_NE(again.substr(0, again.find("end")).find("DoResponseFunction = False"), std::string::npos);
}

TEST(ChannelList, FilesSetFilenameAndErrorsPropagate)
{
    TAntChannelList source(nullptr);
    FillList(source);
    std::string path = ::testing::TempDir() + "fennick_channels_test.txt";
    source.SaveToFile(path);
    EXPECT_EQ(source.Filename(), path);
    TAntChannelList target(nullptr);
    target.LoadFromFile(path);
    EXPECT_EQ(target.Filename(), path) << "the file read wins over the stored name";
    EXPECT_EQ(target.Count(), 2);
    std::remove(path.c_str());
    EXPECT_THROW(target.LoadFromFile(path), Exception);

    TMemoryStream junk;
    junk.Write("garbage", 7);
    junk.Seek(0, soBeginning);
    EXPECT_THROW(target.LoadFromStream(junk), Exception);
}

TEST(ChannelList, ListOperationsAndAssignment)
{
    TAntChannelList list(nullptr);
    list.Clear();
    FillList(list);
    list.Delete(list.Count());
    list.Delete(-1);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.IndexOf(list.Items(1)), 1);

    TAntChannelList copy(nullptr);
    copy.SetName("Kept");
    copy.Add();
    copy.Add();
    copy.Add();
    copy.Assign(&list);
    EXPECT_EQ(copy.Name(), "Kept");
    EXPECT_EQ(copy.Filename(), "channels.txt");
    ASSERT_EQ(copy.Count(), 2);
    EXPECT_EQ(copy.Items(0)->AntChannelProfile(), acpAntFE);
    EXPECT_EQ(copy.Items(0)->Delay(), 50);
    EXPECT_EQ(copy.Items(0)->DeviceNumber(), 54321);

    TAntChannelList viaStream(nullptr);
    TPersistentAccess::AssignTo(list, &viaStream);
    EXPECT_EQ(viaStream.Name(), "Trainer");
    EXPECT_EQ(viaStream.Count(), 2);

    TStringList notAList;
    EXPECT_THROW(copy.Assign(&notAList), EConvertError);

    list.Delete(0);
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Items(0)->AntChannelProfile(), acpAntHR);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
}
