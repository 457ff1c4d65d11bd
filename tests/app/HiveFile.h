#pragma once
// A registry hive file of the test's own in a fresh temporary folder, made the one in use.
#include "platform/Registry.h"

#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

class THiveFile {
public:
    THiveFile()
    {
        char pattern[] = "/tmp/fennick-app-hive-XXXXXX";
        Dir = mkdtemp(pattern);
        Path = Dir + "/registry.reg";
        SetRegistryFile(Path);
    }
    ~THiveFile()
    {
        SetRegistryFile("");
        std::error_code ec;
        std::filesystem::remove_all(Dir, ec);
    }
    // Writes the hive: the export header, then `Body`.
    void Write(const std::string &Body) const { WriteBytes("Windows Registry Editor Version 5.00\n\n" + Body); }
    void WriteBytes(const std::string &Bytes) const
    {
        std::ofstream(Path, std::ios::binary | std::ios::trunc) << Bytes;
    }
    std::string Dir;
    std::string Path;
};
