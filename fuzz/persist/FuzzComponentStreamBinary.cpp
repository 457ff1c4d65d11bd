// Binary component streams: conversion to text and back, and reading into an object.
#include "FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    TMemoryStream in = FuzzStream(Data, Size);
    CheckStableText(in);
    in.SetPosition(0);
    ApplyBinary(in);
    return 0;
}
