"""The software synthesizer in the real program: with it as MIDIOUT and a JACK server present, a
tap of W is heard on the synthesizer's JACK audio outputs and the release ends the sound; with no
audio output at all the synthesizer is not offered and the program runs as usual."""

import os
import subprocess
import threading

import harness
from harness import check

SYNTH_PORTS = ["NolariSynth:left", "NolariSynth:right"]
SILENCE = 1e-4  # -80 dB
AUDIBLE = 1e-3  # -60 dB


def organ_song():
    """An organ chord held for two beats, then a second chord: the organ sounds until released."""
    return harness.smf([[(0, b"\xc0\x10"), (0, b"\x90\x3c\x64"), (0, b"\x90\x40\x64"),
                         (960, b"\x80\x3c\x00"), (960, b"\x80\x40\x00"),
                         (960, b"\x90\x43\x64"), (1920, b"\x80\x43\x00")]])


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


def tap_sounds_and_release_ends_it():
    with harness.Session(jack=True) as s:
        song = s.write_song("organ.mid", organ_song())
        s.write_cfg(["CURRENTSONG " + song, "MIDIOUT " + harness.synth_name()])
        s.start()
        s.wait_log("before glutMainLoop()")
        check("Unable to open an audio output" not in s.log(), "the synthesizer found no audio output:\n" + s.log())
        harness.wait_until(lambda: all(p in s.jack_ports() for p in SYNTH_PORTS), 10, "the synthesizer's JACK ports")
        s.wait_window()
        loudness = Loudness(s)
        loudness.wait(lambda r: r < SILENCE, "silence before any tap")

        s.key_down("w")
        loudness.wait(lambda r: r > AUDIBLE, "sound after pressing W", count=2, timeout=5)
        loudness.wait(lambda r: r > AUDIBLE, "the organ held while W is down", count=10, timeout=5)
        s.key_up("w")
        loudness.wait(lambda r: r < SILENCE, "silence after releasing W", count=3, timeout=8)

        s.close_window()
        check(s.wait_exit() == 0, "closing the window did not end the program with status 0")
        check("MIDIOUT " + harness.synth_name() + "\n" in s.read("Nolari.cfg"), "the synthesizer output was not kept")


def without_audio_output_synth_is_not_listed():
    with harness.Session() as s:
        # No sound server of any kind can be reached, whatever the machine offers.
        empty_alsa = os.path.join(s.work, "asound.conf")
        open(empty_alsa, "w").close()
        s.env.update({"JACK_DEFAULT_SERVER": "nolari-absent-%d" % os.getpid(), "PULSE_SERVER": "unix:/nonexistent",
                      "PIPEWIRE_REMOTE": "nolari-absent", "ALSA_CONFIG_PATH": empty_alsa})
        song = s.write_song("organ.mid", organ_song())
        s.write_cfg(["CURRENTSONG " + song])
        s.start()
        log = s.wait_log("before glutMainLoop()")
        check("ERROR: Unable to open an audio output for the software synth (tried pipewire, pulseaudio, jack, alsa)\n"
              in log, "the missing audio output was not reported:\n" + log)
        s.wait_window()
        s.key("w")
        s.close_window()
        check(s.wait_exit() == 0, "the program did not run normally without the synthesizer")
        cfg = s.read("Nolari.cfg")
        check("FluidSynth" not in cfg, "an unavailable synthesizer was chosen as output: %r" % cfg)


def main():
    tap_sounds_and_release_ends_it()
    without_audio_output_synth_is_not_listed()


harness.run(main)
