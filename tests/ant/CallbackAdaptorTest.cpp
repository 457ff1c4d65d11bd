// The libffi adaptors as the library sees them: plain function pointers called from its own
// thread, sometimes from inside another callback.
#include "ant/CallbackAdaptor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

struct TProbe {
    explicit TProbe(int Id) : Id(Id) {}
    virtual ~TProbe() = default;
    virtual bool On(uint8_t A, uint8_t B)
    {
        Calls.fetch_add(1);
        LastA.store(A);
        LastB.store(B);
        return (A ^ B) & 1;
    }
    int Id;
    std::atomic<int> Calls{0};
    std::atomic<int> LastA{-1}, LastB{-1};
};

struct TOverridingProbe : TProbe {
    using TProbe::TProbe;
    bool On(uint8_t, uint8_t) override
    {
        Overridden.store(true);
        return true;
    }
    std::atomic<bool> Overridden{false};
};

} // namespace

TEST(CallbackAdaptor, ForwardsBothBytesAndTheResult)
{
    TProbe probe(1);
    auto adaptor = MakeCallbackAdaptor(&probe, &TProbe::On);
    TAntCallbackEntry entry = adaptor->EntryPoint();
    ASSERT_NE(entry, nullptr);

    EXPECT_TRUE(entry(0x02, 0x9B));
    EXPECT_EQ(probe.LastA, 0x02);
    EXPECT_EQ(probe.LastB, 0x9B);
    // A false answer must come back false, whatever the upper bits of the return register.
    EXPECT_FALSE(entry(0xFF, 0x01));
    EXPECT_EQ(probe.LastA, 0xFF);
    EXPECT_EQ(probe.LastB, 0x01);
    EXPECT_EQ(probe.Calls, 2);
}

TEST(CallbackAdaptor, AnOverrideReceivesTheCalls)
{
    TOverridingProbe probe(1);
    auto adaptor = MakeCallbackAdaptor<TProbe>(&probe, &TProbe::On);
    EXPECT_TRUE(adaptor->EntryPoint()(0, 0));
    EXPECT_TRUE(probe.Overridden);
    EXPECT_EQ(probe.Calls, 0);
}

TEST(CallbackAdaptor, ManyAdaptorsAreDistinctEntryPointsForDistinctObjects)
{
    constexpr int n = 40;
    std::vector<std::unique_ptr<TProbe>> probes;
    std::vector<std::unique_ptr<TCallbackAdaptor>> adaptors;
    std::set<TAntCallbackEntry> entries;
    for (int i = 0; i < n; ++i) {
        probes.push_back(std::make_unique<TProbe>(i));
        adaptors.push_back(MakeCallbackAdaptor(probes.back().get(), &TProbe::On));
        entries.insert(adaptors.back()->EntryPoint());
    }
    EXPECT_EQ(entries.size(), size_t(n));
    for (int i = 0; i < n; ++i)
        adaptors[i]->EntryPoint()(uint8_t(i), uint8_t(2 * i));
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(probes[i]->Calls, 1) << i;
        EXPECT_EQ(probes[i]->LastA, i);
        EXPECT_EQ(probes[i]->LastB, 2 * i);
    }
    // Freeing some leaves the others working.
    for (int i = 0; i < n; i += 2)
        adaptors[i].reset();
    adaptors[1]->EntryPoint()(7, 8);
    EXPECT_EQ(probes[1]->LastA, 7);
}

TEST(CallbackAdaptor, CallableFromOtherThreadsAtTheSameTime)
{
    TProbe shared(0);
    auto adaptor = MakeCallbackAdaptor(&shared, &TProbe::On);
    const std::thread::id mainThread = std::this_thread::get_id();
    std::atomic<int> foreign{0};
    auto counting = std::make_unique<TCallbackAdaptor>([&](uint8_t, uint8_t) {
        if (std::this_thread::get_id() != mainThread)
            foreign.fetch_add(1);
        return true;
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                adaptor->EntryPoint()(uint8_t(i), 0);
                counting->EntryPoint()(0, 0);
            }
        });
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(shared.Calls, 2000);
    EXPECT_EQ(foreign, 2000);
}

TEST(CallbackAdaptor, ReentrantCallsEachGetTheirOwnArgumentsAndResult)
{
    // An adaptor's target calls another adaptor and itself again before it returns, as a
    // handler raised inside a callback may.
    std::vector<int> seen;
    std::unique_ptr<TCallbackAdaptor> inner, outer;
    inner = std::make_unique<TCallbackAdaptor>([&](uint8_t a, uint8_t b) {
        seen.push_back(100 + a);
        return b == 1;
    });
    outer = std::make_unique<TCallbackAdaptor>([&](uint8_t depth, uint8_t b) {
        seen.push_back(depth);
        bool deeper = true;
        if (depth < 3)
            deeper = outer->EntryPoint()(uint8_t(depth + 1), b);
        const bool innerResult = inner->EntryPoint()(depth, uint8_t(depth % 2));
        seen.push_back(200 + depth);
        return deeper && innerResult == (depth % 2 == 1) && b == 0x5A;
    });
    EXPECT_TRUE(outer->EntryPoint()(0, 0x5A));
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 103, 203, 102, 202, 101, 201, 100, 200}));
    EXPECT_FALSE(outer->EntryPoint()(3, 0x00));
}

TEST(CallbackAdaptor, AThrowingTargetAnswersFalseInsteadOfUnwindingIntoTheCaller)
{
    TCallbackAdaptor adaptor([](uint8_t, uint8_t) -> bool { throw std::runtime_error("handler failed"); });
    EXPECT_FALSE(adaptor.EntryPoint()(1, 2));
}
