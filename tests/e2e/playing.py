"""Shared by the performing tests: Nolari started on a song with its MIDI input and output on the
capture client's JACK ports, the note messages the capture client received, and the pop-up menu
driven with the pointer."""

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


# The main pop-up menu's entries in order, separators included; submenu entries are chosen by name.
MAIN_MENU = ["midiIn", "midiOut", "---", "Open ...", "---", "Channel 16", "Pedal Events", "Channel", "Parts"]
MENU_ENTRY = 25  # pixels per menu entry, inside a 2-pixel border


def _entry_y(top, k):
    return top + 2 + MENU_ENTRY * k + MENU_ENTRY // 2


def _visible_menus(s):
    """(x, y, width) of each menu window on the screen."""
    menus = []
    for window in s.xdotool("search", "--onlyvisible", "--name", "freeglut menu").split():
        out = s.xdotool("getwindowgeometry", "--shell", window)
        values = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
        menus.append((int(values["X"]), int(values["Y"]), int(values["WIDTH"])))
    return menus


def choose_from_submenu(s, main_entry, k, x=300, y=200):
    """Opens the pop-up menu at window point (x, y) and clicks entry k of the submenu of the main
    entry named main_entry. A submenu opens beside its entry and shows its entries only once the
    pointer has been inside it."""
    wx, wy, _, _ = s.geometry()
    px, py = wx + x, wy + y
    s.click(x, y, button=3)
    harness.wait_until(lambda: any(m[:2] == (px, py) for m in _visible_menus(s)), 5, "the pop-up menu")
    main = next(m for m in _visible_menus(s) if m[:2] == (px, py))
    entry_y = _entry_y(py, MAIN_MENU.index(main_entry))
    s.xdotool("mousemove", px + 20, entry_y)
    sub = harness.wait_until(lambda: [m for m in _visible_menus(s) if m[:2] != (px, py)], 5, "the submenu")[0]
    s.xdotool("mousemove", main[0] + main[2] + 20, entry_y)
    s.xdotool("mousemove", sub[0] + 20, _entry_y(sub[1], k))
    s.xdotool("click", 1)
