#pragma once
// A strict RFC 4180 reader for tests of the CSV the history writes.
#include <stdexcept>
#include <string>
#include <vector>

namespace fennick::test {

using TRecord = std::vector<std::string>;

// Strict RFC 4180: every record ends with CRLF; quoted fields may hold commas, CR, LF and
// doubled quotes. A bare LF or CR outside quotes, or text after a closing quote, is an error.
inline std::vector<TRecord> ReadCsv(const std::string &Text)
{
    std::vector<TRecord> records;
    TRecord record;
    std::string field;
    size_t i = 0;
    while (i < Text.size()) {
        if (Text[i] == '"') {
            for (++i;; ++i) {
                if (i >= Text.size())
                    throw std::runtime_error("unterminated quote");
                if (Text[i] == '"' && i + 1 < Text.size() && Text[i + 1] == '"')
                    field += Text[++i];
                else if (Text[i] == '"')
                    break;
                else
                    field += Text[i];
            }
            ++i;
        } else {
            while (i < Text.size() && Text[i] != ',' && Text[i] != '\r' && Text[i] != '\n') {
                if (Text[i] == '"')
                    throw std::runtime_error("quote inside an unquoted field");
                field += Text[i++];
            }
        }
        record.push_back(field);
        field.clear();
        if (i < Text.size() && Text[i] == ',') {
            ++i;
            continue;
        }
        if (Text.compare(i, 2, "\r\n") != 0)
            throw std::runtime_error("record not ended by CRLF at " + std::to_string(i));
        i += 2;
        records.push_back(record);
        record.clear();
    }
    return records;
}

} // namespace fennick::test
