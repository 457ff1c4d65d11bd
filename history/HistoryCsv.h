#pragma once
// The history as a CSV file to compare runs in a spreadsheet: RFC 4180, UTF-8, a header row,
// CRLF line ends. One row per point ("point"), per session without points ("session") and per
// trainer calibration ("trainer calibration"), told apart by the column "record". Times are
// ISO 8601 UTC, numbers have a decimal point whatever the locale.
#include "history/HistoryRecords.h"

#include <ostream>
#include <vector>

void WriteHistoryCsv(const std::vector<THistorySession> &Sessions,
                     const std::vector<THistoryTrainerCalibration> &Calibrations, std::ostream &Out);
