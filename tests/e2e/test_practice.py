"""Practising with the real program through a JACK server: with two markers and "Loop between
markers" switched on through the pop-up menu, the two markers turn orange, the title shows [loop]
and tapping goes round the passage between them; with
Transpose raised twice by a semitone through its submenu, W sends the first group two semitones up
(its percussion note as it is) and its release the matching Note Offs; both settings are saved."""

import re

import harness
import playing
from harness import check
from playing import wait_notes


def note(ticks, pitch, channel=0, length=240):
    return [(ticks, bytes([0x90 | channel, pitch, 100])), (ticks + length, bytes([0x80 | channel, pitch, 0]))]


def song():
    """Group 1 at 0 s: 60 and 64, and 36 on the percussion channel (events 0-5); then single notes
    67 + k at 0.5 + 0.5 k s for k = 0..5 (events 6 + 2 k)."""
    events = note(0, 60) + note(0, 64) + note(0, 36, channel=9)
    for k in range(6):
        events += note(480 + 480 * k, 67 + k)
    return harness.smf([events])


def passage_marker_pixels(s):
    """Pixels of the passage markers' orange in the song's marker band, the window's bottom 12 rows."""
    image = s.screenshot()
    return sum(1 for y in range(image.height - 12, image.height) for x in range(image.width)
               if all(abs(a - b) <= 8 for a, b in zip(image.pixel(x, y), (255, 153, 25))))


def tap(s, cap):
    before = len(playing.notes(cap.events()))
    s.key("w")
    return wait_notes(cap, before + 2, "a tap and its release")[before:before + 2]


def practise(s):
    cap, path = playing.start(s, "practice.mid", song())

    # Markers at event 8 (note 68) and event 12 (note 70), then back to the first of them.
    s.key("Right", "Right", "m", "Right", "Right", "m", "1")
    playing.choose(s, "Loop between markers")
    harness.wait_until(lambda: "[loop]" in s.title(), 10, "[loop] in the window title")
    check(s.title() == "Nolari %s [loop]         [F1 Help]" % path, "title: %r" % s.title())
    harness.wait_until(lambda: passage_marker_pixels(s) > 0, 10, "the passage's markers drawn orange")

    heard = [tap(s, cap) for _ in range(4)]
    expected = [[("on", p), ("off", p)] for p in (68, 69, 68, 69)]
    check([[(n[1], n[2]) for n in pair] for pair in heard] == expected,
          "tapping round the passage of notes 68 and 69 sent %r" % heard)

    playing.choose(s, "Transpose", "Up a semitone")
    playing.choose(s, "Transpose", "Up a semitone")
    s.key("h")
    before = len(cap.events())
    s.key_down("w")
    cap.wait_events(lambda events: len(playing.notes(events[before:])) >= 3, 10, "the first group's Note Ons")
    s.key_up("w")
    cap.wait_events(lambda events: len(playing.notes(events[before:])) >= 6, 10, "the first group's Note Offs")
    sent = [m for _, m in cap.events()[before:] if playing.is_note_on(m) or playing.is_note_off(m)]
    ons = sorted((m[0], m[1]) for m in sent[:3] if playing.is_note_on(m))
    offs = sorted((m[0] & 0x0F, m[1]) for m in sent[3:6] if playing.is_note_off(m))
    check(ons == [(0x90, 62), (0x90, 66), (0x99, 36)], "W with Transpose +2 sent %r" % sent[:3])
    check(offs == [(0, 62), (0, 66), (9, 36)], "its release sent %r" % sent[3:6])

    s.key("Escape")
    check(s.wait_exit() == 0, "Esc did not end the program with status 0")
    meta = open(path + ".mta").read()
    check(re.search(r"^MARKER 8\nMARKER 12\nLOOP 1\nTRANSPOSE 2\nNOTE_GROUPS ", meta, re.M),
          "the practice settings were not saved after the markers:\n" + meta)
    check("ERROR: trackNote" not in s.log(), "notes started or ended twice:\n" + s.log())


def main():
    with harness.Session(jack=True) as s:
        playing.run_reporting_xruns(s, lambda: practise(s))


harness.run(main)
