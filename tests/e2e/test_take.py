"""Keeping the take with the real program through a JACK server: three groups tapped with W at set
intervals and one from MIDI input are saved with S as <song>-take-1.mid, which mido reads with the
notes, velocities and intervals the capture client heard; more taps left unsaved at Esc are found
in LastTake.mid; and the saved take opens in Nolari and plays like any song."""

import os
import time

import harness
import midofile
import playing
from harness import check
from playing import wait_notes

# The JACK output writes a message sent at once (a tap) at the start of the next period, so what the
# capture client hears is quantised to a period; the take holds the times the messages were sent.
TOLERANCE = 0.002 + playing.PERIOD / playing.RATE


def note(ticks, pitch, velocity, length=240):
    return [(ticks, bytes([0x90, pitch, velocity])), (ticks + length, bytes([0x80, pitch, 0]))]


def song():
    """Groups half a second apart: the chord 60 and 64 (velocities 100, 80), then 67 (90), 72 (70),
    74 (100), 76 (100), 77 (60)."""
    events = note(0, 60, 100) + note(0, 64, 80)
    for k, (pitch, velocity) in enumerate([(67, 90), (72, 70), (74, 100), (76, 100), (77, 60)]):
        events += note(480 * (k + 1), pitch, velocity)
    return harness.smf([events])


def take_notes(path):
    """The take's note messages as mido reads them: (seconds, "on"/"off", pitch, velocity)."""
    _, _, messages = midofile.read(path)
    result = []
    for seconds, message in messages:
        for _, kind, pitch, velocity in playing.notes([(0, message)]):
            result.append((seconds, kind, pitch, velocity))
    return result


def compare(s, heard, saved, what, xruns_before):
    """The saved notes are the heard ones, with their velocities, at the heard intervals (held to
    the tolerance when the server ran every cycle on time while they were played)."""
    check([n[1:] for n in heard] == [n[1:] for n in saved],
          "%s: the take holds %r, the capture client heard %r" % (what, [n[1:] for n in saved], [n[1:] for n in heard]))
    heard_times = [(n[0] - heard[0][0]) / playing.RATE for n in heard]
    saved_times = [n[0] - saved[0][0] for n in saved]
    errors = sorted(abs(heard_at - saved_at) for heard_at, saved_at in zip(heard_times, saved_times))
    late = playing.xruns(s) - xruns_before
    print("%s: %d note messages, take times off the heard ones by median %.1f ms, worst %.1f ms, "
          "%d late server cycles" % (what, len(errors), errors[len(errors) // 2] * 1000, errors[-1] * 1000, late))
    # The dummy server's frames keep time with the clock only while it runs every cycle on time.
    check(late > 0 or errors[-1] <= TOLERANCE,
          "%s: a note is %.1f ms off the time it was heard" % (what, errors[-1] * 1000))


def tap(s, pause):
    s.key("w")
    time.sleep(pause)


def keep_takes(s):
    cap, path = playing.start(s, "song.mid", song())
    start = len(playing.notes(cap.events()))
    xruns = playing.xruns(s)

    tap(s, 0.3)
    tap(s, 0.45)
    tap(s, 0.35)
    cap.send(b"\x90\x40\x32")
    time.sleep(0.2)
    cap.send(b"\x80\x40\x00")
    heard = wait_notes(cap, start + 10, "the four groups")[start:]
    s.key("s")
    saved_path = s.path("song-take-1.mid")
    s.wait_log("Saved take %s (5 notes, " % saved_path)
    compare(s, heard, take_notes(saved_path), "take 1", xruns)
    check(dict((n[2], n[3]) for n in heard if n[1] == "on")[74] == 50, "the MIDI tap was not heard at velocity 50")
    midi, names, _ = midofile.read(saved_path)
    check(midi.type == 0 and len(midi.tracks) == 1 and names == ["song.mid take 1"],
          "take file: type %d, %d tracks, names %r" % (midi.type, len(midi.tracks), names))

    more = len(playing.notes(cap.events()))
    xruns = playing.xruns(s)
    tap(s, 0.25)
    tap(s, 0.1)
    heard = wait_notes(cap, more + 4, "the unsaved taps")[more:]
    s.key("Escape")
    check(s.wait_exit() == 0, "Esc did not end the program with status 0")
    check("Saved take %s (2 notes, " % s.path("LastTake.mid") in s.log(), "no LastTake.mid logged:\n" + s.log())
    compare(s, heard, take_notes(s.path("LastTake.mid")), "the last take", xruns)

    # The saved take is a song of its own: its first group is the chord as it was played.
    s.write_cfg(["CURRENTSONG " + saved_path, "MIDIIN nolaricap:out", "MIDIOUT nolaricap:in"])
    programs = sum(1 for _, m in cap.events() if m[0] & 0xF0 == 0xC0)
    s.window = None
    s.start()
    cap.wait_events(lambda events: sum(1 for _, m in events if m[0] & 0xF0 == 0xC0) >= programs + 16, 20,
                    "the program changes of the take opened as a song")
    before = len(playing.notes(cap.events()))
    s.key("w")
    played = wait_notes(cap, before + 4, "the take's first group")[before:]
    chord = [("off", 60, 0), ("off", 64, 0), ("on", 60, 100), ("on", 64, 80)]
    check(sorted((n[1], n[2], n[3]) for n in played) == chord,
          "the take's first group played %r, not the chord 60 and 64 at 100 and 80" % played)
    s.key("Escape")
    check(s.wait_exit() == 0, "Esc did not end the program with status 0")
    check(not os.path.exists(s.path("song-take-1-take-1.mid")), "a take was saved without S")


def main():
    with harness.Session(jack=True) as s:
        playing.run_reporting_xruns(s, lambda: keep_takes(s))


harness.run(main)
