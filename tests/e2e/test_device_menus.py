"""Choosing devices from the real pop-up menus over a JACK server. With Nolari's own input open
(its port is then one of JACK's MIDI inputs), the midiOut submenu offers the capture client and the
synthesizer but not Nolari's own ports; choosing the synthesizer's entry makes the next tap sound
on the synthesizer's JACK outputs and is saved; choosing the capture client again mid-song sends it
the programs in effect at the position. With no MIDI input at all, the midiIn submenu says so in
one entry that does nothing, and the program still ends in order."""

import os

import harness
from harness import check
from harness import synth_name
from playing import AUDIBLE, SILENCE, SYNTH_PORTS, Loudness, click_entry, menu_entries, open_menu
import playing

CAPTURE_OUT = "nolaricap:in"


def song():
    """Organ (program 19) for the first note, strings (program 48) from the second on."""
    return harness.smf([[(0, b"\xc0\x13"), (0, b"\x90\x3c\x64"), (240, b"\x80\x3c\x00"), (480, b"\xc0\x30"),
                         (480, b"\x90\x3e\x64"), (720, b"\x80\x3e\x00"), (960, b"\x90\x40\x64"),
                         (1200, b"\x80\x40\x00"), (1440, b"\x90\x41\x64"), (1680, b"\x80\x41\x00")]])


def midi_outputs_offered(s):
    """The JACK MIDI inputs other programs than Nolari have, plus the synthesizer: what the midiOut
    submenu should offer on a machine without ALSA."""
    ports = s.jack_ports()
    return [p for p in ports if p == CAPTURE_OUT] + [synth_name()]


def programs(events):
    return [m for _, m in events if len(m) == 2 and m[0] & 0xF0 == 0xC0]


def synthesizer_chosen_from_the_menu_plays_and_a_new_output_gets_the_programs():
    with harness.Session(jack=True) as s:
        cap, _ = playing.start(s, "song.mid", song())
        harness.wait_until(lambda: "Nolari:in" in s.jack_ports(), 10, "Nolari's own input port")

        menu = open_menu(s, "midiOut", submenu=True)
        check(menu_entries(menu) == len(midi_outputs_offered(s)),
              "the midiOut submenu has %d entries, expected %r (Nolari's own ports must not be offered)"
              % (menu_entries(menu), midi_outputs_offered(s)))
        click_entry(s, menu, menu_entries(menu) - 1)
        s.wait_file("Nolari.cfg", lambda text: "MIDIOUT %s\n" % synth_name() in text, timeout=10)
        check("Cfg::setMidiOutDevice(%s)\n" % synth_name() in s.log(), "the synthesizer's choice was not logged")

        harness.wait_until(lambda: all(p in s.jack_ports() for p in SYNTH_PORTS), 10, "the synthesizer's JACK ports")
        loudness = Loudness(s)
        loudness.wait(lambda r: r < SILENCE, "silence before the tap")
        notes_before = len(playing.notes(cap.events()))
        s.key_down("w")
        loudness.wait(lambda r: r > AUDIBLE, "the tap on the synthesizer's JACK outputs", count=2, timeout=5)
        s.key_up("w")
        loudness.wait(lambda r: r < SILENCE, "silence after the release", count=3, timeout=8)
        check(len(playing.notes(cap.events())) == notes_before, "the tap still went to the capture client")

        s.key("w")  # past the change to strings
        heard = len(cap.events())
        click_entry(s, open_menu(s, "midiOut", submenu=True), 0)
        expected = [bytes([0xC0 + channel, 48 if channel == 0 else 0]) for channel in range(16)]
        cap.wait_events(lambda events: programs(events[heard:]) == expected, 10,
                        "the programs in effect on the output chosen mid-song")
        check("MIDIOUT %s\n" % CAPTURE_OUT in s.read("Nolari.cfg"), "the capture client's choice was not saved")

        s.key("Escape")
        check(s.wait_exit() == 0, "Esc did not end the program with status 0")


def without_inputs_the_midi_in_submenu_says_so():
    with harness.Session() as s:
        s.env["JACK_DEFAULT_SERVER"] = "nolari-absent-%d" % os.getpid()
        s.write_cfg(["CURRENTSONG " + s.write_song("song.mid", song())])
        s.start()
        s.wait_log("before glutMainLoop()")
        s.wait_window()
        menu = open_menu(s, "midiIn", submenu=True)
        check(menu_entries(menu) == 1, "the midiIn submenu without inputs has %d entries" % menu_entries(menu))
        click_entry(s, menu, 0)
        check("MIDIIN" not in s.read("Nolari.cfg"), "the entry saying there is no input chose one")
        s.key("Escape")
        check(s.wait_exit() == 0, "Esc did not end the program with status 0")
        check(s.log().splitlines()[-1].endswith(": Exiting."), "the exit was not orderly")


def main():
    synthesizer_chosen_from_the_menu_plays_and_a_new_output_gets_the_programs()
    without_inputs_the_midi_in_submenu_says_so()


harness.run(main)
