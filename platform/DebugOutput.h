#pragma once
// The debugger output channel: one line per call on stderr, prefixed "fennick: ".
// Safe to call from any thread; lines never interleave.
#include <functional>
#include <string>

void OutputDebugString(const std::string &line);

// Test hook: every line goes to `sink` (without prefix) instead of stderr; an empty
// function restores stderr. The sink runs under the output lock, one line at a time, so
// it must not write debug output itself.
void SetDebugOutputSink(std::function<void(const std::string &)> sink);
