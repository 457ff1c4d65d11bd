#include "platform/Registry.h"

#include "platform/RegistryDocument.h"
#include "platform/RegistryHiveFile.h"
#include "platform/RegistryText.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace RegHive;

TRegistry::TRegistry(uint32_t access) : FAccess(access)
{
}

TRegistry::~TRegistry()
{
    CloseKey();
}

void TRegistry::SetRootKey(HKEY value)
{
    if (value == FRootKey)
        return;
    CloseKey();
    FRootKey = value;
}

void TRegistry::CloseKey()
{
    FOpen = false;
    FOpenWritable = false;
    FCurrentPath.clear();
}

std::string TRegistry::AbsolutePath(const std::string &key) const
{
    std::vector<std::string> parts;
    if (FOpen && (key.empty() || key[0] != '\\'))
        parts = SplitPath(FCurrentPath);
    for (auto &p : SplitPath(key))
        parts.push_back(p);
    return JoinPath(parts, parts.size());
}

namespace {

bool WriteRights(uint32_t access)
{
    return (access & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) != 0;
}

std::string FullPath(HKEY root, const std::string &relative)
{
    const char *name = RootName(root);
    std::string r = name ? name : "";
    if (!relative.empty())
        r += "\\" + relative;
    return r;
}

// Names in the spelling first met, each once whatever its letter case.
class TFoldedNames {
public:
    void Add(const std::string &name)
    {
        const std::string f = Fold(name);
        if (std::find(FFolded.begin(), FFolded.end(), f) == FFolded.end()) {
            FFolded.push_back(f);
            Names.push_back(name);
        }
    }
    std::vector<std::string> Names;

private:
    std::vector<std::string> FFolded;
};
} // namespace

bool TRegistry::HiveWritable()
{
    return HiveWriteRefusal().empty();
}

namespace {
// With this process's effective rights, as its own write of the hive would meet them.
bool MayWrite(const std::string &Path, int Mode)
{
    return faccessat(AT_FDCWD, Path.c_str(), Mode, AT_EACCESS) == 0;
}
} // namespace

std::string TRegistry::HiveWriteRefusal()
{
    const std::string path = RegistryFile();
    struct stat st{};
    const std::string dir = DirOf(path);
    if (stat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode))
            return "it is not a regular file";
        if (!MayWrite(path, W_OK))
            return std::string("cannot write the file: ") + std::strerror(errno);
        // A write replaces the file by renaming a new one over it.
        if (!MayWrite(dir, W_OK | X_OK))
            return "cannot write in its folder " + dir + ": " + std::strerror(errno);
        return {};
    }
    // Missing hive: the nearest existing ancestor must be a directory we may write in.
    std::filesystem::path p(dir);
    for (;;) {
        if (stat(p.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode))
                return p.string() + " is not a folder";
            if (!MayWrite(p.string(), W_OK | X_OK))
                return "cannot write in the folder " + p.string() + ": " + std::strerror(errno);
            return {};
        }
        if (errno != ENOENT || !p.has_parent_path() || p.parent_path() == p)
            return "cannot reach the folder " + p.string() + ": " + std::strerror(errno);
        p = p.parent_path();
    }
}

bool TRegistry::OpenKey(const std::string &key, bool canCreate)
{
    if (!RootName(FRootKey))
        return false;
    const std::string relative = AbsolutePath(key);
    const std::string full = FullPath(FRootKey, relative);
    const bool writeRights = WriteRights(FAccess);
    if (writeRights && !HiveWritable())
        return false;
    bool exists = relative.empty() || KeyExistsIn(LoadHive(), full);
    if (!exists) {
        if (!canCreate)
            return false;
        bool ok = ModifyHive([&](THiveDoc &doc) {
            if (DocHasKey(doc, full))
                return false;
            AppendKey(doc, full);
            return true;
        });
        if (!ok)
            return false;
    }
    CloseKey();
    FOpen = true;
    FOpenWritable = writeRights;
    FCurrentPath = relative;
    return true;
}

bool TRegistry::OpenKeyReadOnly(const std::string &key)
{
    FAccess = KEY_READ;
    return OpenKey(key, false);
}

bool TRegistry::KeyExists(const std::string &key)
{
    if (!RootName(FRootKey))
        return false;
    const std::string relative = AbsolutePath(key);
    return relative.empty() || KeyExistsIn(LoadHive(), FullPath(FRootKey, relative));
}

std::string TRegistry::OpenKeyCanonical() const
{
    return CanonicalKey(FullPath(FRootKey, FOpen ? FCurrentPath : std::string()));
}

bool TRegistry::FindValue(const std::string &name, TRegHiveValue &out)
{
    if (!RootName(FRootKey))
        return false;
    const THiveParseResult hive = LoadHive();
    const std::string canonical = OpenKeyCanonical();
    const std::string folded = Fold(name);
    bool found = false;
    for (const auto &k : hive.Keys) {
        if (k.Deletion || CanonicalKey(k.Path) != canonical)
            continue;
        for (const auto &v : k.Values) {
            if (!v.Deletion && Fold(v.Name) == folded) {
                out = v;
                found = true;
            }
        }
    }
    return found;
}

bool TRegistry::ValueExists(const std::string &name)
{
    TRegHiveValue v;
    return FindValue(name, v);
}

TRegDataType TRegistry::GetDataType(const std::string &name)
{
    TRegHiveValue v;
    if (!FindValue(name, v))
        return rdUnknown;
    switch (v.Type) {
    case REG_SZ: return rdString;
    case REG_EXPAND_SZ: return rdExpandString;
    case REG_DWORD: return rdInteger;
    case REG_BINARY: return rdBinary;
    }
    return rdUnknown;
}

std::vector<std::string> TRegistry::GetValueNames()
{
    TFoldedNames names;
    if (!RootName(FRootKey))
        return names.Names;
    const THiveParseResult hive = LoadHive();
    const std::string canonical = OpenKeyCanonical();
    for (const auto &k : hive.Keys) {
        if (k.Deletion || CanonicalKey(k.Path) != canonical)
            continue;
        for (const auto &v : k.Values)
            if (!v.Deletion)
                names.Add(v.Name);
    }
    return names.Names;
}

std::vector<std::string> TRegistry::GetKeyNames()
{
    TFoldedNames names;
    if (!RootName(FRootKey))
        return names.Names;
    const THiveParseResult hive = LoadHive();
    const std::string canonical = OpenKeyCanonical();
    const size_t depth = SplitPath(canonical).size();
    for (const auto &k : hive.Keys) {
        if (k.Deletion)
            continue;
        std::vector<std::string> parts = SplitPath(k.Path);
        if (parts.size() <= depth || CanonicalKey(JoinPath(parts, depth)) != canonical)
            continue;
        names.Add(parts[depth]);
    }
    return names.Names;
}

std::string TRegistry::ReadString(const std::string &name)
{
    TRegHiveValue v;
    if (!FindValue(name, v))
        return std::string();
    if (v.Type != REG_SZ && v.Type != REG_EXPAND_SZ)
        throw ERegistryException("Invalid data type for '" + name + "'");
    return v.Text;
}

int32_t TRegistry::ReadInteger(const std::string &name)
{
    TRegHiveValue v;
    if (!FindValue(name, v))
        throw ERegistryException("Failed to get data for '" + name + "'");
    if (v.Type != REG_DWORD)
        throw ERegistryException("Invalid data type for '" + name + "'");
    if (v.Data.size() != 4)
        throw ERegistryException("Failed to get data for '" + name + "'");
    uint32_t x = v.Data[0] | (v.Data[1] << 8) | (v.Data[2] << 16) | (static_cast<uint32_t>(v.Data[3]) << 24);
    return static_cast<int32_t>(x);
}

void TRegistry::WriteValue(const std::string &name, TRegHiveValue value)
{
    const bool allowed = FOpen ? FOpenWritable : WriteRights(FAccess);
    value.Name = name;
    const bool representable = NameRepresentable(name);
    const std::string full = FullPath(FRootKey, FOpen ? FCurrentPath : std::string());
    if (!allowed || !representable || !RootName(FRootKey) || !ModifyHive([&](THiveDoc &doc) {
            DocSetValue(doc, full, value);
            return true;
        }))
        throw ERegistryException("Failed to set data for '" + name + "'");
}

void TRegistry::WriteString(const std::string &name, const std::string &value)
{
    TRegHiveValue v;
    v.Type = REG_SZ;
    v.Text = value;
    WriteValue(name, v);
}

void TRegistry::WriteInteger(const std::string &name, int32_t value)
{
    const uint32_t x = static_cast<uint32_t>(value);
    TRegHiveValue v;
    v.Type = REG_DWORD;
    v.Data = {static_cast<uint8_t>(x), static_cast<uint8_t>(x >> 8), static_cast<uint8_t>(x >> 16),
              static_cast<uint8_t>(x >> 24)};
    WriteValue(name, v);
}

bool TRegistry::DeleteValue(const std::string &name)
{
    const bool allowed = FOpen ? FOpenWritable : WriteRights(FAccess);
    if (!allowed || !RootName(FRootKey))
        return false;
    const std::string full = FullPath(FRootKey, FOpen ? FCurrentPath : std::string());
    bool changed = false;
    bool ok = ModifyHive([&](THiveDoc &doc) { return DocDeleteValue(doc, full, name); }, changed);
    return ok && changed;
}
