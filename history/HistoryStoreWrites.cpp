#include "history/HistorySamples.h"
#include "history/HistoryStoreImpl.h"

namespace {

QVariant SamplesBlob(const std::vector<THistorySample> &Samples)
{
    const std::string bytes = EncodeHistorySamples(Samples);
    return QByteArray(bytes.data(), qsizetype(bytes.size()));
}

} // namespace

int64_t THistoryStore::BeginSession(const THistorySession &Session)
{
    FImpl->LastError.clear();
    int64_t id = 0;
    const bool written = FImpl->InTransaction([&] {
        QSqlQuery insert(FImpl->Db);
        if (!FImpl->Exec(insert,
                         "INSERT INTO sessions (started_ms, ended_ms, trainer_identity, device_number, unit_type,"
                         " settings_file, app_version) VALUES (?, ?, ?, ?, ?, ?, ?)",
                         {qlonglong(Session.StartedMs), ToVariant(Session.EndedMs), ToVariant(Session.TrainerIdentity),
                          Session.DeviceNumber, Session.UnitType, ToVariant(Session.SettingsFile),
                          ToVariant(Session.AppVersion)}))
            return FImpl->Fail(THistoryAccess::Write, insert.lastError());
        id = insert.lastInsertId().toLongLong();
        return true;
    });
    return written ? id : 0;
}

bool THistoryStore::AddPoint(int64_t SessionId, const THistoryPoint &Point)
{
    FImpl->LastError.clear();
    return FImpl->InTransaction([&] {
        // The next position in the session, and whether there is such a session at all.
        QSqlQuery next(FImpl->Db);
        if (!FImpl->Exec(next,
                         "SELECT (SELECT count(*) FROM sessions WHERE id = ?),"
                         " (SELECT coalesce(max(position) + 1, 0) FROM points WHERE session_id = ?)",
                         {qlonglong(SessionId), qlonglong(SessionId)}) ||
            !next.next())
            return FImpl->Fail(THistoryAccess::Read, next.lastError());
        if (next.value(0).toInt() == 0)
            return FImpl->Fail("has no session " + std::to_string(SessionId) + " to add the point " + Point.Name + " to");
        const int position = next.value(1).toInt();
        next.finish();
        QSqlQuery insert(FImpl->Db);
        return FImpl->Exec(insert,
                           "INSERT INTO points (session_id, position, name, level, target_kmh, started_seconds,"
                           " settled, mean_kmh, stddev_kmh, settle_seconds, deviation_kmh, deviation_percent, samples)"
                           " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                           {qlonglong(SessionId), position, ToVariant(Point.Name), Point.Level, Point.TargetKmh,
                            Point.StartedSeconds, int(Point.Settled), Point.MeanKmh, Point.StdDevKmh,
                            Point.SettleSeconds, Point.DeviationKmh, ToVariant(Point.DeviationPercent),
                            SamplesBlob(Point.Samples)}) ||
               FImpl->Fail(THistoryAccess::Write, insert.lastError());
    });
}

bool THistoryStore::EndSession(int64_t SessionId, int64_t EndedMs)
{
    FImpl->LastError.clear();
    return FImpl->InTransaction([&] {
        QSqlQuery update(FImpl->Db);
        if (!FImpl->Exec(update, "UPDATE sessions SET ended_ms = ? WHERE id = ?",
                         {qlonglong(EndedMs), qlonglong(SessionId)}))
            return FImpl->Fail(THistoryAccess::Write, update.lastError());
        return update.numRowsAffected() == 1 ||
               FImpl->Fail("has no session " + std::to_string(SessionId) + " to end");
    });
}

bool THistoryStore::AddTrainerCalibration(const THistoryTrainerCalibration &Calibration)
{
    FImpl->LastError.clear();
    return FImpl->InTransaction([&] {
        QSqlQuery insert(FImpl->Db);
        return FImpl->Exec(insert,
                           "INSERT INTO trainer_calibrations (time_ms, trainer_identity, device_number, kinds,"
                           " outcome, spin_down_ms, zero_offset, temperature_c, end_text)"
                           " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
                           {qlonglong(Calibration.TimeMs), ToVariant(Calibration.TrainerIdentity),
                            Calibration.DeviceNumber, ToVariant(Calibration.Kinds), ToVariant(Calibration.Outcome),
                            ToVariant(Calibration.SpinDownMs), ToVariant(Calibration.ZeroOffset),
                            ToVariant(Calibration.TemperatureC), ToVariant(Calibration.EndText)}) ||
               FImpl->Fail(THistoryAccess::Write, insert.lastError());
    });
}
