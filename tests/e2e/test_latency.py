"""Tap latency through a real JACK server (dummy driver, 256 frames at 48 kHz), in JACK frames as the
capture client sees them. First the direct loop: the capture client's own output connected to its
input, which must deliver exactly one period later. Then 500 taps: a Note On sent into Nolari's
input must come back as the group's first Note On at most one period later than the direct loop
for at least 99 % of them. Prints the median, 99th percentile and maximum of both. A cycle the
server runs late (an XRun on a busy machine) delays that cycle's messages by a period, so the
direct loop too is held to 99 %, and the count of late cycles is printed beside the figures.
Last, ten taps at exact frames all over the period: each must arrive; their latencies are printed."""

import subprocess

import harness
import playing
from harness import check

TAPS = 500
LOOPS = 500
RATE = playing.RATE
SPACING = 576  # frames between taps (12 ms): each lands in a period of its own


def send_spaced(cap, messages):
    """One message every SPACING frames, placed by the capture client at exact frames."""
    for message in messages:
        cap.send_after(SPACING, message)


def delays(sent, received, horizon=RATE // 2):
    """Pairs each sent (frame, tag) with the first unused received (frame, tag) of the same tag at
    or after it, within half a second. A message lost on the way counts as an endless delay."""
    used = set()
    result = []
    for frame, tag in sent:
        match = next((i for i, (r, t) in enumerate(received)
                      if t == tag and i not in used and frame <= r < frame + horizon), None)
        if match is None:
            result.append(float("inf"))
        else:
            used.add(match)
            result.append(received[match][0] - frame)
    return result


def summary(name, latencies):
    return "%s: median %s, p99 %s, max %s frames (n = %d)" % (
        name, playing.percentile(latencies, 0.5), playing.percentile(latencies, 0.99), max(latencies), len(latencies))


def direct_loop(s, cap):
    """Measured before Nolari starts, so that nothing but the loop listens to the capture client.
    Each message is told apart by its controller number and value."""
    cap.connect("nolaricap:out", "nolaricap:in")
    send_spaced(cap, [bytes([0xB1, 20 + i // 128, i % 128]) for i in range(LOOPS)])
    looped = lambda events: [(f, m) for f, m in events if m[0] == 0xB1]
    wait_at_most(lambda: len(looped(cap.events())) >= LOOPS, 30)
    subprocess.run(["jack_disconnect", "nolaricap:out", "nolaricap:in"], env=s.env, check=True, timeout=10)
    return delays([(f, m) for f, m in cap.sent() if m[0] == 0xB1], looped(cap.events()))


def wait_at_most(predicate, timeout):
    """Waits for what should arrive; a message lost on the way shows in the figures instead."""
    try:
        harness.wait_until(predicate, timeout, "the messages")
    except harness.Failure:
        pass


def song():
    events = []
    for k in range(TAPS + 10):
        pitch = 36 + k % 48
        events += [(240 * k, bytes([0x90, pitch, 100])), (240 * k + 120, bytes([0x80, pitch, 0]))]
    return harness.smf([events])


def taps(s, cap):
    """Each tap's velocity, which the single-note group takes over, tells its Note On apart."""
    for i in range(TAPS):
        cap.send_after(SPACING - 192, bytes([0x90, 60, 1 + i % 127]))
        cap.send_after(192, b"\x80\x3c\x00")
    group_ons = lambda: [(n[0], n[3]) for n in playing.notes(cap.events()) if n[1] == "on"]
    wait_at_most(lambda: len(group_ons()) >= TAPS, 30)
    sent = [(f, m[2]) for f, m in cap.sent() if playing.is_note_on(m)]
    check(len(sent) == TAPS, "the capture client sent %d Note Ons, not %d" % (len(sent), TAPS))
    return delays(sent, group_ons())


def uneven_taps(s, cap):
    """Each tap an exact, uneven number of frames after the message before it, told apart by its
    velocity."""
    before = len(cap.events()), len(cap.sent())
    cap.send(b"\xb0\x14\x00")  # the reference the first tap is counted from
    for k in range(10):
        cap.send_after(6000 + 97 * k, bytes([0x90, 60, 101 + k]))
        cap.send_after(2400, b"\x80\x3c\x00")
    ons = lambda: [(n[0], n[3]) for n in playing.notes(cap.events()[before[0]:]) if n[1] == "on"]
    wait_at_most(lambda: len(ons()) >= 10, 10)
    sent = [f for f, m in cap.sent()[before[1]:] if playing.is_note_on(m)]
    latencies = delays([(f, 101 + k) for k, f in enumerate(sent)], ons())
    check(len(sent) == 10 and float("inf") not in latencies, "uneven taps lost: %r" % latencies)
    print("ten taps at uneven frames (offsets in the period %s): latencies %s frames; late server cycles so far %d"
          % ([f % playing.PERIOD for f in sent], latencies, playing.xruns(s)))


def measure(s):
    cap = s.capture()
    loop = direct_loop(s, cap)
    print(summary("direct loop", loop))
    exact = sum(1 for d in loop if d == playing.PERIOD)
    print("direct loop exactly one period: %d of %d; late server cycles so far: %d"
          % (exact, len(loop), playing.xruns(s)))
    check(exact >= 0.99 * len(loop), "the direct loop is not one period: %r" % sorted(set(loop)))

    playing.start(s, "latency.mid", song(), cap)

    tapped = taps(s, cap)
    print(summary("tap through Nolari", tapped))
    bound = playing.PERIOD + playing.PERIOD
    within = sum(1 for d in tapped if d <= bound)
    print("taps within %d frames: %d of %d; late server cycles in all: %d"
          % (bound, within, len(tapped), playing.xruns(s)))
    check(within >= 0.99 * len(tapped), "only %d of %d taps within one period of the direct loop" % (within, len(tapped)))
    uneven_taps(s, cap)
    s.key("Escape")
    check(s.wait_exit() == 0, "Nolari did not exit cleanly")


def main():
    with harness.Session(jack=True) as s:
        playing.run_reporting_xruns(s, lambda: measure(s))


harness.run(main)
