#include "antwire/TraceLine.h"

#include <cstdio>

#include "antwire/AntMessage.h"
#include "antwire/AntProtocol.h"

namespace antwire {

namespace {

constexpr const char *kHostToStick = "host->stick";
constexpr const char *kStickToHost = "stick->host";
// A frame is at most 255 data bytes plus sync, length, id and checksum.
constexpr size_t kMaxFrame = 259;
// Thirty years of a monotonic clock; in nanoseconds, as the replay counts, that still leaves
// room to add one time to another.
constexpr size_t kMaxSecondDigits = 9;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

// Splits at runs of blanks; false when there are more than `max` words.
bool splitWords(std::string_view text, std::vector<std::string_view> &words, size_t max)
{
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isBlank(text[i]))
            ++i;
        const size_t start = i;
        while (i < text.size() && !isBlank(text[i]))
            ++i;
        if (i > start) {
            if (words.size() == max)
                return false;
            words.push_back(text.substr(start, i - start));
        }
    }
    return true;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int hexValue(char c)
{
    if (isDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// "<digits>[.<1 to 6 digits>]" as microseconds.
bool parseMicros(std::string_view w, int64_t &out)
{
    const size_t dot = w.find('.');
    const std::string_view whole = w.substr(0, dot);
    const std::string_view fraction = dot == std::string_view::npos ? std::string_view() : w.substr(dot + 1);
    if (whole.empty() || whole.size() > kMaxSecondDigits)
        return false;
    if (dot != std::string_view::npos && (fraction.empty() || fraction.size() > 6))
        return false;
    int64_t seconds = 0, micros = 0;
    for (char c : whole) {
        if (!isDigit(c))
            return false;
        seconds = seconds * 10 + (c - '0');
    }
    for (size_t i = 0; i < 6; ++i) {
        const char c = i < fraction.size() ? fraction[i] : '0';
        if (!isDigit(c))
            return false;
        micros = micros * 10 + (c - '0');
    }
    out = seconds * 1000000 + micros;
    return true;
}

// "<key>=-" or "<key>=<0..255>".
bool checkField(std::string_view w, std::string_view key)
{
    if (w.size() <= key.size() + 1 || w.substr(0, key.size()) != key || w[key.size()] != '=')
        return false;
    const std::string_view v = w.substr(key.size() + 1);
    if (v == "-")
        return true;
    if (v.size() > 3)
        return false;
    int n = 0;
    for (char c : v) {
        if (!isDigit(c))
            return false;
        n = n * 10 + (c - '0');
    }
    return n <= 255;
}

bool checkName(std::string_view w)
{
    for (char c : w)
        if (!((c >= 'a' && c <= 'z') || isDigit(c) || c == '_'))
            return false;
    return !w.empty();
}

bool wholeFrame(const std::vector<uint8_t> &f)
{
    if (f.size() < 4 || f[0] != kSync || size_t(f[1]) + 4 != f.size())
        return false;
    uint8_t chk = 0;
    for (size_t i = 0; i + 1 < f.size(); ++i)
        chk ^= f[i];
    return chk == f.back();
}

} // namespace

const char *traceMessageName(uint8_t id, const uint8_t *data, size_t size)
{
    switch (id) {
    case msg::ResponseEvent:
        return size >= 2 && data[1] == event::RfEventMarker ? "channel_event" : "channel_response";
    case msg::UnassignChannel: return "unassign_channel";
    case msg::AssignChannel: return "assign_channel";
    case msg::ChannelPeriod: return "channel_period";
    case msg::SearchTimeout: return "search_timeout";
    case msg::RadioFrequency: return "rf_frequency";
    case msg::NetworkKey: return "network_key";
    case msg::TransmitPower: return "transmit_power";
    case msg::ResetSystem: return "reset_system";
    case msg::OpenChannel: return "open_channel";
    case msg::CloseChannel: return "close_channel";
    case msg::RequestMessage: return "request_message";
    case msg::BroadcastData: return "broadcast";
    case msg::AcknowledgedData: return "acknowledged";
    case msg::BurstData: return "burst";
    case msg::ChannelId: return "channel_id";
    case msg::ChannelStatus: return "channel_status";
    case msg::Capabilities: return "capabilities";
    case msg::AddChannelIdToList: return "add_channel_id_to_list";
    case msg::ConfigList: return "config_list";
    case msg::OpenRxScanMode: return "open_rx_scan_mode";
    case msg::LowPrioritySearchTimeout: return "low_priority_search_timeout";
    case msg::EnableExtendedMessages: return "enable_extended_messages";
    case msg::LibConfig: return "lib_config";
    case msg::Startup: return "startup";
    case msg::Version: return "version";
    case msg::SerialNumber: return "serial_number";
    case msg::SerialError: return "serial_error";
    default: return "unknown";
    }
}

int traceChannel(uint8_t id, const uint8_t *data, size_t size)
{
    if (size == 0)
        return -1;
    switch (id) {
    case msg::BurstData:
        return data[0] & kBurstChannelMask;
    case msg::ResponseEvent: case msg::UnassignChannel: case msg::AssignChannel:
    case msg::ChannelPeriod: case msg::SearchTimeout: case msg::RadioFrequency:
    case msg::OpenChannel: case msg::CloseChannel: case msg::RequestMessage:
    case msg::BroadcastData: case msg::AcknowledgedData: case msg::ChannelId:
    case msg::ChannelStatus: case msg::LowPrioritySearchTimeout:
    case msg::AddChannelIdToList: case msg::ConfigList:
        return data[0];
    default:
        return -1;
    }
}

int tracePage(uint8_t id, const uint8_t *data, size_t size)
{
    const bool isData = id == msg::BroadcastData || id == msg::AcknowledgedData || id == msg::BurstData;
    return isData && size >= 2 ? data[1] : -1;
}

std::string formatTraceLine(const TraceLine &line)
{
    const auto &f = line.frame;
    const uint8_t id = f.size() > 2 ? f[2] : 0;
    const uint8_t *data = f.size() > 3 ? f.data() + 3 : nullptr;
    const size_t size = f.size() > 4 ? f.size() - 4 : 0;
    const int64_t t = line.micros < 0 ? 0 : line.micros;
    char head[96];
    char ch[12] = "-", page[12] = "-";
    if (const int c = traceChannel(id, data, size); c >= 0)
        std::snprintf(ch, sizeof ch, "%d", c);
    if (const int p = tracePage(id, data, size); p >= 0)
        std::snprintf(page, sizeof page, "%d", p);
    std::snprintf(head, sizeof head, "%lld.%06lld %s %s ch=%s page=%s", (long long)(t / 1000000),
                  (long long)(t % 1000000),
                  line.direction == TraceDirection::HostToStick ? kHostToStick : kStickToHost,
                  traceMessageName(id, data, size), ch, page);
    std::string out(head);
    static const char digits[] = "0123456789ABCDEF";
    out.reserve(out.size() + f.size() * 3);
    for (uint8_t b : f) {
        out += ' ';
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

TraceParse parseTraceLine(std::string_view text, TraceLine &out)
{
    size_t first = 0;
    while (first < text.size() && isBlank(text[first]))
        ++first;
    if (first == text.size() || text[first] == '#')
        return TraceParse::Comment;
    std::vector<std::string_view> w;
    if (!splitWords(text, w, 5 + kMaxFrame) || w.size() < 5 + 4)
        return TraceParse::Malformed;
    if (!parseMicros(w[0], out.micros))
        return TraceParse::Malformed;
    if (w[1] == kHostToStick)
        out.direction = TraceDirection::HostToStick;
    else if (w[1] == kStickToHost)
        out.direction = TraceDirection::StickToHost;
    else
        return TraceParse::Malformed;
    if (!checkName(w[2]) || !checkField(w[3], "ch") || !checkField(w[4], "page"))
        return TraceParse::Malformed;
    out.frame.clear();
    for (size_t i = 5; i < w.size(); ++i) {
        if (w[i].size() != 2)
            return TraceParse::Malformed;
        const int hi = hexValue(w[i][0]), lo = hexValue(w[i][1]);
        if (hi < 0 || lo < 0)
            return TraceParse::Malformed;
        out.frame.push_back(uint8_t(hi << 4 | lo));
    }
    return wholeFrame(out.frame) ? TraceParse::Frame : TraceParse::Malformed;
}

} // namespace antwire
