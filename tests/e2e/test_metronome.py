"""The metronome and the count-in through a real JACK server. With the listen speed at 75 %, the bass
a Follow part and the metronome at Count-in (all from the menu), K clicks one bar on channel 10 at
the start tempo's spacing, the first accented; taps sent at exact frames on the beat after it make
the followers play the first group at that tempo (the off-beat bass at the midpoint of the melody
around it). Switched On, the clicks follow the taps, the title shows the performer's tempo, and a
take saved with S holds no click. METRONOME 2 is saved and read back (clicks along with listening);
set Off again, the metadata file is byte for byte what it is without the tag."""

import os

import harness
import midofile
import playing
from harness import check

BEAT = 480
BEAT_FRAMES_AT_75 = 32000  # two thirds of a second at 48 kHz
CLICK_ON = 0x99


def song():
    """4/4 at 120 quarters a minute. Melody (track 1): a note a beat. Bass (track 2, channel 2):
    eighths."""
    melody = [(0, bytes([0xFF, 0x58, 0x04, 0x04, 0x02, 0x18, 0x08]))]
    for k in range(8):
        melody += [(BEAT * k, bytes([0x90, 72 + k, 100])), (BEAT * k + 240, bytes([0x80, 72 + k, 0]))]
    bass = []
    for k in range(16):
        bass += [(k * BEAT // 2, bytes([0x91, 36 + k, 90])), (k * BEAT // 2 + 60, bytes([0x81, 36 + k, 0]))]
    return harness.smf([melody, bass])


def clicks(events):
    return [(frame, m[1]) for frame, m in events if len(m) == 3 and m[0] == CLICK_ON and m[2] > 0]


def song_notes(events):
    """The song's notes, the clicks of channel 10 left out."""
    return playing.notes([(frame, m) for frame, m in events if m[0] & 0x0F != 9])


def sent_frame(cap, message):
    return harness.wait_until(lambda: [f for f, m in cap.sent() if m == message], 5, "the capture client to send")[-1]


def count_in(s, cap):
    """K, then four taps on the count-in's beat: returns what was heard from K on."""
    before = len(cap.events())
    s.key("k")
    cap.wait_events(lambda events: clicks(events[before:]), 5, "the count-in's first click")
    first_click = clicks(cap.events()[before:])[0][0]
    # A message Nolari's input ignores marks a frame to count the taps from.
    mark = bytes([0xFE])
    cap.send(mark)
    playing.tap_at_frames(cap, [BEAT_FRAMES_AT_75] * 3, first_click + 4 * BEAT_FRAMES_AT_75 - sent_frame(cap, mark))
    cap.wait_events(lambda events: len(song_notes(events[before:])) >= 24, 10, "four taps and their bass")
    return cap.events()[before:]


def metronome(s):
    cap, path = playing.start(s, "metronome.mid", song())
    playing.choose_listen_speed(s, 75)
    playing.choose(s, "Parts", 1)
    playing.choose(s, "Metronome", "Count-in")

    events = count_in(s, cap)
    heard = song_notes(events)
    melody = [n[0] for n in heard if n[1] == "on" and n[2] >= 60]
    counted = [c for c in clicks(events) if c[0] < melody[0]]
    check([c[1] for c in counted] == [76, 77, 77, 77], "the count-in clicked %r, not a bar of four" % counted)
    spacing = [b[0] - a[0] for a, b in zip(counted, counted[1:])]
    check(all(abs(d - BEAT_FRAMES_AT_75) < BEAT_FRAMES_AT_75 // 20 for d in spacing),
          "count-in clicks %r frames apart, not the 75 %% beat of %d" % (spacing, BEAT_FRAMES_AT_75))
    check(not [c for c in clicks(events) if c[0] > melody[0]], "Count-in clicked on after the first tap")
    first = playing.offbeat_distances(heard, 2)[0]
    print("count-in at 75 %%: clicks %r frames apart; the first group's off-beat bass %.2f ms from the midpoint "
          "of the melody around it; the first melody note heard %d frames after the count-in's next beat; late server cycles %d"
          % (spacing, playing.in_ms(first), melody[0] - (counted[-1][0] + BEAT_FRAMES_AT_75), playing.xruns(s)))
    check(abs(playing.in_ms(first)) < 20, "the first tap's followers did not play at the start tempo")

    playing.choose(s, "Metronome", "On")
    playing.go_to_start(s, cap)
    before = len(cap.events())
    playing.tap_at_frames(cap, [BEAT_FRAMES_AT_75] * 2)
    cap.wait_events(lambda events: len(clicks(events[before:])) >= 3, 10, "a click at each of three taps")
    harness.wait_until(lambda: "[90 BPM, 75 %]" in s.title(), 5, "the performer's tempo in the title")
    s.key("s")
    take = s.path("metronome-take-1.mid")
    s.wait_log("Saved take %s (" % take)
    _, _, messages = midofile.read(take)
    check([m for _, m in messages if m[0] & 0xF0 == 0x90] and not [m for _, m in messages if m[0] & 0xEF == 0x89],
          "the take holds clicks, or no notes: %r" % messages)
    s.key("h")
    s.key("Escape")
    check(s.wait_exit() == 0, "Esc did not end the program with status 0")
    meta = open(path + ".mta").read()
    check("\nLISTENSPEED 75\nMETRONOME 2\nPART 1 1 FOLLOW\nNOTE_GROUPS" in meta, "metadata file:\n" + meta)

    programs = sum(1 for _, m in cap.events() if m[0] & 0xF0 == 0xC0)
    s.window = None
    s.start()
    cap.wait_events(lambda events: sum(1 for _, m in events if m[0] & 0xF0 == 0xC0) >= programs + 16, 20,
                    "the program changes of the second start")
    before = len(cap.events())
    s.key("space")
    cap.wait_events(lambda events: len(clicks(events[before:])) >= 2, 10, "clicks along with listening")
    s.key("space")
    playing.choose(s, "Metronome", "Off")
    s.key("Escape")
    check(s.wait_exit() == 0, "Esc did not end the program with status 0")
    check(open(path + ".mta").read() == meta.replace("METRONOME 2\n", ""),
          "with the metronome Off the metadata file is not as it was without it")
    check("ERROR" not in s.log(), "errors logged:\n" + s.log())
    check(os.path.exists(take), "no take")


def main():
    with harness.Session(jack=True) as s:
        playing.run_reporting_xruns(s, lambda: metronome(s))


harness.run(main)
