#pragma once
// The default beep: QApplication::beep() when a GUI application exists (handed to the UI
// thread when called elsewhere), otherwise the terminal bell on stderr.
#include <functional>

void MessageBeep();

// Test hook: each beep calls `sink` instead; an empty function restores the real beep.
void SetBeepSink(std::function<void()> sink);
