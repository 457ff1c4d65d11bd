#pragma once
// TStrings / TStringList. A string list is also the debug-log target, which receives lines
// from the ANT library's thread: TStringList guards its lines with a mutex, and its change
// events run on the thread that made the change, outside the lock.
#include "framework/Persistent.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

class TStrings : public TPersistent {
public:
    std::string ClassName() const override { return "TStrings"; }
    virtual int Count() const = 0;
    virtual std::string Get(int Index) const = 0;  // EStringListError on a bad index
    virtual void Put(int Index, const std::string &S);
    virtual void Insert(int Index, const std::string &S) = 0;
    virtual void Delete(int Index) = 0;
    virtual void Clear() = 0;
    virtual int Add(const std::string &S);
    void AddStrings(const TStrings &Strings);
    virtual int IndexOf(const std::string &S) const; // case-insensitive, -1 when absent
    std::string operator[](int Index) const { return Get(Index); }
    // Lines joined with CR LF after each; SetText splits on CR LF, LF or CR.
    std::string Text() const;
    void SetText(const std::string &Value);
    std::vector<std::string> ToVector() const;
    void BeginUpdate();
    void EndUpdate();
    // A string list is copied line by line; other sources go to the base.
    void Assign(const TPersistent *Source) override;
    bool Equals(const TStrings &Other) const;

protected:
    virtual void SetUpdateState(bool Updating) { (void)Updating; }
    int UpdateCount() const { return FUpdateCount.load(); }
    // All lines at one moment (a string list takes them under its lock).
    virtual std::vector<std::string> GetLines() const;

private:
    std::atomic<int> FUpdateCount{0};
};


class TStringList : public TStrings {
public:
    TStringList() = default;
    ~TStringList() override;
    std::string ClassName() const override { return "TStringList"; }

    int Count() const override;
    std::string Get(int Index) const override;
    void Put(int Index, const std::string &S) override;
    void Insert(int Index, const std::string &S) override;
    void Delete(int Index) override;
    void Clear() override;
    int Add(const std::string &S) override;

    // Raised before and after each change (not inside BeginUpdate/EndUpdate: once at the end).
    TNotifyEvent OnChanging;
    TNotifyEvent OnChange;

protected:
    void SetUpdateState(bool Updating) override;
    std::vector<std::string> GetLines() const override;
    virtual void Changing();
    virtual void Changed();

private:
    mutable std::mutex FLock;
    std::vector<std::string> FList;
};
