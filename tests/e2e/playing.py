"""Shared by the performing tests: Nolari started on a song with its MIDI input and output on the
capture client's JACK ports, and the note messages the capture client received."""

import os
import subprocess
import threading

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


# --- The right-button pop-up menus ------------------------------------------------------------------

# The main menu's entries in order, separators included; indices into it name the entries.
MAIN_MENU = ["midiIn", "midiOut", "---", "Open ...", "---", "Channel 16", "Pedal Events", "Channel"]
MENU_BORDER = 2
MENU_ENTRY = 25


class Menu:
    def __init__(self, window, x, y, width, height):
        self.window, self.x, self.y, self.width, self.height = window, x, y, width, height

    def entries(self):
        return (self.height - 2 * MENU_BORDER) // MENU_ENTRY

    def entry_point(self, k):
        """Where entry k is, inside the menu: the pointer there hovers or chooses it."""
        return self.x + 20, self.y + MENU_BORDER + MENU_ENTRY * k + MENU_ENTRY // 2


def menus_shown(s):
    """The freeglut menus on the screen."""
    tree = subprocess.run(["xwininfo", "-root", "-tree"], env=s.env, capture_output=True, text=True,
                          timeout=10).stdout
    shown = []
    for line in tree.splitlines():
        if '"freeglut menu"' not in line:
            continue
        window = line.split()[0]
        info = subprocess.run(["xwininfo", "-id", window], env=s.env, capture_output=True, text=True,
                              timeout=10).stdout
        if "IsViewable" not in info:
            continue
        values = {}
        for field in info.splitlines():
            name, _, value = field.strip().partition(":")
            values[name] = value.strip()
        shown.append(Menu(window, int(values["Absolute upper-left X"]), int(values["Absolute upper-left Y"]),
                          int(values["Width"]), int(values["Height"])))
    return shown


def open_submenu(s, entry):
    """Opens the main menu with a right click in the window and the submenu of the named entry;
    returns the submenu."""
    x, y, _, _ = s.geometry()
    s.xdotool("mousemove", x + 40, y + 40)
    s.xdotool("click", 3)
    main = harness.wait_until(lambda: (menus_shown(s) or [None])[0], 5, "the main menu")
    s.xdotool("mousemove", *main.entry_point(MAIN_MENU.index(entry)))
    sub = harness.wait_until(lambda: [m for m in menus_shown(s) if m.window != main.window], 5,
                             "the %s submenu" % entry)[0]
    # A submenu draws its entries once the pointer has been inside it.
    s.xdotool("mousemove", *sub.entry_point(0))
    return sub


def choose(s, menu, k):
    s.xdotool("mousemove", *menu.entry_point(k))
    s.xdotool("click", 1)
    harness.wait_until(lambda: not menus_shown(s), 5, "the menus to close")
