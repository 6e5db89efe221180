"""Listening through a JACK server: a song of 24 notes 125 ms apart, listened to with space, arrives
with the song's own spacing, in frames as the capture client sees them. Prints the median and worst
distance of each Note On from the song's spacing after the common offset, at 100 % and, chosen from
the "Listen speed" menu, at 50 % (twice the spacing, twice as long). Space pressed mid-listen stops
it: nothing but the silence's Note Offs arrives after the silence, and the position is unchanged."""

import os
import re
import time

import harness
import playing
from harness import check

NOTES = 24
SPACING_TICKS = 120  # 125 ms at 480 ticks per quarter and 120 quarters per minute
SPACING = 0.125
ALL_NOTES_OFF = 123


def song():
    events = []
    for k in range(NOTES):
        pitch = 40 + k
        events += [(SPACING_TICKS * k, bytes([0x90, pitch, 100])), (SPACING_TICKS * k + 60, bytes([0x80, pitch, 0]))]
    return harness.smf([events])


def is_silence(message):
    return len(message) == 3 and message[0] & 0xF0 == 0xB0 and message[1] == ALL_NOTES_OFF


def listen(s, cap, speed):
    """One whole listen: every Note On of the song, then the silence at its end. Returns the Note Ons'
    frames in arrival order."""
    before = len(cap.events())
    s.key("space")
    heard = lambda: cap.events()[before:]
    ons = lambda: [f for f, m in heard() if playing.is_note_on(m)]
    cap.wait_events(lambda _: len(ons()) >= NOTES, 10 + 10 / speed, "the listened Note Ons")
    # The start's own silence comes before the first Note On; the end's after the last.
    last_on = lambda events: max(i for i, (_, m) in enumerate(events) if playing.is_note_on(m))
    cap.wait_events(lambda _: any(is_silence(m) for _, m in heard()[last_on(heard()):]), 10 / speed,
                    "the silence at the end")
    pitches = [m[1] for _, m in heard() if playing.is_note_on(m)]
    check(pitches == [40 + k for k in range(NOTES)], "listening at %d %% played %r" % (speed * 100, pitches))
    return ons()


def spacing_errors(frames, speed):
    """Each Note On's distance in frames from where the song's spacing puts it, after the offset
    common to all of them (their median)."""
    step = SPACING / speed * playing.RATE
    offsets = [f - k * step for k, f in enumerate(frames)]
    common = sorted(offsets)[len(offsets) // 2]
    return [abs(o - common) for o in offsets]


def report(s, frames, speed):
    errors = spacing_errors(frames, speed)
    if os.environ.get("NOLARI_LISTEN_DETAIL"):
        print("errors in frames, in song order:", [round(e) for e in errors])
    print("listen at %d %%: Note Ons off the song's spacing by median %.1f, worst %.1f frames "
          "(%.2f / %.2f ms; n = %d; late server cycles so far %d)"
          % (speed * 100, playing.percentile(errors, 0.5), max(errors),
             playing.percentile(errors, 0.5) / playing.RATE * 1000, max(errors) / playing.RATE * 1000,
             len(errors), playing.xruns(s)))
    return errors


def stopped_mid_listen(s, cap):
    before = len(cap.events())
    s.key("space")
    heard = lambda: cap.events()[before:]
    cap.wait_events(lambda _: sum(1 for _, m in heard() if playing.is_note_on(m)) >= 10, 10, "ten listened notes")
    s.key("space")
    # Starting to listen silences too; the stop's silence is the first one after a Note On.
    stop_silence = lambda events: next((i for i, (_, m) in enumerate(events) if is_silence(m)
                                        and any(playing.is_note_on(n) for _, n in events[:i])), None)
    cap.wait_events(lambda _: stop_silence(heard()) is not None, 5, "the silence of the stop")
    # Four spacings: a note that was still to come would have arrived.
    time.sleep(0.5)
    after = heard()
    first_silence = stop_silence(after)
    late = [m.hex() for _, m in after[first_silence:] if not (is_silence(m) or playing.is_note_off(m)
                                                               or (m[0] & 0xF0 == 0xB0 and m[1] == 64))]
    check(not late, "after the silence of a stop these still arrived: %r" % late)
    ons = sum(1 for _, m in after if playing.is_note_on(m))
    check(ons < NOTES, "the stop did not stop listening: all %d notes arrived" % ons)
    sounding = set()
    for _, m in after:
        if playing.is_note_on(m):
            sounding.add(m[1])
        elif playing.is_note_off(m):
            sounding.discard(m[1])
    check(not sounding or any(is_silence(m) for _, m in after), "notes left sounding: %r" % sounding)


def perform(s, speeds):
    # Half a screen of 3 s holds the whole song, so that a listen takes no longer than it.
    s.write_song("listen.mid.mta", b"ZOOM 6\n")
    cap, path = playing.start(s, "listen.mid", song())
    for speed in speeds:
        if speed != 1.0:
            playing.choose_listen_speed(s, int(speed * 100))
        report(s, listen(s, cap, speed), speed)
    stopped_mid_listen(s, cap)
    s.key("Escape")
    check(s.wait_exit() == 0, "Esc did not end the program with status 0")
    meta = open(path + ".mta").read()
    check(re.search(r"^POSITION 0$", meta, re.M), "listening moved the position:\n" + meta)
    if speeds[-1] != 1.0:
        check(re.search(r"^LISTENSPEED %d$" % int(speeds[-1] * 100), meta, re.M), "listen speed not saved:\n" + meta)



def main():
    speeds = [float(v) / 100 for v in os.environ.get("NOLARI_LISTEN_SPEEDS", "100 50").split()]
    with harness.Session(jack=True) as s:
        playing.run_reporting_xruns(s, lambda: perform(s, speeds))


harness.run(main)
