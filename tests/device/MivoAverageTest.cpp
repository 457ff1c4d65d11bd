#include "device/MivoAverage.h"

#include <gtest/gtest.h>

TEST(MivoAverage, FillsUpFromZeroThenFollowsTheWindow)
{
    TMivoAverage a;
    EXPECT_EQ(a.Average(), 0.0) << "an empty window averages to 0";
    a.Resize(3);
    std::vector<double> seen;
    for (double x : {30.0, 30.0, 30.0, 30.0, 0.0, 0.0, 0.0})
        a.Add(x), seen.push_back(a.Average());
    EXPECT_EQ(seen, (std::vector<double>{10, 20, 30, 30, 20, 10, 0}));
}

TEST(MivoAverage, LengthOneHoldsTheLastSample)
{
    TMivoAverage a;
    a.Resize(1);
    a.Add(7.5);
    a.Add(-2.25);
    EXPECT_EQ(a.Average(), -2.25);
}

TEST(MivoAverage, ResizeKeepsTheNewestAndIgnoresNonPositiveLengths)
{
    TMivoAverage a;
    a.Resize(4);
    for (double x : {1.0, 2.0, 3.0, 4.0})
        a.Add(x); // window: 4 3 2 1
    a.Resize(2);  // 4 3
    EXPECT_EQ(a.Average(), 3.5);
    a.Resize(0);
    a.Resize(-5);
    EXPECT_EQ(a.Length(), 2);
    a.Resize(4); // 4 3 0 0
    EXPECT_EQ(a.Average(), 1.75);
}

TEST(MivoAverage, ClearZeroesButKeepsTheLength)
{
    TMivoAverage a;
    a.Resize(2);
    a.Add(8);
    a.Add(6);
    a.Clear();
    EXPECT_EQ(a.Length(), 2);
    EXPECT_EQ(a.Average(), 0.0);
    a.Add(8);
    EXPECT_EQ(a.Average(), 4.0);
}

TEST(MivoAverage, AddingToAnEmptyWindowIsHarmless)
{
    TMivoAverage a;
    a.Add(12);
    EXPECT_EQ(a.Length(), 0);
    EXPECT_EQ(a.Average(), 0.0);
}
