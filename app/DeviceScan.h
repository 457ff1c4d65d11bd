#pragma once
// fennick --scan: the trainers and straps on the air, as lines for people and scripts.
#include "app/Application.h"

// Listens for the session's --scan time, prints one line per device on standard output
// (trainers first) and the reasons for an empty list on standard error. The exit code: 0 when
// a trainer was heard, 1 otherwise.
int ScanDevices(TAppSession &Session);
