"""Playing along through a real JACK server: the bass track is made a Follow part from the Parts
menu, the melody is tapped from the capture client at exactly 1.5 times and 0.75 times the song's
tempo (each tap a whole number of frames after the one before), and every bass Note On must arrive
at its stretched due time: the tap's melody Note On plus its song-time distance from the tapped
group times the performer's tempo, which is computed here from the capture client's own tap frames
by the program's rule (the last ratio, the median of three once there are three). Prints the
median and the worst difference for each speed, leaving out the first taps while the tempo settles
and the bass notes an early tap sends at once; and, from the third tap on, how far each off-beat
bass Note On (half-way through the beat) lands from the midpoint of the melody Note Ons around it.
No bass note may be lost or left sounding. The metadata file keeps the role after Esc."""

import re
import statistics
import time

import harness
import playing
from harness import check

TICKS_PER_SECOND = 960  # 480 ticks per quarter at 120 quarters per minute
MELODY_NOTES = 16
BASS_PER_BEAT = 4
BEAT = 480
SETTLING_TAPS = 5


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


def bass_song_time(k):
    return (k * BEAT // BASS_PER_BEAT) / TICKS_PER_SECOND


def off_beat_errors(melody, bass_on):
    """Each off-beat bass Note On's distance in frames from the midpoint of the melody Note Ons
    around it, from the third tap on."""
    errors = []
    for k, note_on in enumerate(bass_on):
        beat = k // BASS_PER_BEAT
        if k % BASS_PER_BEAT == BASS_PER_BEAT // 2 and 2 <= beat < len(melody) - 1:
            errors.append(note_on[0] - (melody[beat][0] + melody[beat + 1][0]) / 2)
    return errors


def play_along(s, cap, speed):
    """Taps the whole melody at speed times the song's tempo; returns the differences in frames
    between each bass Note On and its stretched due time."""
    beat_seconds = BEAT / TICKS_PER_SECOND
    before = len(cap.events()), len(cap.sent())
    interval = round(beat_seconds / speed * playing.RATE)
    playing.tap_exactly(cap, interval, MELODY_NOTES, playing.RATE // 10)
    time.sleep(MELODY_NOTES * interval / playing.RATE)
    bass_count = MELODY_NOTES * BASS_PER_BEAT
    taps, heard = playing.heard_since(cap, before, 2 * bass_count, "every bass Note On and Note Off")
    melody = [n for n in heard if n[1] == "on" and n[2] >= 60]
    bass_on = [n for n in heard if n[1] == "on" and n[2] < 60]
    bass_off = [n for n in heard if n[1] == "off" and n[2] < 60]
    check(len(taps) == MELODY_NOTES and len(melody) == MELODY_NOTES,
          "%d taps sent, %d melody notes heard, not %d" % (len(taps), len(melody), MELODY_NOTES))
    check(len(bass_on) == bass_count and len(bass_off) == bass_count,
          "%d bass Note Ons and %d Note Offs, not %d of each" % (len(bass_on), len(bass_off), bass_count))
    check([n[2] for n in bass_on] == [36 + k % 12 for k in range(bass_count)], "bass notes out of order")
    playing.check_ended([n for n in heard if n[2] < 60], "bass")

    ratios = playing.tempo_ratios(taps, beat_seconds)
    from_melody, from_tap, sent_at_once = [], [], 0
    for k, note_on in enumerate(bass_on):
        beat = k // BASS_PER_BEAT
        stretch = (bass_song_time(k) - beat * beat_seconds) * ratios[beat] * playing.RATE
        if beat + 1 < MELODY_NOTES and note_on[0] >= melody[beat + 1][0]:
            sent_at_once += 1  # the next tap came first and sent it at once
            continue
        if beat >= SETTLING_TAPS:
            from_melody.append(note_on[0] - (melody[beat][0] + stretch))
            from_tap.append(note_on[0] - (taps[beat] + playing.PERIOD + stretch))
    check(from_melody, "no bass note left to measure")
    ms = [1000.0 * d / playing.RATE for d in from_melody]
    tap_ms = [1000.0 * d / playing.RATE for d in from_tap]
    print("speed %.2f: bass Note On minus its due time counted from the tap's melody Note On: median %.2f ms, "
          "worst %.2f ms; from the tap's sent frame and one period: median %.2f ms, worst %.2f ms (n = %d); "
          "%d sent at once by an early tap; tempo ratio at the end %.3f; late server cycles so far %d"
          % (speed, statistics.median(ms), max(ms, key=abs), statistics.median(tap_ms), max(tap_ms, key=abs),
             len(ms), sent_at_once, ratios[-1], playing.xruns(s)))
    midpoint_ms = [1000.0 * d / playing.RATE for d in off_beat_errors(melody, bass_on)]
    print("speed %.2f: off-beat bass Note On minus the midpoint of the melody Note Ons around it, from the third "
          "tap on: median %.3f ms, worst %.3f ms (n = %d)"
          % (speed, statistics.median(midpoint_ms), max(midpoint_ms, key=abs), len(midpoint_ms)))
    return ms


def follow(s):
    cap, path = playing.start(s, "follow.mid", song())
    playing.choose(s, "Parts", 1)

    # The key is handled after the menu choice: the bass now follows by itself after the tap.
    s.key("w")
    harness.wait_until(lambda: any(n[1] == "on" and n[2] == 37 for n in playing.notes(cap.events())), 5,
                       "the second bass note, played by the followers without a tap")
    playing.go_to_start(s, cap)

    for speed in (1.5, 0.75):
        ms = play_along(s, cap, speed)
        bound = 1000.0 * (playing.PERIOD + 48) / playing.RATE  # one period of quantisation and 1 ms
        check(max(abs(m) for m in ms) <= bound or playing.xruns(s) > 0,
              "a bass note arrived more than %.1f ms from its due time at speed %.2f" % (bound, speed))
        playing.go_to_start(s, cap)

    s.key("Escape")
    check(s.wait_exit() == 0, "Esc did not end the program with status 0")
    print("late output and waiting input logged: %r" % [l for l in s.log().splitlines() if l.startswith("JACK ")])
    meta = open(path + ".mta").read()
    check(re.search(r"^HARMONICCOLORING 0\nPART 1 1 FOLLOW\nNOTE_GROUPS %d$" % MELODY_NOTES, meta, re.M),
          "the metadata file does not keep the bass as a Follow part grouped on the melody:\n" + meta)
    check("ERROR" not in s.log(), "errors logged:\n" + s.log())


def main():
    with harness.Session(jack=True) as s:
        playing.run_reporting_xruns(s, lambda: follow(s))


harness.run(main)
