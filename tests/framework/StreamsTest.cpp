#include "framework/Exception.h"
#include "framework/Streams.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

class TempDir {
public:
    TempDir()
    {
        char pattern[] = "/tmp/fennick_streams_XXXXXX";
        FPath = mkdtemp(pattern);
    }
    ~TempDir() { std::filesystem::remove_all(FPath); }
    std::string File(const std::string &Name) const { return FPath + "/" + Name; }
    const std::string &Path() const { return FPath; }

private:
    std::string FPath;
};

template <class E>
std::string Message(const std::function<void()> &F)
{
    try {
        F();
    } catch (const E &e) {
        return e.Message();
    }
    return "(no error)";
}

} // namespace

TEST(MemoryStream, ReadWriteSeekAndGaps)
{
    TMemoryStream m;
    m.WriteBuffer("TPF0", 4);
    EXPECT_EQ(m.Size(), 4);
    EXPECT_EQ(m.Position(), 4);
    m.SetPosition(6);
    m.WriteBuffer("x", 1);
    EXPECT_EQ(m.DataString(), std::string("TPF0\0\0x", 7));
    EXPECT_EQ(m.Seek(-3, soEnd), 4);
    EXPECT_EQ(m.Seek(1, soCurrent), 5);
    char buf[8] = {};
    m.SetPosition(1);
    EXPECT_EQ(m.Read(buf, 8), 6); // short read at the end
    EXPECT_EQ(m.Read(buf, 8), 0);
    m.SetPosition(0);
    m.ReadBuffer(buf, 4);
    EXPECT_EQ(std::string(buf, 4), "TPF0");
    EXPECT_EQ(Message<EReadError>([&] { m.ReadBuffer(buf, 4); }), "Stream read error");
    m.SetPosition(-1);
    EXPECT_EQ(m.Read(buf, 1), 0);
    EXPECT_EQ(Message<EWriteError>([&] { m.WriteBuffer("a", 1); }), "Stream write error");
    EXPECT_EQ(m.Size(), 7);
    m.Clear();
    EXPECT_EQ(m.Size(), 0);
    EXPECT_EQ(m.Position(), 0);
}

TEST(MemoryStream, CopyAndLoad)
{
    TMemoryStream source;
    source.WriteBuffer("hello world", 11);
    source.SetPosition(3);
    TMemoryStream all;
    EXPECT_EQ(all.CopyFrom(source, 0), 11); // 0: everything from the beginning
    EXPECT_EQ(all.DataString(), "hello world");
    source.SetPosition(6);
    TMemoryStream part;
    EXPECT_EQ(part.CopyFrom(source, 5), 5);
    EXPECT_EQ(part.DataString(), "world");
    source.SetPosition(8);
    EXPECT_THROW(part.CopyFrom(source, 5), EReadError);
    TMemoryStream loaded;
    loaded.WriteBuffer("old", 3);
    loaded.LoadFromStream(source);
    EXPECT_EQ(loaded.DataString(), "hello world");
    EXPECT_EQ(loaded.Position(), 0);
}

TEST(FileStream, CreateWriteReopenAndRead)
{
    TempDir dir;
    const std::string name = dir.File("list.txt");
    {
        TFileStream f(name, fmCreate);
        f.WriteBuffer("object TPersistentHolder\r\n", 26);
        EXPECT_EQ(f.FileName(), name);
    }
    {
        TFileStream f(name, fmOpenRead);
        EXPECT_EQ(f.Size(), 26);
        char buf[32] = {};
        f.SetPosition(7);
        f.ReadBuffer(buf, 19);
        EXPECT_EQ(std::string(buf, 19), "TPersistentHolder\r\n");
        EXPECT_EQ(Message<EReadError>([&] { f.ReadBuffer(buf, 1); }), "Stream read error");
        // Writing to a file opened for reading fails as a write error.
        EXPECT_EQ(Message<EWriteError>([&] { f.WriteBuffer("x", 1); }), "Stream write error");
    }
    {
        TFileStream f(name, fmOpenReadWrite);
        f.Seek(0, soEnd);
        f.WriteBuffer("end\r\n", 5);
    }
    {
        TFileStream f(name, fmCreate); // create truncates
        EXPECT_EQ(f.Size(), 0);
    }
}

TEST(FileStream, OpenFailuresNameTheFileAndTheReason)
{
    TempDir dir;
    const std::string missing = dir.File("missing.dat");
    EXPECT_EQ(Message<EFOpenError>([&] { TFileStream f(missing, fmOpenRead); }),
              "Cannot open file \"" + missing + "\". No such file or directory");
    EXPECT_THROW(TFileStream(missing, fmOpenWrite), EStreamError);
    const std::string nowhere = dir.File("no/such/dir.dat");
    EXPECT_EQ(Message<EFOpenError>([&] { TFileStream f(nowhere, fmCreate); }),
              "Cannot create file \"" + nowhere + "\". No such file or directory");
    EXPECT_EQ(Message<EFOpenError>([&] { TFileStream f(dir.Path(), fmOpenRead); }),
              "Cannot open file \"" + dir.Path() + "\". Is a directory");
}
