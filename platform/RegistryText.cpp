#include "platform/RegistryText.h"

#include "framework/Utf8.h"

#include <QString>
#include <QStringDecoder>

#include <cctype>
#include <utility>

namespace RegHive {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string TrimBlanks(const std::string &s)
{
    size_t b = 0, e = s.size();
    while (b < e && (IsBlank(s[b]) || s[b] == '\r'))
        ++b;
    while (e > b && (IsBlank(s[e - 1]) || s[e - 1] == '\r'))
        --e;
    return s.substr(b, e - b);
}

std::string StripEol(const std::string &line)
{
    std::string s = line;
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
        s.pop_back();
    return s;
}

std::vector<std::string> SplitLines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        size_t end = nl == std::string::npos ? text.size() : nl + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

bool Utf16ToUtf8(const uint8_t *data, size_t units, std::string &out, bool stopAtNul)
{
    for (size_t i = 0; i < units; ++i) {
        uint32_t u = data[2 * i] | (data[2 * i + 1] << 8);
        if (u == 0 && stopAtNul)
            return true;
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 >= units)
                return false;
            uint32_t v = data[2 * i + 2] | (data[2 * i + 3] << 8);
            if (v < 0xDC00 || v > 0xDFFF)
                return false;
            AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00));
            ++i;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return false;
        } else {
            AppendUtf8(out, u);
        }
    }
    return true;
}

std::string Utf8ToUtf16(const std::string &s)
{
    // A leading U+FEFF is text here, not a byte-order mark: QString::fromUtf8 would drop it.
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
    const QString text = decoder.decode(QByteArrayView(s.data(), static_cast<qsizetype>(s.size())));
    std::u16string units = text.toStdU16String();
    std::string out;
    out.reserve(units.size() * 2);
    for (char16_t u : units) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    }
    return out;
}

// Case folding as Windows compares names: ASCII directly, anything else through Qt.
std::string Fold(const std::string &s)
{
    bool ascii = true;
    for (unsigned char c : s)
        if (c >= 0x80)
            ascii = false;
    if (ascii) {
        std::string r = s;
        for (char &c : r)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return r;
    }
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())).toCaseFolded().toStdString();
}

std::vector<std::string> SplitPath(const std::string &path)
{
    std::vector<std::string> parts;
    std::string cur;
    for (char c : path) {
        if (c == '\\') {
            if (!cur.empty())
                parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty())
        parts.push_back(cur);
    return parts;
}

std::string JoinPath(const std::vector<std::string> &parts, size_t count)
{
    std::string r;
    for (size_t i = 0; i < count && i < parts.size(); ++i) {
        if (i)
            r += '\\';
        r += parts[i];
    }
    return r;
}

const char *RootName(HKEY root)
{
    switch (root) {
    case HKEY_CLASSES_ROOT: return "HKEY_CLASSES_ROOT";
    case HKEY_CURRENT_USER: return "HKEY_CURRENT_USER";
    case HKEY_LOCAL_MACHINE: return "HKEY_LOCAL_MACHINE";
    case HKEY_USERS: return "HKEY_USERS";
    case HKEY_CURRENT_CONFIG: return "HKEY_CURRENT_CONFIG";
    }
    return nullptr;
}

std::string CanonicalKey(const std::string &fullPath)
{
    std::vector<std::string> parts = SplitPath(fullPath);
    if (parts.empty())
        return std::string();
    std::string root = Fold(parts[0]);
    static const std::pair<const char *, const char *> aliases[] = {
        {"hkcr", "hkey_classes_root"}, {"hkcu", "hkey_current_user"}, {"hklm", "hkey_local_machine"},
        {"hku", "hkey_users"}, {"hkcc", "hkey_current_config"}};
    for (auto &a : aliases)
        if (root == a.first)
            root = a.second;
    parts[0] = root;
    for (size_t i = 1; i < parts.size(); ++i)
        parts[i] = Fold(parts[i]);
    return JoinPath(parts, parts.size());
}

} // namespace RegHive
