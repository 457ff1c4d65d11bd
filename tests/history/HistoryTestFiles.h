#pragma once
// A fresh folder per test, and raw SQL on a history file beside the store, as another
// program (or an older Fennick) would see it.
#include "history/HistoryRecords.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace fennick::test {

class TempFolder {
public:
    TempFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "fennick-history-XXXXXX").string();
        FPath = ::mkdtemp(pattern.data());
    }
    ~TempFolder()
    {
        std::error_code ignored;
        std::filesystem::permissions(FPath, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(FPath, ignored);
    }
    std::string File(const std::string &Name) const { return (FPath / Name).string(); }
    const std::filesystem::path &Path() const { return FPath; }

private:
    std::filesystem::path FPath;
};

// Its own connection, removed when it goes.
class RawDatabase {
public:
    explicit RawDatabase(const std::string &File)
        : FName(QStringLiteral("raw-%1").arg(++Counter()))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), FName);
        db.setDatabaseName(QString::fromStdString(File));
        EXPECT_TRUE(db.open()) << db.lastError().text().toStdString();
    }
    ~RawDatabase()
    {
        QSqlDatabase::database(FName, false).close();
        QSqlDatabase::removeDatabase(FName);
    }
    void Exec(const std::string &Sql)
    {
        QSqlQuery query(QSqlDatabase::database(FName, false));
        EXPECT_TRUE(query.exec(QString::fromStdString(Sql)))
            << Sql << ": " << query.lastError().text().toStdString();
    }
    // The first column of the first row, as text.
    std::string Value(const std::string &Sql)
    {
        QSqlQuery query(QSqlDatabase::database(FName, false));
        if (!query.exec(QString::fromStdString(Sql)) || !query.next())
            return "error: " + query.lastError().text().toStdString();
        return query.value(0).toString().toStdString();
    }

private:
    static std::atomic<int> &Counter()
    {
        static std::atomic<int> counter{0};
        return counter;
    }
    QString FName;
};

inline std::string FileBytes(const std::string &File)
{
    std::ifstream in(File, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline THistoryPoint MakePoint(const std::string &Name, int Level, double TargetKmh, int SampleCount)
{
    THistoryPoint point;
    point.Name = Name;
    point.Level = Level;
    point.TargetKmh = TargetKmh;
    point.StartedSeconds = 12.5 * Level;
    point.Settled = true;
    point.MeanKmh = TargetKmh + 0.25;
    point.StdDevKmh = 0.125;
    point.SettleSeconds = 7.5;
    point.DeviationKmh = 0.25;
    point.DeviationPercent = 0.25 / TargetKmh * 100.0;
    for (int i = 0; i < SampleCount; ++i)
        point.Samples.push_back({point.StartedSeconds + 0.25 * i, TargetKmh + 0.001 * i});
    return point;
}

} // namespace fennick::test
