#include "app/LogLines.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include <unistd.h>

namespace {

std::string ReadAll(const std::string &Path)
{
    std::ifstream in(Path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(LogLinesTest, ObserversSeeEveryAddedLineInTheListToo)
{
    TLogLines lines;
    std::vector<std::string> seen;
    lines.AddLineObserver([&](const std::string &Line) {
        seen.push_back(Line);
        EXPECT_GE(lines.IndexOf(Line), 0) << "already in the list";
    });
    lines.Add("first");
    lines.Insert(0, "second");
    lines.Put(0, "changed");  // a change, not a new line
    EXPECT_EQ(seen, (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(lines.ToVector(), (std::vector<std::string>{"changed", "first"}));
}

TEST(LogLinesTest, ALineLimitKeepsTheNewestLinesWhileObserversSeeThemAll)
{
    TLogLines lines;
    lines.SetMaxLines(3);
    int seen = 0;
    lines.AddLineObserver([&](const std::string &) { ++seen; });
    for (const char *line : {"a", "b", "c", "d", "e"})
        lines.Add(line);
    lines.Insert(0, "f");  // an insert at the front is the oldest and goes at once
    EXPECT_EQ(lines.ToVector(), (std::vector<std::string>{"c", "d", "e"}));
    EXPECT_EQ(seen, 6);
}

TEST(LogLinesTest, TheFileCopyHasEveryLineWholeFromManyThreads)
{
    char pattern[] = "/tmp/fennick-log-XXXXXX";
    const int fd = mkstemp(pattern);
    ASSERT_GE(fd, 0);
    close(fd);
    const std::string path = pattern;
    {
        std::ofstream(path) << "kept from before\n";
        std::string error;
        std::unique_ptr<TLogFileSink> sink = TLogFileSink::Open(path, error);
        ASSERT_NE(sink, nullptr) << error;
        TLogLines lines;
        lines.AddLineObserver(sink->Observer());
        constexpr int PerThread = 300;
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                for (int i = 0; i < PerThread; ++i)
                    lines.Add("thread " + std::to_string(t) + " line " + std::to_string(i) +
                              " -----------------------------------------------------------------");
            });
        for (auto &th : threads)
            th.join();
        EXPECT_EQ(lines.Count(), 4 * PerThread);
    }
    std::istringstream text(ReadAll(path));
    std::string line;
    std::getline(text, line);
    EXPECT_EQ(line, "kept from before") << "the file is appended to";
    std::set<std::string> lines;
    while (std::getline(text, line)) {
        EXPECT_TRUE(line.rfind("thread ", 0) == 0 && line.size() > 70) << line;
        lines.insert(line);
    }
    EXPECT_EQ(lines.size(), 4u * 300u);
    std::remove(path.c_str());
}

} // namespace
