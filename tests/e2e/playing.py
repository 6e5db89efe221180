"""Shared by the performing tests: Nolari started on a song with its MIDI input and output on the
capture client's JACK ports, the note messages the capture client received, and the pop-up menu
driven with the pointer."""

import os
import statistics
import subprocess
import threading
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


def tap_exactly(cap, interval, count, held):
    """count taps (Note On 60) from the capture client, each interval frames after the one before
    and held for `held` frames, every one at its exact frame; the first at the next period."""
    for k in range(count):
        if k == 0:
            cap.send(b"\x90\x3c\x64")
        else:
            cap.send_after(interval - held, b"\x90\x3c\x64")
        cap.send_after(held, b"\x80\x3c\x00")


def heard_since(cap, before, low_notes, what, timeout=10):
    """Waits until low_notes note messages below middle C have arrived since `before` (the counts of
    cap.events() and cap.sent() then); returns the frames of the Note Ons sent since, and the notes
    heard since."""
    events, sent = before
    cap.wait_events(lambda got: sum(1 for n in notes(got[events:]) if n[2] < 60) >= low_notes, timeout, what)
    return [f for f, m in cap.sent()[sent:] if is_note_on(m)], notes(cap.events()[events:])


def check_ended(heard, what):
    """Each Note On in notes() form is followed by its Note Off before the pitch sounds again, and
    nothing is left sounding."""
    sounding = set()
    for n in heard:
        check((n[2] in sounding) == (n[1] == "off"), "%s note %d %s out of turn" % (what, n[2], n[1]))
        sounding.symmetric_difference_update({n[2]})
    check(not sounding, "%s notes left sounding: %r" % (what, sorted(sounding)))


def go_to_start(s, cap):
    """H silences everything; waits until the last of it has arrived."""
    s.key("h")
    seen = [-1, time.monotonic()]

    def quiet():
        count = len(cap.events())
        if count != seen[0]:
            seen[:] = [count, time.monotonic()]
        return time.monotonic() - seen[1] > 0.3

    harness.wait_until(quiet, 10, "the output to fall quiet")


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


# --- The software synthesizer's sound on its JACK outputs ------------------------------------------

SYNTH_PORTS = ["NolariSynth:left", "NolariSynth:right"]
SILENCE = 1e-4  # -80 dB
AUDIBLE = 1e-3  # -60 dB


class Loudness:
    """Runs tools/jackaudiorms on the synthesizer's ports and keeps every reading."""

    def __init__(self, session):
        self.readings = []
        self.ready = False
        self.proc = subprocess.Popen([harness.tool("jackaudiorms")] + SYNTH_PORTS, env=session.env,
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        session.children.append(self.proc)
        threading.Thread(target=self._read, daemon=True).start()
        harness.wait_until(lambda: self.ready or self.proc.poll() is not None, 15, "jackaudiorms to connect")
        check(self.ready, "jackaudiorms could not listen to %s" % SYNTH_PORTS)

    def _read(self):
        for line in self.proc.stdout:
            if line.startswith("ready"):
                self.ready = True
            elif line.startswith("rms "):
                self.readings.append(float(line.split()[1]))

    def wait(self, predicate, what, count=3, timeout=10):
        """Waits for `count` new readings in a row that satisfy the predicate."""
        start = len(self.readings)
        return harness.wait_until(
            lambda: len(self.readings) - start >= count and all(predicate(r) for r in self.readings[-count:]),
            timeout, what)


# --- The right-button pop-up menu ----------------------------------------------------------------

# The main menu's entries in order, separators included; an entry is found by the start of its label.
MAIN_MENU = ["midiIn", "midiOut", "---", "Open ...", "---", "Channel 16", "Pedal Events", "Channel",
             "Loop between markers", "Listen speed", "Transpose", "Parts", "Export take as audio",
             "Export take as audio (FLAC)"]
LISTEN_SPEEDS = [50, 75, 100, 125]
SUBMENUS = {"Listen speed": ["%d %%" % p for p in LISTEN_SPEEDS],
            "Transpose": ["Up a semitone", "Down a semitone", "Up an octave", "Down an octave", "None"]}
MENU_AT = (60, 60)  # where the menu is opened, in window pixels


def entry_centre(top, k):
    """freeglut draws entries 25 pixels high inside a 2-pixel border."""
    return top + 2 + 25 * k + 12


def menu_entries(menu):
    """How many entries a menu (x, y, width, height) holds."""
    return (menu[3] - 4) // 25


def visible_menus(s):
    """Absolute (x, y, width, height) of each menu on the screen."""
    ids = s.xdotool("search", "--onlyvisible", "--name", "^freeglut menu$").split()
    menus = []
    for window in ids:
        out = s.xdotool("getwindowgeometry", "--shell", window)
        values = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
        menus.append((int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])))
    return menus


def open_menu(s, entry, submenu=False):
    """Opens the menu with the pointer on an entry; returns the entry's submenu, entered once so that
    it draws its entries, when asked for."""
    x, y, _, _ = s.geometry()
    left, top = x + MENU_AT[0], y + MENU_AT[1]
    s._focus()
    s.xdotool("mousemove", left, top)
    s.xdotool("click", 3)
    main = harness.wait_until(lambda: visible_menus(s), 10, "the pop-up menu")[0]
    s.xdotool("mousemove", left + 30, entry_centre(top, MAIN_MENU.index(entry)))
    if not submenu:
        return None
    sub = harness.wait_until(lambda: [m for m in visible_menus(s) if m != main], 10, "the %s submenu" % entry)[0]
    s.xdotool("mousemove", sub[0] + 30, sub[1] + 14)
    return sub


def click_entry(s, menu=None, k=0):
    """Clicks entry k of an open menu, or the entry the pointer is on."""
    if menu is not None:
        s.xdotool("mousemove", menu[0] + 30, entry_centre(menu[1], k))
    s.xdotool("click", 1)
    harness.wait_until(lambda: not visible_menus(s), 10, "the menu to close")


def choose(s, entry, subentry=None):
    """Chooses a main-menu entry, or an entry of one of its submenus (by label, or by number where
    the submenu's entries depend on the song), with the pointer."""
    sub = open_menu(s, entry, subentry is not None)
    if sub is None:
        click_entry(s)
    else:
        click_entry(s, sub, subentry if isinstance(subentry, int) else SUBMENUS[entry].index(subentry))


def choose_path(s, entry, path):
    """Chooses an entry down a chain of submenus: path[0] in the main-menu entry's submenu, each next
    index in the submenu the one before opens, the last one clicked. Returns the menus passed through,
    as (x, y, width, height)."""
    menus = [open_menu(s, entry, True)]
    for k in path[:-1]:
        parent = menus[-1]
        s.xdotool("mousemove", parent[0] + 30, entry_centre(parent[1], k))
        # The submenu opens level with its entry, beside the parent or, without room there, across it.
        sub = harness.wait_until(lambda: [m for m in visible_menus(s) if m[1] == parent[1] + 25 * k and m not in menus],
                                 10, "the submenu of entry %d" % k)[0]
        s.xdotool("mousemove", sub[0] + 30, sub[1] + 14)
        menus.append(sub)
    click_entry(s, menus[-1], path[-1])
    return menus


def tempo_ratios(tap_frames, beat_seconds):
    """The program's tempo after each tap: 1 at first, then the last ratio, then the median of the
    last three, within 0.25 .. 4."""
    ratios, result = [], []
    for k in range(len(tap_frames)):
        if k > 0:
            ratios.append((tap_frames[k] - tap_frames[k - 1]) / RATE / beat_seconds)
        last = ratios[-3:]
        r = 1.0 if not last else statistics.median(last) if len(last) == 3 else last[-1]
        result.append(min(4.0, max(0.25, r)))
    return result


def choose_listen_speed(s, percent):
    choose(s, "Listen speed", "%d %%" % percent)
