// A stick that babbles, served on a pseudo-terminal by fennick-virtual-stick and read through
// the real library's serial transport: its latest data frames repeated as fast as the line
// takes them (a serial error among them now and then), or garbage. The window must keep
// answering, the received rows must not pile up while the user-interface thread is busy, and
// the library's serial-error lines must stay within their limit.
#include "ApplicationOnVirtualTrainer.h"

#include "ant/AntComControl.h"
#include "ant/ThreadChannelMsg.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace {

using e2e::LevelsGiven;

class BabblingStickTest : public e2e::TApplicationOnVirtualTrainer {
protected:
    // Serves the scenario on a pty that floods from the start; true when it is up.
    bool ServeFlooding(const char *Kind)
    {
        int out[2];
        if (::pipe(out) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        const std::string scenario = Hive.Dir + "/scenario.txt";
        const char *argv[] = {VIRTUAL_STICK_TOOL, "--scenario", scenario.c_str(), "--flood", Kind,
                              "--flood-at", "0", "--flood-for", "120", "--flood-rate", "max",
                              "--quit-after", "150", nullptr};
        const int spawned = ::posix_spawn(&Stick, VIRTUAL_STICK_TOOL, &actions, nullptr, const_cast<char **>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        std::string pty;
        char c;
        while (spawned == 0 && ::read(out[0], &c, 1) == 1 && c != '\n')
            pty += c;
        ::close(out[0]);
        if (spawned != 0 || pty.rfind("/dev/", 0) != 0)
            return false;
        ::unsetenv("FENNICK_VIRTUAL_TRAINER");
        ::setenv("FENNICK_ANT_SERIAL", pty.c_str(), 1);
        return true;
    }
    // The library writes its serial-error lines to standard error: kept in a file meanwhile.
    void CaptureStandardError()
    {
        StderrPath = Hive.Dir + "/stderr.txt";
        std::fflush(stderr);
        SavedStderr = ::dup(2);
        const int fd = ::open(StderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 2);
        ::close(fd);
    }
    int StandardErrorLinesWith(const std::string &Text) const
    {
        std::ifstream in(StderrPath);
        int n = 0;
        for (std::string line; std::getline(in, line);)
            n += line.find(Text) != std::string::npos;
        return n;
    }
    void TearDown() override
    {
        Window.reset();
        if (SavedStderr >= 0) {
            std::fflush(stderr);
            ::dup2(SavedStderr, 2);
            ::close(SavedStderr);
        }
        if (Stick > 0) {
            ::kill(Stick, SIGTERM);
            ::waitpid(Stick, nullptr, 0);
        }
        ::unsetenv("FENNICK_ANT_SERIAL");
        TApplicationOnVirtualTrainer::TearDown();
    }
    void ConnectAndWatchTheLog()
    {
        Window = std::make_unique<TForm1>();
        Window->MemoLines().AddLineObserver([this](const std::string &Line) {
            if (Line.find("received ANT messages") != std::string::npos)
                DropLines.push_back(Line);
        });
        Window->show();
        ProcessMessages();
        Window->Button5->click();
        ASSERT_TRUE(PumpUntil([&] { return !Window->Button5->isEnabled(); }, 20000)) << "never connected";
        ASSERT_TRUE(PumpUntil([&] { return LevelsGiven(HostLog) == std::vector<int>{107}; }, 10000));
    }
    TThreadChannelMsg &MessageThread() const
    {
        return *Window->TarvoDeviceANT1()->AntComControl()->MessageThread();
    }
    // How long a press queued behind whatever waits for the user-interface thread took to run;
    // the press itself is P2.
    std::chrono::milliseconds PressP2()
    {
        const auto posted = std::chrono::steady_clock::now();
        std::optional<std::chrono::steady_clock::time_point> ran;
        QTimer::singleShot(0, Window.get(), [&] {
            ran = std::chrono::steady_clock::now();
            Window->Button2->click();
        });
        PumpUntil([&] { return ran.has_value(); }, 10000);
        return std::chrono::duration_cast<std::chrono::milliseconds>(ran.value_or(posted + std::chrono::hours(1)) - posted);
    }

    pid_t Stick = 0;
    int SavedStderr = -1;
    std::string StderrPath;
    std::vector<std::string> DropLines;
};

} // namespace

TEST_F(BabblingStickTest, RepeatedFramesAtFullSpeedNeitherPileUpNorStallTheWindow)
{
    ASSERT_TRUE(ServeFlooding("valid"));
    CaptureStandardError();
    ConnectAndWatchTheLog();

    // The user-interface thread busy for a while (a slow disk, a dragged window): what the stick
    // sends meanwhile waits in the message thread's queue, which must not grow beyond its limit.
    // Busy until the flood has overrun the queue (seconds; longer under a sanitizer).
    const auto busy = std::chrono::steady_clock::now();
    while (MessageThread().DroppedCount() == 0 && std::chrono::steady_clock::now() - busy < std::chrono::seconds(20))
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_LE(MessageThread().QueuedCount(), TThreadChannelMsg::QueueLimit);
    EXPECT_GT(MessageThread().DroppedCount(), 0u);
    ASSERT_TRUE(PumpUntil([&] { return !DropLines.empty(); }, 3000));
    EXPECT_NE(DropLines[0].find("the stick sends faster than they can be handled"), std::string::npos) << DropLines[0];

    const auto late = PressP2();
    EXPECT_LT(late.count(), 1000);
    EXPECT_EQ(Window->lblTarget->text(), "Target Speed: 30");
    EXPECT_EQ(Window->Label2->text(), "R->61");
    EXPECT_TRUE(PumpUntil([&] { return LevelsGiven(HostLog) == std::vector<int>{107, 61}; }, 5000))
        << "the trainer did not get the new level";

    // Thousands of serial errors came; a handful were written.
    EXPECT_GT(StandardErrorLinesWith("stick reports serial error"), 0);
    EXPECT_LE(StandardErrorLinesWith("stick reports serial error"), 16);
    EXPECT_EQ(StandardErrorLinesWith("further serial errors from this stick are not shown"), 1);
}

TEST_F(BabblingStickTest, GarbageAtFullSpeedLeavesTheConnectionAndThePointsWorking)
{
    ASSERT_TRUE(ServeFlooding("garbage"));
    ConnectAndWatchTheLog();
    PumpUntil([] { return false; }, 2000); // a while of garbage
    const auto late = PressP2();
    EXPECT_LT(late.count(), 1000);
    EXPECT_EQ(Window->Label2->text(), "R->61");
    EXPECT_TRUE(PumpUntil([&] { return LevelsGiven(HostLog) == std::vector<int>{107, 61}; }, 5000));
    EXPECT_TRUE(Window->TarvoDeviceANT1()->Connected());
}
