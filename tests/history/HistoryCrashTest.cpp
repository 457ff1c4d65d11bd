// A writer killed with SIGKILL in the middle of its sessions: the file opens, is whole, and
// holds every session the writer had ended.
#include "HistoryTestFiles.h"

#include "history/HistoryStore.h"

#include <csignal>
#include <cstdio>
#include <set>
#include <sys/wait.h>

using namespace fennick::test;

namespace {

class Writer {
public:
    explicit Writer(const std::string &File)
    {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        FPid = ::fork();
        if (FPid == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            ::close(fds[0]);
            ::close(fds[1]);
            ::execl(HISTORY_CRASH_WRITER, HISTORY_CRASH_WRITER, File.c_str(), static_cast<char *>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        FOutput = ::fdopen(fds[0], "r");
    }
    ~Writer()
    {
        if (FOutput != nullptr)
            std::fclose(FOutput);
    }
    // Ids of the sessions ended so far, reading until Count of them or the writer stops.
    void ReadEnded(std::set<int64_t> &Ended, size_t Count)
    {
        long long id = 0;
        while (Ended.size() < Count && FOutput != nullptr && std::fscanf(FOutput, "%lld", &id) == 1)
            Ended.insert(id);
    }
    // What the writer printed before it died counts too: those sessions had ended.
    void Kill(std::set<int64_t> &Ended)
    {
        ::kill(FPid, SIGKILL);
        ReadEnded(Ended, SIZE_MAX);
        int status = 0;
        ::waitpid(FPid, &status, 0);
        FKilled = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    }
    bool Killed() const { return FKilled; }

private:
    pid_t FPid = -1;
    FILE *FOutput = nullptr;
    bool FKilled = false;
};

} // namespace

TEST(HistoryCrash, KilledWriterLeavesAWholeFileWithEveryEndedSession)
{
    TempFolder folder;
    const std::string file = folder.File("history.sqlite");
    std::set<int64_t> ended;
    size_t rounds = 0;
    // Killed at different moments, each time on the file the last one left.
    for (size_t more : {3u, 11u, 25u}) {
        Writer writer(file);
        const size_t wanted = ended.size() + more;
        writer.ReadEnded(ended, wanted);
        ASSERT_GE(ended.size(), wanted) << "the writer stopped on its own";
        writer.Kill(ended);
        ASSERT_TRUE(writer.Killed());
        ++rounds;

        EXPECT_EQ(RawDatabase(file).Value("PRAGMA integrity_check"), "ok");
        std::string error;
        auto store = THistoryStore::Open(file, error);
        ASSERT_NE(store, nullptr) << error;
        size_t unfinished = 0;
        std::set<int64_t> found;
        for (const THistorySession &session : store->Sessions()) {
            if (!session.EndedMs) {
                ++unfinished;
                continue;
            }
            found.insert(session.Id);
            EXPECT_EQ(session.Points.size(), 3u) << session.Id;
        }
        for (int64_t id : ended)
            EXPECT_TRUE(found.count(id)) << "session " << id << " was ended before the kill but is not in the file";
        // Only the session in progress at each kill may have been left open.
        EXPECT_LE(unfinished, rounds);
    }
}
