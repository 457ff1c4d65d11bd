#pragma once
// The registry, kept in a hive file in the .reg export format so that a user can bring an
// export from a Windows machine as it is (UTF-8, or UTF-16LE with byte-order mark).
//
// Location: SetRegistryFile(), else $FENNICK_REGISTRY, else
// $XDG_CONFIG_HOME/fennick/registry.reg (~/.config/fennick/registry.reg). A missing file
// is an empty hive. Key paths and value names compare case-insensitively. Nothing is
// cached: every read opens the file again.
//
// Writes take an advisory lock (flock on "<hive>.lock"), read the hive again, change it,
// write a temporary file beside it, fsync it, rename it over the hive and fsync the
// directory, so a crash leaves either the old or the new hive and concurrent writers do
// not lose each other's values. Content this code does not understand (other roots,
// comments, deletions, unusual value types, formatting) is written back as it was. A hive
// that did not parse completely is never rewritten: the write fails.
//
// The parts: RegistryText (encodings, key paths), RegistryParser (the .reg parser),
// RegistryDocument (editing and writing out), RegistryHiveFile (location, locked atomic
// replacement) and Registry.cpp (TRegistry).
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "framework/Exception.h"

using HKEY = uint32_t;
constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
constexpr HKEY HKEY_USERS = 0x80000003u;
constexpr HKEY HKEY_CURRENT_CONFIG = 0x80000005u;

constexpr uint32_t KEY_QUERY_VALUE = 0x0001;
constexpr uint32_t KEY_SET_VALUE = 0x0002;
constexpr uint32_t KEY_CREATE_SUB_KEY = 0x0004;
constexpr uint32_t KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr uint32_t KEY_NOTIFY = 0x0010;
constexpr uint32_t KEY_READ = 0x20019;
constexpr uint32_t KEY_WRITE = 0x20006;
constexpr uint32_t KEY_ALL_ACCESS = 0xF003F;

// Value types as stored (the numbers of hex(n):).
constexpr uint32_t REG_NONE = 0;
constexpr uint32_t REG_SZ = 1;
constexpr uint32_t REG_EXPAND_SZ = 2;
constexpr uint32_t REG_BINARY = 3;
constexpr uint32_t REG_DWORD = 4;
constexpr uint32_t REG_DWORD_BIG_ENDIAN = 5;
constexpr uint32_t REG_LINK = 6;
constexpr uint32_t REG_MULTI_SZ = 7;
constexpr uint32_t REG_QWORD = 11;

enum TRegDataType { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

// The hive file in use (resolved anew on every call).
std::string RegistryFile();
// Overrides the hive location (the --registry option); an empty path removes the override.
void SetRegistryFile(const std::string &path);
// Test hook: runs inside a write after the temporary file is complete and synced and
// before it replaces the hive. Empty = none.
void SetRegistryBeforeReplaceHook(std::function<void()> hook);

// ---- Parsed form of a hive, as the accessor and the fuzz target see it ----

struct TRegHiveValue {
    std::string Name;            // empty for the default value (@)
    uint32_t Type = REG_NONE;    // REG_SZ for quoted text
    std::string Text;            // decoded text of REG_SZ / REG_EXPAND_SZ values (UTF-8)
    std::vector<uint8_t> Data;   // the bytes of hex, hex(n) and dword data
    bool Deletion = false;       // "Name"=- (ignored on read)
    int Line = 0;                // first line of the value in the file (1-based)
};

struct TRegHiveKey {
    std::string Path;            // full path as written, root name included
    bool Deletion = false;       // [-...] (ignored on read)
    std::vector<TRegHiveValue> Values;
    int Line = 0;
};

struct THiveParseResult {
    std::vector<TRegHiveKey> Keys;  // everything up to the first error
    bool Complete = false;          // the whole input was understood
    int ErrorLine = 0;              // 1-based line of the first error (0 when complete)
    std::string Error;              // what was wrong there
    bool Utf16 = false;             // the input was UTF-16LE with byte-order mark
};

// Parses the bytes of a hive file (byte-order mark and encoding detected here).
THiveParseResult ParseHive(const std::string &bytes);
// The hive bytes with one value set (`value.Name`, REG_SZ text or the type and data) in
// the key `fullKeyPath` (root name included), exactly as a write changes the file.
// False, leaving `out` alone, when the input did not parse completely.
bool SetHiveValue(const std::string &bytes, const std::string &fullKeyPath, const TRegHiveValue &value,
                  std::string &out);

// Accessor in the style of the classic registry class: a root key, an access mask and at
// most one open key. Errors of reads and writes are ERegistryException.
class TRegistry {
public:
    explicit TRegistry(uint32_t access = KEY_ALL_ACCESS);
    ~TRegistry();
    TRegistry(const TRegistry &) = delete;
    TRegistry &operator=(const TRegistry &) = delete;

    HKEY RootKey() const { return FRootKey; }
    // Closes the open key.
    void SetRootKey(HKEY value);
    uint32_t Access() const { return FAccess; }
    void SetAccess(uint32_t value) { FAccess = value; }

    // Key paths are backslash-separated; a leading backslash makes the path absolute (from
    // the root), otherwise it is relative to the open key. With write rights in Access()
    // the hive must be writable: a read-only hive makes the open fail. With canCreate a
    // missing key is created (a write). False when the key is missing or cannot be opened.
    bool OpenKey(const std::string &key, bool canCreate);
    // Opens with KEY_READ (Access() becomes KEY_READ).
    bool OpenKeyReadOnly(const std::string &key);
    void CloseKey();
    // Path of the open key, relative to the root, without leading backslash.
    const std::string &CurrentPath() const { return FCurrentPath; }
    bool HasCurrentKey() const { return FOpen; }

    bool KeyExists(const std::string &key);
    bool ValueExists(const std::string &name);
    TRegDataType GetDataType(const std::string &name);
    std::vector<std::string> GetValueNames();
    std::vector<std::string> GetKeyNames();

    // Missing value: "". A value of a type other than REG_SZ/REG_EXPAND_SZ:
    // "Invalid data type for '%s'". REG_EXPAND_SZ is returned without expansion.
    std::string ReadString(const std::string &name);
    // A REG_SZ value; failure: "Failed to set data for '%s'".
    void WriteString(const std::string &name, const std::string &value);
    // A REG_DWORD value. Missing: "Failed to get data for '%s'"; other type:
    // "Invalid data type for '%s'".
    int32_t ReadInteger(const std::string &name);
    void WriteInteger(const std::string &name, int32_t value);
    // True when the value existed and is deleted.
    bool DeleteValue(const std::string &name);

    // Whether the hive can be written (file and directory, or a creatable directory).
    static bool HiveWritable();
    // Why the hive cannot be written ("cannot write the file: Permission denied"); empty when
    // it can.
    static std::string HiveWriteRefusal();

private:
    std::string AbsolutePath(const std::string &key) const;
    // Canonical full path of the open key (the root when none is open).
    std::string OpenKeyCanonical() const;
    bool FindValue(const std::string &name, TRegHiveValue &out);
    void WriteValue(const std::string &name, TRegHiveValue value);

    HKEY FRootKey = HKEY_CURRENT_USER;
    uint32_t FAccess;
    bool FOpen = false;
    bool FOpenWritable = false;
    std::string FCurrentPath;
};
