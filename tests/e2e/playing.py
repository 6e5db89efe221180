"""Shared by the performing tests: Nolari started on a song with its MIDI input and output on the
capture client's JACK ports, and the note messages the capture client received."""

import os

import harness
from harness import check

PERIOD = 256  # frames per JACK period of the harness's dummy server
RATE = 48000


def start(s, song_name, song_bytes, cap=None):
    """Starts Nolari playing into and listening to the capture client (started here unless given);
    returns (capture, song path)."""
    cap = cap or s.capture()
    path = s.write_song(song_name, song_bytes)
    s.write_cfg(["CURRENTSONG " + path, "MIDIIN nolaricap:out", "MIDIOUT nolaricap:in"])
    s.start()
    s.wait_log("before glutMainLoop()")
    s.wait_window()
    # The program changes sent once the output is open show that Nolari is connected.
    cap.wait_events(lambda events: sum(1 for _, m in events if m[0] & 0xF0 == 0xC0) >= 16, 20,
                    "the program changes at start-up")
    return cap, path


def is_note_on(message):
    return len(message) == 3 and message[0] & 0xF0 == 0x90 and message[2] > 0


def is_note_off(message):
    return len(message) == 3 and (message[0] & 0xF0 == 0x80 or (message[0] & 0xF0 == 0x90 and message[2] == 0))


def notes(events):
    """Note messages as (frame, "on"/"off", pitch, velocity), in arrival order."""
    result = []
    for frame, message in events:
        if is_note_on(message):
            result.append((frame, "on", message[1], message[2]))
        elif is_note_off(message):
            result.append((frame, "off", message[1], 0))
    return result


def wait_notes(cap, count, what, timeout=10):
    """Waits until at least count note messages have arrived; returns all of them."""
    cap.wait_events(lambda events: len(notes(events)) >= count, timeout, what)
    return notes(cap.events())


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def check_pitches(got, kind, pitches, what):
    check([n[1] for n in got] == [kind] * len(pitches) and sorted(n[2] for n in got) == sorted(pitches),
          "%s: expected %s of %s, got %r" % (what, kind, pitches, got))


def xruns(s):
    """How many cycles the JACK server reported late: a client not finished in its period loses
    that period's MIDI or delivers it a period later, so results must be read with this count."""
    try:
        with open(os.path.join(s.work, "jackd.log")) as f:
            return sum(1 for line in f if "XRun" in line)
    except FileNotFoundError:
        return 0


def run_reporting_xruns(s, test):
    """Runs test(); a failure names the server's late cycles, which can lose or delay messages."""
    try:
        test()
    except harness.Failure as failure:
        count = xruns(s)
        if count:
            raise harness.Failure("%s (the JACK server reported %d XRun lines: the machine was too busy "
                                  "for the period, which loses or delays MIDI)" % (failure, count))
        raise
