#include "maps/EMZel.h"

#include "framework/SysUtils.h"

#include <array>

namespace {

const std::array<const char *, 6> kBaseTexts = {
    "One or more competitor(s) not ready to start",
    "Course not ready to Start",
    "Error while UnAssignDeviceSourceEvents",
    "This function can't accept a DeviceType Unknown or this device is not compatible",
    "Error while reading the resistance map",
    "CompetitorList unAssigned",
};

// The information text is passed as an argument, so percent signs in it stay as they are.
std::string BuildMessage(int32_t Code, const std::string &Info)
{
    return Format(EMZel::BaseText(Code) + " (Error code: %d)\r\n%s", {Code, Info});
}

} // namespace

std::string EMZel::BaseText(int32_t Code)
{
    if (Code < 0 || Code >= static_cast<int32_t>(kBaseTexts.size()))
        return std::string();
    return kBaseTexts[static_cast<size_t>(Code)];
}

EMZel::EMZel(int32_t AErrorCode, const std::string &Info)
    : Exception(BuildMessage(AErrorCode, Info)), FErrorCode(AErrorCode)
{
}
