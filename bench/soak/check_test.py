#!/usr/bin/env python3
"""The soak's comparison of asks, transfers and receipts on small made-up runs."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check  # noqa: E402


def ask(level):
    return f"12:00:00.000 ANT_SendAcknowledgedData - SendResistance [{level}]"


def press(point, level, ms=3):
    changed = "unchanged" if ms is None else f"changed after {ms} ms"
    return f"12:00:30.000 soak: pressed P{point} (level {level}); labels {changed}"


def frame(msg_id, data):
    body = [0xA4, len(data), msg_id] + data
    ck = 0
    for b in body:
        ck ^= b
    return " ".join(f"{b:02X}" for b in body + [ck])


def sent(level, page=0x30):
    return f"1.000000 host->stick acknowledged ch=1 page={page} " + frame(
        0x4F, [1, page, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, level])


def verdict(code):
    return "1.250000 stick->host channel_event ch=1 page=- " + frame(0x40, [1, 0x01, code])


def received(level):
    return f"3.000000 trainer 4242 ack 30 FF FF FF FF FF FF {level:02X}"


class SoakCheck(unittest.TestCase):
    def test_a_clean_run_passes_with_repeats_and_retries(self):
        log = [ask(107), ask(61), press(2, 61), ask(61), ask(0), press(3, 0)]
        trace = [sent(107), verdict(0x05), sent(61), verdict(0x06), sent(61), verdict(0x05),
                 sent(55, page=0x37), verdict(0x05), sent(61), verdict(0x05), sent(0), verdict(0x05)]
        host = [received(107), received(61), received(61), received(0)]
        self.assertEqual(check.check(log, trace, host), [])

    def test_a_level_the_trainer_never_got_is_lost(self):
        log = [ask(107), ask(61), press(2, 61), ask(0), press(3, 0)]
        trace = [sent(107), verdict(0x05), sent(61), verdict(0x07), sent(0), verdict(0x05)]
        host = [received(107), received(0)]
        failures = check.check(log, trace, host)
        self.assertEqual(len(failures), 1)
        self.assertIn("lost", failures[0])

    def test_a_delivery_beyond_the_asks_is_a_duplicate(self):
        log = [ask(107), ask(61), press(2, 61)]
        trace = [sent(107), verdict(0x05), sent(61), verdict(0x05), sent(61), verdict(0x05)]
        host = [received(107), received(61), received(61)]
        failures = check.check(log, trace, host)
        self.assertEqual(failures, ["press 1: level delivered 2 times, asked for 1 times"])

    def test_the_stick_and_the_trainer_must_agree(self):
        log = [ask(107), ask(61), press(2, 61)]
        trace = [sent(107), verdict(0x05), sent(61), verdict(0x06)]
        host = [received(107), received(61)]
        self.assertIn("level for level", " ".join(check.check(log, trace, host)))
        # Only the very last receipt may lack its traced verdict: fennick was stopped then.
        trace = [sent(107), verdict(0x05), sent(61)]
        self.assertEqual(check.check(log, trace, host), [])

    def test_a_slow_or_unchanged_last_press_fails(self):
        log = [ask(107), ask(61), press(2, 61, ms=1500)]
        trace = [sent(107), verdict(0x05), sent(61), verdict(0x05)]
        host = [received(107), received(61)]
        self.assertIn("did not answer", " ".join(check.check(log, trace, host)))
        log[-1] = press(2, 61, ms=None)
        self.assertIn("did not answer", " ".join(check.check(log, trace, host)))


if __name__ == "__main__":
    unittest.main()
