// Hive files come from the user (possibly exported on another machine): the parser must
// survive any bytes, and a hive that parses completely must stay parseable after a write,
// with the written value readable and everything else unchanged.
#include "platform/Registry.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

bool HasText(const THiveParseResult &hive, const std::string &text)
{
    for (const auto &k : hive.Keys)
        for (const auto &v : k.Values)
            if (!k.Deletion && !v.Deletion && v.Type == REG_SZ && v.Text == text)
                return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    const THiveParseResult parsed = ParseHive(bytes);
    if (parsed.Complete != (parsed.ErrorLine == 0))
        std::abort();

    TRegHiveValue value;
    value.Type = REG_SZ;
    value.Name = "Fuzz \"name\"\\";
    value.Text = "C:\\x \"y\"";
    const std::string newKey = "HKEY_CURRENT_USER\\Software\\FuzzKey";
    std::string written;
    if (!SetHiveValue(bytes, newKey, value, written)) {
        if (parsed.Complete)
            std::abort();
        return 0;
    }
    const THiveParseResult again = ParseHive(written);
    if (!again.Complete || again.Utf16 != parsed.Utf16 || !HasText(again, value.Text))
        std::abort();
    // Overwriting the first plain value in place keeps the hive parseable as well.
    for (const auto &k : again.Keys) {
        if (k.Deletion || k.Values.empty() || k.Values.front().Deletion)
            continue;
        TRegHiveValue replace = value;
        replace.Name = k.Values.front().Name;
        replace.Text = "line1\nline2";
        std::string second;
        if (!SetHiveValue(written, k.Path, replace, second)) {
            // Only a name that cannot stand on one line may be refused.
            if (replace.Name.find_first_of(std::string("\r\n\0", 3)) == std::string::npos)
                std::abort();
            break;
        }
        const THiveParseResult third = ParseHive(second);
        if (!third.Complete || !HasText(third, replace.Text))
            std::abort();
        break;
    }
    return 0;
}
