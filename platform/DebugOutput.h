#pragma once
// The debugger output channel: one line per call on stderr, prefixed "fennick: ".
// Safe to call from any thread; lines never interleave.
#include <functional>
#include <string>

void OutputDebugString(const std::string &line);

// Test hook: every line goes to `sink` (without prefix) instead of stderr; an empty
// function restores stderr.
void SetDebugOutputSink(std::function<void(const std::string &)> sink);
