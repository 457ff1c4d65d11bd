#!/usr/bin/env python3
"""What fennick asked the trainer for against what the trainer received, after a soak.

Matched exactly:
- every acknowledged page-48 (basic resistance) transfer the trace shows completed is one line
  of the host log, in the same order with the same level, and no other page-48 line is there
  (the stick neither lost nor invented one);
- each level pressed (the connection's P1, then each "soak: pressed" line) reached the trainer,
  in the order pressed: none lost;
- no level reached the trainer more often than it was asked for: the debug log's
  "SendResistance [N]" lines are the asks (the press, and the channel's repeat of its last
  command every 14 s); a transfer that failed is sent again, but the trainer never had it, so a
  delivery beyond the asks is a page delivered twice after its completion;
- the window answered the last press within 1 s.
usage: check.py FENNICK_LOG TRACE HOST_LOG   (fennick stopped)
       check.py --wait-last SECONDS FENNICK_LOG HOST_LOG
"""
import re
import sys
import time

PRESS = re.compile(r"soak: pressed P(\d) \(level (\d+)\); labels (?:changed after (\d+) ms|unchanged)")
ASK = re.compile(r"ANT_SendAcknowledgedData - SendResistance \[(\d+)\]")
ANSWER_LIMIT_MS = 1000
# Channel events that end an acknowledged transfer.
VERDICTS = {0x05: "completed", 0x06: "failed", 0x07: "closed"}


def read_lines(path):
    try:
        with open(path, errors="replace") as f:
            return f.read().splitlines()
    except OSError:
        return []


def log_events(lines):
    """The log as ("press", level, ms) and ("ask", level) in order."""
    events = []
    for line in lines:
        if m := PRESS.search(line):
            events.append(("press", int(m[2]), int(m[3]) if m[3] else None))
        elif m := ASK.search(line):
            events.append(("ask", int(m[1])))
    return events


def trace_transfers(lines):
    """Page-48 transfers by their verdict: levels completed in order, the counts, and the
    levels still without a verdict at the end."""
    completed, counts = [], {"sent": 0, "completed": 0, "failed": 0, "refused": 0, "closed": 0}
    in_flight = {}  # channel -> level of the page 48 in flight, None for another page
    for line in lines:
        if line.startswith("#"):
            continue
        words = line.split()
        if len(words) < 8:
            continue
        frame = [int(b, 16) for b in words[5:]]
        msg_id, data = frame[2], frame[3:-1]
        if words[1] == "host->stick" and words[2] == "acknowledged" and len(data) >= 9:
            in_flight[data[0]] = data[8] if data[1] == 0x30 else None
            counts["sent"] += in_flight[data[0]] is not None
        elif words[1] == "stick->host" and msg_id == 0x40 and len(data) >= 3 and data[0] in in_flight:
            level = in_flight[data[0]]
            verdict = VERDICTS.get(data[2]) if data[1] == 0x01 else None
            if verdict:
                del in_flight[data[0]]
                if level is not None:
                    counts[verdict] += 1
                    if verdict == "completed":
                        completed.append(level)
            elif data[1] == 0x4F and data[2] != 0:
                del in_flight[data[0]]
                counts["refused"] += level is not None
    pending = [level for level in in_flight.values() if level is not None]
    return completed, counts, pending


def host_levels(lines):
    """The levels of the page-48 pages the trainer received, in order."""
    levels = []
    for line in lines:
        words = line.split()
        if len(words) == 12 and words[1] == "trainer" and words[3] == "ack" and words[4] == "30":
            levels.append(int(words[11], 16))
    return levels


def pressed_levels(events):
    """The levels asked for by a user: the connection's first ask, then each press."""
    asks = [e[1] for e in events if e[0] == "ask"]
    return asks[:1] + [e[1] for e in events if e[0] == "press"]


def asks_per_press(events):
    """For each pressed level, how often it was asked for while it was the level in force:
    from the press's own ask (just before its line) until the next press's ask."""
    runs, current = [], None
    for e in events:
        if e[0] == "ask":
            if current is None or e[1] != current[0]:
                current = [e[1], 0]
                runs.append(current)
            current[1] += 1
    return runs


def delivery_runs(levels):
    runs = []
    for level in levels:
        if runs and runs[-1][0] == level:
            runs[-1][1] += 1
        else:
            runs.append([level, 1])
    return runs


def check(log, trace, host):
    failures = []
    events = log_events(log)
    completed, counts, pending = trace_transfers(trace)
    received = host_levels(host)
    presses = [e for e in events if e[0] == "press"]
    print(f"presses: {len(presses)}; page-48 transfers sent {counts['sent']}, completed {len(completed)}, "
          f"failed {counts['failed']}, refused {counts['refused']}, closed {counts['closed']}; "
          f"received by the trainer {len(received)}")
    if received and received[:-1] == completed and received[-1:] == pending[-1:]:
        print("the trainer's last page-48 came as fennick was stopped; its verdict is not traced")
    elif completed != received:
        failures.append(f"the trace's completed page-48 transfers ({len(completed)}) are not the "
                        f"trainer's ({len(received)}) level for level")

    wanted = pressed_levels(events)
    got = [r[0] for r in delivery_runs(received)]
    if got[:len(wanted)] != wanted or len(got) > len(wanted):
        first = next((i for i in range(min(len(got), len(wanted))) if got[i] != wanted[i]),
                     min(len(got), len(wanted)))
        failures.append(f"levels lost or out of order from press {first}: pressed {wanted[first:first + 5]}, "
                        f"trainer got {got[first:first + 5]}")
    else:
        print(f"levels pressed and received in order: {len(wanted)}, none lost")

    asked = asks_per_press(events)
    twice = [(i, d, a) for i, ((lv, d), (la, a)) in enumerate(zip(delivery_runs(received), asked))
             if lv == la and d > a]
    for i, d, a in twice:
        failures.append(f"press {i}: level delivered {d} times, asked for {a} times")
    if not twice:
        print("no level delivered more often than asked for (repeats of the last command included)")

    answered = [e[2] for e in presses]
    if answered:
        late = [ms for ms in answered if ms is None or ms >= ANSWER_LIMIT_MS]
        worst = max((ms for ms in answered if ms is not None), default=None)
        print(f"labels changed after the press: last {answered[-1]} ms, worst {worst} ms, "
              f"{len(late)} presses over {ANSWER_LIMIT_MS} ms or unchanged")
        if answered[-1] is None or answered[-1] >= ANSWER_LIMIT_MS:
            failures.append("the window did not answer the last press within 1 s")
    else:
        failures.append("no press was logged")
    return failures


def wait_for_last(log_path, host_path, seconds):
    """Waits up to SECONDS until the trainer has the last level pressed (it may be in a dropout)."""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        wanted = pressed_levels(log_events(read_lines(log_path)))
        got = host_levels(read_lines(host_path))
        if not wanted or (got and got[-1] == wanted[-1]):
            return
        time.sleep(0.5)


def main(argv):
    if len(argv) == 4 and argv[0] == "--wait-last":
        wait_for_last(argv[2], argv[3], float(argv[1]))
        return 0
    if len(argv) != 3:
        sys.exit(__doc__)
    failures = check(*(read_lines(path) for path in argv))
    for f in failures:
        print("FAIL: " + f)
    print("nothing lost" if not failures else f"{len(failures)} problem(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
