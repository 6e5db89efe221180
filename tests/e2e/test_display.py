"""What the performer sees, probed on screenshots of the real program: a song of known notes in
the four colour schemes, the group line and triangle at the centre, the overview with its scope
rectangle, the view-style switch, the help screen, a click in the overview moving the position,
the window title, and a black window without a song. Also runs the drawing check, which compares
the display's kept overview image with drawing every note, and the demo song's pictures, the last
with its left hand made a Follow part from the Parts menu and drawn pale.

With NOLARI_SCREENSHOT_DIR set, the demo song's screenshots (each colour scheme, the help screen,
the following left hand) are written there as PNG files."""

import os
import subprocess

import harness
import playing
from harness import check

WIDTH, HEIGHT = 1000, 700

# Bands of the window as window fractions (top, bottom), overview shown and hidden.
LOCAL_VIEW = (1.0, 0.204348)
OVERVIEW = (0.183405, 0.024275)
LOCAL_VIEW_HIDDEN = (1.0, 0.064513)
SCOPE_HIDDEN = (0.043570, 0.024861)

TICKS_PER_SECOND = 960  # 480 ticks a quarter at the default 120 quarters a minute


def ticks(seconds):
    return round(seconds * TICKS_PER_SECOND)


class KnownSong:
    """Two hands: the right hand (channel 1) plays 72, 74, 76, ... one note every 2 s, each a group
    start; the left hand (channel 2) holds 48 or 50 for 5 s from just after every tenth second.
    No two events share a tick, so the event order, and every index, is fixed."""

    def __init__(self):
        self.notes = []  # (channel, pitch, on seconds, off seconds)
        for i in range(20):
            self.notes.append((0, 72 + 2 * (i % 3), 2.0 * i, 2.0 * i + 1.9))
        for i in range(4):
            self.notes.append((1, 48 + 2 * (i % 2), 10.0 * i + 0.01, 10.0 * i + 5.0 if i < 3 else 39.0))
        events = []
        for channel, pitch, on, off in self.notes:
            events.append((ticks(on), "on", channel, pitch))
            events.append((ticks(off), "off", channel, pitch))
        events.sort()
        self.events = events
        self.length = max(off for _, _, _, off in self.notes)
        self.lowest, self.highest = 48, 76

    def index_of_note_on(self, seconds):
        return next(i for i, e in enumerate(self.events) if e[1] == "on" and e[0] == ticks(seconds))

    def smf(self):
        tracks = [[], []]
        for t, kind, channel, pitch in self.events:
            status = (0x90 if kind == "on" else 0x80) | channel
            tracks[channel].append((t, bytes([status, pitch, 100 if kind == "on" else 0])))
        return harness.smf(tracks, division=480)

    def meta(self, position):
        starts = [ticks(on) for channel, _, on, _ in self.notes if channel == 0]
        lines = ["ZOOM 10", "POSITION %d" % position, "CHAN16MUTE 0", "SENDPEDALEVENTS 0",
                 "SENDSYSTEMEXCLUSIVE 1", "FORCE_CHANNEL_ONE 0", "HARMONICCOLORING 0",
                 "NOTE_GROUPS %d" % len(starts)] + ["%d" % t for t in starts]
        return "".join(line + "\n" for line in lines)


class Geometry:
    """Pixel positions of window fractions, for the probes."""

    def __init__(self, image, song, local_band=LOCAL_VIEW, centre=2.0, zoom=10.0):
        self.w, self.h = image.width, image.height
        self.song = song
        self.local_band = local_band
        self.left = centre - zoom / 2
        self.zoom = zoom

    def px(self, fx):
        return min(self.w - 1, max(0, int(fx * self.w)))

    def py(self, fy):
        return min(self.h - 1, max(0, int((1 - fy) * self.h)))

    def local(self, t, pitch):
        """The centre of pitch's bar at time t in the local view."""
        top, bottom = self.local_band
        nh = (top - bottom) / (self.song.highest - self.song.lowest + 3)
        return self.px((t - self.left) / self.zoom), self.py(bottom + (pitch - self.song.lowest + 0.5) * nh)

    def overview(self, t, pitch):
        top, bottom = OVERVIEW
        rh = (top - bottom) / (self.song.highest - self.song.lowest + 1)
        return self.px(t / self.song.length), self.py(bottom + (pitch - self.song.lowest + 0.5) * rh)


def near(colour, expected, tolerance=2):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, expected))


GREEN, PALE_GREEN = (0, 255, 0), (102, 255, 102)
PURPLE, PALE_PURPLE = (128, 0, 128), (178, 102, 178)
BLUE, PALE_BLUE = (0, 0, 255), (102, 102, 255)
TEAL = (0, 128, 128)
WHITE, GREY, SCOPE, BLACK = (255, 255, 255), (128, 128, 128), (51, 51, 51), (0, 0, 0)


def wait_picture(s, probes, what, timeout=15):
    """Takes screenshots until every probe ((x, y), colour) holds; returns the last image."""
    state = {}

    def holds():
        image = s.screenshot()
        state["image"] = image
        state["wrong"] = [(xy, image.pixel(*xy), colour) for xy, colour in probes if not near(image.pixel(*xy), colour)]
        return image if not state["wrong"] else None

    try:
        return harness.wait_until(holds, timeout, what)
    except harness.Failure:
        raise harness.Failure("%s: pixel (x, y) is / should be %r" % (what, state.get("wrong")))


def start_known_song(s, song, position):
    path = s.write_song("known.mid", song.smf())
    with open(path + ".mta", "w") as f:
        f.write(song.meta(position))
    s.write_cfg(["CURRENTSONG " + path, "SCREENINFO 0 0 %d %d" % (WIDTH, HEIGHT)])
    s.start()
    s.wait_log("before glutMainLoop()")
    s.wait_window()
    return path


def colour_schemes_and_views():
    song = KnownSong()
    # The position is the right hand's note at 2 s: the left hand's first note is sounding there.
    position = song.index_of_note_on(2.0)
    with harness.Session() as s:
        path = start_known_song(s, song, position)
        # The title is set by the first timer tick after the window exists.
        wanted = "Nolari " + path + "         [F1 Help]"
        try:
            harness.wait_until(lambda: s.title() == wanted, 10, "the window title")
        except harness.Failure:
            check(False, "window title is %r" % s.title())
        image = s.screenshot()
        g = Geometry(image, song)
        right_hand_past = g.local(1.0, 72)   # the note before the position, not sounding
        left_hand = g.local(1.0, 48)         # sounding at the position
        right_hand_now = g.local(2.5, 74)    # the centre note: starts exactly at the position
        empty_row = g.local(2.5, 60)
        centre_line = (g.w // 2 - 1, empty_row[1])
        triangle = (g.w // 2 - 1, g.py(0.997))
        overview_note = g.overview(1.0, 72)
        overview_left = g.overview(1.0, 48)
        in_scope = g.overview(6.0, 60)
        out_of_scope = g.overview(20.0, 60)

        wait_picture(s, [(right_hand_past, GREEN), (left_hand, PALE_PURPLE), (right_hand_now, GREEN),
                         (centre_line, WHITE), (triangle, WHITE), (empty_row, BLACK),
                         (overview_note, GREEN), (overview_left, PURPLE), (in_scope, SCOPE),
                         (out_of_scope, BLACK)], "scheme 0: instrument colours, group line, overview, scope")

        s.key("c")
        wait_picture(s, [(right_hand_past, GREY), (left_hand, WHITE), (right_hand_now, GREY),
                         (overview_note, GREY), (overview_left, GREY), (in_scope, SCOPE)],
                     "scheme 1: grey, and white for the sounding note")
        s.key("c")
        wait_picture(s, [(right_hand_past, GREEN), (left_hand, PALE_BLUE), (overview_left, BLUE)],
                     "scheme 2: the narrow instrument colours")
        s.key("c")
        wait_picture(s, [(right_hand_now, TEAL), (right_hand_past, GREEN), (left_hand, PALE_GREEN),
                         (overview_note, GREEN)], "scheme 3: pitch colours (D teal, C green)")
        s.key("c")
        wait_picture(s, [(left_hand, PALE_PURPLE)], "scheme 0 again after four presses")

        s.key("v")
        hidden = Geometry(image, song, local_band=LOCAL_VIEW_HIDDEN)
        strip_y = g.py(sum(SCOPE_HIDDEN) / 2)
        wait_picture(s, [((g.px(1.0 / song.length), strip_y), SCOPE), ((g.px(20.0 / song.length), strip_y), BLACK),
                         (hidden.local(1.0, 72), GREEN), (hidden.local(1.0, 48), PALE_PURPLE)],
                     "V: the scope strip instead of the overview, a taller local view")
        s.key("v")
        wait_picture(s, [(overview_note, GREEN)], "V again: the overview is back")

        s.key("F1")
        shown = wait_picture(s, [((g.w - 3, g.h - 3), WHITE), ((g.w // 2, g.h // 2 + 200), WHITE)],
                             "F1: the white help screen")
        text_rows = [shown.pixel(x, y) for y in range(30, 47) for x in range(2, 720)]
        check(any(near(p, BLACK) for p in text_rows), "no black text on the help screen's first line")
        s.key("Right")
        wait_picture(s, [(overview_note, GREEN), ((g.w - 3, g.h - 3), BLACK)], "any key closes the help")

        # From the note at 2 s towards 20.5 s: the latest group start before it is the one at 20 s.
        s.click(g.px(20.5 / song.length), g.py(sum(OVERVIEW) / 2))
        moved = Geometry(image, song, centre=20.0)
        wait_picture(s, [(moved.local(22.0, 48), PURPLE), (moved.local(20.5, 74), GREEN),
                         (moved.local(17.0, 76), GREEN)], "a click in the overview moves to the group at 20 s")
        s.key("Escape")
        check(s.wait_exit() == 0, "Esc did not end the program cleanly")
        meta = open(path + ".mta").read()
        expected = "POSITION %d\n" % song.index_of_note_on(20.0)
        check(expected in meta, "saved metadata lacks %r: %r" % (expected, meta))


def no_song_black_window():
    with harness.Session() as s:
        s.write_cfg(["CURRENTSONG " + s.path("missing.mid"), "SCREENINFO 0 0 %d %d" % (WIDTH, HEIGHT)])
        s.start()
        s.wait_log("before glutMainLoop()")
        s.wait_window()
        s.key("F1")
        image = s.screenshot()
        lit = [(x, y) for y in range(0, image.height, 7) for x in range(0, image.width, 7)
               if image.pixel(x, y) != BLACK]
        check(not lit, "the window without a song is not black: %r" % lit[:5])
        s.key("Escape")  # closes the (unseen) help screen
        s.key("Escape")
        check(s.wait_exit() == 0, "Esc did not end the program cleanly")


def drawing_check(s):
    """The kept overview image against every note drawn, in the session's display."""
    exact = dict(s.env, LP_PERF="no_rast_linear")
    for env, args in ((exact, []), (s.env, ["--tolerance", "1"])):
        result = subprocess.run([harness.tool("drawcheck")] + args, env=env, capture_output=True, text=True,
                                timeout=300)
        check(result.returncode == 0, "drawcheck %s failed:\n%s" % (" ".join(args), result.stdout[-3000:]))


def colours_in(image, band, step=3):
    top, bottom = band
    return {image.pixel(x, y) for y in range(int((1 - top) * image.height) + 1, int((1 - bottom) * image.height) - 1, step)
            for x in range(0, image.width, step)}


def demo_song():
    shots = os.environ.get("NOLARI_SCREENSHOT_DIR")
    with harness.Session() as s:
        drawing_check(s)
        song = s.write_song("demo.mid", open(s.asset("demo.mid"), "rb").read())
        s.write_cfg(["CURRENTSONG " + song, "SCREENINFO 0 0 900 560"])
        s.start()
        s.wait_log("before glutMainLoop()")
        s.wait_window()
        # Into the song, past two markers, so that the pictures show both halves and marker boxes.
        s.key(*(["Right"] * 6 + ["m"] + ["Right"] * 6 + ["m"] + ["Right"] * 6))

        def shown(predicate, what):
            def holds():
                image = s.screenshot()
                return image if predicate(image) else None

            return harness.wait_until(holds, 15, what)

        def scheme0(image):
            local, overview = colours_in(image, LOCAL_VIEW), colours_in(image, OVERVIEW)
            centre = [image.pixel(image.width // 2 - 1, y) for y in range(5, int(0.7 * image.height), 5)]
            return (any(near(c, GREEN) for c in local) and any(near(c, GREEN) for c in overview)
                    and any(near(c, SCOPE) for c in overview) and sum(near(c, WHITE) for c in centre) > len(centre) // 2)

        image = shown(scheme0, "the demo song in instrument colours, group line, overview and scope")
        pictures = [("display-scheme0.png", image)]
        for n in (1, 2, 3):
            s.key("c")
            if n == 1:
                image = shown(lambda i: any(near(c, GREY) for c in colours_in(i, LOCAL_VIEW))
                              and not any(near(c, GREEN) for c in colours_in(i, LOCAL_VIEW)), "scheme 1 on the demo song")
            else:
                previous = pictures[-1][1].rgb
                image = shown(lambda i: i.rgb != previous, "scheme %d on the demo song" % n)
            pictures.append(("display-scheme%d.png" % n, image))
        s.key("c")
        s.key("F1")
        image = shown(lambda i: near(i.pixel(i.width - 3, i.height - 3), WHITE), "the help screen on the demo song")
        pictures.append(("display-help.png", image))
        # F1 closes the help screen; then the left hand is made a part that Nolari follows.
        s.key("F1")
        playing.choose(s, "Parts", 1)
        image = shown(lambda i: any(near(c, PALE_PURPLE) for c in colours_in(i, OVERVIEW))
                      and not any(near(c, PURPLE) for c in colours_in(i, OVERVIEW)), "the following left hand drawn pale")
        pictures.append(("display-follow.png", image))
        if shots:
            os.makedirs(shots, exist_ok=True)
            for name, picture in pictures:
                picture.save_png(os.path.join(shots, name))
        s.key("Escape")
        check(s.wait_exit() == 0, "Esc did not end the program cleanly")


def main():
    colour_schemes_and_views()
    no_song_black_window()
    demo_song()


harness.run(main)
