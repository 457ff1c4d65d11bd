// Text component streams: conversion to binary, reading into an object, and back to text.
#include "FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    TMemoryStream in = FuzzStream(Data, Size);
    TMemoryStream binary;
    try {
        ObjectTextToBinary(in, binary);
    } catch (const EStreamError &) {
        return 0;
    }
    binary.SetPosition(0);
    CheckStableText(binary);
    binary.SetPosition(0);
    ApplyBinary(binary);
    return 0;
}
