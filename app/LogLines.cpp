#include "app/LogLines.h"

#include <cerrno>
#include <cstring>

void TLogLines::AddLineObserver(TLineObserver Observer)
{
    FObservers.push_back(std::move(Observer));
}

int TLogLines::Add(const std::string &S)
{
    const int index = TStringList::Add(S);
    DropOldest();
    Notify(S);
    return index;
}

void TLogLines::Insert(int Index, const std::string &S)
{
    TStringList::Insert(Index, S);
    DropOldest();
    Notify(S);
}

void TLogLines::DropOldest()
{
    if (FMaxLines <= 0)
        return;
    while (Count() > FMaxLines)
        Delete(0);
}

void TLogLines::Notify(const std::string &Line)
{
    for (const TLineObserver &observer : FObservers)
        observer(Line);
}

std::unique_ptr<TLogFileSink> TLogFileSink::Open(const std::string &Path, std::string &Error)
{
    if (Path == "-")
        return std::unique_ptr<TLogFileSink>(new TLogFileSink(stderr, false));
    std::FILE *file = std::fopen(Path.c_str(), "ae");
    if (!file) {
        Error = "cannot open log file '" + Path + "': " + std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<TLogFileSink>(new TLogFileSink(file, true));
}

TLogFileSink::~TLogFileSink()
{
    if (FOwned)
        std::fclose(FFile);
    else
        std::fflush(FFile);
}

void TLogFileSink::WriteLine(const std::string &Line)
{
    std::lock_guard<std::mutex> guard(FLock);
    std::fwrite(Line.data(), 1, Line.size(), FFile);
    std::fputc('\n', FFile);
    std::fflush(FFile);
}

TLogLines::TLineObserver TLogFileSink::Observer()
{
    return [this](const std::string &Line) { WriteLine(Line); };
}
