#pragma once
// A running average over a window of samples, newest first. The window fills up from 0:
// with length 3 and a constant input c the first three averages are c/3, 2c/3 and c.
#include <cstdint>
#include <vector>

class TMivoAverage {
public:
    TMivoAverage() = default;

    // n >= 1: the window gets length n, samples keep their places from the front (shrinking
    // keeps the newest), new places hold 0. n <= 0 is ignored.
    void Resize(int32_t n);
    // Every sample moves one place towards the end, then Sample becomes the first. Needs a
    // window of length 1 or more.
    void Add(double Sample);
    // Sum of the whole window (also places still 0) over its length; 0 for an empty window.
    double Average() const;
    // Every sample becomes 0; the length stays.
    void Clear();

    int32_t Length() const { return static_cast<int32_t>(FSamples.size()); }

private:
    std::vector<double> FSamples;
};
