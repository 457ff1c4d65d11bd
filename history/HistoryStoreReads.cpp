#include "history/HistorySamples.h"
#include "history/HistoryStoreImpl.h"

#include <unordered_map>

namespace {

std::string Text(const QSqlQuery &Query, int Column) { return Query.value(Column).toString().toStdString(); }

// "" lists every trainer; the filter goes into the query so that the index on it is used.
QString WithTrainerFilter(const char *Select, const char *Filter, const char *Order, const std::string &Trainer)
{
    QString sql = QString::fromUtf8(Select);
    if (!Trainer.empty())
        sql += QLatin1Char(' ') + QString::fromUtf8(Filter);
    return sql + QLatin1Char(' ') + QString::fromUtf8(Order);
}

bool Run(QSqlQuery &Query, const QString &Sql, const std::string &Trainer)
{
    Query.setForwardOnly(true);
    if (!Query.prepare(Sql))
        return false;
    if (!Trainer.empty())
        Query.addBindValue(QString::fromStdString(Trainer));
    return Query.exec();
}

THistorySession SessionFrom(const QSqlQuery &Query)
{
    THistorySession session;
    session.Id = Query.value(0).toLongLong();
    session.StartedMs = Query.value(1).toLongLong();
    if (!Query.value(2).isNull())
        session.EndedMs = Query.value(2).toLongLong();
    session.TrainerIdentity = Text(Query, 3);
    session.DeviceNumber = Query.value(4).toInt();
    session.UnitType = Query.value(5).toDouble();
    session.SettingsFile = Text(Query, 6);
    session.AppVersion = Text(Query, 7);
    return session;
}

// Column 0 is the session's id.
THistoryPoint PointFrom(const QSqlQuery &Query)
{
    THistoryPoint point;
    point.Name = Text(Query, 1);
    point.Level = Query.value(2).toInt();
    point.TargetKmh = Query.value(3).toDouble();
    point.StartedSeconds = Query.value(4).toDouble();
    point.Settled = Query.value(5).toInt() != 0;
    point.MeanKmh = Query.value(6).toDouble();
    point.StdDevKmh = Query.value(7).toDouble();
    point.SettleSeconds = Query.value(8).toDouble();
    point.DeviationKmh = Query.value(9).toDouble();
    point.DeviationPercent = OptionalValue<double>(Query.value(10));
    const QByteArray samples = Query.value(11).toByteArray();
    point.Samples = DecodeHistorySamples(samples.constData(), size_t(samples.size()));
    return point;
}

THistoryTrainerCalibration CalibrationFrom(const QSqlQuery &Query)
{
    THistoryTrainerCalibration calibration;
    calibration.Id = Query.value(0).toLongLong();
    calibration.TimeMs = Query.value(1).toLongLong();
    calibration.TrainerIdentity = Text(Query, 2);
    calibration.DeviceNumber = Query.value(3).toInt();
    calibration.Kinds = Text(Query, 4);
    calibration.Outcome = Text(Query, 5);
    calibration.SpinDownMs = OptionalValue<int>(Query.value(6));
    calibration.ZeroOffset = OptionalValue<int>(Query.value(7));
    calibration.TemperatureC = OptionalValue<double>(Query.value(8));
    calibration.EndText = Text(Query, 9);
    return calibration;
}

} // namespace

std::vector<THistorySession> THistoryStore::Sessions(const std::string &TrainerIdentity) const
{
    FImpl->LastError.clear();
    std::vector<THistorySession> sessions;
    std::unordered_map<int64_t, size_t> indexById;
    QSqlQuery query(FImpl->Db);
    if (!Run(query,
             WithTrainerFilter("SELECT id, started_ms, ended_ms, trainer_identity, device_number, unit_type,"
                               " settings_file, app_version FROM sessions",
                               "WHERE trainer_identity = ?", "ORDER BY started_ms DESC, id DESC", TrainerIdentity),
             TrainerIdentity)) {
        FImpl->Fail(THistoryAccess::Read, query.lastError());
        return {};
    }
    while (query.next()) {
        sessions.push_back(SessionFrom(query));
        indexById.emplace(sessions.back().Id, sessions.size() - 1);
    }
    QSqlQuery points(FImpl->Db);
    if (!Run(points,
             WithTrainerFilter("SELECT p.session_id, p.name, p.level, p.target_kmh, p.started_seconds, p.settled,"
                               " p.mean_kmh, p.stddev_kmh, p.settle_seconds, p.deviation_kmh, p.deviation_percent,"
                               " p.samples FROM points p JOIN sessions s ON s.id = p.session_id",
                               "WHERE s.trainer_identity = ?", "ORDER BY p.session_id, p.position", TrainerIdentity),
             TrainerIdentity)) {
        FImpl->Fail(THistoryAccess::Read, points.lastError());
        return {};
    }
    while (points.next()) {
        const auto session = indexById.find(points.value(0).toLongLong());
        if (session != indexById.end())
            sessions[session->second].Points.push_back(PointFrom(points));
    }
    // A read that stopped early (a damaged page) ends the loop as the last row would.
    if (query.lastError().isValid() || points.lastError().isValid()) {
        FImpl->Fail(THistoryAccess::Read, query.lastError().isValid() ? query.lastError() : points.lastError());
        return {};
    }
    return sessions;
}

std::vector<THistoryTrainerCalibration> THistoryStore::TrainerCalibrations(const std::string &TrainerIdentity) const
{
    FImpl->LastError.clear();
    std::vector<THistoryTrainerCalibration> calibrations;
    QSqlQuery query(FImpl->Db);
    if (!Run(query,
             WithTrainerFilter("SELECT id, time_ms, trainer_identity, device_number, kinds, outcome, spin_down_ms,"
                               " zero_offset, temperature_c, end_text FROM trainer_calibrations",
                               "WHERE trainer_identity = ?", "ORDER BY time_ms DESC, id DESC", TrainerIdentity),
             TrainerIdentity)) {
        FImpl->Fail(THistoryAccess::Read, query.lastError());
        return {};
    }
    while (query.next())
        calibrations.push_back(CalibrationFrom(query));
    if (query.lastError().isValid()) {
        FImpl->Fail(THistoryAccess::Read, query.lastError());
        return {};
    }
    return calibrations;
}
