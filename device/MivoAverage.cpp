#include "device/MivoAverage.h"

#include <algorithm>

void TMivoAverage::Resize(int32_t n)
{
    if (n < 1)
        return;
    FSamples.resize(static_cast<size_t>(n), 0.0);
}

void TMivoAverage::Add(double Sample)
{
    // An empty window has nowhere to keep the sample; dropping it keeps Average at 0.
    if (FSamples.empty())
        return;
    std::copy_backward(FSamples.begin(), FSamples.end() - 1, FSamples.end());
    FSamples.front() = Sample;
}

double TMivoAverage::Average() const
{
    if (FSamples.empty())
        return 0.0;
    double sum = 0.0;
    for (double s : FSamples)
        sum += s;
    return sum / static_cast<double>(FSamples.size());
}

void TMivoAverage::Clear() { std::fill(FSamples.begin(), FSamples.end(), 0.0); }
