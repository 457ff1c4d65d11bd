#pragma once
// The calibration history on disk: one SQLite file (WAL mode) through Qt SQL. Used from one
// thread (the UI thread); each store has its own database connection.
#include "history/HistoryRecords.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class THistoryStore {
public:
    // Opens or creates the file (and its folder) and brings it to the current schema. nullptr
    // with Error naming the file and why: cannot be created or written, not a database,
    // damaged, or written by a newer Fennick (such a file is left untouched).
    static std::unique_ptr<THistoryStore> Open(const std::string &Path, std::string &Error);
    ~THistoryStore();
    THistoryStore(const THistoryStore &) = delete;
    THistoryStore &operator=(const THistoryStore &) = delete;

    // Each write is one transaction, on disk when it returns true; false (0) with LastError().
    // BeginSession writes the session alone: its points come one by one through AddPoint.
    int64_t BeginSession(const THistorySession &Session);
    bool AddPoint(int64_t SessionId, const THistoryPoint &Point);
    bool EndSession(int64_t SessionId, int64_t EndedMs);
    bool AddTrainerCalibration(const THistoryTrainerCalibration &Calibration);

    // Newest first; "" lists every trainer. Sessions come with their points and samples. A
    // read that fails gives an empty list and sets LastError(), which is empty otherwise.
    std::vector<THistorySession> Sessions(const std::string &TrainerIdentity = "") const;
    std::vector<THistoryTrainerCalibration> TrainerCalibrations(const std::string &TrainerIdentity = "") const;

    // The last failure's message, "" after a call that succeeded.
    const std::string &LastError() const;
    const std::string &Path() const;

private:
    struct TImpl;
    explicit THistoryStore(std::unique_ptr<TImpl> Impl);
    std::unique_ptr<TImpl> FImpl;
};
