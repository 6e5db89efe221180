"""Playing along through a real JACK server: the bass track is made a Follow part from the Parts
menu and the melody is tapped from the capture client at exact frames: steadily at 1.5 times and
at 0.75 times the song's tempo, and in a ritardando from 1.0 to 0.8 times it over 12 taps. Each
off-beat bass Note On is measured from the midpoint of the melody Note Ons around it, where it
belongs; the test prints the figures and fails only when a bass note is lost, out of order, left
sounding or plainly out of place. The metadata file keeps the role after Esc."""

import re
import statistics

import harness
import playing
from harness import check

MELODY_NOTES = 24
BASS_PER_BEAT = 4
BEAT = 480
BEAT_FRAMES = 24000  # half a second at 48 kHz
TAPS = 12


def song():
    """Melody (track 1, channel 1): one note a beat. Bass (track 2, channel 2, acoustic bass):
    four short notes a beat, each a different pitch from the notes around it."""
    melody = []
    for k in range(MELODY_NOTES):
        melody += [(BEAT * k, bytes([0x90, 72 + k % 12, 100])), (BEAT * k + 240, bytes([0x80, 72 + k % 12, 0]))]
    bass = [(0, bytes([0xC1, 32]))]
    for k in range(MELODY_NOTES * BASS_PER_BEAT):
        pitch = 36 + k % 12
        at = k * BEAT // BASS_PER_BEAT
        bass += [(at, bytes([0x91, pitch, 90])), (at + 60, bytes([0x81, pitch, 0]))]
    return harness.smf([melody, bass])


def play_along(s, cap, what, intervals):
    """Taps the melody at the given intervals (frames); checks every bass note and prints how far
    the off-beat ones lay from the middle of their beat."""
    before = len(cap.events()), len(cap.sent())
    playing.tap_at_frames(cap, intervals)
    bass_count = TAPS * BASS_PER_BEAT
    taps, heard = playing.heard_since(cap, before, 2 * bass_count, "every bass Note On and Note Off",
                                      10 + sum(intervals) / playing.RATE)
    melody = [n for n in heard if n[1] == "on" and n[2] >= 60]
    bass_on = [n for n in heard if n[1] == "on" and n[2] < 60]
    check(len(taps) == TAPS and len(melody) == TAPS, "%d taps sent, %d melody notes heard, not %d"
          % (len(taps), len(melody), TAPS))
    check(len(bass_on) == bass_count, "%d bass Note Ons, not %d" % (len(bass_on), bass_count))
    check([n[2] for n in bass_on] == [36 + k % 12 for k in range(bass_count)], "bass notes out of order")
    playing.check_ended([n for n in heard if n[2] < 60], "bass")

    # Until the second tap the followers know only the song's tempo.
    ms = [playing.in_ms(d) for d in playing.offbeat_distances(heard, BASS_PER_BEAT)][1:]
    print("%s: off-beat bass Note On from the midpoint of the melody around it, from the second tap on: "
          "mean %.2f ms, median %.2f ms, worst %.2f ms, mean distance %.2f ms (n = %d); late server cycles so far %d"
          % (what, statistics.mean(ms), statistics.median(ms), max(ms, key=abs), statistics.mean(abs(m) for m in ms),
             len(ms), playing.xruns(s)))
    beat_ms = playing.in_ms(min(intervals))
    check(max(abs(m) for m in ms) < beat_ms / 4 or playing.xruns(s) > 0,
          "%s: an off-beat bass note lay a quarter of a beat or more from its place" % what)


def follow(s):
    cap, path = playing.start(s, "follow.mid", song())
    playing.choose(s, "Parts", 1)

    # The key is handled after the menu choice: the bass now follows by itself after the tap.
    s.key("w")
    harness.wait_until(lambda: any(n[1] == "on" and n[2] == 37 for n in playing.notes(cap.events())), 5,
                       "the second bass note, played by the followers without a tap")
    playing.go_to_start(s, cap)

    ritardando = [round(BEAT_FRAMES / (1.0 - 0.2 * k / (TAPS - 2))) for k in range(TAPS - 1)]
    for what, intervals in (("speed 1.50", [BEAT_FRAMES * 2 // 3] * (TAPS - 1)),
                            ("speed 0.75", [BEAT_FRAMES * 4 // 3] * (TAPS - 1)),
                            ("ritardando 1.0 to 0.8", ritardando)):
        play_along(s, cap, what, intervals)
        playing.go_to_start(s, cap)

    s.key("Escape")
    check(s.wait_exit() == 0, "Esc did not end the program with status 0")
    meta = open(path + ".mta").read()
    check(re.search(r"^HARMONICCOLORING 0\nPART 1 1 FOLLOW\nNOTE_GROUPS %d$" % MELODY_NOTES, meta, re.M),
          "the metadata file does not keep the bass as a Follow part grouped on the melody:\n" + meta)
    check("ERROR" not in s.log(), "errors logged:\n" + s.log())


def main():
    with harness.Session(jack=True) as s:
        playing.run_reporting_xruns(s, lambda: follow(s))


harness.run(main)
