#include "framework/Exception.h"
#include "framework/Strings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

std::string IndexMessage(const std::function<void()> &F)
{
    try {
        F();
    } catch (const EStringListError &e) {
        return e.Message();
    }
    return "(no error)";
}

// Records the change events with the line count seen by each.
struct EventLog {
    std::vector<std::string> Events;
    void Attach(TStringList &L)
    {
        L.OnChanging = [this](TObject *Sender) {
            Events.push_back("changing " + std::to_string(static_cast<TStringList *>(Sender)->Count()));
        };
        L.OnChange = [this](TObject *Sender) {
            Events.push_back("change " + std::to_string(static_cast<TStringList *>(Sender)->Count()));
        };
    }
};

} // namespace

TEST(StringList, EveryChangeIsFramedByBothEvents)
{
    TStringList list;
    EventLog log;
    log.Attach(list);
    EXPECT_EQ(list.Add("a"), 0);
    EXPECT_EQ(list.Add("b"), 1);
    list.Insert(0, "first");
    list.Put(1, "A");
    list.Delete(2);
    list.Clear();
    list.Clear(); // nothing to clear: no events
    EXPECT_EQ(log.Events, (std::vector<std::string>{"changing 0", "change 1", "changing 1", "change 2", "changing 2",
                                                    "change 3", "changing 3", "change 3", "changing 3", "change 2",
                                                    "changing 2", "change 0"}));
}

TEST(StringList, BatchedChangesRaiseOnePairOfEvents)
{
    TStringList list;
    EventLog log;
    log.Attach(list);
    list.BeginUpdate();
    list.BeginUpdate();
    list.Add("x");
    list.Add("y");
    list.EndUpdate();
    list.Add("z");
    EXPECT_EQ(log.Events, (std::vector<std::string>{"changing 0"}));
    list.EndUpdate();
    EXPECT_EQ(log.Events, (std::vector<std::string>{"changing 0", "change 3"}));
    log.Events.clear();
    list.SetText("one\r\ntwo\nthree\rfour\r\n");
    EXPECT_EQ(log.Events, (std::vector<std::string>{"changing 3", "change 4"}));
    list.EndUpdate(); // an unbalanced end is harmless
    EXPECT_EQ(log.Events.size(), 2u);
}

TEST(StringList, BadIndexesRaiseStringListErrors)
{
    TStringList list;
    EventLog log;
    log.Attach(list);
    // An empty list reports the index error on its first line.
    EXPECT_EQ(IndexMessage([&] { list.Get(0); }), "List index out of bounds (0)");
    EXPECT_EQ(IndexMessage([&] { (void)list[0]; }), "List index out of bounds (0)");
    list.Add("only");
    log.Events.clear();
    EXPECT_EQ(IndexMessage([&] { list.Get(1); }), "List index out of bounds (1)");
    EXPECT_EQ(IndexMessage([&] { list.Get(-1); }), "List index out of bounds (-1)");
    EXPECT_EQ(IndexMessage([&] { list.Put(1, "x"); }), "List index out of bounds (1)");
    EXPECT_EQ(IndexMessage([&] { list.Delete(5); }), "List index out of bounds (5)");
    EXPECT_EQ(IndexMessage([&] { list.Insert(2, "x"); }), "List index out of bounds (2)");
    EXPECT_THROW(list.Get(1), EListError);
    EXPECT_TRUE(log.Events.empty()); // failed calls are no change
    list.Insert(1, "end");
    EXPECT_EQ(list.ToVector(), (std::vector<std::string>{"only", "end"}));
}

TEST(StringList, TextAssignmentAndComparison)
{
    TStringList a;
    a.SetText("l1\r\n\r\nl3");
    EXPECT_EQ(a.ToVector(), (std::vector<std::string>{"l1", "", "l3"}));
    EXPECT_EQ(a.Text(), "l1\r\n\r\nl3\r\n");
    a.SetText("");
    EXPECT_EQ(a.Count(), 0);
    EXPECT_EQ(a.Text(), "");
    a.SetText("12,5\t20\n");
    EXPECT_EQ(a.Count(), 1);

    TStringList b;
    b.SetText("x\ny");
    EXPECT_EQ(b.IndexOf("Y"), 1);
    EXPECT_EQ(b.IndexOf("z"), -1);
    EventLog log;
    log.Attach(a);
    a.Assign(&b);
    EXPECT_TRUE(a.Equals(b));
    EXPECT_EQ(log.Events, (std::vector<std::string>{"changing 1", "change 2"}));
    b.Put(0, "X");
    EXPECT_FALSE(a.Equals(b)); // letter case counts here
    a.Assign(&a);
    EXPECT_EQ(a.Count(), 2);
    a.AddStrings(a); // doubling itself, not forever
    EXPECT_EQ(a.ToVector(), (std::vector<std::string>{"x", "y", "x", "y"}));

    TStringList other;
    try {
        other.Assign(nullptr);
        FAIL() << "no error";
    } catch (const EConvertError &e) {
        EXPECT_EQ(e.Message(), "Cannot assign a nil to a TStringList");
    }
}

TEST(StringList, FreeingRaisesNoEvent)
{
    int events = 0;
    {
        TStringList list;
        list.Add("x");
        list.OnChanging = [&](TObject *) { ++events; };
        list.OnChange = [&](TObject *) { ++events; };
    }
    EXPECT_EQ(events, 0);
}

TEST(StringList, LinesFromManyThreads)
{
    TStringList list;
    std::atomic<int> changes{0};
    // A handler may read the list: events run outside the lock.
    list.OnChange = [&](TObject *Sender) {
        (void)static_cast<TStringList *>(Sender)->Count();
        changes.fetch_add(1);
    };
    constexpr int threads = 4;
    constexpr int lines = 500;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&list, t] {
            for (int i = 0; i < lines; ++i)
                list.Add("t" + std::to_string(t) + " " + std::to_string(i));
        });
    for (int i = 0; i < 200; ++i) {
        const std::string text = list.Text();
        EXPECT_TRUE(text.empty() || text.substr(text.size() - 2) == "\r\n");
    }
    for (auto &w : workers)
        w.join();
    EXPECT_EQ(list.Count(), threads * lines);
    EXPECT_EQ(changes.load(), threads * lines);
    EXPECT_NE(list.IndexOf("t3 499"), -1);
}
