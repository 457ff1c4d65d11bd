#include "maps/RegistryFunctions.h"

#include <exception>

bool RegistryValueExists(HKEY Root, const std::string &KeyPath, const std::string &ValueName)
{
    try {
        TRegistry reg(KEY_READ);
        reg.SetRootKey(Root);
        return reg.OpenKey(KeyPath, false) && reg.ValueExists(ValueName);
    } catch (const std::exception &) {
        return false;
    }
}

bool RegistryDeleteValue(HKEY Root, const std::string &KeyPath, const std::string &ValueName)
{
    try {
        TRegistry reg(KEY_ALL_ACCESS);
        reg.SetRootKey(Root);
        return reg.OpenKey(KeyPath, false) && reg.DeleteValue(ValueName);
    } catch (const std::exception &) {
        return false;
    }
}

bool RegistryWriteString(HKEY Root, const std::string &KeyPath, const std::string &ValueName, bool CreateKey,
                         const std::string &Text)
{
    try {
        TRegistry reg(KEY_ALL_ACCESS);
        reg.SetRootKey(Root);
        if (!reg.OpenKey(KeyPath, CreateKey))
            return false;
        reg.WriteString(ValueName, Text);
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

std::string RegistryReadString(HKEY Root, const std::string &KeyPath, const std::string &ValueName)
{
    try {
        TRegistry reg(KEY_READ);
        reg.SetRootKey(Root);
        if (!reg.OpenKey(KeyPath, false))
            return "0";
        std::string text = reg.ReadString(ValueName);
        return text.empty() ? std::string("0") : text;
    } catch (const std::exception &) {
        return "0";
    }
}

std::string AddBackslash(const std::string &Path)
{
    if (Path.empty() || Path.back() == '\\')
        return Path;
    return Path + '\\';
}
