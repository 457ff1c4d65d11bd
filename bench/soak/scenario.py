#!/usr/bin/env python3
"""The soak's radio world for a run of SECONDS, on standard output.

Trainer dropouts of 5-20 s every 2 minutes, a strap that is gone for 30-50 s every 3 minutes,
one acknowledged transfer in ten failing, a rider whose power changes every minute, and the
resistance-map burst at 1 minute and then every 5 minutes.
usage: scenario.py SECONDS HOST_LOG
"""
import sys

POWERS = [150, 210, 180, 260, 120, 230, 190]


def scenario(seconds, host_log):
    lines = ["seed 7", "trainer 4242 map=60 map_every=300", "hr 77", "ack_failure 0.1"]
    span = int(seconds) + 120
    for k, minute in enumerate(range(0, span, 60)):
        lines.append(f"rider {minute} {POWERS[k % len(POWERS)]} {85 + 5 * (k % 3)}")
    # Off the press times (every 30 s from the connection) so that presses land in dropouts
    # only some of the time.
    for k, start in enumerate(range(50, span, 120)):
        lines.append(f"dropout {start} {5 + (k * 7) % 16} trainer")
    for k, start in enumerate(range(100, span, 180)):
        lines.append(f"dropout {start} {30 + (k * 10) % 30} hr")
    lines.append(f"host_log {host_log}")
    return "\n".join(lines) + "\n"


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.stdout.write(scenario(float(sys.argv[1]), sys.argv[2]))
