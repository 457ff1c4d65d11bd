// Files the store cannot use: each gives a message naming the file and why, and stays as it was.
#include "HistoryTestFiles.h"

#include "history/HistoryStore.h"
#include "tests/antlib/WithoutFileOverride.h"

#include <sys/stat.h>

using namespace fennick::test;

namespace {

// A file the store wrote and closed, with one session in it.
std::string GoodFile(const TempFolder &Folder, int Sessions = 1)
{
    const std::string file = Folder.File("history.sqlite");
    std::string error;
    auto store = THistoryStore::Open(file, error);
    EXPECT_NE(store, nullptr) << error;
    for (int i = 0; i < Sessions; ++i) {
        THistorySession session;
        session.StartedMs = 1000 + i;
        session.SettingsFile = std::string(200, 'x');
        const int64_t id = store->BeginSession(session);
        EXPECT_TRUE(store->AddPoint(id, MakePoint("P1", 1, 10.0, 60)));
    }
    return file;
}

std::string OpenError(const std::string &File)
{
    std::string error;
    auto store = THistoryStore::Open(File, error);
    EXPECT_EQ(store, nullptr);
    return error;
}

} // namespace

TEST(HistoryFaults, ReadOnlyFileIsRefusedAsNotWritable)
{
    TempFolder folder;
    const std::string file = GoodFile(folder);
    ::chmod(file.c_str(), 0444);
    WithoutFileOverride asAnOrdinaryUser;
    EXPECT_EQ(OpenError(file), "The history file '" + file +
                                   "' cannot be written: attempt to write a readonly database; make the file and "
                                   "its folder writable");
}

TEST(HistoryFaults, FolderThatCannotBeCreatedIsNamed)
{
    TempFolder folder;
    std::ofstream(folder.File("plain-file")) << "not a folder";
    const std::string file = folder.File("plain-file/history.sqlite");
    EXPECT_EQ(OpenError(file), "The history file '" + file + "' cannot be created: cannot create the folder '" +
                                   folder.File("plain-file") + "': Not a directory");
}

TEST(HistoryFaults, GarbageFileIsNotADatabaseAndIsLeftAlone)
{
    TempFolder folder;
    const std::string file = folder.File("history.sqlite");
    std::string garbage;
    for (int i = 0; i < 8192; ++i)
        garbage += char((i * 7919) & 0xFF);
    std::ofstream(file, std::ios::binary) << garbage;
    EXPECT_EQ(OpenError(file), "The history file '" + file +
                                   "' is not a history database: file is not a database; move it aside to start "
                                   "a new history");
    EXPECT_EQ(FileBytes(file), garbage);
}

// The schema and the version are whole, the later pages with the points are not: the file
// opens and the list says what is wrong instead of showing part of the history.
TEST(HistoryFaults, DamagedPagesMakeTheListFailWithTheReason)
{
    TempFolder folder;
    const std::string file = GoodFile(folder, 40);
    std::string bytes = FileBytes(file);
    ASSERT_GT(bytes.size(), 10 * 4096u);
    for (size_t i = bytes.size() / 2; i < bytes.size(); ++i)
        bytes[i] = char(0xA5 ^ (i & 0x3F));
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;

    std::string error;
    auto store = THistoryStore::Open(file, error);
    ASSERT_NE(store, nullptr) << error;
    EXPECT_TRUE(store->Sessions().empty());
    EXPECT_EQ(store->LastError(), "The history file '" + file +
                                      "' is damaged: database disk image is malformed; move it aside to start a "
                                      "new history");
}

TEST(HistoryFaults, NewerSchemaIsRefusedAndNeverRewritten)
{
    TempFolder folder;
    const std::string file = GoodFile(folder);
    RawDatabase(file).Exec("UPDATE schema_version SET version = 3");
    const std::string before = FileBytes(file);
    EXPECT_EQ(OpenError(file), "The history file '" + file +
                                   "' was written by a newer Fennick (history version 3; this one knows up to 2); "
                                   "it is left as it is: update Fennick to use it");
    EXPECT_EQ(FileBytes(file), before);
    EXPECT_EQ(RawDatabase(file).Value("SELECT version FROM schema_version"), "3");
}

TEST(HistoryFaults, AnotherProgramsDatabaseIsRefused)
{
    TempFolder folder;
    const std::string file = folder.File("history.sqlite");
    RawDatabase(file).Exec("CREATE TABLE contacts (name TEXT)");
    EXPECT_EQ(OpenError(file), "The history file '" + file +
                                   "' is not a Fennick history file but another program's database; move it aside "
                                   "or choose another file");
}
