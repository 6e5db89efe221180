"""Two hands in one part, through a real JACK server: a one-track piano song, both hands on channel
1. The Parts menu splits it at middle C and makes the left hand Follow: the file written at Esc holds
exactly those lines. Started on that file, taps at exactly 1.5 times the tempo play the right hand
only, the left hand follows in the performer's tempo (every note, in order, none left sounding;
prints the median and worst lateness against the stretched due time) and the file is kept as
written at quit."""

import statistics
import time

import harness
import playing
from harness import check

BEAT = 480
BEAT_SECONDS = 0.5  # 480 ticks per quarter at 120 quarters per minute
RIGHT_NOTES = 16
LEFT_PER_BEAT = 4
SPEED = 1.5
TAP_FRAMES = round(playing.RATE * BEAT_SECONDS / SPEED)
HOLD_FRAMES = 4800
SETTLING_TAPS = 2  # the performer's tempo is known from the second tap on
HEAD = ("ZOOM 10\nPOSITION 0\nCHAN16MUTE 0\nSENDPEDALEVENTS 0\nSENDSYSTEMEXCLUSIVE 1\nFORCE_CHANNEL_ONE 0\n"
        "HARMONICCOLORING 0\n")
SPLIT_FILE = (HEAD + "SPLIT 0 0 60\nPART 0 0 LOW FOLLOW\nNOTE_GROUPS %d\n" % RIGHT_NOTES +
              "".join("%d\n" % (BEAT * k) for k in range(RIGHT_NOTES)))


def song():
    """Right hand: a note a beat from C5 up. Left hand: four short notes a beat from C2 up, each a
    different pitch from the notes around it. One track, channel 1."""
    events = [(0, b"\xff\x03\x05Piano"), (0, bytes([0xC0, 0]))]
    for k in range(RIGHT_NOTES):
        pitch = 72 + k % 12
        events += [(BEAT * k, bytes([0x90, pitch, 100])), (BEAT * k + 240, bytes([0x80, pitch, 0]))]
    for k in range(RIGHT_NOTES * LEFT_PER_BEAT):
        pitch, at = 36 + k % 12, k * BEAT // LEFT_PER_BEAT
        events += [(at, bytes([0x90, pitch, 90])), (at + 60, bytes([0x80, pitch, 0]))]
    return harness.smf([events])


def quit_keeping_split(s, what):
    s.key("Escape")
    check(s.wait_exit() == 0, "Esc did not end the program with status 0")
    written = s.read("hands.mid.mta")
    check(written == SPLIT_FILE, "%s:\n%s" % (what, written))


def split_from_menu(s):
    """Parts > Split into two hands > the part > Split at C4, then Parts > the left hand: Follow."""
    sizes = [playing.menu_entries(m) for m in playing.choose_path(s, "Parts", [2, 0, 2])]
    time.sleep(0.3)  # the menus are built afresh at the next 40 ms timer tick
    sizes += [playing.menu_entries(m) for m in playing.choose_path(s, "Parts", [0])]
    check(sizes == [3, 1, 6, 4], "entries in Parts, its split submenu, the part's choices, Parts once split: %r" % sizes)
    quit_keeping_split(s, "the menu's split and role are not kept as expected")


def play_split(s, cap):
    before = len(cap.events()), len(cap.sent())
    playing.tap_exactly(cap, TAP_FRAMES, RIGHT_NOTES, HOLD_FRAMES)
    left_count = RIGHT_NOTES * LEFT_PER_BEAT
    taps, heard = playing.heard_since(cap, before, 2 * left_count, "every left-hand Note On and Note Off", 15)
    right = [n for n in heard if n[1] == "on" and n[2] >= 60]
    left = [n for n in heard if n[2] < 60]
    left_on = [n for n in left if n[1] == "on"]
    check(len(taps) == RIGHT_NOTES and [n[2] for n in right] == [72 + k % 12 for k in range(RIGHT_NOTES)],
          "%d taps sent; right-hand Note Ons heard: %r" % (len(taps), [n[2] for n in right]))
    check(all(taps[k] <= right[k][0] < (taps[k + 1] if k + 1 < RIGHT_NOTES else float("inf")) for k in range(RIGHT_NOTES)),
          "a right-hand note was not played by its own tap")
    check([n[2] for n in left_on] == [36 + k % 12 for k in range(left_count)], "left-hand notes missing or out of order")
    playing.check_ended(left, "left-hand")

    ratios = playing.tempo_ratios(taps, BEAT_SECONDS)
    from_right, from_tap = [], []
    for k, note_on in enumerate(left_on):
        beat = k // LEFT_PER_BEAT
        stretch = (k % LEFT_PER_BEAT) * BEAT_SECONDS / LEFT_PER_BEAT * ratios[beat] * playing.RATE
        if beat >= SETTLING_TAPS:
            from_right.append(1000.0 * (note_on[0] - right[beat][0] - stretch) / playing.RATE)
            from_tap.append(1000.0 * (note_on[0] - taps[beat] - playing.PERIOD - stretch) / playing.RATE)
    print("left hand following at %.2f times the tempo, Note On minus its stretched due time: counted from the tap's "
          "right-hand Note On median %.2f ms, worst %.2f ms; from the tap's sent frame and one period median %.2f ms, "
          "worst %.2f ms (n = %d); tempo ratio at the end %.3f; late server cycles so far %d"
          % (SPEED, statistics.median(from_right), max(from_right, key=abs), statistics.median(from_tap),
             max(from_tap, key=abs), len(from_tap), ratios[-1], playing.xruns(s)))


def split(s):
    cap, _ = playing.start(s, "hands.mid", song())
    split_from_menu(s)

    playing.start(s, "hands.mid", song(), cap)
    cap.wait_events(lambda events: sum(1 for _, m in events if m[0] & 0xF0 == 0xC0) >= 32, 20,
                    "the program changes of the second start")
    play_split(s, cap)
    playing.go_to_start(s, cap)
    quit_keeping_split(s, "the metadata file was not kept as written")
    check("ERROR" not in s.log(), "errors logged:\n" + s.log())


def main():
    with harness.Session(jack=True) as s:
        playing.run_reporting_xruns(s, lambda: split(s))


harness.run(main)
