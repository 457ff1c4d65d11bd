#include "framework/Utf8.h"

void AppendUtf8(std::string &Out, uint32_t CodePoint)
{
    const auto byte = [&Out](uint32_t B) { Out += static_cast<char>(B); };
    if (CodePoint < 0x80) {
        byte(CodePoint);
    } else if (CodePoint < 0x800) {
        byte(0xC0 | (CodePoint >> 6));
        byte(0x80 | (CodePoint & 0x3F));
    } else if (CodePoint < 0x10000) {
        byte(0xE0 | (CodePoint >> 12));
        byte(0x80 | ((CodePoint >> 6) & 0x3F));
        byte(0x80 | (CodePoint & 0x3F));
    } else {
        byte(0xF0 | (CodePoint >> 18));
        byte(0x80 | ((CodePoint >> 12) & 0x3F));
        byte(0x80 | ((CodePoint >> 6) & 0x3F));
        byte(0x80 | (CodePoint & 0x3F));
    }
}
