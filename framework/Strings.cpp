#include "framework/Strings.h"

#include "framework/Exception.h"
#include "framework/SysUtils.h"

namespace {

[[noreturn]] void IndexError(int Index)
{
    throw EStringListError("List index out of bounds (" + std::to_string(Index) + ")");
}

// Index must name an item or, with OrEnd, the place after the last one.
void CheckIndex(int Index, size_t Size, bool OrEnd = false)
{
    const size_t End = OrEnd ? Size + 1 : Size;
    if (Index < 0 || static_cast<size_t>(Index) >= End)
        IndexError(Index);
}

// Edit runs between BeginUpdate and EndUpdate; the update ends also when Edit throws.
template <typename F>
void InUpdate(TStrings &List, F Edit)
{
    List.BeginUpdate();
    try {
        Edit();
    } catch (...) {
        List.EndUpdate();
        throw;
    }
    List.EndUpdate();
}

} // namespace

// ---- TStrings ----------------------------------------------------------------------------------

void TStrings::Put(int Index, const std::string &S)
{
    InUpdate(*this, [&] {
        Delete(Index);
        Insert(Index, S);
    });
}

int TStrings::Add(const std::string &S)
{
    const int index = Count();
    Insert(index, S);
    return index;
}

void TStrings::AddStrings(const TStrings &Strings)
{
    // A snapshot first: adding a list to itself must not chase its own growth.
    const std::vector<std::string> lines = Strings.GetLines();
    InUpdate(*this, [&] {
        for (const std::string &line : lines)
            Add(line);
    });
}

int TStrings::IndexOf(const std::string &S) const
{
    const std::vector<std::string> lines = GetLines();
    for (size_t i = 0; i < lines.size(); ++i)
        if (SameText(lines[i], S))
            return static_cast<int>(i);
    return -1;
}

std::string TStrings::Text() const
{
    std::string text;
    for (const std::string &line : GetLines()) {
        text += line;
        text += "\r\n";
    }
    return text;
}

void TStrings::SetText(const std::string &Value)
{
    InUpdate(*this, [&] {
        Clear();
        size_t start = 0;
        const size_t n = Value.size();
        while (start < n) {
            size_t end = start;
            while (end < n && Value[end] != '\r' && Value[end] != '\n')
                ++end;
            Add(Value.substr(start, end - start));
            if (end < n && Value[end] == '\r')
                ++end;
            if (end < n && Value[end] == '\n')
                ++end;
            start = end;
        }
    });
}

std::vector<std::string> TStrings::ToVector() const
{
    return GetLines();
}

std::vector<std::string> TStrings::GetLines() const
{
    std::vector<std::string> lines;
    const int count = Count();
    lines.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        lines.push_back(Get(i));
    return lines;
}

void TStrings::BeginUpdate()
{
    if (FUpdateCount.fetch_add(1) == 0)
        SetUpdateState(true);
}

void TStrings::EndUpdate()
{
    int current = FUpdateCount.load();
    while (current > 0 && !FUpdateCount.compare_exchange_weak(current, current - 1)) {
    }
    if (current == 1)
        SetUpdateState(false);
}

void TStrings::Assign(const TPersistent *Source)
{
    const auto *source = dynamic_cast<const TStrings *>(Source);
    if (source == nullptr) {
        TPersistent::Assign(Source);
        return;
    }
    if (source == this)
        return;
    const std::vector<std::string> lines = source->GetLines();
    InUpdate(*this, [&] {
        Clear();
        for (const std::string &line : lines)
            Add(line);
    });
}

bool TStrings::Equals(const TStrings &Other) const
{
    return GetLines() == Other.GetLines();
}

// ---- TStringList -------------------------------------------------------------------------------

TStringList::~TStringList()
{
    // Freeing the list is not a change anybody is told about.
    OnChanging = nullptr;
    OnChange = nullptr;
}

int TStringList::Count() const
{
    std::lock_guard<std::mutex> guard(FLock);
    return static_cast<int>(FList.size());
}

std::string TStringList::Get(int Index) const
{
    std::lock_guard<std::mutex> guard(FLock);
    CheckIndex(Index, FList.size());
    return FList[static_cast<size_t>(Index)];
}

std::vector<std::string> TStringList::GetLines() const
{
    std::lock_guard<std::mutex> guard(FLock);
    return FList;
}

void TStringList::Put(int Index, const std::string &S)
{
    {
        std::lock_guard<std::mutex> guard(FLock);
        CheckIndex(Index, FList.size());
    }
    Changing();
    {
        std::lock_guard<std::mutex> guard(FLock);
        // Another thread may have shortened the list while the handler ran.
        CheckIndex(Index, FList.size());
        FList[static_cast<size_t>(Index)] = S;
    }
    Changed();
}

void TStringList::Insert(int Index, const std::string &S)
{
    {
        std::lock_guard<std::mutex> guard(FLock);
        CheckIndex(Index, FList.size(), true);
    }
    Changing();
    {
        std::lock_guard<std::mutex> guard(FLock);
        CheckIndex(Index, FList.size(), true);
        FList.insert(FList.begin() + Index, S);
    }
    Changed();
}

int TStringList::Add(const std::string &S)
{
    Changing();
    int index;
    {
        std::lock_guard<std::mutex> guard(FLock);
        index = static_cast<int>(FList.size());
        FList.push_back(S);
    }
    Changed();
    return index;
}

void TStringList::Delete(int Index)
{
    {
        std::lock_guard<std::mutex> guard(FLock);
        CheckIndex(Index, FList.size());
    }
    Changing();
    {
        std::lock_guard<std::mutex> guard(FLock);
        CheckIndex(Index, FList.size());
        FList.erase(FList.begin() + Index);
    }
    Changed();
}

void TStringList::Clear()
{
    if (Count() == 0)
        return;
    Changing();
    {
        std::lock_guard<std::mutex> guard(FLock);
        FList.clear();
    }
    Changed();
}

void TStringList::SetUpdateState(bool Updating)
{
    // Inside BeginUpdate/EndUpdate the listeners hear one change: before and after the batch.
    if (Updating) {
        if (OnChanging)
            OnChanging(this);
    } else {
        if (OnChange)
            OnChange(this);
    }
}

void TStringList::Changing()
{
    if (UpdateCount() == 0 && OnChanging)
        OnChanging(this);
}

void TStringList::Changed()
{
    if (UpdateCount() == 0 && OnChange)
        OnChange(this);
}
