"""The built-in synthesizer on the sound stack of today's desktops (PipeWire with WirePlumber,
pipewire-pulse and pipewire-jack, headless with a null sink as the default output) and on a plain
JACK server.

1. A first start with a song argument and no configuration chooses the synthesizer, which plays
   through a PipeWire stream of its own named "Nolari"; a W tap is heard on the sink's monitor
   after silence, and nothing is printed on standard error.
2. Under pw-jack, a JACK MIDI peer's Note Ons into Nolari's input are heard on the sink's monitor,
   which the peer listens to through its own JACK audio inputs: frames from each Note On to the
   first sound, median and worst, and the graph's period while Nolari plays. Then some seconds of
   ten taps a second on ten-note chords (5 in the suite, NOLARI_STRESS_SECONDS for a longer count),
   counting the late cycles (xruns) the graph reports and the gaps heard in the sound; for
   comparison, the same count for PipeWire's own player playing a tone at the same period, and the
   share of time the machine's hypervisor took from it meanwhile.
3. The same timing on a JACK server with the dummy driver at 256 frames, where the synthesizer
   plays through FluidSynth's JACK driver after its PulseAudio driver found no server, and nothing
   is printed on standard error.
The figures are printed; the test fails only when the sound does not arrive."""

import os
import statistics
import subprocess
import time

import desktop
import harness
from harness import check

SILENCE = 1e-4  # -80 dB
AUDIBLE = 1e-3  # -60 dB
TAPS = 12
CHORD = [48, 52, 55, 60, 64, 67, 72, 76, 79, 84]
NOTE_ON = bytes([0x90, 60, 100])
NOTE_OFF = bytes([0x80, 60, 0])
STRESS_SECONDS = int(os.environ.get("NOLARI_STRESS_SECONDS", "5"))


def chord_song(count):
    """Piano chords of ten notes, one group each: every tap sounds the next one."""
    events = []
    for k in range(count):
        for pitch in CHORD:
            events += [(240 * k, bytes([0x90, pitch, 100])), (240 * k + 120, bytes([0x80, pitch, 0]))]
    return harness.smf([events])


def first_start_plays_through_the_stream():
    with harness.Session() as s:
        server = desktop.SoundServer(s)
        s.write_song("chords.mid", chord_song(4))
        # A first start with a song: no configuration at all, the song given relative to the folder.
        s.start([harness.BIN, "chords.mid"])
        log = s.wait_log("before glutMainLoop()")
        check("Software synth audio output: pipewire\n" in log, "the synthesizer is not on its PipeWire stream:\n" + log)
        expected = ["MIDIOUT " + harness.synth_name() + "\n", "CURRENTSONG " + s.path("chords.mid") + "\n"]
        s.wait_file("Nolari.cfg", lambda cfg: all(line in cfg for line in expected))
        stream = harness.wait_until(lambda: server.nodes().get("Nolari"), 10, "the Nolari stream in the graph")
        for key, value in [("media.type", "Audio"), ("media.category", "Playback"), ("media.role", "Music"),
                           ("node.latency", "240/48000")]:
            check(stream.get(key) == value, "the stream's %s is %r, not %r" % (key, stream.get(key), value))
        server.wait_linked_to_sink("Nolari")
        s.wait_window()

        monitor = server.record_monitor()
        time.sleep(0.5)
        tap = monitor.frames()
        quiet = monitor.rms(tap - desktop.RATE // 4, tap)
        check(quiet < SILENCE, "the monitor is not silent before the tap (rms %g)" % quiet)
        s.key_down("w")
        harness.wait_until(lambda: monitor.frames() > tap + desktop.RATE // 2, 10, "half a second of recording")
        loud = monitor.rms(tap, monitor.frames())
        s.key_up("w")
        check(loud > AUDIBLE, "W was not heard on the monitor (rms %g)" % loud)
        print("desktop first start: monitor rms %.2g before the tap, %.2g after" % (quiet, loud))

        s.close_window()
        check(s.wait_exit() == 0, "closing the window did not end the program with status 0")
        check(s.stderr() == "", "the program printed on standard error:\n" + s.stderr())


def tap_latencies(s, cap, taps):
    """Sends Note Ons one at a time, each after the sound before has died away; returns the frames
    from each Note On to the first sound the capture client heard. PipeWire drops what a JACK client
    wrote in a cycle it ran late in, so a tap not heard within 2 s is sent again (twice at most)."""
    result = []
    for i in range(taps):
        sounds = len(cap.marks("sound"))
        quiets = len(cap.marks("quiet"))
        heard = lambda: len(cap.marks("sound")) > sounds
        for attempt in range(3):
            if attempt:
                print("tap %d not heard in 2 s: sent again" % (i + 1))
                cap.send(NOTE_OFF)
            cap.send(NOTE_ON)
            if attempt == 2 or within(heard, 2):
                break
        harness.wait_until(heard, 5, "the sound of tap %d" % (i + 1))
        sound = cap.marks("sound")[sounds]
        result.append(sound - max(f for f, m in cap.sent() if m == NOTE_ON and f <= sound))
        cap.send(NOTE_OFF)
        harness.wait_until(lambda: len(cap.marks("quiet")) > quiets, 10, "silence after tap %d" % (i + 1))
    return result


def within(predicate, seconds):
    try:
        return harness.wait_until(predicate, seconds, "")
    except harness.Failure:
        return False


def report(name, latencies, cap, rate):
    median, worst = statistics.median(latencies), max(latencies)
    print("%s: tap to sound median %d frames (%.1f ms), worst %d frames (%.1f ms), n = %d" %
          (name, median, median * 1000.0 / rate, worst, worst * 1000.0 / rate, len(latencies)))
    print("  periods %s frames (the last while Nolari plays); late cycles %d, gaps in the sound %d" %
          (" then ".join(map(str, cap.marks("period"))), xruns(cap), len(cap.marks("gap"))))


def xruns(cap):
    counts = cap.marks("xruns")
    return counts[-1] if counts else 0


def start_on_peer(s, cap, song):
    path = s.write_song("chords.mid", song)
    s.write_cfg(["CURRENTSONG " + path, "MIDIIN nolaricap:out", "MIDIOUT " + harness.synth_name()])
    s.start()
    s.wait_log("before glutMainLoop()")
    s.wait_window()


def stress(cap):
    """Ten taps a second on ten-note chords, as "<late cycles> late cycles and <gaps> gaps ..."."""
    def tap():
        end = time.monotonic() + STRESS_SECONDS
        while time.monotonic() < end:
            cap.send(NOTE_ON)
            time.sleep(0.05)
            cap.send(NOTE_OFF)
            time.sleep(0.05)
    return underruns(cap, tap)


def underruns(cap, play):
    """The late cycles the server reported and the gaps heard in the sound (periods the source
    left silent) while play() ran, with the share of time the hypervisor took from this machine."""
    before, gaps, stolen = xruns(cap), len(cap.marks("gap")), desktop.StolenTime()
    play()
    time.sleep(0.5)
    return "%d late cycles and %d gaps in the sound (%.0f %% of the time stolen by the hypervisor)" % (
        xruns(cap) - before, len(cap.marks("gap")) - gaps, stolen.percent())


def peer_on_the_desktop_is_heard():
    with harness.Session() as s:
        server = desktop.SoundServer(s)
        s.launcher = ["pw-jack"]
        # A peer that follows the graph's quantum rather than holding it at its own.
        s.env["PIPEWIRE_PROPS"] = "{ node.lock-quantum = false }"
        cap = s.capture(server.monitor_ports())
        del s.env["PIPEWIRE_PROPS"]
        start_on_peer(s, cap, chord_song(TAPS + 10 * STRESS_SECONDS + 50))
        check("Software synth audio output: pipewire\n" in s.log(), "the synthesizer is not on its PipeWire stream")
        latencies = tap_latencies(s, cap, TAPS)
        report("PipeWire (pw-jack peer, null sink monitor)", latencies, cap, desktop.RATE)
        period = cap.marks("period")[-1]
        print("PipeWire: %s in %d s of ten taps a second on ten-note chords" % (stress(cap), STRESS_SECONDS))
        print("standard error under pw-jack: %r" % s.stderr()[:300])
        s.key("Escape")
        check(s.wait_exit() == 0, "Nolari did not exit cleanly")
        # What this machine allows any player at that period: PipeWire's own, playing a steady tone.
        print("pw-play's tone at %d frames: %s in %d s" % (
            period, underruns(cap, lambda: server.play_tone(STRESS_SECONDS, period)), STRESS_SECONDS))


def peer_on_a_jack_server_is_heard():
    with harness.Session(jack=True) as s:
        cap = s.capture(["NolariSynth:left", "NolariSynth:right"])
        start_on_peer(s, cap, chord_song(TAPS + 10))
        check("Software synth audio output: jack\n" in s.log(), "the synthesizer is not on JACK:\n" + s.log())
        harness.wait_until(lambda: "nolaricap:audio_1" in connections(s, "NolariSynth:left"), 30,
                           "the capture client listening to the synthesizer")
        latencies = tap_latencies(s, cap, TAPS)
        report("JACK dummy server", latencies, cap, 48000)
        s.key("Escape")
        check(s.wait_exit() == 0, "Nolari did not exit cleanly")
        # The PulseAudio output was tried first and found no server, without a word on the terminal.
        check(s.stderr() == "", "the program printed on standard error:\n" + s.stderr())


def connections(s, port):
    return subprocess.run(["jack_lsp", "-c", port], env=s.env, capture_output=True, text=True, timeout=10).stdout


def main():
    first_start_plays_through_the_stream()
    peer_on_the_desktop_is_heard()
    peer_on_a_jack_server_is_heard()


harness.run(main)
