#pragma once
// The debug log's lines, with observers that see each line as it is added (from whatever
// thread adds it), and the file sink behind --log that keeps a copy for support.
#include "framework/Strings.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// A string list that also hands every added line to its observers, on the adding thread,
// after the line is in the list. Observers are added before lines arrive. With a line limit
// the list keeps only the newest lines (an hour of debug rows would otherwise stay in memory);
// observers still see every line.
class TLogLines : public TStringList {
public:
    using TLineObserver = std::function<void(const std::string &Line)>;
    void AddLineObserver(TLineObserver Observer);
    // 0: no limit.
    void SetMaxLines(int MaxLines) { FMaxLines = MaxLines; }

    int Add(const std::string &S) override;
    void Insert(int Index, const std::string &S) override;

private:
    void Notify(const std::string &Line);
    void DropOldest();
    std::vector<TLineObserver> FObservers;
    int FMaxLines = 0;
};

// Appends lines to a file (or to standard error), each written whole and flushed at once, so
// the copy is complete up to the last line even if the process dies.
class TLogFileSink {
public:
    // "-" is standard error. A file is opened for appending; nullptr with `Error` set when it
    // cannot be.
    static std::unique_ptr<TLogFileSink> Open(const std::string &Path, std::string &Error);
    ~TLogFileSink();
    TLogFileSink(const TLogFileSink &) = delete;
    TLogFileSink &operator=(const TLogFileSink &) = delete;

    void WriteLine(const std::string &Line);
    // An observer for TLogLines that writes into this sink.
    TLogLines::TLineObserver Observer();

private:
    TLogFileSink(std::FILE *File, bool Owned) : FFile(File), FOwned(Owned) {}
    std::mutex FLock;
    std::FILE *FFile;
    bool FOwned;
};
