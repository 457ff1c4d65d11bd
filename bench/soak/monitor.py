#!/usr/bin/env python3
"""Watches a process from outside for SECONDS and prints one line a minute.

Per minute: resident memory and its growth since the first minute, CPU seconds and voluntary
wake-ups per second for the whole process and per thread group (own: the UI thread and the
fennick-* workers; lib: ant-lib-reader, which also runs the serial reads; qt: the rest), and the
size of the debug log. Exit code 1 when the memory grew by 1 MB or more after the first minute.
usage: monitor.py PID SECONDS LOG_FILE OUT_FILE
"""
import os
import sys
import time

TICK = os.sysconf("SC_CLK_TCK")
GROUPS = ("own", "lib", "qt")
GROWTH_LIMIT_MB = 1.0


def read(path):
    try:
        with open(path) as f:
            return f.read()
    except OSError:
        return ""


def status_value(text, key):
    for line in text.splitlines():
        if line.startswith(key + ":"):
            return float(line.split()[1])
    return 0.0


def cpu_seconds(stat):
    # utime and stime are fields 14 and 15; the name in parentheses may hold blanks.
    fields = stat[stat.rfind(")") + 2:].split()
    return (int(fields[11]) + int(fields[12])) / TICK if len(fields) > 12 else 0.0


def group_of(pid, tid, name):
    if tid == pid or name.startswith("fennick-"):
        return "own"
    return "lib" if name == "ant-lib-reader" else "qt"


def sample(pid):
    """CPU seconds and wake-ups so far by group, the whole process's CPU, resident MB."""
    groups = {g: [0.0, 0.0] for g in GROUPS}
    task = f"/proc/{pid}/task"
    for entry in os.listdir(task):
        tid = int(entry)
        name = read(f"{task}/{entry}/comm").strip()
        g = groups[group_of(pid, tid, name)]
        g[0] += cpu_seconds(read(f"{task}/{entry}/stat"))
        g[1] += status_value(read(f"{task}/{entry}/status"), "voluntary_ctxt_switches")
    whole = cpu_seconds(read(f"/proc/{pid}/stat"))
    rss = status_value(read(f"/proc/{pid}/status"), "VmRSS") / 1024.0
    return time.monotonic(), groups, whole, rss


def minute_line(minute, before, after, first_rss, log_file):
    t0, g0, w0, _ = before
    t1, g1, w1, rss = after
    wall = t1 - t0
    wakeups = sum(g1[g][1] - g0.get(g, [0, 0])[1] for g in GROUPS)
    parts = [f"{minute:3d}", f"{rss:7.1f}", f"{rss - first_rss:+6.2f}" if first_rss else "     -",
             f"{w1 - w0:6.2f}", f"{wakeups / wall:7.1f}"]
    for g in GROUPS:
        parts += [f"{g1[g][0] - g0[g][0]:5.2f}", f"{(g1[g][1] - g0[g][1]) / wall:6.1f}"]
    log_kb = os.path.getsize(log_file) / 1024.0 if os.path.exists(log_file) else 0.0
    return " ".join(parts) + f" {log_kb:9.0f}"


HEADER = ("min  rss_MB growth cpu_s  wake/s own_s own_w/s lib_s lib_w/s  qt_s qt_w/s    log_KB")


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    pid, seconds, log_file, out_file = int(sys.argv[1]), float(sys.argv[2]), sys.argv[3], sys.argv[4]
    start = time.monotonic()
    first_rss = None
    with open(out_file, "w") as out:
        def say(line):
            print(line, flush=True)
            out.write(line + "\n")
            out.flush()
        say(HEADER)
        before = sample(pid)
        minute = 0
        while time.monotonic() - start < seconds:
            time.sleep(max(0.0, min(start + 60 * (minute + 1), start + seconds) - time.monotonic()))
            if not os.path.exists(f"/proc/{pid}"):
                say("soak: the process is gone")
                return 1
            minute += 1
            after = sample(pid)
            say(minute_line(minute, before, after, first_rss, log_file))
            if first_rss is None:
                first_rss = after[3]
            before = after
        growth = before[3] - first_rss if first_rss is not None else 0.0
        verdict = "ok" if growth < GROWTH_LIMIT_MB else "OVER"
        say(f"memory growth after the first minute: {growth:+.2f} MB (target under {GROWTH_LIMIT_MB} MB) {verdict}")
    return 0 if growth < GROWTH_LIMIT_MB else 1


if __name__ == "__main__":
    sys.exit(main())
