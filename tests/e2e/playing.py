"""Shared by the performing tests: Nolari started on a song with its MIDI input and output on the
capture client's JACK ports, and the note messages the capture client received."""

import os
import re
import subprocess
import time

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


# The main pop-up menu's entries in order, separators included; menu positions are computed from it.
MAIN_MENU = ["midiIn", "midiOut", "---", "Open ...", "---", "Channel 16", "Pedal Events", "Channel", "Listen speed"]
LISTEN_SPEEDS = [50, 75, 100, 125]
MENU_ENTRY = 25
MENU_BORDER = 2


def _menus(s):
    """Placed freeglut menu windows as (x, y, width, height); a menu not yet shown sits at -1,-1."""
    out = subprocess.run(["xwininfo", "-root", "-tree"], env=s.env, capture_output=True, text=True, timeout=10).stdout
    found = re.findall(r'"freeglut menu".*?\s(\d+)x(\d+)\+(-?\d+)\+(-?\d+)', out)
    return [(int(x), int(y), int(w), int(h)) for w, h, x, y in found if int(x) >= 0]


def _menu_with(s, entries, right_of=0):
    height = 2 * MENU_BORDER + MENU_ENTRY * entries
    return harness.wait_until(lambda: next((m for m in _menus(s) if m[3] == height and m[0] >= right_of), None),
                              10, "a menu of %d entries" % entries)


def _entry_centre(menu, k):
    x, y, _, _ = menu
    return x + 20, y + MENU_BORDER + MENU_ENTRY * k + MENU_ENTRY // 2


def choose_from_submenu(s, main_entry, entry, entries):
    """Opens the main menu with a right click, moves onto its entry main_entry and clicks entry k of
    the submenu of `entries` entries that opens beside it."""
    s.click(100, 100, 3)
    main = _menu_with(s, len(MAIN_MENU))
    s.xdotool("mousemove", *_entry_centre(main, MAIN_MENU.index(main_entry)))
    sub = _menu_with(s, entries, right_of=main[0] + main[2] - 1)
    x, y = _entry_centre(sub, entry)
    s.xdotool("mousemove", x, y)
    time.sleep(0.2)
    s.xdotool("mousemove", x + 1, y)
    s.xdotool("click", 1)


def choose_listen_speed(s, percent):
    choose_from_submenu(s, "Listen speed", LISTEN_SPEEDS.index(percent), len(LISTEN_SPEEDS))
