#pragma once
// The virtual stick's host log (scenario directive host_log): one line per page a simulated
// device took, "seconds kind number ack|broadcast b0 .. b7" in hexadecimal.
#include <array>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct THostPage {
    double StickSeconds = 0;
    std::string Device;   // "trainer", "strap", ...
    int DeviceNumber = 0;
    bool Acknowledged = false;
    std::array<uint8_t, 8> Page{};
};

inline std::vector<THostPage> ReadHostLog(const std::string &Path)
{
    std::vector<THostPage> out;
    std::ifstream in(Path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        THostPage p;
        std::string how;
        words >> p.StickSeconds >> p.Device >> p.DeviceNumber >> how;
        p.Acknowledged = how == "ack";
        for (uint8_t &b : p.Page) {
            unsigned v = 0;
            words >> std::hex >> v;
            b = uint8_t(v);
        }
        if (words)
            out.push_back(p);
    }
    return out;
}
