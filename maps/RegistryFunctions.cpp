#include "maps/RegistryFunctions.h"

#include <exception>

namespace {

// Opens KeyPath under Root on an accessor of its own and runs Action on it; false when the
// key does not open, Action says so, or anything fails on the way.
template <typename TAction>
bool WithOpenKey(HKEY Root, uint32_t Access, const std::string &KeyPath, bool CreateKey, TAction Action)
{
    try {
        TRegistry reg(Access);
        reg.SetRootKey(Root);
        return reg.OpenKey(KeyPath, CreateKey) && Action(reg);
    } catch (const std::exception &) {
        return false;
    }
}

} // namespace

bool RegistryValueExists(HKEY Root, const std::string &KeyPath, const std::string &ValueName)
{
    return WithOpenKey(Root, KEY_READ, KeyPath, false, [&](TRegistry &reg) { return reg.ValueExists(ValueName); });
}

bool RegistryDeleteValue(HKEY Root, const std::string &KeyPath, const std::string &ValueName)
{
    return WithOpenKey(Root, KEY_ALL_ACCESS, KeyPath, false,
                       [&](TRegistry &reg) { return reg.DeleteValue(ValueName); });
}

bool RegistryWriteString(HKEY Root, const std::string &KeyPath, const std::string &ValueName, bool CreateKey,
                         const std::string &Text)
{
    return WithOpenKey(Root, KEY_ALL_ACCESS, KeyPath, CreateKey, [&](TRegistry &reg) {
        reg.WriteString(ValueName, Text);
        return true;
    });
}

std::string RegistryReadString(HKEY Root, const std::string &KeyPath, const std::string &ValueName)
{
    std::string text;
    const bool read = WithOpenKey(Root, KEY_READ, KeyPath, false, [&](TRegistry &reg) {
        text = reg.ReadString(ValueName);
        return true;
    });
    return !read || text.empty() ? std::string("0") : text;
}

std::string AddBackslash(const std::string &Path)
{
    if (Path.empty() || Path.back() == '\\')
        return Path;
    return Path + '\\';
}
