#pragma once
// A point's samples as one BLOB: listing thousands of sessions then reads one column per point
// instead of one row per sample.
#include "history/HistoryRecords.h"

#include <string>
#include <vector>

// Pairs of IEEE-754 doubles (seconds, km/h), little-endian, 16 bytes a sample.
std::string EncodeHistorySamples(const std::vector<THistorySample> &Samples);
// A trailing partial sample (a damaged BLOB) is dropped.
std::vector<THistorySample> DecodeHistorySamples(const char *Bytes, size_t Size);
