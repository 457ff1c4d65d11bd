// Request timers and requests: time-outs, restarts, freeing at awkward moments, failing
// handlers, the blocking waitable-timer kind, and the list with its binary persistence.
#include "ant/AntRequestList.h"

#include "TestSupport.h"

#include "framework/Exception.h"
#include "framework/Streams.h"

#include <atomic>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>

TEST(AntRequestTimer, TicksOnTheUiThreadAndSurvivesFailingHandlers)
{
    TAntRequestTimer timer(nullptr);
    EXPECT_EQ(timer.Interval(), 1000u);
    EXPECT_FALSE(timer.Enabled());
    timer.SetInterval(60);
    int calls = 0;
    long long first = -1;
    const auto start = TestClock::now();
    const std::thread::id uiThread = std::this_thread::get_id();
    timer.OnTimer = [&](TObject *Sender) {
        EXPECT_EQ(Sender, &timer);
        EXPECT_EQ(std::this_thread::get_id(), uiThread);
        if (first < 0)
            first = MsSince(start);
        ++calls;
        throw std::runtime_error("dropped");
    };
    timer.SetEnabled(true);
    ASSERT_TRUE(PumpUntil([&] { return calls >= 3; }));
    EXPECT_GE(first, 55);
}

TEST(AntRequestTimer, ZeroIntervalNeedsAllowZero)
{
    TAntRequestTimer timer(nullptr);
    int calls = 0;
    timer.OnTimer = [&](TObject *) { ++calls; };
    timer.SetInterval(0);
    timer.SetEnabled(true);
    PumpFor(80);
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(timer.Enabled());
    timer.SetEnabled(false);
    timer.SetAllowZero(true);
    timer.SetEnabled(true);
    EXPECT_TRUE(PumpUntil([&] { return calls >= 100; }));
}

TEST(AntRequest, TimesOutOnceAfterTheTicksBeforeTheLimit)
{
    TAntRequestList list(nullptr);
    TAntRequest *request = list.Add();
    EXPECT_EQ(request->Interval(), 100);
    EXPECT_EQ(request->TimeOut(), 0);
    EXPECT_EQ(request->AntRequestType(), artThreaded);
    request->SetInterval(100);
    request->SetTimeOut(300);
    int ticks = 0, timeOuts = 0;
    request->OnTimer = [&](TObject *Sender) {
        EXPECT_EQ(Sender, request);
        EXPECT_EQ(timeOuts, 0);
        ++ticks;
    };
    request->OnRequestTimeOut = [&](TObject *Sender) {
        EXPECT_EQ(Sender, request);
        EXPECT_FALSE(request->Enabled());
        ++timeOuts;
    };
    request->SetEnabled(true);
    ASSERT_TRUE(PumpUntil([&] { return timeOuts == 1; }));
    EXPECT_GE(ticks, 1);
    EXPECT_LE(ticks, 2);
    EXPECT_TRUE(request->TimedOut());
    EXPECT_FALSE(request->Enabled());
    EXPECT_GE(request->Elapsed(), 300u);
    PumpFor(250);
    EXPECT_EQ(timeOuts, 1);
    EXPECT_LE(ticks, 2);
}

TEST(AntRequest, WithoutTimeOutItNeverTimesOut)
{
    TAntRequestList list(nullptr);
    TAntRequest *request = list.Add();
    request->SetInterval(10);
    int ticks = 0, timeOuts = 0;
    request->OnTimer = [&](TObject *) { ++ticks; };
    request->OnRequestTimeOut = [&](TObject *) { ++timeOuts; };
    request->SetEnabled(true);
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 10; }));
    EXPECT_EQ(timeOuts, 0);
    request->SetEnabled(false);
    PumpFor(30);
    const int settled = ticks;
    PumpFor(60);
    EXPECT_EQ(ticks, settled);
    // The last timer stays until the next enable.
    EXPECT_NE(request->Timer(), nullptr);
}

TEST(AntRequest, ReEnablingRestartsElapsedAndTheWait)
{
    TAntRequestList list(nullptr);
    TAntRequest *request = list.Add();
    request->SetInterval(40);
    request->SetTimeOut(100);
    int timeOuts = 0;
    request->OnRequestTimeOut = [&](TObject *) { ++timeOuts; };
    request->SetEnabled(true);
    ASSERT_TRUE(PumpUntil([&] { return timeOuts == 1; }));

    int ticks = 0;
    long long first = -1;
    const auto start = TestClock::now();
    request->OnTimer = [&](TObject *) {
        if (first < 0)
            first = MsSince(start);
        ++ticks;
    };
    request->SetTimeOut(0);
    request->SetInterval(150);
    request->SetEnabled(true);
    EXPECT_FALSE(request->TimedOut());
    EXPECT_EQ(request->Elapsed(), 0u);
    ASSERT_TRUE(PumpUntil([&] { return ticks == 1; }));
    EXPECT_GE(first, 145);
    EXPECT_GE(request->Elapsed(), 145u);
    EXPECT_LT(request->Elapsed(), 1000u);
}

TEST(AntRequest, ReEnablingFromInsideItsOwnTickReplacesTheTimer)
{
    TAntRequestList list(nullptr);
    TAntRequest *request = list.Add();
    request->SetInterval(15);
    int ticks = 0;
    request->OnTimer = [&](TObject *) {
        ++ticks;
        if (ticks < 4)
            request->SetEnabled(true); // frees the timer whose tick this is
    };
    request->SetEnabled(true);
    EXPECT_TRUE(PumpUntil([&] { return ticks >= 6; }));
}

TEST(AntRequest, FreedWhileItsTickIsBeingHandedOver)
{
    std::atomic<int> ticks{0};
    {
        TAntRequestList list(nullptr);
        TAntRequest *request = list.Add();
        request->SetInterval(5);
        request->OnTimer = [&](TObject *) { ++ticks; };
        request->SetEnabled(true);
        // No message processing: the worker sits in the hand-off of its tick.
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        list.Delete(0);
        EXPECT_EQ(list.Count(), 0);
    }
    PumpFor(50);
    EXPECT_EQ(ticks.load(), 0);

    // Freed by its own handler, and a list freed with enabled requests in it.
    auto *list = new TAntRequestList(nullptr);
    TAntRequest *self = list->Add();
    self->SetInterval(10);
    int selfTicks = 0;
    self->OnTimer = [&](TObject *) {
        ++selfTicks;
        list->Delete(0);
    };
    self->SetEnabled(true);
    TAntRequest *other = list->Add();
    other->SetInterval(10);
    other->SetEnabled(true);
    ASSERT_TRUE(PumpUntil([&] { return selfTicks == 1; }));
    EXPECT_EQ(list->Count(), 1);
    delete list;
    PumpFor(40);
    EXPECT_EQ(selfTicks, 1);
}

TEST(AntRequest, HandlerErrorsAreDroppedByTheTimer)
{
    TAntRequestList list(nullptr);
    TAntRequest *request = list.Add();
    request->SetInterval(10);
    int ticks = 0;
    request->OnTimer = [&](TObject *) {
        ++ticks;
        throw Exception("tick failed");
    };
    request->SetEnabled(true);
    EXPECT_TRUE(PumpUntil([&] { return ticks >= 3; }));
}

TEST(AntRequest, HandledRaisesOnceAndStopsOnlyTheFlag)
{
    TAntRequestList list(nullptr);
    TAntRequest *request = list.Add();
    request->SetInterval(10);
    int handled = 0, ticks = 0;
    request->OnRequestHandled = [&](TObject *Sender) {
        EXPECT_EQ(Sender, request);
        ++handled;
    };
    request->OnTimer = [&](TObject *) { ++ticks; };
    request->SetEnabled(true);
    request->SetHandled(true);
    request->SetHandled(true);
    EXPECT_EQ(handled, 1);
    EXPECT_FALSE(request->Enabled());
    EXPECT_TRUE(request->Handled());
    // A threaded request keeps its timer running; the ticks still come.
    EXPECT_TRUE(PumpUntil([&] { return ticks >= 2; }));
}

TEST(AntRequest, WaitableTimerBlocksTheCallerUntilTheRequestEnds)
{
    TAntRequestList list(nullptr);
    TAntRequest *request = list.Add();
    request->SetAntRequestType(artWaitableTimer);
    request->SetInterval(20);
    int ticks = 0, handled = 0;
    bool posted = false;
    PostToUiThread([&] { posted = true; });
    request->OnTimer = [&](TObject *) {
        if (++ticks == 3)
            request->SetHandled(true);
    };
    request->OnRequestHandled = [&](TObject *) { ++handled; };
    const auto start = TestClock::now();
    request->SetEnabled(true);
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(handled, 1);
    EXPECT_GE(MsSince(start), 55);
    EXPECT_TRUE(posted); // messages were processed between the waits
    EXPECT_FALSE(request->Enabled());

    // With a limit it ends by the time-out and switches itself off.
    request->SetHandled(false);
    request->SetInterval(25);
    request->SetTimeOut(120);
    ticks = 0;
    int timeOuts = 0;
    request->OnTimer = [&](TObject *) { ++ticks; };
    request->OnRequestTimeOut = [&](TObject *) { ++timeOuts; };
    request->SetEnabled(true);
    EXPECT_EQ(timeOuts, 1);
    EXPECT_GE(ticks, 3);
    EXPECT_TRUE(request->TimedOut());
    EXPECT_FALSE(request->Enabled());

    // A handler that disables it ends the wait at once; so does freeing it.
    request->SetTimeOut(0);
    ticks = 0;
    request->OnTimer = [&](TObject *) {
        ++ticks;
        request->SetEnabled(false);
    };
    request->SetEnabled(true);
    EXPECT_EQ(ticks, 1);
    request->OnTimer = [&](TObject *) {
        ++ticks;
        list.Delete(0);
    };
    request->SetEnabled(true);
    EXPECT_EQ(ticks, 2);
    EXPECT_EQ(list.Count(), 0);
}

TEST(AntRequest, WaitableTimerWithoutAPeriodCannotBeArmed)
{
    TAntRequestList list(nullptr);
    TAntRequest *request = list.Add();
    request->SetAntRequestType(artWaitableTimer);
    request->SetInterval(0);
    int ticks = 0;
    request->OnTimer = [&](TObject *) { ++ticks; };
    const auto start = TestClock::now();
    request->SetEnabled(true); // would otherwise wait for ever
    EXPECT_LT(MsSince(start), 1000);
    EXPECT_TRUE(request->Enabled());
    EXPECT_EQ(ticks, 0);
}

TEST(AntRequestList, AddDeleteClear)
{
    TAntRequestList list(nullptr);
    TAntRequest *a = list.Add();
    TAntRequest *b = list.Add();
    TAntRequest *c = list.Add();
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.AntRequests(1), b);
    list.Delete(3);
    list.Delete(100);
    list.Delete(-1);
    EXPECT_EQ(list.Count(), 3);
    list.Delete(1);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.AntRequests(0), a);
    EXPECT_EQ(list.AntRequests(1), c);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    list.Clear();
    list.Delete(0);
    EXPECT_EQ(list.Count(), 0);
}

TEST(AntRequestList, RequestPropertiesHaveNoStreamDefaultsWhileTimerPropertiesDo)
{
    // A request declares no stream defaults, so a fresh one stores every property; the timer
    // declares its defaults and stores none of them when fresh.
    TAntRequestList list(nullptr);
    TAntRequest *request = list.Add();
    for (const char *name : {"Enabled", "TimeOut", "Interval", "ThreadPriority", "RequestResult", "AntRequestType"}) {
        const TPropInfo *prop = FindProperty(*request, name);
        ASSERT_NE(prop, nullptr) << name;
        EXPECT_TRUE(IsPropertyStored(*request, *prop)) << name;
    }
    TAntRequestTimer timer(nullptr);
    for (const char *name : {"AllowZero", "Enabled", "Interval", "ThreadPriority"}) {
        const TPropInfo *prop = FindProperty(timer, name);
        ASSERT_NE(prop, nullptr) << name;
        EXPECT_FALSE(IsPropertyStored(timer, *prop)) << name;
    }
}

TEST(AntRequestList, BinaryRoundTripThroughStreamsFilesAndAssign)
{
    TAntRequestList list(nullptr);
    list.SetFilename("requests.bin");
    TAntRequest *first = list.Add();
    first->SetTimeOut(3000);
    first->SetInterval(1000);
    first->SetThreadPriority(tpHigher);
    first->SetRequestResult(-7);
    TAntRequest *second = list.Add();
    second->SetAntRequestType(artWaitableTimer);
    second->SetInterval(14000);

    TMemoryStream stream;
    list.SaveToStream(stream);
    ASSERT_GE(stream.Size(), 4);
    EXPECT_EQ(stream.DataString().substr(0, 4), "TPF0");

    auto check = [](const TAntRequestList &loaded) {
        ASSERT_EQ(loaded.Count(), 2);
        const TAntRequest *a = loaded.AntRequests(0);
        EXPECT_EQ(a->TimeOut(), 3000);
        EXPECT_EQ(a->Interval(), 1000);
        EXPECT_EQ(a->ThreadPriority(), tpHigher);
        EXPECT_EQ(a->RequestResult(), -7);
        EXPECT_EQ(a->AntRequestType(), artThreaded);
        EXPECT_FALSE(a->Enabled());
        const TAntRequest *b = loaded.AntRequests(1);
        EXPECT_EQ(b->AntRequestType(), artWaitableTimer);
        EXPECT_EQ(b->Interval(), 14000);
        EXPECT_EQ(b->TimeOut(), 0);
    };

    stream.SetPosition(0);
    TAntRequestList loaded(nullptr);
    loaded.LoadFromStream(stream);
    check(loaded);
    EXPECT_EQ(loaded.Filename(), "requests.bin");

    const std::string path = ::testing::TempDir() + "fennick_requests_" + std::to_string(getpid()) + ".bin";
    list.SaveToFile(path);
    EXPECT_EQ(list.Filename(), path);
    TAntRequestList fromFile(nullptr);
    fromFile.LoadFromFile(path);
    check(fromFile);
    EXPECT_EQ(fromFile.Filename(), path);
    std::remove(path.c_str());

    TAntRequestList assigned(nullptr);
    assigned.Assign(&list);
    check(assigned);

    TAntRequests collection(nullptr);
    try {
        collection.Assign(&list);
        FAIL() << "no error";
    } catch (const EConvertError &e) {
        EXPECT_EQ(e.Message(), "Cannot assign a TAntRequestList to a TAntRequests");
    }
    EXPECT_THROW(fromFile.LoadFromFile(path), Exception);
}
