#pragma once
// The store's connection and the helpers its reads and writes share.
#include "history/HistoryErrors.h"
#include "history/HistoryStore.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <functional>
#include <initializer_list>
#include <optional>

struct THistoryStore::TImpl {
    std::string Path;
    QString ConnectionName;
    QSqlDatabase Db;
    mutable std::string LastError;

    explicit TImpl(std::string FilePath);
    // Qt removes a connection only when no QSqlDatabase copy of it is left.
    ~TImpl();

    bool Connect();
    bool CheckVersion(int Version) const;
    bool Configure();
    bool Migrate();

    bool Fail(THistoryAccess Access, const QSqlError &Error) const;
    bool Fail(const std::string &Problem) const;
    // A prepared statement with its values bound in order, run; false leaves the error in it.
    bool Exec(QSqlQuery &Query, const char *Sql, std::initializer_list<QVariant> Values) const;
    // BEGIN IMMEDIATE, Body, COMMIT; a failing Body (which set LastError) or COMMIT rolls back.
    bool InTransaction(const std::function<bool()> &Body);
};

inline QVariant ToVariant(const std::string &Text) { return QString::fromStdString(Text); }

// Qt's SQLite driver binds qlonglong as an integer, but int64_t (long) as text.
inline QVariant ToVariant(const std::optional<int64_t> &Value)
{
    return Value ? QVariant(qlonglong(*Value)) : QVariant(QMetaType::fromType<qlonglong>());
}

inline QVariant ToVariant(const std::optional<int> &Value)
{
    return Value ? QVariant(*Value) : QVariant(QMetaType::fromType<int>());
}

inline QVariant ToVariant(const std::optional<double> &Value)
{
    return Value ? QVariant(*Value) : QVariant(QMetaType::fromType<double>());
}

template <typename T> std::optional<T> OptionalValue(const QVariant &Value)
{
    if (Value.isNull())
        return std::nullopt;
    return Value.value<T>();
}
