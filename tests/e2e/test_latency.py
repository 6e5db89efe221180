"""Tap latency through a real JACK server (dummy driver, 256 frames at 48 kHz), in JACK frames as the
capture client sees them. First the direct loop: the capture client's own output connected to its
input, which must deliver exactly one period later. Then 1000 taps: a Note On sent into Nolari's
input must come back as the group's first Note On at most one period later than the direct loop
for at least 99 % of them. Prints the median, 99th percentile and maximum of both."""

import subprocess
import time

import harness
import playing
from harness import check

TAPS = 1000
LOOPS = 1000


def send_spaced(cap, messages, spacing=0.012):
    """One message per send, a few periods apart, so that each lands in a period of its own."""
    for message in messages:
        cap.send(message)
        time.sleep(spacing)


def summary(name, latencies):
    return "%s: median %d, p99 %d, max %d frames (n = %d)" % (
        name, playing.percentile(latencies, 0.5), playing.percentile(latencies, 0.99), max(latencies), len(latencies))


def direct_loop(s, cap):
    """Measured before Nolari starts, so that nothing but the loop listens to the capture client."""
    cap.connect("nolaricap:out", "nolaricap:in")
    send_spaced(cap, [bytes([0xB1, 20, i % 128]) for i in range(LOOPS)], spacing=0.008)

    def looped(events):
        return sum(1 for _, m in events if m[0] == 0xB1 and m[1] == 20) >= LOOPS

    cap.wait_events(looped, 30, "the direct loop's messages")
    sent = [f for f, m in cap.sent() if m[0] == 0xB1]
    received = [f for f, m in cap.events() if m[0] == 0xB1 and m[1] == 20]
    subprocess.run(["jack_disconnect", "nolaricap:out", "nolaricap:in"], env=s.env, check=True, timeout=10)
    return [r - f for f, r in zip(sent, received)]


def song():
    events = []
    for k in range(TAPS + 10):
        pitch = 36 + k % 48
        events += [(240 * k, bytes([0x90, pitch, 100])), (240 * k + 120, bytes([0x80, pitch, 0]))]
    return harness.smf([events])


def taps(s, cap):
    for i in range(TAPS):
        cap.send(b"\x90\x3c\x64")
        time.sleep(0.004)
        cap.send(b"\x80\x3c\x00")
        time.sleep(0.008)
    ons = playing.wait_notes(cap, 2 * TAPS, "the tapped groups", timeout=60)
    received = [n[0] for n in ons if n[1] == "on"]
    sent = [f for f, m in cap.sent() if playing.is_note_on(m)]
    check(len(sent) == TAPS and len(received) == TAPS,
          "sent %d Note Ons and received %d group Note Ons, expected %d each" % (len(sent), len(received), TAPS))
    return [r - f for f, r in zip(sent, received)]


def main():
    with harness.Session(jack=True) as s:
        cap = s.capture()
        loop = direct_loop(s, cap)
        print(summary("direct loop", loop))
        check(all(d == playing.PERIOD for d in loop), "the direct loop is not exactly one period: %r" % sorted(set(loop)))

        playing.start(s, "latency.mid", song(), cap)

        tapped = taps(s, cap)
        print(summary("tap through Nolari", tapped))
        bound = playing.PERIOD + playing.PERIOD
        within = sum(1 for d in tapped if d <= bound)
        print("taps within %d frames: %d of %d" % (bound, within, len(tapped)))
        check(within >= 0.99 * len(tapped), "only %d of %d taps within one period of the direct loop" % (within, len(tapped)))
        s.key("Escape")
        check(s.wait_exit() == 0, "Nolari did not exit cleanly")


harness.run(main)
