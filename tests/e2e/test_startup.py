"""Start-up and orderly exit of the real program: the log's account of start-up, Esc and the
window manager's close request both saving the configuration and ending with status 0."""

import re

import harness
from harness import check

STAMP = r"[A-Z][a-z]{2} [A-Z][a-z]{2} \d\d \d\d:\d\d:\d\d \d{4}: "

STARTUP_WITHOUT_SONG = [
    "Starting _tWinMain (starting directory {dir})",
    "before cfg_->load()",
    "before findDefaultMidiDevices()",
    "before layout.setSizes()",
    "before file()",
    "before startMidi()",
    "before glutInitDisplayMode()",
    "before glutMainLoop()",
]


def stamped_lines(log):
    return [line[26:] for line in log.splitlines() if re.match(STAMP, line)]


def cancel_chooser_if_open(s):
    """A start without a song asks for one; cancel the dialog so that start-up goes on."""
    log = s.log()
    if "before file()" in log and "fileDlg->DoModal" in log and "IDCANCEL" not in log:
        dialog = harness.wait_until(lambda: s.xdotool("search", "--onlyvisible", "--name", ".").split(), 20,
                                    "the file dialog")
        s.xdotool("windowfocus", "--sync", dialog[-1])
        s.xdotool("key", "Escape")


def expect_in_order(lines, expected):
    position = 0
    for wanted in expected:
        while position < len(lines) and lines[position] != wanted:
            position += 1
        check(position < len(lines), "start-up line %r missing or out of order in %r" % (wanted, lines))
        position += 1


def start_without_configuration():
    with harness.Session() as s:
        s.start()
        harness.wait_until(lambda: "before file()" in s.log(), 20, "before file()")
        harness.wait_until(lambda: "fileDlg->DoModal" in s.log() or "before startMidi()" in s.log(), 20,
                           "the chooser or the next start-up step")
        cancel_chooser_if_open(s)
        log = s.wait_log("before glutMainLoop()")
        expected = [line.format(dir=s.start_dir) for line in STARTUP_WITHOUT_SONG]
        expect_in_order(stamped_lines(log), expected)
        check("before loadCurrentSong()" not in log, "no song is configured, yet the song was loaded")
        check("ERROR: Cfg::load() '%s/Nolari.cfg' not found, using defaults" % s.start_dir in log,
              "missing configuration not reported")
        s.wait_window()
        s.key("Escape")
        check(s.wait_exit() == 0, "Esc did not end the program with status 0")
        last = s.log().splitlines()[-1]
        check(re.match(STAMP + "Exiting.$", last), "last log line is %r, not a stamped Exiting." % last)
        check(s.log().count("Exiting.") == 1, "the program exited more than once:\n" + s.log())
        cfg = s.read("Nolari.cfg")
        check(re.search(r"^SCREENINFO -?\d+ -?\d+ 792 573$", cfg, re.M), "no window geometry saved: %r" % cfg)


def start_with_song_and_close_window():
    with harness.Session() as s:
        song = s.write_song("demo.mid", open(s.asset("demo.mid"), "rb").read())
        # Partly off the screen, as a window dragged there and closed leaves it.
        s.write_cfg(["CURRENTSONG " + song, "SCREENINFO -30 -20 700 500"])
        s.start()
        log = s.wait_log("before glutMainLoop()")
        lines = stamped_lines(log)
        check("before loadCurrentSong()" in lines and "before file()" not in lines,
              "a configured song must be loaded, not asked for: %r" % lines)
        s.wait_window()
        geometry = s.geometry()
        check(geometry[2:] == (700, 500), "window opened at %r, not the configured 700x500" % (geometry,))
        s.close_window()
        check(s.wait_exit() == 0, "closing the window did not end the program with status 0")
        check(s.log().splitlines()[-1].endswith(": Exiting."), "closing the window skipped the orderly exit")
        check(s.log().count("Exiting.") == 1, "the program exited more than once:\n" + s.log())
        cfg = s.read("Nolari.cfg")
        check("CURRENTSONG " + song + "\n" in cfg, "current song lost from the configuration: %r" % cfg)
        check("\nSCREENINFO -30 -20 700 500\n" in cfg, "the window did not reopen where it was: %r" % cfg)


def start_with_a_folder_as_song():
    with harness.Session() as s:
        s.write_cfg(["CURRENTSONG " + s.start_dir])
        s.start()
        s.wait_log("ERROR: Song::load() %s is not a regular file" % s.start_dir)
        s.wait_log("before glutMainLoop()")
        s.wait_window()
        s.key("Escape")
        check(s.wait_exit() == 0, "a folder named as the song ended the program")


def main():
    start_without_configuration()
    start_with_song_and_close_window()
    start_with_a_folder_as_song()


harness.run(main)
