"""MIDI devices of the real program over a JACK server: the configured ports are opened at start,
the output gets Local Control off and the program changes, Esc gives Local Control back (once on each
channel: the output's last cycle is not repeated while it closes), a first
start chooses the capture client's ports by itself, and a port that vanishes costs no crash."""

import subprocess
import time

import harness
from harness import check

IN_PORT = "nolaricap:out"    # what Nolari reads
OUT_PORT = "nolaricap:in"    # what Nolari plays into


def local_control(on):
    return [bytes([0xB0 + channel, 122, 127 if on else 0]) for channel in range(16)]


PROGRAM_ZERO = [bytes([0xC0 + channel, 0]) for channel in range(16)]


def messages(events):
    return [message for _, message in events]


def contains_in_order(received, wanted):
    position = 0
    for message in received:
        if position < len(wanted) and message == wanted[position]:
            position += 1
    return position == len(wanted)


def connections(s):
    out = subprocess.run(["jack_lsp", "-c"], env=s.env, capture_output=True, text=True, timeout=10).stdout
    links, port = set(), None
    for line in out.splitlines():
        if line.startswith((" ", "\t")):
            links.add((port, line.strip()))
        else:
            port = line.strip()
    return links


def song(s):
    return s.write_song("song.mid", harness.smf([[(0, b"\x90\x3c\x64"), (480, b"\x80\x3c\x00"),
                                                  (480, b"\x90\x3e\x64"), (960, b"\x80\x3e\x00")]]))


def configured_ports_are_opened_and_local_control_restored():
    with harness.Session(jack=True) as s:
        cap = s.capture()
        s.write_cfg(["CURRENTSONG " + song(s), "MIDIIN " + IN_PORT, "MIDIOUT " + OUT_PORT])
        s.start()
        s.wait_log("before glutMainLoop()")
        start = local_control(False) + PROGRAM_ZERO
        cap.wait_events(lambda events: contains_in_order(messages(events), start), 10,
                        "Local Control off and program changes on all 16 channels")
        links = connections(s)
        check(any(OUT_PORT in pair and "Nolari:out" in pair for pair in links),
              "Nolari's output is not connected to %s: %r" % (OUT_PORT, links))
        check(any(IN_PORT in pair and "Nolari:in" in pair for pair in links),
              "Nolari's input is not connected to %s: %r" % (IN_PORT, links))

        s.wait_window()
        s.key("Escape")
        check(s.wait_exit() == 0, "Esc did not end the program with status 0")
        cap.wait_events(lambda events: contains_in_order(messages(events), start + local_control(True)), 5,
                        "Local Control on at exit")
        # The output's last cycle must reach the capture client once, not again in the cycles after.
        time.sleep(0.1)
        restored = sum(1 for m in messages(cap.events()) if m in local_control(True))
        print("Local Control On messages received at exit: %d" % restored)
        check(restored == 16, "Local Control On arrived %d times, not once on each of the 16 channels" % restored)
        cfg = s.read("Nolari.cfg")
        check("MIDIIN %s\n" % IN_PORT in cfg and "MIDIOUT %s\n" % OUT_PORT in cfg,
              "the configured device names were not kept: %r" % cfg)


def first_start_chooses_the_capture_ports():
    with harness.Session(jack=True) as s:
        cap = s.capture()
        s.write_cfg(["CURRENTSONG " + song(s)])
        s.start()
        s.wait_log("before glutMainLoop()")
        cfg = s.read("Nolari.cfg")
        check("MIDIIN %s\n" % IN_PORT in cfg, "first start did not choose %s as input: %r" % (IN_PORT, cfg))
        check("MIDIOUT %s\n" % OUT_PORT in cfg, "first start did not choose %s as output: %r" % (OUT_PORT, cfg))
        check("Cfg::setMidiOutDevice(%s)\n" % OUT_PORT in s.log(), "the chosen output was not logged")
        cap.wait_events(lambda events: contains_in_order(messages(events), local_control(False)), 10,
                        "Local Control off on the chosen output")
        s.wait_window()
        s.key("Escape")
        check(s.wait_exit() == 0, "Esc did not end the program with status 0")


def vanishing_port_costs_no_crash():
    with harness.Session(jack=True) as s:
        cap = s.capture()
        s.write_cfg(["CURRENTSONG " + song(s), "MIDIIN " + IN_PORT, "MIDIOUT " + OUT_PORT])
        s.start()
        s.wait_log("before glutMainLoop()")
        cap.wait_events(lambda events: contains_in_order(messages(events), local_control(False)), 10,
                        "Local Control off")
        s.wait_window()
        for message in (b"\x90\x3c\x64", b"\xf0\x7e\x7f\x06\x01\xf7", b"\x80\x3c\x00", b"\xb0\x40\x7f"):
            cap.send(message)
        harness.wait_until(lambda: len(cap.sent()) == 4, 5, "the capture client's messages to Nolari")
        cap.stop()
        harness.wait_until(lambda: OUT_PORT not in s.jack_ports(), 10, "the capture ports to vanish")
        s.key("w")
        s.key("space")
        check(s.proc.poll() is None, "nolari ended when its ports vanished (status %s)" % s.proc.poll())
        s.key("Escape")
        check(s.wait_exit() == 0, "Esc after the ports vanished did not end the program with status 0")
        check(s.log().splitlines()[-1].endswith(": Exiting."), "the exit after the ports vanished was not orderly")


def main():
    configured_ports_are_opened_and_local_control_restored()
    first_start_chooses_the_capture_ports()
    vanishing_port_costs_no_crash()


harness.run(main)
