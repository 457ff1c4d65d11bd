#include "history/HistoryStore.h"

#include "history/HistorySamples.h"
#include "history/HistorySchema.h"
#include "history/HistoryStoreImpl.h"

#include <atomic>
#include <filesystem>
#include <system_error>

namespace {

QString UniqueConnectionName()
{
    static std::atomic<unsigned long long> next{0};
    return QStringLiteral("fennick-history-%1").arg(++next);
}

bool CreateFolder(const std::string &Path, std::string &Error)
{
    const std::filesystem::path folder = std::filesystem::path(Path).parent_path();
    std::error_code error;
    if (folder.empty() || std::filesystem::is_directory(folder, error))
        return true;
    if (std::filesystem::create_directories(folder, error))
        return true;
    Error = HistoryErrorText(Path, "cannot be created: cannot create the folder '" + folder.string() +
                                       "': " + error.message());
    return false;
}

} // namespace

THistoryStore::TImpl::TImpl(std::string FilePath) : Path(std::move(FilePath)), ConnectionName(UniqueConnectionName())
{
}

THistoryStore::TImpl::~TImpl()
{
    if (!Db.isValid())
        return;
    Db.close();
    Db = QSqlDatabase();
    QSqlDatabase::removeDatabase(ConnectionName);
}

bool THistoryStore::TImpl::Fail(THistoryAccess Access, const QSqlError &Error) const
{
    LastError = HistoryErrorText(Path, Access, Error);
    return false;
}

bool THistoryStore::TImpl::Fail(const std::string &Problem) const
{
    LastError = HistoryErrorText(Path, Problem);
    return false;
}

bool THistoryStore::TImpl::Exec(QSqlQuery &Query, const char *Sql, std::initializer_list<QVariant> Values) const
{
    if (!Query.prepare(QString::fromUtf8(Sql)))
        return false;
    for (const QVariant &value : Values)
        Query.addBindValue(value);
    return Query.exec();
}

bool THistoryStore::TImpl::InTransaction(const std::function<bool()> &Body)
{
    QSqlQuery begin(Db);
    if (!begin.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return Fail(THistoryAccess::Write, begin.lastError());
    if (Body()) {
        QSqlQuery commit(Db);
        if (commit.exec(QStringLiteral("COMMIT")))
            return true;
        Fail(THistoryAccess::Write, commit.lastError());
    }
    QSqlQuery(Db).exec(QStringLiteral("ROLLBACK"));
    return false;
}

bool THistoryStore::TImpl::Connect()
{
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
        return Fail("cannot be opened: Qt's SQLite driver is missing (install libqt6sql6-sqlite)");
    Db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), ConnectionName);
    Db.setDatabaseName(QString::fromStdString(Path));
    return Db.open() || Fail(THistoryAccess::Open, Db.lastError());
}

bool THistoryStore::TImpl::CheckVersion(int Version) const
{
    if (Version == ForeignSchemaVersion)
        return Fail("is not a Fennick history file but another program's database; move it aside or "
                    "choose another file");
    if (Version > HistorySchemaVersion)
        return Fail("was written by a newer Fennick (history version " + std::to_string(Version) +
                    "; this one knows up to " + std::to_string(HistorySchemaVersion) +
                    "); it is left as it is: update Fennick to use it");
    return true;
}

// foreign_keys is off by default in every connection. synchronous=FULL: in WAL mode NORMAL
// does not sync at each commit, so a pulled plug could take back sessions ended minutes ago;
// FULL costs one fsync per write, and the store writes a few times a minute.
bool THistoryStore::TImpl::Configure()
{
    QSqlQuery query(Db);
    if (!query.exec(QStringLiteral("PRAGMA foreign_keys = ON")))
        return Fail(THistoryAccess::Open, query.lastError());
    // The version is looked at before anything may change the file: a newer one stays as it is.
    int version = 0;
    QSqlError error;
    if (!ReadHistorySchemaVersion(Db, version, error))
        return Fail(THistoryAccess::Read, error);
    if (!CheckVersion(version))
        return false;
    if (!query.exec(QStringLiteral("PRAGMA journal_mode = WAL")))
        return Fail(THistoryAccess::Write, query.lastError());
    if (!query.next() || query.value(0).toString() != QStringLiteral("wal"))
        return Fail("cannot be written: it cannot be switched to write-ahead logging");
    query.finish();
    if (!query.exec(QStringLiteral("PRAGMA synchronous = FULL")))
        return Fail(THistoryAccess::Write, query.lastError());
    return true;
}

// Another Fennick may have created or migrated the file since Configure looked: the version is
// read again under the write lock.
bool THistoryStore::TImpl::Migrate()
{
    return InTransaction([this] {
        int version = 0;
        QSqlError error;
        if (!ReadHistorySchemaVersion(Db, version, error))
            return Fail(THistoryAccess::Read, error);
        if (!CheckVersion(version))
            return false;
        if (!UpgradeHistorySchema(Db, version, error))
            return Fail(THistoryAccess::Write, error);
        // SQLite opens a file it may not write read-only without a word, and in WAL mode an
        // empty write transaction passes: a write that changes nothing finds out at once.
        QSqlQuery probe(Db);
        return probe.exec(QStringLiteral("UPDATE schema_version SET version = version")) ||
               Fail(THistoryAccess::Write, probe.lastError());
    });
}

std::unique_ptr<THistoryStore> THistoryStore::Open(const std::string &Path, std::string &Error)
{
    auto impl = std::make_unique<TImpl>(Path);
    if (!CreateFolder(Path, Error))
        return nullptr;
    if (!impl->Connect() || !impl->Configure() || !impl->Migrate()) {
        Error = impl->LastError;
        return nullptr;
    }
    impl->LastError.clear();
    return std::unique_ptr<THistoryStore>(new THistoryStore(std::move(impl)));
}

THistoryStore::THistoryStore(std::unique_ptr<TImpl> Impl) : FImpl(std::move(Impl)) {}

THistoryStore::~THistoryStore() = default;

const std::string &THistoryStore::LastError() const { return FImpl->LastError; }

const std::string &THistoryStore::Path() const { return FImpl->Path; }
