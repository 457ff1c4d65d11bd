#include "history/HistoryErrors.h"

namespace {

// SQLite's primary result codes that call for their own words.
enum : int { SqliteBusy = 5, SqliteLocked = 6, SqliteReadOnly = 8, SqliteIoErr = 10, SqliteCorrupt = 11,
             SqliteFull = 13, SqliteCantOpen = 14, SqliteNotADb = 26 };

const char *AccessWords(THistoryAccess Access)
{
    switch (Access) {
    case THistoryAccess::Open: return "cannot be opened";
    case THistoryAccess::Read: return "cannot be read";
    case THistoryAccess::Write: return "cannot be written";
    }
    return "cannot be used";
}

struct TWording {
    std::string Problem;
    std::string Advice;
};

TWording Wording(THistoryAccess Access, int Code)
{
    const std::string moveAside = "; move it aside to start a new history";
    switch (Code & 0xFF) {
    case SqliteReadOnly: return {"cannot be written", "; make the file and its folder writable"};
    case SqliteNotADb: return {"is not a history database", moveAside};
    case SqliteCorrupt: return {"is damaged", moveAside};
    case SqliteBusy:
    case SqliteLocked: return {"is in use by another program", "; close the other Fennick"};
    case SqliteFull: return {"cannot be written", "; free some disk space"};
    case SqliteCantOpen: return {"cannot be opened", ""};
    case SqliteIoErr: return {std::string(AccessWords(Access)), "; check the disk"};
    }
    return {AccessWords(Access), ""};
}

std::string Reason(const QSqlError &Error)
{
    const QString database = Error.databaseText();
    return (database.isEmpty() ? Error.driverText() : database).toStdString();
}

} // namespace

std::string HistoryErrorText(const std::string &Path, const std::string &Problem)
{
    return "The history file '" + Path + "' " + Problem;
}

std::string HistoryErrorText(const std::string &Path, THistoryAccess Access, const QSqlError &Error)
{
    bool numeric = false;
    const int code = Error.nativeErrorCode().toInt(&numeric);
    const TWording wording = Wording(Access, numeric ? code : 0);
    return HistoryErrorText(Path, wording.Problem + ": " + Reason(Error) + wording.Advice);
}
