#pragma once
// Millisecond tick count: unsigned 32 bits from a steady clock, wrapping at 2^32 like the
// tick counter the callers were written against.
#include <cstdint>

// Milliseconds since an arbitrary start, modulo 2^32.
uint32_t GetTickCount();

// Makes GetTickCount() return `start` now and count on from there; tests use it to run
// code across the wrap. Without a call the start comes from $FENNICK_TICK_START (decimal or
// 0x hex, read once at the first use) or is 0.
void SetTickCountStart(uint32_t start);
