#include "ant/channels/NetworkKeys.h"

#include "framework/SysUtils.h"

#include <cstdlib>

#ifndef FENNICK_ANTPLUS_NETWORK_KEY
#define FENNICK_ANTPLUS_NETWORK_KEY ""
#endif
#ifndef FENNICK_PUBLIC_NETWORK_KEY
#define FENNICK_PUBLIC_NETWORK_KEY ""
#endif

namespace {

TAntNetworkKey LoadKey(const char *EnvName, const char *BuildValue)
{
    // A key that is set but malformed is not used at all: a half-parsed key would look valid
    // to the sequencer and fail only on the air.
    if (const char *env = std::getenv(EnvName); env != nullptr && *env != '\0') {
        if (auto key = ParseNetworkKey(env))
            return *key;
        return TAntNetworkKey{};
    }
    if (auto key = ParseNetworkKey(BuildValue))
        return *key;
    return TAntNetworkKey{};
}

} // namespace

std::optional<TAntNetworkKey> ParseNetworkKey(const std::string &Text)
{
    std::string digits;
    size_t start = 0;
    if (Text.size() >= 2 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X'))
        start = 2;
    for (size_t i = start; i < Text.size(); ++i) {
        char c = Text[i];
        if (c == ' ' || c == ':' || c == '-')
            continue;
        if (HexDigitValue(c) < 0)
            return std::nullopt;
        digits.push_back(c);
    }
    if (digits.size() != 16)
        return std::nullopt;
    TAntNetworkKey key{};
    for (size_t i = 0; i < 8; ++i)
        key[i] = static_cast<uint8_t>(HexDigitValue(digits[2 * i]) * 16 +
                                      HexDigitValue(digits[2 * i + 1]));
    return key;
}

TAntNetworkKey AntPlusNetworkKey()
{
    return LoadKey("FENNICK_ANTPLUS_NETWORK_KEY", FENNICK_ANTPLUS_NETWORK_KEY);
}

TAntNetworkKey PublicNetworkKey()
{
    return LoadKey("FENNICK_PUBLIC_NETWORK_KEY", FENNICK_PUBLIC_NETWORK_KEY);
}
