#pragma once
// Error of the device and map library: a numbered error with a base text and a free
// information text.
#include "framework/Exception.h"

#include <cstdint>
#include <string>

class EMZel : public Exception {
public:
    EMZel(int32_t AErrorCode, const std::string &Info);
    int32_t ErrorCode() const { return FErrorCode; }

    // Base text of a code; codes without one give an empty base text.
    static std::string BaseText(int32_t Code);

private:
    int32_t FErrorCode;
};
